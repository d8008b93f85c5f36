// The small text routines of the web pages: URL and HTML escaping, the quoting of a reply,
// the HTTP date, the browser and credential checks, the address checks, and the guards that
// keep request text out of headers and out of folders it must not reach.
#pragma once

#include <ctime>

#include "base/string.h"

namespace qarvel {

// "+" becomes a blank; "%" and the next two hexadecimal characters become one byte (a "%"
// without two hexadecimal digits after it stays as it is); everything else is copied.
String urlDecode(const String& text);

// A blank becomes "+"; the double quote, "%", "&", "'", "+", "<" and ">" are always written
// as "%XX"; with strict set every other byte is too (letters and digits included).
String urlEncode(const String& text, bool strict);

// The double quote, "&", "<" and ">" become their HTML entities.
String htmlEscape(const String& text);

// "&gt; " before the text (when it is not empty) and after every line feed.
String quoteForReply(const String& text);

// The time in UTC as "Sun Jan 04 09:07:03 GMT 2004".
String httpDate(time_t when);
inline String httpDate() { return httpDate(time(nullptr)); }

// 1 for the browsers that predate forms with uploads (by HTTP_USER_AGENT), else 0.
int isOldBrowser(const char* userAgent);
int isOldBrowser();

// Decodes the base64 text of Basic credentials: its first word, split at the first ":".
// Returns 0 (user and password untouched) when there is no ":".
int decodeCredentials(const String& base64, String& user, String& password);

// 1 when the text is local@domain with no blank or comma in either part and a "." in the
// domain.
int isPlainAddress(const String& text);

// The pieces of a list cut at "," and ";", each without trailing blanks, that equal the
// reference.
int countAddresses(const String& list, const String& reference);

// The text with every CR and LF removed: request text on its way into a mail header, an
// HTTP header or a protocol command.
String withoutLineBreaks(const String& text);

// Whether a name that a request gives for a file may be used inside the files folder: not
// empty, no NUL (the length says so), no "..", not absolute, no backslash.
bool isSafeRelativeName(const String& name);

// Whether the existing file folder/name really lies inside folder once every symbolic link
// is resolved. False when either does not exist.
bool staysInside(const String& folder, const String& name);

} // namespace qarvel
