// The machine's DNS servers and domain, read from the resolver configuration.
#include "net/dns_discovery.h"

#include <cstdlib>
#include <cstring>
#include <memory>

#include <unistd.h>

namespace qarvel {

namespace {

struct FileCloser {
    void operator()(FILE* f) const { std::fclose(f); }
};

String hostName() {
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0) return String();
    return String(name);
}

} // namespace

void findDnsServersIn(FILE* config, const String& host, String& primary, String& secondary, String& domain) {
    int servers = 0;
    String domainLine, firstSearch;
    char line[1024];
    while (config && std::fgets(line, sizeof line, config)) {
        // A line longer than the buffer: the rest of it is dropped.
        if (!std::strchr(line, '\n') && !std::feof(config)) {
            int c;
            while ((c = std::fgetc(config)) != EOF && c != '\n') {}
        }
        char key[256] = {}, value[256] = {};
        if (std::sscanf(line, "%255s %255s", key, value) != 2) continue;
        if (std::strcmp(key, "nameserver") == 0) {
            if (servers == 0) primary = value;
            else if (servers == 1) secondary = value;
            ++servers;
        } else if (std::strcmp(key, "domain") == 0) {
            domainLine = value;
        } else if (std::strcmp(key, "search") == 0 && firstSearch.empty()) {
            firstSearch = value;
        }
    }
    if (!domainLine.empty()) domain = domainLine;
    else if (!firstSearch.empty()) domain = firstSearch;
    // Without any name server in the file, the host name is the last source of a domain.
    if (servers == 0 && domainLine.empty() && firstSearch.empty()) {
        size_t dot = host.find('.');
        if (dot != String::npos && dot + 1 < host.length()) domain = String(host, dot + 1);
    }
    if (primary.empty()) primary = "localhost";
    if (domain.empty()) domain = "unknown";
}

void findDnsServers(String& primary, String& secondary, String& domain) {
    const char* path = std::getenv(kResolvConfVariable);
    if (!path || !*path) path = kDefaultResolvConf;
    std::unique_ptr<FILE, FileCloser> config(std::fopen(path, "r"));
    findDnsServersIn(config.get(), hostName(), primary, secondary, domain);
}

void findDnsServers(String& primary, String& secondary) {
    String domain;
    findDnsServers(primary, secondary, domain);
}

} // namespace qarvel
