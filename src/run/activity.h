// The main activity of a run: the settings handed to the chosen sender or reader, then the
// send driver or the receive driver.
#pragma once

#include "net/tls_layer.h"

namespace qarvel {

struct Settings;
struct ProcessObjects;

// The TLS options of the run (-cafile:, -cert:, -key:, -insecure, the trace level), for every
// connection it opens.
TlsOptions tlsOptionsOf(const Settings& s);

// The alternative-text file, the hand-over to the current sender, the alias and list files,
// the receive-side recipients and the default domain.
void prepareActivity(Settings& s, ProcessObjects& objects);

// Reading is wanted with a user name (or a certificate at security level 2, or an
// authenticated web session), unless the run uploads, imports or has a sender address.
bool readingWanted(const Settings& s);

// News mode: the run posts an article to the newsgroups named as recipients, through the NNTP
// sender, with the body sent as it is (no quoted-printable). The web request switches it on
// ("-news", the qarvel_news field); the NONEWS key switches it off again.
void enterNewsMode(Settings& s, ProcessObjects& objects);

// prepareActivity, then the receive driver or the send driver; returns the exit code.
int runMainActivity(Settings& s, ProcessObjects& objects);

} // namespace qarvel
