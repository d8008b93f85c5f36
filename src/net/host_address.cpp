// Host[:port] splitting, the all-families look-up and the address texts.
#include "net/host_address.h"

#include <arpa/inet.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string>

#include "net/winsock_error.h"

namespace qarvel {

namespace {

bool preferIpv6Setting = false;

// The mail address literal's tag, taken off like the brackets.
constexpr std::string_view kIpv6Tag = "IPv6:";

std::string_view withoutTag(std::string_view inner) {
    if (inner.size() > kIpv6Tag.size()) {
        bool tagged = true;
        for (size_t i = 0; i < kIpv6Tag.size(); ++i)
            tagged = tagged && std::tolower(static_cast<unsigned char>(inner[i])) ==
                                   std::tolower(static_cast<unsigned char>(kIpv6Tag[i]));
        if (tagged) inner.remove_prefix(kIpv6Tag.size());
    }
    return inner;
}

}  // namespace

HostPort splitHostPort(std::string_view entry) {
    HostPort out;
    if (!entry.empty() && entry.front() == '[') {
        size_t close = entry.find(']');
        if (close == std::string_view::npos) {
            out.host = String(entry);  // unbalanced: left for the look-up to refuse
            return out;
        }
        out.host = String(withoutTag(entry.substr(1, close - 1)));
        std::string_view rest = entry.substr(close + 1);
        out.portGiven = !rest.empty() && rest.front() == ':';
        if (out.portGiven) out.port = String(rest.substr(1));
        return out;
    }
    size_t colon = entry.find(':');
    if (colon != std::string_view::npos && entry.find(':', colon + 1) != std::string_view::npos) {
        out.host = String(entry);  // two or more colons: an IPv6 address
        return out;
    }
    out.host = String(entry.substr(0, colon));
    out.portGiven = colon != std::string_view::npos;
    if (out.portGiven) out.port = String(entry.substr(colon + 1));
    return out;
}

std::vector<HostPort> hostListEntries(std::string_view list, std::string_view defaultPort) {
    if (list.empty() || list == std::string_view("*")) list = "localhost,127.0.0.1";
    std::vector<HostPort> entries;
    String port(defaultPort);
    size_t i = 0;
    while (i < list.size()) {
        while (i < list.size() && (list[i] == ',' || list[i] == ' ')) ++i;
        size_t end = i;
        while (end < list.size() && list[end] != ',' && list[end] != ' ') ++end;
        if (end == i) break;
        HostPort entry = splitHostPort(list.substr(i, end - i));
        i = end;
        if (!entry.portGiven) entry.port = port;
        else port = entry.port;
        if (entry.host == "*") entry.host = "127.0.0.1";
        entries.push_back(entry);
    }
    return entries;
}

String unbracketed(std::string_view host) {
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
        return String(withoutTag(host.substr(1, host.size() - 2)));
    return String(host);
}

bool isAddressLiteral(std::string_view host) {
    std::string text = unbracketed(host).str();
    if (text.empty()) return false;
    unsigned char buffer[sizeof(in6_addr)];
    if (::inet_pton(AF_INET, text.c_str(), buffer) == 1) return true;
    size_t zone = text.find('%');  // fe80::1%eth0
    if (zone != std::string::npos) text.resize(zone);
    return ::inet_pton(AF_INET6, text.c_str(), buffer) == 1;
}

void setPreferIpv6(bool on) { preferIpv6Setting = on; }
bool preferIpv6() { return preferIpv6Setting; }

int resolveAddresses(const String& host, int port, int socketType, std::vector<ResolvedAddress>& out) {
    out.clear();
    String name = unbracketed(host.view());
    // An address with a zone: the C library takes an interface name only for link-local
    // addresses ("::1%lo" it calls unknown), so the address is made here.
    if (const size_t zone = name.view().find('%'); zone != std::string_view::npos) {
        sockaddr_in6 address{};
        const std::string text = name.str();
        const std::string interface = text.substr(zone + 1);
        if (::inet_pton(AF_INET6, text.substr(0, zone).c_str(), &address.sin6_addr) == 1) {
            unsigned index = ::if_nametoindex(interface.c_str());
            if (index == 0 && !interface.empty() && interface.find_first_not_of("0123456789") == std::string::npos)
                index = static_cast<unsigned>(std::strtoul(interface.c_str(), nullptr, 10));
            if (index == 0) return -kWsaHostNotFound;
            address.sin6_family = AF_INET6;
            address.sin6_port = htons(static_cast<uint16_t>(port));
            address.sin6_scope_id = index;
            ResolvedAddress r;
            std::memcpy(&r.address, &address, sizeof address);
            r.length = sizeof address;
            out.push_back(r);
            return 1;
        }
    }
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = socketType == SOCK_RAW ? SOCK_DGRAM : socketType;
    // Numeric texts, dotted IPv4 included, are taken as they are without asking a name server.
    if (isAddressLiteral(name.view())) hints.ai_flags |= AI_NUMERICHOST;
    addrinfo* result = nullptr;
    int code = ::getaddrinfo(name.c_str(), nullptr, &hints, &result);
    if (code != 0) return -resolverError(code);
    for (addrinfo* a = result; a; a = a->ai_next) {
        if ((a->ai_family != AF_INET && a->ai_family != AF_INET6) ||
            a->ai_addrlen > sizeof(sockaddr_storage))
            continue;
        ResolvedAddress r;
        std::memcpy(&r.address, a->ai_addr, a->ai_addrlen);
        r.length = static_cast<socklen_t>(a->ai_addrlen);
        uint16_t netPort = htons(static_cast<uint16_t>(port));
        if (a->ai_family == AF_INET) reinterpret_cast<sockaddr_in*>(&r.address)->sin_port = netPort;
        else reinterpret_cast<sockaddr_in6*>(&r.address)->sin6_port = netPort;
        bool seen = false;
        for (const ResolvedAddress& o : out)
            seen = seen || (o.length == r.length && std::memcmp(&o.address, &r.address, r.length) == 0);
        if (!seen) out.push_back(r);
    }
    ::freeaddrinfo(result);
    if (out.empty()) return -kWsaNoData;
    if (preferIpv6Setting)
        std::stable_partition(out.begin(), out.end(),
                              [](const ResolvedAddress& r) { return r.family() == AF_INET6; });
    return 1;
}

const char* familyName(int family) { return family == AF_INET6 ? "IPv6" : "IPv4"; }

String addressText(const sockaddr* address, socklen_t length) {
    char text[NI_MAXHOST];
    if (::getnameinfo(address, length, text, sizeof text, nullptr, 0, NI_NUMERICHOST) != 0) return String();
    return String(text);
}

String addressLiteral(const sockaddr* address, socklen_t length) {
    String text = addressText(address, length);
    if (address->sa_family == AF_INET6) {
        // A zone belongs to this host only; the peer could not use it.
        size_t zone = text.find('%');
        if (zone != String::npos) text = String(text.view().substr(0, zone));
        return "[IPv6:" + text + "]";
    }
    return "[" + text + "]";
}

}  // namespace qarvel
