// The answers of the SASL login mechanisms that the mail clients speak (PLAIN, LOGIN,
// CRAM-MD5 and the OAuth2 bearer mechanisms XOAUTH2 and OAUTHBEARER), each ready to be sent
// as one base64 line.
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

// How a session logs in: with the password (PLAIN, LOGIN, CRAM-MD5 or the protocol's own
// commands) or with an OAuth2 bearer token, the named mechanism preferred.
enum class LoginMechanism { kPassword, kXoauth2, kOauthBearer };

// "xoauth2" or "oauthbearer" (any case) into the mechanism; false for any other word.
bool readLoginMechanism(const String& word, LoginMechanism& mechanism);
const char* saslName(LoginMechanism mechanism);
// The bearer mechanism to use: the preferred one when the server offers it, else the other
// one it offers, else kPassword (the server offers neither).
LoginMechanism chooseBearer(LoginMechanism preferred, bool offersXoauth2, bool offersOauthBearer);
// XOAUTH2: base64 of "user=USER ^A auth=Bearer TOKEN ^A^A"; OAUTHBEARER (RFC 7628): base64 of
// the GS2 header "n,a=USER," then "^A host=HOST ^A port=PORT ^A auth=Bearer TOKEN ^A^A".
String saslBearerAnswer(LoginMechanism mechanism, const String& user, const String& token, const String& host,
                        const String& port);
// What a client sends after the server's error challenge, so the server can give its final
// verdict: an empty line for XOAUTH2, the base64 of ^A for OAUTHBEARER.
const char* saslBearerErrorAnswer(LoginMechanism mechanism);

} // namespace qarvel
