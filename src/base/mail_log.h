// -syslog: a line for the system log (facility mail) per message sent and per mailbox read,
// as mail tools write them for unattended runs. The lines name hosts, users and addresses,
// never a password or token.
#pragma once

#include <string>
#include <string_view>

namespace qarvel {

// Sends "qarvel[PID]: line" to the system log, at the error level when failed.
void logToSyslog(bool failed, const std::string& line);

// A value as a line shows it: in single quotes, without line ends or other control
// characters, a quote inside it doubled.
std::string logQuoted(std::string_view value);

} // namespace qarvel
