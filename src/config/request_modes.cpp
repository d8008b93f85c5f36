// News mode: the settings that make a run post through the NNTP sender.
#include "config/request_modes.h"

#include "config/settings.h"

namespace qarvel {

void enterNewsMode(Settings& s) {
    s.smtp.news = true;
    s.content.quotedPrintable = 0;
    s.sender = SenderKind::kNews;
}

} // namespace qarvel
