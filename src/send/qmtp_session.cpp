// QmtpSession: HELO only, no extensions, single-line replies, no authentication.
#include "send/qmtp_session.h"

namespace qarvel {

int QmtpSession::connectSession(const String& host, const String& port, int level,
                                const String& certificate) {
    if (isOpen()) disconnect();
    firstTransaction_ = 1;
    int result = SenderSession::connectSession(host, port.empty() ? String("209") : port, level,
                                               certificate);
    if (result < 0) return result;
    for (int tries = 0; result == 0 && !firewallText().empty() && isOpen() && tries < 1000; ++tries)
        result = readReply();
    if (!isOpen()) return result < 0 ? result : kSessionRefused;
    return greet();
}

int QmtpSession::authenticate(const String&, const String&) { return 0; }

int QmtpSession::readReply() { return SenderSession::readReply(); }

} // namespace qarvel
