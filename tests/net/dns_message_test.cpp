// DNS messages built and decoded, the resolver configuration that names the name servers, and
// the route to a domain's exchangers when no name server answers.
#include "net/dns_message.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "dns_wire.h"
#include "net/dns_discovery.h"
#include "send/mx_delivery.h"
#include "support/temp_folder.h"

namespace qarvel {
namespace {

using test::DnsWire;
using test::shown;

DnsRecordList decode(const DnsWire& wire, int* result = nullptr, bool nameServerNames = false) {
    DnsAnswer answer;
    DnsDecodeOptions options;
    options.nameServerNames = nameServerNames;
    int r = decodeDnsResponse(wire.bytes.data(), wire.bytes.size(), options, answer);
    if (result) *result = r;
    DnsRecordList list;
    answer.appendTo(list);
    return list;
}

TEST(DnsQuery, FramingHeaderAndName) {
    uint8_t buffer[kDnsQueryBufferSize];
    int n = buildDnsQuery(0x1234, "mail.example.test", kDnsTypeMx, buffer, sizeof buffer);
    std::vector<uint8_t> expected = {0, 35, 0x12, 0x34, 0x01, 0x00, 0, 1, 0, 0, 0, 0, 0, 0,
                                     4, 'm', 'a', 'i', 'l', 7, 'e', 'x', 'a', 'm', 'p', 'l', 'e',
                                     4, 't', 'e', 's', 't', 0, 0, 15, 0, 1};
    ASSERT_EQ(n, static_cast<int>(expected.size()));
    EXPECT_EQ(std::vector<uint8_t>(buffer, buffer + n), expected);

    // A trailing dot and doubled dots add no empty label that would end the name early.
    int m = buildDnsQuery(1, "mail..example.test.", kDnsTypeMx, buffer, sizeof buffer);
    EXPECT_EQ(m, n);
    EXPECT_EQ(buffer[14], 4);
    EXPECT_EQ(buffer[19], 7);

    // Names that do not fit: a label over 63 bytes, a name over the 512-byte buffer.
    EXPECT_EQ(buildDnsQuery(1, String(std::string(64, 'a')) + ".test", kDnsTypeA, buffer, sizeof buffer), -1);
    std::string huge;
    for (int i = 0; i < 20; ++i) huge += std::string(60, 'b') + ".";
    EXPECT_EQ(buildDnsQuery(1, String(huge), kDnsTypeA, buffer, sizeof buffer), -1);
    EXPECT_GT(buildDnsQuery(1, String(std::string(63, 'c')), kDnsTypeA, buffer, sizeof buffer), 0);
}

TEST(DnsResponse, MxOrderIsPreferenceThenNewestFirst) {
    int result = 0;
    DnsRecordList list = decode(DnsWire::mxResponse(7, {{20, "mx20"}, {10, "first10"}, {10, "second10"}}), &result);
    EXPECT_EQ(result, kDnsDecoded);
    EXPECT_EQ(shown(list), (std::vector<std::string>{"15 10 second10.example.test", "15 10 first10.example.test",
                                                     "15 20 mx20.example.test"}));
    EXPECT_EQ(list[2].ttl, 300u);
}

TEST(DnsResponse, AddressNameServerTextAndService) {
    DnsWire w;
    w.header(1, 1, 5);
    size_t q = w.question("example.test", kDnsTypeA);
    size_t len = w.recordHead(static_cast<unsigned>(q), kDnsTypeA);
    w.u8(127); w.u8(0); w.u8(0); w.u8(10);
    w.endRecord(len);
    w.hostRecord(q, kDnsTypeNs, "ns1");
    len = w.recordHead(static_cast<unsigned>(q), kDnsTypeTxt);
    w.label("part one");
    w.label("part two");
    w.endRecord(len);
    len = w.recordHead(static_cast<unsigned>(q), 99); // unknown type: skipped by its length
    w.u32(0xdeadbeef);
    w.endRecord(len);
    len = w.recordHead(static_cast<unsigned>(q), kDnsTypeSrv);
    w.u16(10); w.u16(5); w.u16(993);
    w.name("imap.example.test");
    w.endRecord(len);
    // Key 0 (A, NS, TXT) before the SRV priority 10; among the zeros the newest first.
    EXPECT_EQ(shown(decode(w)), (std::vector<std::string>{"16 0 part onepart two", "2 0 ns1.example.test",
                                                          "1 0 127.0.0.10", "33 10 imap.example.test:993 5"}));
}

TEST(DnsResponse, CompressionPointers) {
    DnsWire w;
    // At 300: "deep.test"; at 0x40: "mid" then a pointer to 300 (beyond one byte).
    w.bytes.assign(300, 0);
    w.name("deep.test");
    w.bytes[0x40] = 3; w.bytes[0x41] = 'm'; w.bytes[0x42] = 'i'; w.bytes[0x43] = 'd';
    w.bytes[0x44] = 0xC1; w.bytes[0x45] = 0x2C; // offset 300
    w.bytes[0x46] = 0xC1; w.bytes[0x47] = 0x2C;
    String out;
    // The first pointer is followed by its full offset.
    ASSERT_TRUE(readDnsName(w.bytes.data(), w.bytes.size(), 0x46, false, out));
    EXPECT_EQ(out, "deep.test");
    ASSERT_TRUE(readDnsName(w.bytes.data(), w.bytes.size(), 0x40, false, out));
    EXPECT_EQ(out, "mid.deep.test");
    // A pointer met inside a name reached by a pointer uses its low byte only (300 & 0xFF = 44).
    w.bytes[44] = 2; w.bytes[45] = 'l'; w.bytes[46] = 'o'; w.bytes[47] = 0;
    w.bytes[0x50] = 0xC0; w.bytes[0x51] = 0x40;
    ASSERT_TRUE(readDnsName(w.bytes.data(), w.bytes.size(), 0x50, false, out));
    EXPECT_EQ(out, "mid.lo");
    // The name-server look-up uses the low byte for every pointer.
    ASSERT_TRUE(readDnsName(w.bytes.data(), w.bytes.size(), 0x46, true, out));
    EXPECT_EQ(out, "lo");
}

TEST(DnsResponse, HostileAnswersEndCleanly) {
    String out;
    // A pointer to itself, two pointing at each other, a reserved label type, a label past the
    // end, a pointer cut in half, an offset past the end.
    for (const std::vector<uint8_t>& name : std::vector<std::vector<uint8_t>>{
             {1, 'a', 0xC0, 0x00}, {0xC0, 0x02, 0xC0, 0x00}, {0x41, 'a', 0}, {5, 'a', 'b'}, {0xC0}, {0xC0, 0x40}})
        EXPECT_FALSE(readDnsName(name.data(), name.size(), 0, false, out)) << static_cast<int>(name[0]) << name.size();

    // A name of 255 bytes with its dots is refused, one of 254 is kept.
    DnsWire longName;
    for (int i = 0; i < 3; ++i) longName.label(std::string(63, 'x'));
    longName.label(std::string(62, 'y'));
    longName.u8(0);
    ASSERT_TRUE(readDnsName(longName.bytes.data(), longName.bytes.size(), 0, false, out));
    EXPECT_EQ(out.length(), 254u);
    longName.bytes[3 * 64] = 63;
    longName.bytes.insert(longName.bytes.begin() + 3 * 64 + 1, 'y');
    EXPECT_FALSE(readDnsName(longName.bytes.data(), longName.bytes.size(), 0, false, out));

    // An MX record whose exchanger loops: the record before it is kept, decoding stops.
    DnsWire w;
    w.header(1, 1, 3);
    size_t q = w.question("example.test", kDnsTypeMx);
    w.hostRecord(q, kDnsTypeMx, "good", 10);
    size_t len = w.recordHead(static_cast<unsigned>(q), kDnsTypeMx);
    w.u16(20);
    size_t loopAt = w.bytes.size();
    w.pointer(static_cast<unsigned>(loopAt));
    w.endRecord(len);
    w.hostRecord(q, kDnsTypeMx, "after", 30);
    int result = 0;
    DnsRecordList list = decode(w, &result);
    EXPECT_EQ(result, kDnsRefused);
    EXPECT_EQ(shown(list), std::vector<std::string>{"15 10 good.example.test"});

    // Counts that lie: far more answers announced than present.
    DnsWire lying = DnsWire::mxResponse(1, {{10, "only"}});
    lying.bytes[6] = lying.bytes[7] = 0xFF;
    list = decode(lying, &result);
    EXPECT_EQ(result, kDnsShort);
    EXPECT_EQ(list.size(), 1u);
    // A data length past the end of the bytes.
    lying.bytes.resize(lying.bytes.size() - 1);
    list = decode(lying, &result);
    EXPECT_EQ(result, kDnsShort);
    EXPECT_TRUE(list.empty());
    // Question counts beyond any real query are refused without reading them.
    DnsWire questions;
    questions.header(1, 5000, 0);
    for (int i = 0; i < 5000; ++i) questions.question("a", 1);
    decode(questions, &result);
    EXPECT_EQ(result, kDnsRefused);
}

TEST(DnsResponse, EveryTruncationDecodesAsFarAsItGoes) {
    DnsWire w = DnsWire::mxResponse(9, {{10, "a"}, {20, "b"}, {30, "c"}});
    size_t full = w.bytes.size();
    size_t previous = 0;
    for (size_t cut = 0; cut <= full; ++cut) {
        DnsAnswer answer;
        int result = decodeDnsResponse(w.bytes.data(), cut, DnsDecodeOptions(), answer);
        EXPECT_EQ(result, cut == full ? kDnsDecoded : kDnsShort) << "cut at " << cut;
        EXPECT_GE(answer.count(), previous);
        previous = answer.count();
    }
    EXPECT_EQ(previous, 3u);
}

TEST(MxDelivery, UnreachableNameServersStopTheRoute) {
    // Nothing listens on port 53 of these addresses; the fall-back is tried once.
    MxRouteRequest request;
    request.dnsServer = "127.0.0.58";
    request.fallbackServer = "127.0.0.59";
    Exchangers exchangers = {{"stale", 1}};
    testing::internal::CaptureStderr();
    EXPECT_EQ(lookUpExchangers("example.test", request, exchangers), 0);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("Could not connect to Domain Name Server: 127.0.0.58, error= -10061"), std::string::npos) << err;
    EXPECT_NE(err.find("Could not connect to Domain Name Server: 127.0.0.59, error= -10061"), std::string::npos) << err;
    EXPECT_EQ(request.dnsServer, "127.0.0.59");
    EXPECT_TRUE(request.fallbackServer.empty());
    EXPECT_TRUE(exchangers.empty());
}

TEST(DnsDiscovery, ResolverConfigurationAndFallBacks) {
    const std::string longLine = "nameserver " + std::string(2000, 'x') + "\nnameserver 10.9.9.9\n";
    struct Case {
        const char* name;
        const char* config;  // null: no configuration file at all
        const char* host;
        std::string primary, secondary, domain;  // "*": not checked
    } cases[] = {
        {"search line and three servers", "# comment\nsearch first.test second.test\nnameserver 10.0.0.1\n"
         "nameserver 10.0.0.2\nnameserver 10.0.0.3\n", "vm.host.example", "10.0.0.1", "10.0.0.2", "first.test"},
        {"a domain line wins over a search line wherever it stands",
         "search s.test\nnameserver 10.0.0.1\ndomain d.test\nsearch t.test\n", "", "*", "", "d.test"},
        {"no domain: the host name is not consulted", "nameserver 127.0.0.1\n", "vm.host.example", "127.0.0.1",
         "*", "unknown"},
        {"an overlong line is dropped whole, the line after it still counts", longLine.c_str(), "",
         std::string(255, 'x'), "10.9.9.9", "*"},
        {"no file: the last two labels of a three-label host name", nullptr, "vm.example.org", "localhost", "*",
         "example.org"},
        {"no server, a one-label host name", "options ndots:2\n", "plainhost", "localhost", "*", "unknown"},
        {"an empty file, a host name with a trailing dot", "", "trailing.", "*", "*", "unknown"},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        FILE* file = nullptr;
        if (k.config) {
            file = std::tmpfile();
            std::fputs(k.config, file);
            std::rewind(file);
        }
        String primary, secondary, domain;
        findDnsServersIn(file, k.host, primary, secondary, domain);
        if (file) std::fclose(file);
        if (k.primary != "*") { EXPECT_EQ(primary, String(k.primary)); }
        if (k.secondary != "*") { EXPECT_EQ(secondary, String(k.secondary)); }
        if (k.domain != "*") { EXPECT_EQ(domain, String(k.domain)); }
    }
}

// The file the environment names gives the name servers; those stand in for "localhost" only
// (the LDAP host too when it follows the DNS server).
TEST(DnsDiscovery, EnvironmentNamesTheFileItsServersReplaceLocalhost) {
    test::TempFolder folder;
    setenv(kResolvConfVariable,
           folder.put("resolv.conf", "nameserver 127.0.0.7\nnameserver 127.0.0.8\ndomain env.test\n").c_str(), 1);
    String primary, secondary, domain;
    findDnsServers(primary, secondary, domain);
    EXPECT_EQ(primary, "127.0.0.7");
    EXPECT_EQ(secondary, "127.0.0.8");
    EXPECT_EQ(domain, "env.test");
    String p2, s2;
    findDnsServers(p2, s2);
    EXPECT_EQ(p2, "127.0.0.7");
    String discovered = "localhost", smtp = "localhost", dns = "localhost", ldap = "localhost";
    prepareDnsServers(discovered, smtp, dns, false, ldap);
    EXPECT_EQ(discovered, "127.0.0.7");
    EXPECT_EQ(smtp, "127.0.0.7");
    EXPECT_EQ(dns, "127.0.0.7");
    EXPECT_EQ(ldap, "localhost");
    smtp = "relay.example";
    dns = "relay.example";
    prepareDnsServers(discovered, smtp, dns, true, ldap);
    EXPECT_EQ(smtp, "relay.example");
    EXPECT_EQ(ldap, "relay.example");
    setenv(kResolvConfVariable, "/nonexistent/resolv.conf", 1);
    String p3, s3, d3;
    findDnsServers(p3, s3, d3);
    EXPECT_EQ(p3, "localhost");
    unsetenv(kResolvConfVariable);
}

} // namespace
} // namespace qarvel
