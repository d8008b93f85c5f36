// Discovery of the machine's DNS servers and DNS domain from the resolver configuration
// (/etc/resolv.conf, or the file named by QARVEL_RESOLV_CONF).
#pragma once

#include <cstdio>

#include "base/string.h"

namespace qarvel {

// The environment variable that names another resolver configuration file.
constexpr const char* kResolvConfVariable = "QARVEL_RESOLV_CONF";
constexpr const char* kDefaultResolvConf = "/etc/resolv.conf";

// Fills primary and secondary from the first two "nameserver" lines (each only when present)
// and domain from the "domain" line, else the first "search" name. When no name server is
// found, the domain part of the host name (after its first '.') stands in for a missing
// domain. An empty primary becomes "localhost", an empty domain "unknown".
void findDnsServers(String& primary, String& secondary, String& domain);
void findDnsServers(String& primary, String& secondary);

// The same from an open configuration file (null: none) and a given host name.
void findDnsServersIn(FILE* config, const String& hostName, String& primary, String& secondary,
                      String& domain);

} // namespace qarvel
