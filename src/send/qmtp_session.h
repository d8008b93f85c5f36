// QmtpSession: the -qmtp sender; the SMTP command dialogue in its plain form on port 209.
#pragma once

#include "send/smtp_session.h"

namespace qarvel {

class QmtpSession : public SmtpSession {
public:
    QmtpSession() = default;

    int connectSession(const String& host, const String& port, int level = 0,
                       const String& certificate = String()) override;
    int authenticate(const String& user, const String& password) override;
    int readReply() override;

protected:
    bool usesExtensions() const override { return false; }
    bool resetBetweenTransactions() const override { return false; }
};

} // namespace qarvel
