// The process-wide settings record, and the TLS options a run takes from it.
#include "config/settings.h"

#include "net/tls_layer.h"

namespace qarvel {

Settings& settings() {
    static Settings record;
    return record;
}

TlsOptions tlsOptionsOf(const Settings& s) {
    TlsOptions tls;
    tls.caFile = s.servers.caFile;
    tls.certificateFile = s.servers.certificateFile;
    tls.keyFile = s.servers.keyFile;
    tls.insecure = s.servers.insecure;
    tls.traceLevel = s.tools.verbose;
    return tls;
}

} // namespace qarvel
