// The labelled header lines of a retrieved message, in their fixed order, as the receive
// driver prints them in plain mode.
#pragma once

#include <cstdio>
#include <string>

#include "base/string.h"
#include "receive/receive_options.h"

namespace qarvel {

class MailboxReader;

// What the display shows of one message, taken from the reader's Message record.
struct DisplayedHeaders {
    String subject, date, receiptTo, importance, sensitivity, organization;
    String from, replyTo, to, cc;
    String messageId, mimeVersion, contentType;  // with -full only
    long long size = 0;
};

// How the header texts are shown: as the bytes decoded (into a file or a pipe), in UTF-8 (a
// web page), or in the charset of the locale (a terminal).
enum class HeaderForm { kBytes, kUtf8, kLocale };

// Collects the display values of the message retrieved last; size is the message's size.
// The decoded texts are converted from the charsets of their encoded words to the form.
DisplayedHeaders collectHeaders(MailboxReader& reader, bool full, long long size,
                                HeaderForm form = HeaderForm::kBytes);

// A decoded header text of the given charset in the form.
String shownText(const String& text, const String& charset, HeaderForm form);

// The header lines, each ended by "\n": the subject alone, then Date, the optional lines,
// From, Reply-To (when it differs from the sender), To, Cc, the -full lines and Size. With
// visibleControls (output to a terminal) the control characters of the values other than tab
// are shown as "^X", so a header cannot move the cursor, clear the screen or retitle the
// window; a file or a pipe gets the values byte for byte.
std::string formatHeaderLines(const DisplayedHeaders& headers, const Labels& labels,
                              bool full, bool showSize, bool visibleControls = false);

// A text with its control characters other than tab written as "^@" .. "^_" and "^?".
std::string visibleText(const String& text);

// The mailbox-format separator line "From <address> <asctime date>\n" for a sender. Blanks
// and control characters of the address become "_": the line must stay one line of three
// fields.
std::string mailboxFromLine(const String& sender, long long secondsSince1970);

// Writes a message body in mailbox format: a line that begins with "From ", after any number
// of ">", gets one more ">" in front, so no body line can be taken for the start of a message
// and a reader can undo the quoting. False when a write failed.
bool writeMailboxBody(FILE* out, const char* data, size_t length);

// The bare address of a header value: the text inside the last "<...>", else the value
// without blanks around it.
String senderAddress(const String& value);

} // namespace qarvel
