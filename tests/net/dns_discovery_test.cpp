#include "net/dns_discovery.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "support/temp_folder.h"

namespace qarvel {
namespace {

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

TEST(DnsDiscovery, EnvironmentNamesTheFile) {
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
    setenv(kResolvConfVariable, "/nonexistent/resolv.conf", 1);
    String p3, s3, d3;
    findDnsServers(p3, s3, d3);
    EXPECT_EQ(p3, "localhost");
    unsetenv(kResolvConfVariable);
}

} // namespace
} // namespace qarvel
