#include "send/mx_delivery.h"

#include <cctype>
#include <cstdio>

#include "net/dns_client.h"
#include "net/dns_discovery.h"

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

bool isDottedAddressDomain(const String& domain) {
    int dots = 0;
    for (char c : domain.view()) {
        if (c == '.') ++dots;
        if (std::isalpha(static_cast<unsigned char>(c))) return false;
    }
    return dots >= 3;
}

int findExchangers(const String& domain, MxRouteRequest& request, Exchangers& exchangers) {
    exchangers.clear();
    DnsClient resolver(request.datagram, request.trace);
    // The name servers of the domain itself would be asked over an open connection; the
    // resolver is not open at this point, so the configured server stays in charge.
    String first, second;
    if (resolver.queryNameServers(domain, first, second) >= 1 && !first.empty()) {
        request.dnsServer = first;
        request.fallbackServer = second;
    }
    while (true) {
        if (request.verbose && !request.quiet) std::printf("Check MX priority=%d\n", request.mxPriority);
        if (isDottedAddressDomain(domain)) {
            exchangers.emplace_back(domain, 0);
            return 1;
        }
        if (request.skipQuery) return 1;
        if (request.verbose && !request.quiet) std::printf("Check DNS = %s\n", request.dnsServer.c_str());
        int opened = resolver.open(request.dnsServer, kDnsService);
        if (opened >= 1) break;
        std::fprintf(stderr, "Could not connect to Domain Name Server: %s, error= %d\n", request.dnsServer.c_str(),
                     opened);
        if (request.fallbackServer.empty()) return 0;
        request.dnsServer = request.fallbackServer;
        request.fallbackServer = String();
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
    if (exchangers.empty()) {
        std::fprintf(stderr, "Could not route to domain: %s\n", domain.c_str());
        return 0;
    }
    return 1;
}

} // namespace qarvel
