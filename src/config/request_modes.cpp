#include "config/request_modes.h"

#include "config/settings.h"

namespace qarvel {

RequestModes& requestModes() {
    static RequestModes modes;
    return modes;
}

void applyRequestModes(Settings& s) {
    const RequestModes& m = requestModes();
    if (m.importMode) s.importMode = 1;
}

void enterNewsMode(Settings& s) {
    s.newsMode = 1;
    s.qp = 0;
    s.sender = SenderKind::kNews;
}

} // namespace qarvel
