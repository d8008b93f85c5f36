// ConnectionOptions: how a session connects and talks, handed by the run to its sender and its
// reader alike in one step (Connection::setConnectionOptions).
#pragma once

#include <cstddef>

#include "base/string.h"
#include "net/tls_layer.h"

namespace qarvel {

struct ConnectionOptions {
    int timeoutSeconds = 300;  // what each read or write waits; -1 waits for ever
    int traceLevel = 0;        // above 0 the dialogue is echoed to standard output
    bool ssl = false;          // TLS from the first byte (implicit TLS)
    bool tls = false;          // STARTTLS or STLS after the greeting; never a login in clear
    TlsOptions tlsOptions{};   // trust, client certificate and TLS trace of either form
    String firewall{};         // a sender's text sent before it reads the greeting
    size_t bufferSize = 4096;  // a sender's command buffer (a reader's is fixed)
};

} // namespace qarvel
