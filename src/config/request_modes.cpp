#include "config/request_modes.h"

#include "config/process.h"
#include "config/settings.h"
#include "send/nntp_session.h"

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

void enterNewsMode(Settings& s, ProcessObjects& objects) {
    s.newsMode = 1;
    s.qp = 0;
    selectSender(objects, objects.nntp);
}

} // namespace qarvel
