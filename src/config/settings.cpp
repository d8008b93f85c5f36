#include "config/settings.h"

#include <utility>

#include "net/tls_layer.h"

namespace qarvel {

Settings& settings() {
    static Settings record;
    return record;
}

void resetSettings(Settings& s, bool firstTime) {
    // A fresh record has every string empty and every integer at its initial value; the lists
    // and the process-wide time-out survive both forms.
    Settings fresh;
    std::swap(fresh.aliasNames, s.aliasNames);
    std::swap(fresh.aliasValues, s.aliasValues);
    std::swap(fresh.attachments, s.attachments);
    std::swap(fresh.files, s.files);
    fresh.timeoutSeconds = s.timeoutSeconds;
    s = std::move(fresh);

    s.discoveredDnsServer = "localhost";
    if (!firstTime) return;
    s.smtpHost = s.pop3Host = s.imapHost = s.nntpHost = s.capHost = "localhost";
    s.dnsServerHost = s.ldapHost = "localhost";
    s.smtpPort = "25";
    s.qmtpPort = "209";
    s.pop3Port = "110";
    s.imapPort = "143";
    s.nntpPort = "119";
    s.capPort = "5229";
    s.ldapPort = "389";
    s.mime = "text/plain";
    s.charset = "iso-8859-1";
    s.mbox = "INBOX";
    s.scripts = "/cgi-bin/qarvel";
    s.fetch = "fetch";
}

TlsOptions tlsOptionsOf(const Settings& s) {
    TlsOptions tls;
    tls.caFile = s.caFile;
    tls.certificateFile = s.cert;
    tls.keyFile = s.keyFile;
    tls.insecure = s.insecure != 0;
    tls.traceLevel = s.verbose;
    return tls;
}

} // namespace qarvel
