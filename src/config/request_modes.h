// News mode: the one run mode that changes which sender a run uses. (Import mode is a flag of
// its own, -import; a list run is a receive run with a subscriber file, -tolist:.)
#pragma once

namespace qarvel {

struct Settings;

// News mode: the run posts an article to the newsgroups named as recipients, through the NNTP
// sender, with the body sent as it is (no quoted-printable). The -news switch and the web
// request's -news switch it on; the NONEWS key switches it off again.
void enterNewsMode(Settings& s);

} // namespace qarvel
