// DnsClient: questions to a name server over one TCP connection.
#include "net/dns_client.h"

#include <cstdio>
#include <ctime>
#include <vector>

#include "net/dns_answer.h"
#include "net/dns_message.h"
#include "net/host_address.h"

namespace qarvel {

namespace {

// Incremented before each query: one counter for the whole process.
uint16_t queryCounter = 0;

// The wait for a response, in seconds.
constexpr int kResponseTimeout = 300;

} // namespace

struct DnsClient::Response {
    std::vector<uint8_t> bytes;
};

DnsClient::DnsClient(bool datagram, int trace) : Connection(0, '\n'), datagram_(datagram), trace_(trace) {}

DnsClient::~DnsClient() { DnsClient::disconnect(); }

int DnsClient::disconnect() {
    if (isOpen()) return close();
    return 0;
}

int DnsClient::open(const String& host, const String& service) {
    const HostPort entry = splitHostPort(host.view());
    return Connection::open(entry.host, entry.port.empty() ? service : entry.port);
}

uint16_t DnsClient::lastQueryId() { return queryCounter; }

int DnsClient::fail(const char* message) {
    if (trace_ >= 1 && message) std::printf("%s\n", message);
    disconnect();
    return -1;
}

// Sends one framed question and reads the framed response into response.bytes; the bytes
// may be fewer than the length announced when the server stopped early.
int DnsClient::exchange(const String& name, int type, Response& response) {
    if (!isOpen()) return -1;
    uint8_t request[kDnsQueryBufferSize];
    uint16_t id = ++queryCounter;
    int length = buildDnsQuery(id, name, type, request, sizeof request);
    if (trace_ >= 1) std::printf("DNS query %u: '%s' type %d\n", id, name.c_str(), type);
    if (length < 0) {
        if (trace_ >= 1) std::printf("Name does not fit a query: '%s'\n", name.c_str());
        return -1;
    }
    if (trace_ >= 2) std::printf("Write %d bytes\n", length);
    if (send(reinterpret_cast<const char*>(request), length) < 1) return fail("Request write failure");

    setTimeout(kResponseTimeout);
    time_t started = std::time(nullptr);
    uint8_t prefix[2];
    if (read(reinterpret_cast<char*>(prefix), 2) < 2) {
        if (trace_ >= 1) std::printf("%ld", static_cast<long>(std::time(nullptr) - started));
        return fail("s Request read failure");
    }
    size_t expected = static_cast<size_t>(prefix[0]) << 8 | prefix[1];
    if (trace_ >= 2)
        std::printf("%lds Response len = %zu\n", static_cast<long>(std::time(nullptr) - started), expected);
    if (expected == 0) return fail("Response read failure");
    response.bytes.assign(expected, 0);
    int got = read(reinterpret_cast<char*>(response.bytes.data()), static_cast<int>(expected));
    if (got < 1) return fail("Response read failure");
    if (static_cast<size_t>(got) < expected) {
        if (trace_ >= 1) std::printf("Response short %d < len\n", got);
        response.bytes.resize(static_cast<size_t>(got));
    }
    if (trace_ >= 2) dumpDnsBytes(response.bytes.data(), response.bytes.size());
    return 1;
}

int DnsClient::query(const String& name, int type, DnsRecordList& answers) {
    if (name.length() >= 2 && name[0] == '[' && name[name.length() - 1] == ']') {
        DnsRecord record;
        record.name = String(name, 1, name.length() - 2);
        record.text = record.name;
        record.type = static_cast<uint16_t>(type);
        answers.push_back(record);
        return 1;
    }
    Response response;
    if (exchange(name, type, response) < 1) return -1;
    DnsAnswer answer;
    DnsDecodeOptions options;
    options.trace = trace_;
    int decoded = decodeDnsResponse(response.bytes.data(), response.bytes.size(), options, answer);
    answer.appendTo(answers);
    if (decoded == kDnsRefused) return fail("Response refused: a name loops or does not fit");
    return 1;
}

int DnsClient::querySrv(DnsRecordList& answers, const String& service, const String& protocol,
                        const String& domain) {
    return query("_" + service + "._" + protocol + "." + domain, kDnsTypeSrv, answers);
}

int DnsClient::queryNameServers(const String& domain, String& first, String& second) {
    Response response;
    if (exchange(domain, kDnsTypeNs, response) < 1) return -1;
    DnsDecodeOptions options;
    options.trace = trace_;
    options.nameServerNames = true;
    DnsRecordList records; // in the order of the response
    int decoded = decodeDnsResponse(response.bytes.data(), response.bytes.size(), options, records);
    if (decoded == kDnsRefused) fail("Response refused: a name loops or does not fit");
    // Each name server fills first while it is empty, later ones second.
    int stored = -1;
    for (const DnsRecord& record : records) {
        if (record.type != kDnsTypeNs || record.text.empty()) continue;
        if (first.empty()) first = record.text;
        else second = record.text;
        stored = 1;
    }
    return stored;
}

} // namespace qarvel
