#include "receive/receive_driver.h"

#include <cstdio>

namespace qarvel {

// Placeholder until the message loop lands: the run reports that it cannot read mail.
int runReceiveDriver() {
    fputs("Receiving mail is not available in this build\n", stderr);
    return kReceiveFailed;
}

} // namespace qarvel
