#include "net/dns_discovery.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace qarvel {
namespace {

struct Found {
    String primary, secondary, domain;
};

Found discover(const char* config, const char* host = "") {
    Found f;
    FILE* file = nullptr;
    if (config) {
        file = std::tmpfile();
        std::fputs(config, file);
        std::rewind(file);
    }
    findDnsServersIn(file, host, f.primary, f.secondary, f.domain);
    if (file) std::fclose(file);
    return f;
}

TEST(DnsDiscovery, ResolverConfiguration) {
    Found f = discover("# comment\nsearch first.test second.test\nnameserver 10.0.0.1\n"
                       "nameserver 10.0.0.2\nnameserver 10.0.0.3\n", "vm.host.example");
    EXPECT_EQ(f.primary, "10.0.0.1");
    EXPECT_EQ(f.secondary, "10.0.0.2");
    EXPECT_EQ(f.domain, "first.test");

    // A domain line wins over a search line wherever it stands.
    f = discover("search s.test\nnameserver 10.0.0.1\ndomain d.test\nsearch t.test\n");
    EXPECT_EQ(f.domain, "d.test");
    EXPECT_TRUE(f.secondary.empty());

    // A name server but no domain: the host name is not consulted.
    f = discover("nameserver 127.0.0.1\n", "vm.host.example");
    EXPECT_EQ(f.primary, "127.0.0.1");
    EXPECT_EQ(f.domain, "unknown");

    // An overlong line is dropped whole, and the line after it still counts.
    std::string longLine = "nameserver " + std::string(2000, 'x') + "\nnameserver 10.9.9.9\n";
    f = discover(longLine.c_str());
    EXPECT_EQ(f.primary, String(std::string(255, 'x')));
    EXPECT_EQ(f.secondary, "10.9.9.9");
}

TEST(DnsDiscovery, FallBacks) {
    // No configuration at all: the domain of a three-label host name is its last two labels.
    Found f = discover(nullptr, "vm.example.org");
    EXPECT_EQ(f.primary, "localhost");
    EXPECT_EQ(f.domain, "example.org");
    f = discover("options ndots:2\n", "plainhost");
    EXPECT_EQ(f.primary, "localhost");
    EXPECT_EQ(f.domain, "unknown");
    f = discover("", "trailing.");
    EXPECT_EQ(f.domain, "unknown");
}

TEST(DnsDiscovery, EnvironmentNamesTheFile) {
    char path[] = "/tmp/qarvel-resolv-XXXXXX";
    int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    FILE* file = fdopen(fd, "w");
    std::fputs("nameserver 127.0.0.7\nnameserver 127.0.0.8\ndomain env.test\n", file);
    std::fclose(file);
    setenv(kResolvConfVariable, path, 1);
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
    std::remove(path);
}

} // namespace
} // namespace qarvel
