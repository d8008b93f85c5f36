#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>

#include "net/connection.h"
#include "net/host_address.h"
#include "net/winsock_error.h"
#include "support/scripted_server.h"
#include "support/temp_folder.h"

using namespace qarvel;
using test::ScriptedServer;
using test::send;
using test::stall;

TEST(Socket, LinesAcrossTheReceiveBufferAndPeerClose) {
    std::string longLine(2 * kReceiveBufferSize + 500, 'x');
    ScriptedServer peer({send(longLine + "\nshort\r\nno end"), test::closeConnection()});
    Connection c;
    c.setTimeout(5);
    ASSERT_EQ(c.open("127.0.0.1", peer.portText().c_str()), 1);
    std::string got;
    char buffer[1024];
    int n;
    // A line longer than the caller's buffer comes in pieces of at most max bytes.
    while ((n = c.readLine(buffer, sizeof buffer)) == static_cast<int>(sizeof buffer))
        got.append(buffer, n);
    got.append(buffer, n);
    EXPECT_EQ(got, longLine + "\n");
    n = c.readLine(buffer, sizeof buffer);
    EXPECT_EQ(std::string(buffer, n), "short\r\n");
    char first = 0;
    EXPECT_EQ(c.peekByte(&first), 1);
    EXPECT_EQ(first, 'n');
    n = c.readLine(buffer, sizeof buffer);
    EXPECT_EQ(std::string(buffer, n), "no end");
    // The peer has closed: nothing left reads as a reset connection.
    EXPECT_EQ(c.readLine(buffer, sizeof buffer), -kWsaConnectionReset);
    EXPECT_EQ(c.close(), 1);
    EXPECT_FALSE(c.isOpen());
}

// Input that stops and goes on: the reads that find nothing waiting fall back to the wait and
// still give the whole line; a peer that then stays silent ends in the time-out.
TEST(Socket, InputInPiecesWaitsForTheRest) {
    ScriptedServer peer({send("first ha"), stall(150), send("lf\nsecond "), stall(150), send("line\n"), stall(150),
                         send("block"), stall(2650), test::closeConnection()});
    Connection c;
    c.setTimeout(1);
    ASSERT_EQ(c.open("127.0.0.1", peer.portText().c_str()), 1);
    char buffer[64];
    int n = c.readLine(buffer, sizeof buffer);
    EXPECT_EQ(std::string(buffer, n > 0 ? n : 0), "first half\n");
    n = c.readLine(buffer, sizeof buffer);
    EXPECT_EQ(std::string(buffer, n > 0 ? n : 0), "second line\n");
    n = c.read(buffer, 10);  // five bytes come, then nothing within the time-out
    EXPECT_EQ(std::string(buffer, n > 0 ? n : 0), "block");
    EXPECT_EQ(c.readLine(buffer, sizeof buffer), 0);
}

// A datagram longer than the read is cut as the system cuts it: the next read is the next
// datagram, never the rest of the last.
TEST(Socket, EachReadOfADatagramSocketIsOneDatagram) {
    int peer = ::socket(AF_INET, SOCK_DGRAM, 0);
    ASSERT_GE(peer, 0);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof at;
    ASSERT_EQ(::bind(peer, reinterpret_cast<sockaddr*>(&at), sizeof at), 0);
    ASSERT_EQ(::getsockname(peer, reinterpret_cast<sockaddr*>(&at), &size), 0);
    Connection c(kSocketDatagram);
    c.setTimeout(5);
    ASSERT_EQ(c.open("127.0.0.1", std::to_string(ntohs(at.sin_port)).c_str()), 1);
    ASSERT_EQ(c.send("hello", 5), 5);
    sockaddr_in from{};
    size = sizeof from;
    char in[16];
    ASSERT_EQ(::recvfrom(peer, in, sizeof in, 0, reinterpret_cast<sockaddr*>(&from), &size), 5);
    const std::string big(3000, 'b');
    for (const std::string& d : {big, std::string("second")})
        ASSERT_EQ(::sendto(peer, d.data(), d.size(), 0, reinterpret_cast<sockaddr*>(&from), size),
                  static_cast<ssize_t>(d.size()));
    char buffer[100];
    EXPECT_EQ(c.read(buffer, sizeof buffer), 100);
    int n = c.read(buffer, sizeof buffer);
    EXPECT_EQ(std::string(buffer, n > 0 ? n : 0), "second");
    ::close(peer);
}

TEST(Socket, RefusedConnectAndTimeOut) {
    int port = test::refusedPort();
    Connection refused;
    testing::internal::CaptureStderr();
    EXPECT_EQ(refused.open("127.0.0.1", std::to_string(port).c_str()), -kWsaConnectionRefused);
    std::string message = testing::internal::GetCapturedStderr();
    EXPECT_NE(message.find("*** connect(IPv4) to '127.0.0.1' fd "), std::string::npos) << message;
    EXPECT_NE(message.find("failed: 10061"), std::string::npos) << message;

    ScriptedServer silent({stall(2500)});
    Connection c;
    c.setTimeout(1);
    ASSERT_EQ(c.open("127.0.0.1", silent.portText().c_str()), 1);
    char buffer[16];
    EXPECT_EQ(c.readLine(buffer, sizeof buffer), 0);  // time-out with nothing read
    EXPECT_EQ(c.read(buffer, sizeof buffer), 0);
    // What a failure line reports: the time-out as 10060, in words.
    EXPECT_EQ(describeError(c.failureCode(0)), "-10060 (timed out)");
    EXPECT_EQ(describeError(refused.failureCode(-kWsaConnectionRefused)), "-10061 (connection refused)");

    // A name that does not resolve is "host not found", with no connect attempt.
    Connection unknown;
    testing::internal::CaptureStderr();
    EXPECT_EQ(unknown.open("no-such-host.invalid", "25"), -kWsaHostNotFound);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(describeError(-kWsaHostNotFound), "-11001 (host not found)");
    EXPECT_EQ(describeError(-1), "-1");
}

// A name with two addresses: when the first refuses, the second is tried. The name comes from
// a hosts file of the test's own, laid over /etc/hosts in a mount namespace of a child.
TEST(Socket, EveryAddressOfANameIsTried) {
    ScriptedServer peer({send("hello\n")});
    test::TempFolder folder;
    const std::string hosts = folder.put("hosts", "::1 dual.test\n127.0.0.1 dual.test\n");
    const pid_t child = fork();
    if (child == 0) {
        if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            mount(hosts.c_str(), "/etc/hosts", nullptr, MS_BIND, nullptr) != 0)
            _exit(77);
        setPreferIpv6(true);  // ::1 first: nothing listens there on this port
        Connection c;
        c.setTimeout(5);
        char buffer[16];
        _exit(c.open("dual.test", peer.portText().c_str()) == 1 && c.readLine(buffer, sizeof buffer) == 6 ? 0 : 1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    if (WIFEXITED(status) && WEXITSTATUS(status) == 77) GTEST_SKIP() << "no mount namespace here (needs root)";
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the second address was not tried";
    EXPECT_TRUE(peer.connected());
}

// IPv6 loopback: the bare, bracketed and bracketed-with-port forms reach the same listener.
TEST(Socket, Ipv6LiteralForms) {
    for (int form = 0; form < 3; ++form) {
        ScriptedServer peer({send("hello\n")}, {.address = "::1"});
        std::string host = form == 0 ? "::1" : form == 1 ? "[::1]" : "[::1]:" + peer.portText();
        Connection c;
        c.setTimeout(5);
        ASSERT_EQ(c.open(host.c_str(), form == 2 ? "1" : peer.portText().c_str()), 1) << host;
        char buffer[16];
        EXPECT_EQ(c.readLine(buffer, sizeof buffer), 6) << host;
        EXPECT_EQ(c.localAddressLiteral(), "[IPv6:::1]");
    }
}

TEST(Socket, HostPortEntriesServicePortsAndZones) {
    struct Case {
        const char* entry;
        const char* host;
        const char* port;
    } cases[] = {
        {"mx.example.org", "mx.example.org", ""}, {"10.0.0.1:25", "10.0.0.1", "25"},
        {"::1", "::1", ""},                       {"2001:db8::25", "2001:db8::25", ""},
        {"[::1]", "::1", ""},                     {"[::1]:2525", "::1", "2525"},
        {"[IPv6:::1]", "::1", ""},                {"[192.0.2.1]:26", "192.0.2.1", "26"},
        {"[::1", "[::1", ""},                     {"host:", "host", ""},
    };
    for (const Case& c : cases) {
        HostPort split = splitHostPort(c.entry);
        EXPECT_EQ(split.host, c.host) << c.entry;
        EXPECT_EQ(split.port, c.port) << c.entry;
    }
    // A list: an entry's port holds for the entries after it; "*" and an empty list default.
    std::vector<HostPort> list = hostListEntries("a, [::1]:2525 b,*", "25");
    ASSERT_EQ(list.size(), 4u);
    EXPECT_EQ(list[0].host, "a");
    EXPECT_EQ(list[0].port, "25");
    EXPECT_EQ(list[1].host, "::1");
    EXPECT_EQ(list[2].port, "2525");
    EXPECT_EQ(list[3].host, "127.0.0.1");
    EXPECT_EQ(hostListEntries("", "110").size(), 2u);
    EXPECT_TRUE(isAddressLiteral("[IPv6:fe80::1%lo]"));
    EXPECT_TRUE(isAddressLiteral("127.0.0.1"));
    EXPECT_FALSE(isAddressLiteral("1.2.3.4:25"));
    EXPECT_FALSE(isAddressLiteral("mail1.example.test"));
    // A port is a number from 1 to 65535 or a service name; anything else is refused by the
    // connection, never replaced by another port.
    const std::pair<const char*, int> ports[] = {{"", 0},       {"2525", 2525}, {"smtp", 25},  {"65535", 65535},
                                                 {"65536", -1}, {"99999", -1},  {"-5", -1},    {"0", 0},
                                                 {"25x", -1},   {"no-such-service", -1}};
    for (const auto& [text, port] : ports) EXPECT_EQ(servicePort(text), port) << text;
    for (const char* bad : {"99999", "-5", "", "0"}) {
        Connection c;
        testing::internal::CaptureStderr();
        EXPECT_EQ(c.open("127.0.0.1", bad), -10022) << bad;
        EXPECT_NE(testing::internal::GetCapturedStderr().find(std::string("Invalid port '") + bad + "'"), std::string::npos);
    }
    // "host:" names an empty port, which stays empty (and is refused) instead of the default.
    EXPECT_EQ(hostListEntries("h:,k", "25")[0].port, "");
    EXPECT_EQ(hostListEntries("h:,k", "25")[1].port, "");
    // A zone names the interface, by name as by number, for any IPv6 address.
    std::vector<ResolvedAddress> addresses;
    for (const std::string& zone : {std::string("lo"), std::to_string(if_nametoindex("lo"))}) {
        ASSERT_EQ(resolveAddresses("[::1%" + zone + "]", 25, SOCK_STREAM, addresses), 1) << zone;
        ASSERT_EQ(addresses.size(), 1u);
        const auto* address = reinterpret_cast<const sockaddr_in6*>(&addresses[0].address);
        EXPECT_EQ(address->sin6_scope_id, if_nametoindex("lo"));
        EXPECT_EQ(ntohs(address->sin6_port), 25);
    }
    EXPECT_LT(resolveAddresses("::1%no-such-interface", 25, SOCK_STREAM, addresses), 0);
    EXPECT_EQ(winsockError(ECONNREFUSED), 10061);
    EXPECT_EQ(winsockError(EPIPE), 10054);
    EXPECT_EQ(winsockError(ETIMEDOUT), 10060);
}
