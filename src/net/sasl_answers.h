// The answers of the SASL login mechanisms that the mail clients speak (PLAIN, LOGIN and
// CRAM-MD5), each ready to be sent as one base64 line.
#pragma once

#include "base/string.h"

namespace qarvel {

// PLAIN: base64 of NUL user NUL password.
String saslPlainAnswer(const String& user, const String& password);
// LOGIN: the user name or the password, base64.
String saslLoginAnswer(const String& text);
// CRAM-MD5: base64 of "user hexdigest" for the challenge line ("+ base64" or "334 base64"),
// the digest the HMAC-MD5 of the decoded challenge keyed with the password.
String saslCramMd5Answer(const char* challengeLine, const String& user, const String& password);

} // namespace qarvel
