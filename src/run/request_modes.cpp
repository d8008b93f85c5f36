#include "run/request_modes.h"

#include "run/settings.h"

namespace qarvel {

RequestModes& requestModes() {
    static RequestModes modes;
    return modes;
}

void applyRequestModes(Settings& s) {
    const RequestModes& m = requestModes();
    if (!m.subscriberFile.empty()) s.toListFile = m.subscriberFile;
    if (m.importMode) s.importMode = 1;
}

} // namespace qarvel
