// DnsClient against a scripted name server on 127.0.0.1: the exact queries it sends, and how it
// ends on truncated, looping and oversized answers, resets, silence, garbage and answers that
// were not asked for.
#include "net/dns_client.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "dns_wire.h"
#include "support/scripted_server.h"

namespace qarvel {
namespace {

using test::DnsWire;
using Script = std::vector<test::ScriptStep>;
using test::closeConnection;
using test::receive;
using test::reset;
using test::send;
using test::stall;

// The framed query for the MX records of example.test.
constexpr size_t kQueryBytes = 32;

// The bytes of a reply with its two-byte length prefix (announcing `announced` when given).
std::string framed(const std::string& message, size_t announced = 0) {
    size_t len = announced ? announced : message.size();
    return std::string{static_cast<char>(len >> 8), static_cast<char>(len & 0xFF)} + message;
}

std::string mxReply(unsigned id, std::initializer_list<std::pair<unsigned, const char*>> exchangers) {
    return DnsWire::mxResponse(id, exchangers).text();
}

std::vector<std::string> names(const DnsRecordList& answers) {
    std::vector<std::string> out;
    for (const DnsRecord& a : answers) out.push_back(a.name.str());
    return out;
}

// A client connected to a server that plays the script.
struct Session {
    explicit Session(Script script) : server(std::move(script)) {
        EXPECT_EQ(client.open("127.0.0.1", String(server.portText())), 1);
    }
    test::ScriptedServer server;
    DnsClient client;
};

TEST(DnsClient, QueriesCarryConsecutiveIdsAndDecodeInOrder) {
    Session s({receive(kQueryBytes), send(framed(mxReply(1, {{20, "c"}, {10, "a"}, {10, "b"}}))),
               receive(kQueryBytes), send(framed(mxReply(2, {{5, "d"}}))), closeConnection()});
    DnsRecordList answers;
    ASSERT_EQ(s.client.query("example.test", kDnsTypeMx, answers), 1);
    uint16_t firstId = DnsClient::lastQueryId();
    ASSERT_EQ(s.client.query("example.test", kDnsTypeMx, answers), 1);
    EXPECT_EQ(DnsClient::lastQueryId(), static_cast<uint16_t>(firstId + 1));
    // The second query's records are appended behind the first query's.
    EXPECT_EQ(names(answers), (std::vector<std::string>{"b.example.test", "a.example.test", "c.example.test",
                                                        "d.example.test"}));
    s.client.disconnect();

    const std::string sent = s.server.finish();
    ASSERT_EQ(sent.size(), 2 * kQueryBytes);
    std::string expected = {0, 30, static_cast<char>(firstId >> 8), static_cast<char>(firstId)};
    expected += std::string("\x01\x00\x00\x01\x00\x00\x00\x00\x00\x00\x07" "example\x04test\x00\x00\x0f\x00\x01", 28);
    EXPECT_EQ(sent.substr(0, kQueryBytes), expected);
    EXPECT_EQ(static_cast<uint8_t>(sent[kQueryBytes + 3]), static_cast<uint8_t>(firstId + 1));
}

TEST(DnsClient, ServiceNameServersAndBracketedAddresses) {
    DnsWire ns;
    ns.header(1, 1, 3);
    size_t q = ns.question("example.test", kDnsTypeNs);
    for (const char* host : {"ns1", "ns2", "ns3"}) ns.hostRecord(q, kDnsTypeNs, host);
    DnsWire srv;
    srv.header(2, 1, 1);
    q = srv.question("_imaps._tcp.example.test", kDnsTypeSrv);
    size_t len = srv.recordHead(static_cast<unsigned>(q), kDnsTypeSrv);
    srv.u16(10); srv.u16(5); srv.u16(993);
    srv.name("imap.example.test");
    srv.endRecord(len);
    const size_t srvQueryBytes = 44;
    Session s({receive(kQueryBytes), send(framed(ns.text())), receive(srvQueryBytes), send(framed(srv.text())),
               closeConnection()});
    String first, second = "kept-when-nothing-comes";
    ASSERT_EQ(s.client.queryNameServers("example.test", first, second), 1);
    EXPECT_EQ(first, "ns1.example.test");
    EXPECT_EQ(second, "ns3.example.test");
    DnsRecordList answers;
    ASSERT_EQ(s.client.querySrv(answers, "imaps", "tcp", "example.test"), 1);
    EXPECT_EQ(test::shown(answers), std::vector<std::string>{"33 10 imap.example.test:993 5"});
    // A bracketed address is its own answer, asked of nobody.
    uint16_t id = DnsClient::lastQueryId();
    ASSERT_EQ(s.client.query("[192.0.2.7]", kDnsTypeMx, answers), 1);
    EXPECT_EQ(DnsClient::lastQueryId(), id);
    EXPECT_EQ(answers.back().host(), "192.0.2.7");
    s.client.disconnect();
    const std::string sent = s.server.finish();
    ASSERT_EQ(sent.size(), kQueryBytes + srvQueryBytes);
    EXPECT_EQ(sent.substr(kQueryBytes + 14, 26), std::string("\x06_imaps\x04_tcp\x07" "example\x04test", 25) + '\0');
    // Not open: fails at once.
    EXPECT_EQ(s.client.query("example.test", kDnsTypeMx, answers), -1);
}

// One failing answer to one query: how the query ends.
struct Fault {
    const char* name;
    Script script;
    int result;                        // of the query; 0 for either 1 or -1
    std::vector<std::string> answers;  // the names decoded (checked unless result is 0)
    bool dropped;                      // the client closed the connection (checked where set)
};

void expectEachEndsCleanly(const std::vector<Fault>& faults) {
    for (const Fault& f : faults) {
        SCOPED_TRACE(f.name);
        Session s(f.script);
        DnsRecordList answers;
        auto start = std::chrono::steady_clock::now();
        int r = s.client.query("example.test", kDnsTypeMx, answers);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
        if (f.result == 0) {
            EXPECT_TRUE(r == 1 || r == -1) << r;
        } else {
            EXPECT_EQ(r, f.result);
            EXPECT_EQ(names(answers), f.answers);
        }
        if (f.dropped) { EXPECT_FALSE(s.client.isOpen()); }
        s.client.disconnect();
        EXPECT_EQ(s.server.error(), "");  // the query arrived whole
    }
}

TEST(DnsClient, HostileAnswersEndCleanly) {
    const std::string good = mxReply(1, {{10, "a"}, {20, "b"}});
    DnsWire loop;  // the exchanger name points at its own pointer
    loop.header(1, 1, 1);
    size_t q = loop.question("example.test", kDnsTypeMx);
    size_t len = loop.recordHead(static_cast<unsigned>(q), kDnsTypeMx);
    loop.u16(10);
    loop.label("x");
    loop.pointer(static_cast<unsigned>(loop.bytes.size() - 2));
    loop.endRecord(len);
    // The largest length a prefix can announce, counts that lie, and names past the name buffer
    // built from pointers to a long label.
    DnsWire huge;
    huge.header(1, 1, 0xFFFF);
    q = huge.question("example.test", kDnsTypeMx);
    // A record of a type nobody asks for holds a long label that points at itself.
    len = huge.recordHead(static_cast<unsigned>(q), 99);
    size_t longLabel = huge.bytes.size();
    huge.label(std::string(63, 'l'));
    huge.pointer(static_cast<unsigned>(longLabel));
    huge.endRecord(len);
    while (huge.bytes.size() < 65535 - 200) {
        len = huge.recordHead(static_cast<unsigned>(q), kDnsTypeMx);
        huge.u16(1);
        huge.label(std::string(63, 'm'));
        huge.label(std::string(63, 'n'));
        huge.pointer(static_cast<unsigned>(longLabel));  // loops through the long label
        huge.endRecord(len);
    }
    huge.bytes.resize(65535, 0);
    expectEachEndsCleanly({
        {"a length that announces more than comes",
         {receive(kQueryBytes), send(framed(good.substr(0, good.size() - 8), good.size())), closeConnection()},
         1, {"a.example.test"}, false},
        {"closed before the length prefix", {receive(kQueryBytes), closeConnection()}, -1, {}, true},
        {"closed after half of it", {receive(kQueryBytes), send(std::string(1, '\0')), closeConnection()}, -1, {}, true},
        {"a looping pointer", {receive(kQueryBytes), send(framed(loop.text())), closeConnection()}, -1, {}, true},
        {"oversized", {receive(kQueryBytes), send(framed(huge.text())), closeConnection()}, -1, {}, false},
    });

    // A question name that does not fit is refused before anything is sent.
    Session s({});
    DnsRecordList answers;
    EXPECT_EQ(s.client.query(String(std::string(70, 'a')) + ".test", kDnsTypeMx, answers), -1);
    s.client.disconnect();
    EXPECT_EQ(s.server.finish(), "");
}

TEST(DnsClient, FailingServersEndCleanly) {
    const std::string good = framed(mxReply(1, {{10, "a"}, {20, "b"}}));
    std::string noise(202, '\0');
    noise[1] = static_cast<char>(200);
    for (size_t i = 2; i < noise.size(); ++i) noise[i] = static_cast<char>(i * 37 + 11);
    expectEachEndsCleanly({
        {"reset right after the length prefix", {receive(kQueryBytes), send(good.substr(0, 2)), reset()}, -1, {}, true},
        {"reset before anything", {receive(kQueryBytes), reset()}, -1, {}, true},
        // The wait for an answer is a fixed 300 seconds, too long for a unit test: the server
        // gives up first, and the query ends when it closes.
        {"silent, then closed", {receive(kQueryBytes), stall(1500), closeConnection()}, -1, {}, true},
        {"a zero length", {receive(kQueryBytes), send(std::string(2, '\0'))}, -1, {}, true},
        // 200 bytes of noise decode to whatever they hold, without reading past them.
        {"noise", {receive(kQueryBytes), send(noise), stall(3000)}, 0, {}, false},
    });

    // More than asked: an unasked second answer behind the first is left buffered; the first
    // query decodes its own answer whole. (IDs are not compared, so the next question over the
    // same connection takes the buffered one.)
    Session s({receive(kQueryBytes), send(good + framed(mxReply(7, {{30, "c"}}))), stall(3000)});
    DnsRecordList answers, next;
    ASSERT_EQ(s.client.query("example.test", kDnsTypeMx, answers), 1);
    EXPECT_EQ(names(answers), (std::vector<std::string>{"a.example.test", "b.example.test"}));
    EXPECT_EQ(s.client.query("example.test", kDnsTypeMx, next), 1);
    EXPECT_EQ(names(next), (std::vector<std::string>{"c.example.test"}));
}

} // namespace
} // namespace qarvel
