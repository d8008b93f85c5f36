// The run mode that only a web request switches on: import mode (the message text is a batch
// of keyword messages). The request reader fills RequestModes; the entry applies it after the
// command line, as the last layer of the settings. (A list run needs no mode of its own: a
// receive run with a subscriber file, -tolist:, is one.)
#pragma once

#include "base/string.h"

namespace qarvel {

struct Settings;

struct RequestModes {
    int importMode = 0;
};

// The process-wide record, empty until a request fills it.
RequestModes& requestModes();

// Copies what the request set into the settings (import mode into its flag); an empty record
// changes nothing.
void applyRequestModes(Settings& s);

// News mode: the run posts an article to the newsgroups named as recipients, through the NNTP
// sender, with the body sent as it is (no quoted-printable). The web request switches it on
// ("-news", the qarvel_news field); the NONEWS key switches it off again.
void enterNewsMode(Settings& s);

} // namespace qarvel
