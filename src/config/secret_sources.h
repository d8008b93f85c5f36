// Where a password or bearer token comes from when -pass: does not give it (a command, a file,
// the environment, ~/.netrc); the files are read under the rule of src/config/user_file.h.
#pragma once

#include <cstdio>
#include <string_view>

#include "base/string.h"
#include "net/sasl_answers.h"

namespace qarvel {

struct Settings;

// QARVEL_PASSWORD as the process found it. A call takes it out of the environment, so no
// command the run starts (-exec:, -passcmd:, the dialer) ever sees it; the entry makes that
// call before anything else.
const String& environmentPassword();

struct NetrcLogin {
    bool found = false;
    String login, password;
};

// The entry of a .netrc text for host: the first "machine host" whose login is user (or that
// names no login), else the "default" entry. Macro definitions are skipped.
NetrcLogin netrcLookup(std::string_view text, const String& host, const String& user);

// Fills in the password of a run: the command of -passcmd:/PASSCMD or the file of -passfile:
// (whichever the last layer named) is always used; otherwise, when a user is named and no
// password is given, QARVEL_PASSWORD, then the ~/.netrc entry for host. Returns false, with
// the reason on err, when a named source fails (a failing or silent command, an unreadable,
// empty or too open file, a too open ~/.netrc).
bool resolvePassword(Settings& s, const String& host, std::FILE* err);

// Before a run that talks to a server: the login mechanism of -auth:, the password from its
// sources (resolvePassword, for the host the run logs in to), and the rules that a bearer token
// never travels without TLS (-tls or -ssl) and that -requiretls holds passwords to the same.
// Returns false, with the reason on err, when the run must end. A run on local files sends no
// secret and is left alone.
bool prepareCredentials(Settings& s, bool reading, LoginMechanism& mechanism, std::FILE* err);

} // namespace qarvel
