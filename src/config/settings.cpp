// The process-wide settings record.
#include "config/settings.h"

#include "send/smtp_session.h"

namespace qarvel {

Settings& settings() {
    static Settings record;
    return record;
}

void useImplicitTlsPorts(ServerSettings& servers) {
    servers.smtpPort = kSmtpTlsPort;
    servers.pop3Port = "995";
    servers.imapPort = "993";
    servers.nntpPort = "563";
}

} // namespace qarvel
