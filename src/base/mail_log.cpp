#include "base/mail_log.h"

#include <syslog.h>

namespace qarvel {

void logToSyslog(bool failed, const std::string& line) {
    static bool opened = false;
    if (!opened) openlog("qarvel", LOG_PID, LOG_MAIL);
    opened = true;
    syslog(failed ? LOG_ERR : LOG_INFO, "%s", line.c_str());
}

std::string logQuoted(std::string_view value) {
    std::string quoted = "'";
    for (char c : value) {
        if (static_cast<unsigned char>(c) < 32 || c == 127) continue;
        if (c == '\'') quoted += '\'';
        quoted += c;
    }
    return quoted + "'";
}

} // namespace qarvel
