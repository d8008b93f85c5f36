// DnsClient against a scripted name server on 127.0.0.1: the exact queries it sends, and how it
// ends on truncated, looping and oversized answers, resets, silence, garbage and answers that
// were not asked for.
#include "net/dns_client.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "dns_wire.h"
#include "support/scripted_server.h"

namespace qarvel {
namespace {

using test::DnsWire;
using Bytes = std::vector<uint8_t>;

// One connection, one scripted reply per query: each reply is sent as it is (framing
// included) after a whole framed query arrived; the connection is closed after the last.
class ScriptedNameServer {
public:
    explicit ScriptedNameServer(std::vector<Bytes> replies) : replies_(std::move(replies)) {
        listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
        int on = 1;
        ::setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(listener_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        ::listen(listener_, 1);
        socklen_t len = sizeof addr;
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&addr), &len);
        port_ = ntohs(addr.sin_port);
        thread_ = std::thread([this] { serve(); });
    }
    ~ScriptedNameServer() {
        thread_.join();
        ::close(listener_);
    }
    String port() const { return String(std::to_string(port_)); }
    // The queries received, without their length prefix.
    std::vector<Bytes> queries() {
        thread_.join();
        thread_ = std::thread([] {});
        return queries_;
    }

private:
    // Waits at most five seconds for readable data.
    static bool readExact(int fd, uint8_t* out, size_t n) {
        size_t got = 0;
        while (got < n) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 5000) <= 0) return false;
            ssize_t r = ::recv(fd, out + got, n - got, 0);
            if (r <= 0) return false;
            got += static_cast<size_t>(r);
        }
        return true;
    }
    void serve() {
        pollfd p{listener_, POLLIN, 0};
        if (::poll(&p, 1, 5000) <= 0) return;
        int fd = ::accept(listener_, nullptr, nullptr);
        if (fd < 0) return;
        for (const Bytes& reply : replies_) {
            uint8_t prefix[2];
            if (!readExact(fd, prefix, 2)) break;
            Bytes query(static_cast<size_t>(prefix[0] << 8 | prefix[1]));
            if (!readExact(fd, query.data(), query.size())) break;
            queries_.push_back(query);
            if (!reply.empty()) ::send(fd, reply.data(), reply.size(), MSG_NOSIGNAL);
        }
        ::shutdown(fd, SHUT_RDWR);
        ::close(fd);
    }

    std::vector<Bytes> replies_;
    std::vector<Bytes> queries_;
    int listener_ = -1;
    uint16_t port_ = 0;
    std::thread thread_;
};

// The bytes of a reply with its two-byte length prefix.
Bytes framed(const Bytes& message, size_t announced = 0) {
    size_t len = announced ? announced : message.size();
    Bytes out(message.size() + 2);
    out[0] = static_cast<uint8_t>(len >> 8);
    out[1] = static_cast<uint8_t>(len);
    std::copy(message.begin(), message.end(), out.begin() + 2);
    return out;
}

Bytes mxReply(unsigned id, std::initializer_list<std::pair<unsigned, const char*>> exchangers) {
    DnsWire w;
    w.header(id, 1, static_cast<unsigned>(exchangers.size()));
    size_t q = w.question("example.test", kDnsTypeMx);
    for (auto [preference, host] : exchangers) {
        size_t len = w.recordHead(static_cast<unsigned>(q), kDnsTypeMx);
        w.u16(preference);
        w.label(host);
        w.pointer(static_cast<unsigned>(q));
        w.endRecord(len);
    }
    return w.bytes;
}

TEST(DnsClient, QueriesCarryConsecutiveIdsAndDecodeInOrder) {
    ScriptedNameServer server({framed(mxReply(1, {{20, "c"}, {10, "a"}, {10, "b"}})),
                               framed(mxReply(2, {{5, "d"}}))});
    DnsClient client;
    ASSERT_EQ(client.open("127.0.0.1", server.port()), 1);
    DnsRecordList answers;
    ASSERT_EQ(client.query("example.test", kDnsTypeMx, answers), 1);
    uint16_t firstId = DnsClient::lastQueryId();
    ASSERT_EQ(client.query("example.test", kDnsTypeMx, answers), 1);
    EXPECT_EQ(DnsClient::lastQueryId(), static_cast<uint16_t>(firstId + 1));
    // The second query's records are appended behind the first query's.
    ASSERT_EQ(answers.size(), 4u);
    EXPECT_EQ(answers[0].name, "b.example.test");
    EXPECT_EQ(answers[1].name, "a.example.test");
    EXPECT_EQ(answers[2].name, "c.example.test");
    EXPECT_EQ(answers[3].name, "d.example.test");
    client.disconnect();

    std::vector<Bytes> queries = server.queries();
    ASSERT_EQ(queries.size(), 2u);
    Bytes expected = {static_cast<uint8_t>(firstId >> 8), static_cast<uint8_t>(firstId), 0x01, 0x00, 0, 1, 0, 0, 0, 0,
                      0, 0, 7, 'e', 'x', 'a', 'm', 'p', 'l', 'e', 4, 't', 'e', 's', 't', 0, 0, 15, 0, 1};
    EXPECT_EQ(queries[0], expected);
    EXPECT_EQ(queries[1][1], static_cast<uint8_t>(firstId + 1));
}

TEST(DnsClient, ServiceNameServersAndBracketedAddresses) {
    DnsWire ns;
    ns.header(1, 1, 3);
    size_t q = ns.question("example.test", kDnsTypeNs);
    for (const char* host : {"ns1", "ns2", "ns3"}) {
        size_t len = ns.recordHead(static_cast<unsigned>(q), kDnsTypeNs);
        ns.label(host);
        ns.pointer(static_cast<unsigned>(q));
        ns.endRecord(len);
    }
    DnsWire srv;
    srv.header(2, 1, 1);
    q = srv.question("_imaps._tcp.example.test", kDnsTypeSrv);
    size_t len = srv.recordHead(static_cast<unsigned>(q), kDnsTypeSrv);
    srv.u16(10); srv.u16(5); srv.u16(993);
    srv.name("imap.example.test");
    srv.endRecord(len);
    ScriptedNameServer server({framed(ns.bytes), framed(srv.bytes)});
    DnsClient client;
    ASSERT_EQ(client.open("127.0.0.1", server.port()), 1);
    String first, second = "kept-when-nothing-comes";
    ASSERT_EQ(client.queryNameServers("example.test", first, second), 1);
    EXPECT_EQ(first, "ns1.example.test");
    EXPECT_EQ(second, "ns3.example.test");
    DnsRecordList answers;
    ASSERT_EQ(client.querySrv(answers, "imaps", "tcp", "example.test"), 1);
    ASSERT_EQ(answers.size(), 1u);
    EXPECT_EQ(answers[0].name, "imap.example.test");
    EXPECT_EQ(answers[0].port, 993);
    // A bracketed address is its own answer, asked of nobody.
    uint16_t id = DnsClient::lastQueryId();
    ASSERT_EQ(client.query("[192.0.2.7]", kDnsTypeMx, answers), 1);
    EXPECT_EQ(DnsClient::lastQueryId(), id);
    EXPECT_EQ(answers.back().host(), "192.0.2.7");
    client.disconnect();
    std::vector<Bytes> queries = server.queries();
    ASSERT_EQ(queries.size(), 2u);
    std::string srvName(queries[1].begin() + 12, queries[1].end() - 4);
    EXPECT_EQ(srvName, std::string("\x06_imaps\x04_tcp\x07" "example\x04test", 25) + '\0');
    // Not open: fails at once.
    EXPECT_EQ(client.query("example.test", kDnsTypeMx, answers), -1);
}

TEST(DnsClient, HostileAnswersEndCleanly) {
    Bytes good = mxReply(1, {{10, "a"}, {20, "b"}});
    // Truncated: the length announces more than comes before the server closes.
    {
        ScriptedNameServer server({framed(Bytes(good.begin(), good.end() - 8), good.size())});
        DnsClient client;
        ASSERT_EQ(client.open("127.0.0.1", server.port()), 1);
        DnsRecordList answers;
        EXPECT_EQ(client.query("example.test", kDnsTypeMx, answers), 1);
        ASSERT_EQ(answers.size(), 1u);
        EXPECT_EQ(answers[0].name, "a.example.test");
    }
    // Closed before the length prefix, and after half of it.
    for (Bytes reply : {Bytes{}, Bytes{0x00}}) {
        ScriptedNameServer server({reply});
        DnsClient client;
        ASSERT_EQ(client.open("127.0.0.1", server.port()), 1);
        DnsRecordList answers;
        EXPECT_EQ(client.query("example.test", kDnsTypeMx, answers), -1);
        EXPECT_EQ(client.openCount, 0);
        EXPECT_TRUE(answers.empty());
    }
    // A looping pointer in the exchanger name: refused, and the connection is dropped.
    {
        DnsWire w;
        w.header(1, 1, 1);
        size_t q = w.question("example.test", kDnsTypeMx);
        size_t len = w.recordHead(static_cast<unsigned>(q), kDnsTypeMx);
        w.u16(10);
        w.label("x");
        w.pointer(static_cast<unsigned>(w.bytes.size() - 2));
        w.endRecord(len);
        ScriptedNameServer server({framed(w.bytes)});
        DnsClient client;
        ASSERT_EQ(client.open("127.0.0.1", server.port()), 1);
        DnsRecordList answers;
        EXPECT_EQ(client.query("example.test", kDnsTypeMx, answers), -1);
        EXPECT_EQ(client.openCount, 0);
        EXPECT_TRUE(answers.empty());
    }
    // Oversized: the largest length a prefix can announce, counts that lie, a name past the
    // name buffer built from pointers to a long label.
    {
        DnsWire w;
        w.header(1, 1, 0xFFFF);
        size_t q = w.question("example.test", kDnsTypeMx);
        // A record of a type nobody asks for holds a long label that points at itself.
        size_t len = w.recordHead(static_cast<unsigned>(q), 99);
        size_t longLabel = w.bytes.size();
        w.label(std::string(63, 'l'));
        w.pointer(static_cast<unsigned>(longLabel));
        w.endRecord(len);
        while (w.bytes.size() < 65535 - 200) {
            len = w.recordHead(static_cast<unsigned>(q), kDnsTypeMx);
            w.u16(1);
            w.label(std::string(63, 'm'));
            w.label(std::string(63, 'n'));
            w.pointer(static_cast<unsigned>(longLabel)); // loops through the long label
            w.endRecord(len);
        }
        w.bytes.resize(65535, 0);
        ScriptedNameServer server({framed(w.bytes)});
        DnsClient client;
        ASSERT_EQ(client.open("127.0.0.1", server.port()), 1);
        DnsRecordList answers;
        EXPECT_EQ(client.query("example.test", kDnsTypeMx, answers), -1);
        EXPECT_TRUE(answers.empty());
    }
    // A question name that does not fit is refused before anything is sent.
    {
        ScriptedNameServer server({Bytes{}});
        DnsClient client;
        ASSERT_EQ(client.open("127.0.0.1", server.port()), 1);
        DnsRecordList answers;
        EXPECT_EQ(client.query(String(std::string(70, 'a')) + ".test", kDnsTypeMx, answers), -1);
        client.disconnect();
        EXPECT_TRUE(server.queries().empty());
    }
}

// The bytes as the text the scripted server sends.
std::string asText(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

TEST(DnsClient, FailingServersEndCleanly) {
    const Bytes good = framed(mxReply(1, {{10, "a"}, {20, "b"}}));
    // Reset right after the length prefix, and before anything: a failed read, disconnected.
    for (const std::string& before : {asText(Bytes(good.begin(), good.begin() + 2)), std::string()}) {
        test::ScriptedServer server({test::receive(20), test::send(before), test::reset()});
        DnsClient client;
        ASSERT_EQ(client.open("127.0.0.1", String(server.portText())), 1);
        DnsRecordList answers;
        EXPECT_EQ(client.query("example.test", kDnsTypeMx, answers), -1);
        EXPECT_EQ(client.openCount, 0);
        EXPECT_TRUE(answers.empty());
    }
    // A server that says nothing and then gives up: the query ends when it closes. (The wait
    // for an answer is a fixed 300 seconds, too long for a unit test.)
    {
        test::ScriptedServer server({test::receive(20), test::stall(1500), test::closeConnection()});
        DnsClient client;
        ASSERT_EQ(client.open("127.0.0.1", String(server.portText())), 1);
        DnsRecordList answers;
        auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(client.query("example.test", kDnsTypeMx, answers), -1);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
        EXPECT_EQ(client.openCount, 0);
    }
    // Garbage: a zero length is refused; 200 bytes of noise decode to whatever they hold,
    // without reading past them.
    {
        test::ScriptedServer server({test::receive(20), test::send(std::string(2, '\0'))});
        DnsClient client;
        ASSERT_EQ(client.open("127.0.0.1", String(server.portText())), 1);
        DnsRecordList answers;
        EXPECT_EQ(client.query("example.test", kDnsTypeMx, answers), -1);
        EXPECT_EQ(client.openCount, 0);
    }
    {
        Bytes noise(202);
        noise[0] = 0;
        noise[1] = 200;
        for (size_t i = 2; i < noise.size(); ++i) noise[i] = static_cast<uint8_t>(i * 37 + 11);
        test::ScriptedServer server({test::receive(20), test::send(asText(noise)), test::stall(3000)});
        DnsClient client;
        ASSERT_EQ(client.open("127.0.0.1", String(server.portText())), 1);
        DnsRecordList answers;
        int r = client.query("example.test", kDnsTypeMx, answers);
        EXPECT_TRUE(r == 1 || r == -1);
        client.disconnect();
    }
    // More than asked: an unasked second answer behind the first is left buffered; the first
    // query decodes its own answer whole. (IDs are not compared, so the next question over the
    // same connection takes the buffered one.)
    {
        const Bytes extra = framed(mxReply(7, {{30, "c"}}));
        test::ScriptedServer server({test::receive(20), test::send(asText(good) + asText(extra)), test::stall(3000)});
        DnsClient client;
        ASSERT_EQ(client.open("127.0.0.1", String(server.portText())), 1);
        DnsRecordList answers;
        ASSERT_EQ(client.query("example.test", kDnsTypeMx, answers), 1);
        ASSERT_EQ(answers.size(), 2u);
        EXPECT_EQ(answers[0].name, "a.example.test");
        EXPECT_EQ(answers[1].name, "b.example.test");
        DnsRecordList next;
        EXPECT_EQ(client.query("example.test", kDnsTypeMx, next), 1);
        ASSERT_EQ(next.size(), 1u);
        EXPECT_EQ(next[0].name, "c.example.test");
        client.disconnect();
    }
}

} // namespace
} // namespace qarvel
