// The cause of a failed network step, for the exit status under -strict (base/run_failure.h):
// the connection's own failure when it broke (a name that does not resolve, a refused or lost
// connection, a time-out, a TLS handshake), else what the server's last reply says.
#pragma once

#include <string_view>

#include "base/run_failure.h"

namespace qarvel {

class Socket;

// How a protocol's replies read. Mail (SMTP and POP3): 4xx says "later" and 5xx and -ERR "no";
// IMAP: a tagged NO or BAD says "no". Either way a response code may say "later" ([IN-USE],
// [SYS/TEMP], [UNAVAILABLE]). News (NNTP): 4xx is a refusal (48x a missing or refused login),
// but 400 and 403 say "later"; 502 is a refusal and other 5xx protocol errors.
enum class ReplyCodes { kMail, kImap, kNews };

// code is a result as failureCode gives it (a negated Winsock number, else -1 or 0); reply is
// the server's last reply line; closed says the connection is gone. Without a verdict from
// the reply, a lost connection is temporary and anything else a protocol error.
Failure networkFailure(int code, std::string_view reply, bool closed, ReplyCodes codes = ReplyCodes::kMail);

// The same for a session (result as its operation returned it): a failed TLS handshake on it
// is a protocol error.
Failure sessionFailure(const Socket& session, int result, std::string_view reply,
                       ReplyCodes codes = ReplyCodes::kMail);

// The cause at the login step: a refusal (or a reply that makes no sense there) is a refused
// login; temporary, connection and TLS failures stay what they are.
Failure atLogin(const Socket& session, Failure cause);

}  // namespace qarvel
