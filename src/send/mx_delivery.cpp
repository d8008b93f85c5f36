#include "send/mx_delivery.h"

#include <cstdio>

#include "net/dns_client.h"
#include "net/dns_discovery.h"
#include "net/winsock_error.h"

namespace qarvel {

void prepareDnsServers(String& discovered, String& smtpHost, String& dnsServer, bool ldapAsDns,
                       String& ldapHost) {
    String secondary;
    findDnsServers(discovered, secondary);
    if (smtpHost == "localhost") {
        smtpHost = discovered;
        dnsServer = discovered;
    }
    if (ldapAsDns) ldapHost = dnsServer;
}

int lookUpExchangers(const String& domain, MxRouteRequest& request, Exchangers& exchangers) {
    exchangers.clear();
    DnsClient resolver(request.datagram, request.trace);
    // The domain's own name servers are asked before the resolver is open, so the query
    // finds none and the configured server stays in charge.
    String first, second;
    if (resolver.queryNameServers(domain, first, second) >= 1 && !first.empty()) {
        request.dnsServer = first;
        request.fallbackServer = second;
    }
    bool chatty = request.verbose && !request.quiet;
    while (true) {
        if (chatty) std::printf("Check DNS = %s\n", request.dnsServer.c_str());
        int opened = resolver.open(request.dnsServer, kDnsService);
        if (opened >= 1) break;
        std::fprintf(stderr, "Could not connect to Domain Name Server: %s, error= %s\n", request.dnsServer.c_str(),
                     describeError(resolver.failureCode(opened)).c_str());
        if (request.fallbackServer.empty()) return 0;
        request.dnsServer = request.fallbackServer;
        request.fallbackServer = String();
        if (chatty) std::printf("Check MX priority=%d\n", request.mxPriority);
    }
    DnsRecordList answers;
    static const int kTypes[] = {kDnsTypeMx, kDnsTypeAaaa, kDnsTypeA};
    for (int type : kTypes) {
        // A failed query disconnects; the next type gets a fresh connection.
        if (resolver.openCount < 1 && resolver.open(request.dnsServer, kDnsService) < 1) break;
        resolver.query(domain, type, answers);
        bool found = false;
        for (const DnsRecord& r : answers) found = found || !r.host().empty();
        if (found) break;
        answers.clear();
    }
    for (const DnsRecord& r : answers)
        if (!r.host().empty()) exchangers.emplace_back(r.host(), r.preference);
    return 1;
}

} // namespace qarvel
