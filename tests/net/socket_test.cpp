#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <thread>

#include "net/connection.h"
#include "net/winsock_error.h"

using namespace qarvel;

namespace {

// A one-shot loopback peer: accepts one connection, writes `reply`, then waits `holdMs`
// before closing.
struct Peer {
    int listener = -1;
    int port = 0;
    std::thread thread;

    explicit Peer(std::string reply, int holdMs = 0) {
        listener = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a);
        socklen_t n = sizeof a;
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&a), &n);
        port = ntohs(a.sin_port);
        ::listen(listener, 1);
        thread = std::thread([this, reply, holdMs] {
            int c = ::accept(listener, nullptr, nullptr);
            if (c < 0) return;
            size_t done = 0;
            while (done < reply.size()) {
                ssize_t w = ::send(c, reply.data() + done, reply.size() - done, MSG_NOSIGNAL);
                if (w <= 0) break;
                done += static_cast<size_t>(w);
            }
            if (holdMs) ::usleep(holdMs * 1000);
            ::close(c);
        });
    }
    ~Peer() {
        thread.join();
        ::close(listener);
    }
};

}  // namespace

TEST(Socket, LinesAcrossTheReceiveBufferAndPeerClose) {
    std::string longLine(2 * kReceiveBufferSize + 500, 'x');
    Peer peer(longLine + "\nshort\r\nno end");
    Connection c;
    c.timeout = 5;
    ASSERT_EQ(c.open("127.0.0.1", std::to_string(peer.port).c_str()), 1);
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
    EXPECT_EQ(c.openCount, 0);
}

// Input that stops and goes on: the reads that find nothing waiting fall back to the wait and
// still give the whole line; a peer that then stays silent ends in the time-out.
TEST(Socket, InputInPiecesWaitsForTheRest) {
    int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    socklen_t len = sizeof a;
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&a), &len);
    ::listen(listener, 1);
    std::thread peer([listener] {
        int c = ::accept(listener, nullptr, nullptr);
        if (c < 0) return;
        for (const char* piece : {"first ha", "lf\nsecond ", "line\n", "block"}) {
            ::send(c, piece, std::strlen(piece), MSG_NOSIGNAL);
            ::usleep(150 * 1000);
        }
        ::usleep(2500 * 1000);
        ::close(c);
    });
    Connection c;
    c.timeout = 1;
    ASSERT_EQ(c.open("127.0.0.1", std::to_string(ntohs(a.sin_port)).c_str()), 1);
    char buffer[64];
    int n = c.readLine(buffer, sizeof buffer);
    EXPECT_EQ(std::string(buffer, n > 0 ? n : 0), "first half\n");
    n = c.readLine(buffer, sizeof buffer);
    EXPECT_EQ(std::string(buffer, n > 0 ? n : 0), "second line\n");
    n = c.read(buffer, 10);  // five bytes come, then nothing within the time-out
    EXPECT_EQ(std::string(buffer, n > 0 ? n : 0), "block");
    EXPECT_EQ(c.readLine(buffer, sizeof buffer), 0);
    peer.join();
    ::close(listener);
}

TEST(Socket, RefusedConnectAndTimeOut) {
    int port;
    {
        Peer probe("");  // take a free port, then let it go
        port = probe.port;
        Connection c;
        c.open("127.0.0.1", std::to_string(port).c_str());
    }
    Connection refused;
    testing::internal::CaptureStderr();
    EXPECT_EQ(refused.open("127.0.0.1", std::to_string(port).c_str()), -kWsaConnectionRefused);
    std::string message = testing::internal::GetCapturedStderr();
    EXPECT_NE(message.find("*** connect(IPv4) to '127.0.0.1' fd "), std::string::npos) << message;
    EXPECT_NE(message.find("failed: 10061"), std::string::npos) << message;

    Peer silent("", 2500);
    Connection c;
    c.timeout = 1;
    ASSERT_EQ(c.open("127.0.0.1", std::to_string(silent.port).c_str()), 1);
    char buffer[16];
    EXPECT_EQ(c.readLine(buffer, sizeof buffer), 0);  // time-out with nothing read
    EXPECT_EQ(c.read(buffer, sizeof buffer), 0);
}

TEST(Socket, ServicePortsAndAddresses) {
    EXPECT_EQ(servicePort(""), 0);
    EXPECT_EQ(servicePort("2525"), 2525);
    EXPECT_EQ(servicePort("smtp"), 25);
    EXPECT_EQ(servicePort("no-such-service"), 0);
    EXPECT_EQ(winsockError(ECONNREFUSED), 10061);
    EXPECT_EQ(winsockError(EPIPE), 10054);
    EXPECT_EQ(winsockError(ETIMEDOUT), 10060);
}
