// The network test modes: a SAP listener and announcer on an IPv4 multicast group (-sap),
// a plain datagram sender and listener (-udp) and a raw-socket reader (-rawsock). They
// take the SMTP host and port; -mcastdump with a trace level of 1 or more makes the SAP
// and datagram modes send instead of listen. Each ends on its first failure, after its
// message; nothing is retried.
#pragma once

#include "base/string.h"

namespace qarvel {

// The well-known SAP group (sap.mcast.net) and port, used for -sap when the host and port
// are still the defaults "localhost" and "25".
constexpr const char* kSapGroup = "224.2.127.254";
constexpr const char* kSapPort = "9875";

struct DiagnosticOptions {
    String host;             // the SMTP host
    String port;             // the SMTP port
    String interfaceAddress; // the multicast interface (dotted address); empty for any
    int level = 0;           // the -v: trace level
    bool dump = false;       // -mcastdump
    int timeout = 300;       // seconds a read waits; -1 for ever
};

void runSapTest(const DiagnosticOptions& options);
void runUdpTest(const DiagnosticOptions& options);
void runRawSocketTest(const DiagnosticOptions& options);

}  // namespace qarvel
