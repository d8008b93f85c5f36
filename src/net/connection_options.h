// ConnectionOptions: how every session of a run connects and talks (the settings group
// `connection`): the time-out, the retries, the two forms of TLS with their certificates, the
// security level, the firewall text and a sender's buffer size. The run hands the group whole
// to its sender and its reader (Connection::setConnectionOptions).
#pragma once

#include "base/string.h"
#include "net/tls_layer.h"

namespace qarvel {

struct ConnectionOptions {
    int timeoutSeconds = 300;  // -tmo: what each read or write waits; -1 waits for ever
    int retries = 0;           // -retries: further connects after a failed one
    // -level:N; 2 with a client certificate reads mail without a user name.
    int level = 0;
    bool ssl = false;          // -ssl: TLS from the first byte (implicit TLS)
    bool tls = false;          // -tls: STARTTLS or STLS after the greeting; never a login in clear
    bool preferIpv6 = false;   // -ipv6
    // The client certificate and key (-cert:, -key:), the CA bundle (-cafile:), no
    // verification of the server's certificate (-insecure).
    String certificateFile{}, keyFile{}, caFile{};
    bool insecure = false;
    String firewall{};         // -firewall: a sender's text sent before it reads the greeting
    String localInterface{};   // -if: the local address to bind
    int bufferSize = 4096;     // a sender's command buffer (-bufsiz; a reader's is fixed)

    // The client certificate a session presents: only over TLS.
    String presentedCertificate() const { return ssl || tls ? certificateFile : String(); }
};

// The TLS options of a connection; verbose is the run's trace level (-v:).
TlsOptions tlsOptionsOf(const ConnectionOptions& options, int verbose);

} // namespace qarvel
