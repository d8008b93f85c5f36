// Host texts and the addresses behind them: the one reader of "host[:port]" (names, dotted
// IPv4 addresses, IPv6 addresses bare or in brackets) and the look-up that turns a host into
// every address it has, IPv4 and IPv6, in the order they are tried.
#pragma once

#include <sys/socket.h>

#include <string_view>
#include <vector>

#include "base/string.h"

namespace qarvel {

// One host entry split into its host and its port (empty when the entry gives none). A zone
// (fe80::1%eth0) stays with the host.
//   "mx.example.org"  "10.0.0.1:25"  "[::1]"  "[::1]:2525"  "::1" (two or more colons and no
//   brackets: an IPv6 address, never host:port)  "[IPv6:::1]" (the mail address literal).
struct HostPort {
    String host;
    String port;
    bool portGiven = false;  // a ":" named a port, even an empty one
};
HostPort splitHostPort(std::string_view entry);

// The entries of a host list ("a,b c:2525"; empty or "*" means "localhost,127.0.0.1"), each
// with the port it is reached on: an entry's own port holds for it and the entries after it,
// the default port before that. A "*" entry stands for 127.0.0.1. An entry whose ":" gives an
// empty port keeps it empty (the connection refuses it).
std::vector<HostPort> hostListEntries(std::string_view list, std::string_view defaultPort);

// A host written in brackets loses them ("[::1]" is "::1", "[IPv6:::1]" too); others stay.
String unbracketed(std::string_view host);

// True for a numeric IPv4 or IPv6 address (brackets allowed), which needs no look-up.
bool isAddressLiteral(std::string_view host);

// Whether IPv6 addresses are tried before IPv4 ones (-ipv6). Without it the resolver's order
// holds. One setting for the process: every connection of a run follows it.
void setPreferIpv6(bool on);
bool preferIpv6();

struct ResolvedAddress {
    sockaddr_storage address{};
    socklen_t length = 0;
    int family() const { return address.ss_family; }
};

// Every address of host (a name or a literal) with the port set, in the order to try them.
// Returns 1, or the negated Winsock number of the failure (-11001 when the name is unknown).
// socketType chooses the kind of address asked for (SOCK_STREAM, SOCK_DGRAM, SOCK_RAW).
int resolveAddresses(const String& host, int port, int socketType, std::vector<ResolvedAddress>& out);

// "IPv4" or "IPv6", as connect and bind failures name the family.
const char* familyName(int family);

// The numeric text of an address without its port ("127.0.0.1", "::1").
String addressText(const sockaddr* address, socklen_t length);

// An address as an SMTP address literal: "[127.0.0.1]" or "[IPv6:::1]".
String addressLiteral(const sockaddr* address, socklen_t length);

}  // namespace qarvel
