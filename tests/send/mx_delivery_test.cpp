#include "send/mx_delivery.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "net/dns_discovery.h"

namespace qarvel {
namespace {

TEST(MxDelivery, DottedAddressDomainsNeedNoLookUp) {
    EXPECT_TRUE(isDottedAddressDomain("10.0.0.1"));
    EXPECT_TRUE(isDottedAddressDomain("1.2.3.4.5"));
    EXPECT_FALSE(isDottedAddressDomain("10.0.1"));
    EXPECT_FALSE(isDottedAddressDomain("a.1.2.3"));
    EXPECT_FALSE(isDottedAddressDomain("example.test"));

    // No name server is asked: the unreachable one given would otherwise fail the route.
    MxRouteRequest request;
    request.dnsServer = "127.0.0.1:0";
    Exchangers exchangers;
    ASSERT_EQ(findExchangers("192.0.2.1.", request, exchangers), 1);
    ASSERT_EQ(exchangers.size(), 1u);
    EXPECT_EQ(exchangers[0].first, "192.0.2.1.");

    // Import mode: no look-up and no exchanger; the batch sender connects per message.
    request.skipQuery = true;
    ASSERT_EQ(findExchangers("example.test", request, exchangers), 1);
    EXPECT_TRUE(exchangers.empty());
}

TEST(MxDelivery, UnreachableNameServersStopTheRoute) {
    // Nothing listens on port 53 of these addresses; the fall-back is tried once.
    MxRouteRequest request;
    request.dnsServer = "127.0.0.58";
    request.fallbackServer = "127.0.0.59";
    Exchangers exchangers;
    testing::internal::CaptureStderr();
    EXPECT_EQ(findExchangers("example.test", request, exchangers), 0);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("Could not connect to Domain Name Server: 127.0.0.58, error= -10061"), std::string::npos) << err;
    EXPECT_NE(err.find("Could not connect to Domain Name Server: 127.0.0.59, error= -10061"), std::string::npos) << err;
    EXPECT_EQ(request.dnsServer, "127.0.0.59");
    EXPECT_TRUE(request.fallbackServer.empty());
    EXPECT_TRUE(exchangers.empty());
}

TEST(MxDelivery, PrepareDnsServersReplacesLocalhostOnly) {
    char path[] = "/tmp/qarvel-mx-resolv-XXXXXX";
    int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    FILE* file = fdopen(fd, "w");
    std::fputs("nameserver 127.0.0.9\n", file);
    std::fclose(file);
    setenv(kResolvConfVariable, path, 1);
    String discovered = "localhost", smtp = "localhost", dns = "localhost", ldap = "localhost";
    prepareDnsServers(discovered, smtp, dns, false, ldap);
    EXPECT_EQ(discovered, "127.0.0.9");
    EXPECT_EQ(smtp, "127.0.0.9");
    EXPECT_EQ(dns, "127.0.0.9");
    EXPECT_EQ(ldap, "localhost");
    smtp = "relay.example";
    dns = "relay.example";
    prepareDnsServers(discovered, smtp, dns, true, ldap);
    EXPECT_EQ(smtp, "relay.example");
    EXPECT_EQ(ldap, "relay.example");
    unsetenv(kResolvConfVariable);
    std::remove(path);
}

} // namespace
} // namespace qarvel
