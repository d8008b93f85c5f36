#include <gtest/gtest.h>

#include <string>

#include "net/connection.h"
#include "net/winsock_error.h"
#include "support/scripted_server.h"

using namespace qarvel;
using test::ScriptedServer;
using test::send;
using test::stall;

TEST(Socket, LinesAcrossTheReceiveBufferAndPeerClose) {
    std::string longLine(2 * kReceiveBufferSize + 500, 'x');
    ScriptedServer peer({send(longLine + "\nshort\r\nno end"), test::closeConnection()});
    Connection c;
    c.timeout = 5;
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
    EXPECT_EQ(c.openCount, 0);
}

// Input that stops and goes on: the reads that find nothing waiting fall back to the wait and
// still give the whole line; a peer that then stays silent ends in the time-out.
TEST(Socket, InputInPiecesWaitsForTheRest) {
    ScriptedServer peer({send("first ha"), stall(150), send("lf\nsecond "), stall(150), send("line\n"), stall(150),
                         send("block"), stall(2650), test::closeConnection()});
    Connection c;
    c.timeout = 1;
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
    c.timeout = 1;
    ASSERT_EQ(c.open("127.0.0.1", silent.portText().c_str()), 1);
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
