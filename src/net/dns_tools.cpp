// The -srv: and -txt: look-ups and what they print.
#include "net/dns_tools.h"

#include <cstdio>

#include "net/dns_client.h"
#include "net/failure_cause.h"
#include "net/winsock_error.h"

namespace qarvel {

namespace {

// Opens the client towards server (on port 53 unless the server names its own); prints why
// it could not and notes the cause.
bool openServer(DnsClient& client, const String& server) {
    int result = client.open(server, kDnsService);
    if (result >= 1) return true;
    std::fprintf(stderr, "Could not connect to Domain Name Server: %s, error= %s\n", server.c_str(),
                 describeError(client.failureCode(result)).c_str());
    noteFailure(sessionFailure(client, result, ""));
    return false;
}

// A question that got no answer: its line, the cause noted, and -1.
int failedQuery(const DnsClient& client, const char* type, const String& name) {
    std::fprintf(stderr, "%s query for '%s' failed\n", type, name.c_str());
    noteFailure(sessionFailure(client, -1, ""));
    return -1;
}

} // namespace

int printSrvRecords(const String& server, const String& value, bool datagram, int trace) {
    char domain[256] = {}, service[256] = {}, protocol[256] = {};
    std::sscanf(value.c_str(), "%255[^:]:%255[^:]:%255s", domain, service, protocol);
    String name = String("_") + service + "._" + protocol + "." + domain;
    DnsClient client(datagram, trace);
    if (!openServer(client, server)) return -1;
    DnsRecordList answers;
    if (client.querySrv(answers, service, protocol, domain) < 1) return failedQuery(client, "SRV", name);
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
    if (client.query(name, kDnsTypeTxt, answers) < 1) return failedQuery(client, "TXT", name);
    for (const DnsRecord& r : answers) {
        if (r.type != kDnsTypeTxt) continue;
        std::printf("%s ==> %s\n", name.c_str(), r.text.c_str());
    }
    std::fflush(stdout);
    return 1;
}

} // namespace qarvel
