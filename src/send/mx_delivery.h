// Direct delivery: finding the mail exchangers of a recipient domain through the DNS
// resolver, in order of preference, for the send driver to try one after the other.
#pragma once

#include <utility>
#include <vector>

#include "base/string.h"

namespace qarvel {

// Exchanger hosts with their preferences, lowest preference first.
using Exchangers = std::vector<std::pair<String, int>>;

struct MxRouteRequest {
    String dnsServer;      // in/out: the name server asked; a fall-back that was used replaces it
    String fallbackServer; // in/out: asked once when dnsServer cannot be reached, then forgotten
    bool datagram = false; // -dnsudp, handed to the resolver (which queries over TCP anyway)
    int trace = 0;         // the resolver's trace level
    bool verbose = false;
    bool quiet = false;
    int mxPriority = -1;
};

// Looks up the exchangers of domain: its name servers first (over the resolver before it
// is open, which finds none), then MX records, else AAAA, else A records, lowest
// preference first. Returns 1 with exchangers filled (empty when the domain has none), or 0
// after "Could not connect to Domain Name Server: S, error= N" when neither the server nor
// its fall-back could be reached (the cause noted).
int lookUpExchangers(const String& domain, MxRouteRequest& request, Exchangers& exchangers);

// Before a run that looks up exchangers (direct delivery or a probe): the local DNS server is
// discovered into discovered; an SMTP host of exactly "localhost" is replaced, together with
// the DNS server host, by it; with ldapAsDns the LDAP host becomes the DNS server host.
void prepareDnsServers(String& discovered, String& smtpHost, String& dnsServer, bool ldapAsDns,
                       String& ldapHost);

} // namespace qarvel
