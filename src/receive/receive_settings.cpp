// runReceiveDriver: gathers the driver's options from the process-wide settings and runs it
// over the current reader. Until the settings record is in place the run only reports that
// reading is not available.
#include <cstdio>

#include "receive/receive_driver.h"

namespace qarvel {

int runReceiveDriver() {
    fputs("Receiving mail is not available in this build\n", stderr);
    return kReceiveFailed;
}

} // namespace qarvel
