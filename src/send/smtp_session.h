// SmtpSession: delivers one composed message by the SMTP dialogue, with the ESMTP extensions
// it knows (8BITMIME, DSN, ETRN, AUTH PLAIN and LOGIN, STARTTLS).
#pragma once

#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "send/sender_session.h"

namespace qarvel {

// The SMTP server's port, and its port with TLS from the first byte (-ssl).
constexpr const char* kSmtpPort = "25";
constexpr const char* kSmtpTlsPort = "465";

class SmtpSession : public SenderSession {
public:
    SmtpSession();

    int connectSession(const String& host, const String& port, int level = 0,
                       const String& certificate = String()) override;
    int sendMessageToLists(const String& from, const String& replyTo, const StringList& to,
                           const String& subject, const char* body, size_t length,
                           const String& base, const StringList& cc, const StringList& bcc,
                           const String& errorsTo) override;
    int sendMessage(const String& from, const String& replyTo, const String& to,
                    const String& subject, const char* body, size_t length, const String& base,
                    const String& cc, const String& bcc, const String& errorsTo) override;
    int loadRecipientFile(const String& path) override;
    int authenticate(const String& user, const String& password) override;
    int readReply() override;
    int quit() override;
    // ETRN: -1 when the server did not offer it, else the judged reply.
    int requestQueueRun(const String& domain);

    void setEsmtp(int v) { esmtp_ = v; }
    void setProbe(int v) { probe_ = v; }
    int esmtpInUse() const { return esmtpInUse_; }

    // Extension flags recorded from the EHLO reply.
    struct Extensions {
        int etrn = 0, dsn = 0, onex = 0, eightBitMime = 0, chunking = 0, startTls = 0, pipelining = 0;
        int authLogin = 0, authPlain = 0, authCramMd5 = 0, authXoauth2 = 0, authOauthBearer = 0;
    };
    const Extensions& extensions() const { return ext_; }
    const std::deque<String>& extraRecipients() const { return extraRecipients_; }

protected:
    // Protocol variations shared with QMTP (which has no extensions and no RSET between the
    // transactions of sendMessage).
    virtual bool usesExtensions() const { return true; }
    virtual bool resetBetweenTransactions() const { return true; }
    // Greets with EHLO (or HELO when ESMTP is off), falling back to HELO on refusal.
    int greet();
    // One transaction's MAIL FROM; with wait false it is only sent (a pipelined group).
    int mailFrom(const String& from, const String& replyTo, const String& errorsTo, bool wait = true);
    // One RCPT for a recipient entry (with the DSN parameters when dsn); with wait false it is
    // only sent.
    int recipientCommand(const String& recipient, bool dsn, bool wait);
    // One transaction's MAIL, RCPTs and DATA, each reply judged before the next command. The
    // recipients it takes (accepted, skipped or passed over) leave pending; those a limit
    // reply (452, 552) moved on stay in it for the next transaction.
    int lockstepEnvelope(const String& from, const String& replyTo, const String& errorsTo,
                         std::deque<String>& pending, bool dsn);
    // The same for a server that offers PIPELINING: [RSET,] MAIL, the RCPTs and DATA go out
    // as one group, the replies are judged in order afterwards.
    // With sentAhead the first group already went out, behind the last message's final ".".
    int pipelinedEnvelope(const String& from, const String& replyTo, const String& errorsTo,
                          std::deque<String>& pending, bool reset, bool dsn, bool sentAhead = false);
    // The commands of one group: [RSET,] MAIL (first group), the RCPTs of pending from begin,
    // [DATA], only sent (they go out when the group ends).
    void envelopeGroup(const String& from, const String& replyTo, const String& errorsTo,
                       const std::deque<String>& pending, size_t begin, size_t count, bool first,
                       bool reset, bool dsn, bool data);
    // Whether transactions go as pipelined groups, and how many recipients the first group of
    // pending takes.
    bool pipelines() const;
    size_t groupSize(const std::deque<String>& pending) const;
    // The final "." of a message waits in the sink: the envelope the run promises next goes
    // into the same write, when it fits one group with its DATA.
    void atDataEnd() override;
    // The replies to an envelope sent ahead that the run did not send after all are read; a
    // DATA the server took (354) leaves no way back but data, so the connection is closed
    // (a transaction cut off before its "." delivers nothing). 1 when the session goes on.
    int dropSentAhead();
    // The one rule of every transaction: message data goes out only when the server accepted
    // a recipient. With one, DATA (or the reply to the DATA of a pipelined group, which is
    // given); without one, endWithoutData with the last refusal.
    int startData(int groupedDataReply = kDataNotSent);
    // Ends a transaction that carries no data: a DATA that the server answered with 354 anyway
    // gets the lone "." it needs (RFC 2920), any other RSET. The reply line becomes reason; returns
    // kSessionRefused.
    int endWithoutData(bool dataAccepted, const std::string& reason);
    // The server's verdict on a recipient of this transaction.
    void accepted(const String& recipient);
    void refused(const String& recipient, const char* reply);
    static constexpr int kDataNotSent = -1000;
    // After the greeting: STARTTLS when -tls is set, then greet again.
    int startTlsIfAsked(const String& host);
    // AUTH with the bearer token (XOAUTH2 or OAUTHBEARER, as the server offers): true when
    // the server accepted it; a refusal leaves the server's verdict as the reply line.
    bool bearerLogin(const String& user, const String& token);

    int esmtp_ = 0;
    int esmtpInUse_ = 0;
    int firstTransaction_ = 1;
    // Recipients per transaction this server took before its first limit reply (452, 552).
    size_t serverLimit_ = static_cast<size_t>(-1);
    Extensions ext_;
    std::deque<String> extraRecipients_;
    // The recipients the server accepted in the transaction in hand.
    std::vector<String> taken_;
    // The envelope that went out behind the last message's "." and the replies it is owed.
    std::optional<Envelope> sentAhead_;
    size_t aheadReplies_ = 0;
};

} // namespace qarvel
