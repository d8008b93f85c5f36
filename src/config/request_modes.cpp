// News mode: the settings that make a run post through the NNTP sender.
#include "config/request_modes.h"

#include "config/settings.h"

namespace qarvel {

void enterNewsMode(Settings& s) {
    s.newsMode = 1;
    s.qp = 0;
    s.sender = SenderKind::kNews;
}

} // namespace qarvel
