// ServerSettings: the servers of a run and their ports (the settings group `servers`). The
// drivers take the group whole; the hand-over picks the host and port of the chosen sender or
// reader from it.
#pragma once

#include "base/string.h"

namespace qarvel {

struct ServerSettings {
    String smtpHost, pop3Host, imapHost, nntpHost, ldapHost;
    String smtpPort, qmtpPort, pop3Port, imapPort, nntpPort;
    // The name server of the look-ups, and the one the system names (found at the start).
    String dnsServerHost, discoveredDnsServer;
    String proxyHost, proxyPort;
    // -relay: ready-made messages (and forwarded ones) go through this host.
    String relayHost;
    // Mail goes straight to the recipient's mail exchangers (-probe:).
    bool directToMx = false;
    bool dnsOverUdp = false, ldapAsDnsServer = false;
};

} // namespace qarvel
