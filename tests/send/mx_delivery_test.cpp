#include "send/mx_delivery.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "net/dns_discovery.h"
#include "support/temp_folder.h"

namespace qarvel {
namespace {

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

TEST(MxDelivery, PrepareDnsServersReplacesLocalhostOnly) {
    test::TempFolder folder;
    setenv(kResolvConfVariable, folder.put("resolv.conf", "nameserver 127.0.0.9\n").c_str(), 1);
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
}

} // namespace
} // namespace qarvel
