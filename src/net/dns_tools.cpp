// The -srv: and -txt: look-ups and what they print.
#include "net/dns_tools.h"

#include <cstdio>

#include "net/dns_client.h"
#include "net/winsock_error.h"

namespace qarvel {

namespace {

// Opens the client towards server; prints why it could not.
bool openServer(DnsClient& client, const String& server) {
    int result = client.open(server, kDnsService);
    if (result >= 1) return true;
    std::fprintf(stderr, "Could not connect to Domain Name Server: %s, error= %s\n", server.c_str(),
                 describeError(client.failureCode(result)).c_str());
    return false;
}

} // namespace

int printSrvRecords(const String& server, const String& value, bool datagram, int trace) {
    char domain[256] = {}, service[256] = {}, protocol[256] = {};
    std::sscanf(value.c_str(), "%255[^:]:%255[^:]:%255s", domain, service, protocol);
    String name = String("_") + service + "._" + protocol + "." + domain;
    DnsClient client(datagram, trace);
    if (!openServer(client, server)) return -1;
    DnsRecordList answers;
    if (client.querySrv(answers, service, protocol, domain) < 1) {
        std::fprintf(stderr, "SRV query for '%s' failed\n", name.c_str());
        return -1;
    }
    for (const DnsRecord& r : answers) {
        if (r.type != kDnsTypeSrv) continue;
        std::printf("%s ==> Target=%s, Port=%u, Priority=%u, Weight=%u\n", name.c_str(), r.name.c_str(), r.port,
                    r.preference, r.weight);
    }
    std::fflush(stdout);
    return 1;
}

int printTxtRecords(const String& server, const String& name, bool datagram, int trace) {
    DnsClient client(datagram, trace);
    if (!openServer(client, server)) return -1;
    DnsRecordList answers;
    if (client.query(name, kDnsTypeTxt, answers) < 1) {
        std::fprintf(stderr, "TXT query for '%s' failed\n", name.c_str());
        return -1;
    }
    for (const DnsRecord& r : answers) {
        if (r.type != kDnsTypeTxt) continue;
        std::printf("%s ==> %s\n", name.c_str(), r.text.c_str());
    }
    std::fflush(stdout);
    return 1;
}

} // namespace qarvel
