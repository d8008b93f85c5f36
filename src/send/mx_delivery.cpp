// Direct delivery: the mail exchangers of a domain, tried in their order.
#include "send/mx_delivery.h"

#include <cstdio>

#include "base/run_failure.h"
#include "net/dns_client.h"
#include "net/dns_discovery.h"
#include "net/failure_cause.h"
#include "net/host_address.h"
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

namespace {

// The A and AAAA addresses of name (AAAA first with -ipv6). A failed query disconnects;
// the next type gets a fresh connection.
std::vector<String> addressesOf(DnsClient& resolver, const String& name, const String& server) {
    std::vector<String> addresses;
    const int order[2] = {preferIpv6() ? kDnsTypeAaaa : kDnsTypeA, preferIpv6() ? kDnsTypeA : kDnsTypeAaaa};
    for (int type : order) {
        if (!resolver.isOpen() && resolver.open(server, kDnsService) < 1) break;
        DnsRecordList answers;
        resolver.query(name, type, answers);
        for (const DnsRecord& r : answers)
            if (r.type == type && !r.text.empty()) addresses.push_back(r.text);
    }
    return addresses;
}

} // namespace

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
        if (request.fallbackServer.empty()) {
            noteFailure(sessionFailure(resolver, opened, ""));
            return 0;
        }
        request.dnsServer = request.fallbackServer;
        request.fallbackServer = String();
        if (chatty) std::printf("Check MX priority=%d\n", request.mxPriority);
    }
    // The exchangers of the MX records; a domain without them is its own exchanger, reached
    // through its addresses (the A fallback).
    DnsRecordList answers;
    if (!resolver.isOpen() && resolver.open(request.dnsServer, kDnsService) < 1) return 1;
    resolver.query(domain, kDnsTypeMx, answers);
    bool found = false;
    for (const DnsRecord& r : answers) found = found || !r.host().empty();
    if (!found) {
        for (const String& address : addressesOf(resolver, domain, request.dnsServer))
            exchangers.emplace_back(address, 0);
        return 1;
    }
    for (const DnsRecord& r : answers) {
        if (r.host().empty()) continue;
        // An exchanger is reached through the addresses this name server gives for it, IPv6
        // ones included; a name it knows no address for is left to the system's resolver.
        std::vector<String> addresses;
        if (!isAddressLiteral(r.host().view())) addresses = addressesOf(resolver, r.host(), request.dnsServer);
        if (addresses.empty()) exchangers.emplace_back(r.host(), r.preference);
        for (const String& address : addresses) exchangers.emplace_back(address, r.preference);
    }
    return 1;
}

} // namespace qarvel
