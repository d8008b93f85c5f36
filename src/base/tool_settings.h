// ToolSettings: run control and the tools (the settings group `tools`). The trace level, the
// quiet flag and -strict are read by every driver, which takes the group whole.
#pragma once

#include "base/string.h"

namespace qarvel {

struct ToolSettings {
    int verbose = 0;
    int everySeconds = 0;
    bool quiet = false, noop = false, xml = false, sap = false, udp = false, rawSocket = false;
    bool multicastDump = false, decodeBase64 = false, encodeBase64 = false;
    // -strict, STRICT or QARVEL_STRICT=1: besides refusing unknown words, a ready-made
    // message without recipients is reported instead of sent, and any message that fails
    // fails the run.
    bool strict = false;
    // -syslog, SYSLOG: a line for the system log per message sent and per mailbox read.
    bool syslog = false;
    String removeFile, logFile, meter, dialer, connect, disconnect;
    bool removeListFiles = false;
};

} // namespace qarvel
