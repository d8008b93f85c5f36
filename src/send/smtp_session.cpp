// SmtpSession: greeting, extensions, STARTTLS, AUTH and the mail transactions.
#include "send/smtp_session.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "base/text.h"
#include "base/base64.h"
#include "base/string_list.h"
#include "net/sasl_answers.h"
#include "send/addresses.h"

namespace qarvel {

namespace {

// A reply may have at most this many continuation lines; a server that sends more is not
// speaking SMTP and the reply is taken as failed.
constexpr int kMaxReplyLines = 1000;
// Extra recipient file lines are read up to 255 characters.
constexpr size_t kRecipientLineWidth = 255;
// Recipients per pipelined group: their replies (some 40 bytes each) fit any socket buffer.
constexpr size_t kPipelineWindow = 1000;

// The greeting domain is computed once per process for SMTP and once for QMTP.
String smtpDomain;
String qmtpDomain;

bool isTransientLimit(const char* reply) { return startsWith(reply, "452") || startsWith(reply, "552"); }

// The recipients an envelope's comma-separated To, Cc and Bcc texts are sent to, in order.
std::deque<String> envelopeRecipients(const String& to, const String& cc, const String& bcc) {
    std::deque<String> out;
    for (const String* text : {&to, &cc, &bcc})
        for (const String& entry : splitRecipientText(*text)) {
            std::string_view e = entry.view();
            while (!e.empty() && e.front() == ' ') e.remove_prefix(1);
            if (e.empty() || e.front() == '\\' || e.front() == '!') continue;
            out.emplace_back(e);
        }
    return out;
}

} // namespace

SmtpSession::SmtpSession() = default;

int SmtpSession::readReply() {
    int result = SenderSession::readReply();
    for (int lines = 0;; ++lines) {
        const char* line = replyLine();
        if (result > 0 && startsWith(line, "250") && std::strlen(line) > 4) {
            const char* word = line + 4;
            if (startsWith(word, "ETRN")) ext_.etrn = 1;
            else if (startsWith(word, "DSN")) ext_.dsn = 1;
            else if (startsWith(word, "ONEX")) ext_.onex = 1;
            else if (startsWith(word, "8BITMIME")) ext_.eightBitMime = 1;
            else if (startsWith(word, "CHUNKING")) ext_.chunking = 1;
            else if (startsWith(word, "STARTTLS")) ext_.startTls = 1;
            else if (startsWith(word, "PIPELINING")) ext_.pipelining = 1;
            else if (startsWith(word, "AUTH")) {
                if (std::strstr(word, "LOGIN")) ext_.authLogin = 1;
                if (std::strstr(word, "PLAIN")) ext_.authPlain = 1;
                if (std::strstr(word, "CRAM-MD5")) ext_.authCramMd5 = 1;
                if (std::strstr(word, "XOAUTH2")) ext_.authXoauth2 = 1;
                if (std::strstr(word, "OAUTHBEARER")) ext_.authOauthBearer = 1;
            }
        }
        // A refusal is drained to its last line as well, so the next command reads its own
        // reply; a closed connection or a garbage line ends the reply at once.
        if (result == 0 || line[3] != '-' || !isOpen()) return result;
        if (lines >= kMaxReplyLines) {
            setReplyLine("reply has too many lines\n");
            close();
            return kSessionRefused;
        }
        int next = SenderSession::readReply();
        result = (result < 0 && next > 0) ? result : next;
    }
}

int SmtpSession::greet() {
    ext_.etrn = ext_.dsn = ext_.onex = ext_.eightBitMime = 0;
    ext_.authLogin = ext_.authPlain = ext_.authCramMd5 = ext_.authXoauth2 = ext_.authOauthBearer = 0;
    // -tls needs the extension list, so it greets with EHLO even without -esmtp.
    int esmtp = usesExtensions() && (esmtp_ || tls());
    String& domain = usesExtensions() ? smtpDomain : qmtpDomain;
    if (domain.empty()) domain = greetingDomain();
    int result = command("%s %s\r\n", esmtp ? "EHLO" : "HELO", domain.c_str());
    if (result > 0) {
        esmtpInUse_ = esmtp;
        return result;
    }
    esmtpInUse_ = 0;
    if (!usesExtensions()) return result;
    return command("HELO %s\r\n", domain.c_str());
}

int SmtpSession::connectSession(const String& host, const String& port, int level,
                                const String& certificate) {
    if (isOpen()) disconnect();
    sentAhead_.reset();
    aheadReplies_ = 0;
    firstTransaction_ = 1;
    serverLimit_ = static_cast<size_t>(-1);
    int result = SenderSession::connectSession(host, port.empty() ? String(kSmtpPort) : port, level,
                                               certificate);
    if (result < 0) return result;
    for (int tries = 0; result == 0 && !firewallText().empty() && isOpen() && tries < kMaxReplyLines; ++tries)
        result = readReply();
    if (!isOpen()) return result < 0 ? result : kSessionRefused;
    ext_ = Extensions{};
    result = greet();
    if (result < 1) return result;
    return startTlsIfAsked(host);
}

int SmtpSession::startTlsIfAsked(const String&) {
    if (!tls() || ssl()) return kSessionOk;
    // Every way out without encryption closes the connection: nothing after this point may
    // travel in clear.
    if (!ext_.startTls) {
        setReplyLine("STARTTLS was asked for (-tls) but the server does not offer it\n");
        std::fprintf(stderr, "STARTTLS not offered by the server\n");
        close();
        return kSessionRefused;
    }
    int result = upgradeWithStartTls();
    if (result < 1) return result;
    ext_.startTls = 0;
    return greet();
}

int SmtpSession::authenticate(const String& user, const String& password) {
    if ((tls() || ssl()) && !encrypted()) {
        setReplyLine("TLS was asked for but the connection is not encrypted\n");
        return 0;
    }
    if (!esmtpInUse_) {
        setReplyLine("ESMTP not enabled\n");
        return 0;
    }
    bool success = false;
    if (loginMechanism() != LoginMechanism::kPassword) {
        success = bearerLogin(user, password);
    } else if (ext_.authPlain || !ext_.authLogin) {
        if (sendCommand("AUTH PLAIN\r\n") < 1) return 0;
        // The server's "334" line is read and not examined.
        char line[256];
        int n = readLine(line, 255);
        if (n < 1) {
            close();
            return 0;
        }
        line[n] = '\0';
        if (traceLevel_) echo(line, static_cast<size_t>(n));
        String answer = saslPlainAnswer(user, password);
        success = commandSecret(answer, "%s\r\n", answer.c_str()) > 0;
    }
    if (!success && loginMechanism() == LoginMechanism::kPassword && !(ext_.authPlain && !ext_.authLogin)) {
        String answer = saslLoginAnswer(user);
        if (commandSecret(answer, "AUTH LOGIN %s\r\n", answer.c_str()) < 1) return kSessionRefused;
        answer = saslLoginAnswer(password);
        success = commandSecret(answer, "%s\r\n", answer.c_str()) > 0;
    }
    if (!success) return 0;
    ext_.etrn = ext_.dsn = ext_.onex = ext_.eightBitMime = 0;
    greet();
    return kSessionOk;
}

bool SmtpSession::bearerLogin(const String& user, const String& token) {
    const LoginMechanism mechanism = chooseBearer(loginMechanism(), ext_.authXoauth2, ext_.authOauthBearer);
    if (mechanism == LoginMechanism::kPassword) {
        setReplyLine("the server offers neither XOAUTH2 nor OAUTHBEARER\n");
        return false;
    }
    if (!encrypted()) {
        setReplyLine("An OAuth2 token is never sent without TLS\n");
        return false;
    }
    const String answer = saslBearerAnswer(mechanism, user, token, connectedHost(), connectedService());
    int result = commandSecret(answer, "AUTH %s %s\r\n", saslName(mechanism), answer.c_str());
    // A 334 here is the error challenge: answered, the server gives its verdict (a refusal).
    if (result > 0 && startsWith(replyLine(), "334")) {
        command("%s\r\n", saslBearerErrorAnswer(mechanism));
        return false;
    }
    return result > 0;
}

int SmtpSession::requestQueueRun(const String& domain) {
    if (!ext_.etrn) return kSessionRefused;
    if (sentAhead_ && dropSentAhead() < 1) return kSessionClosed;
    return command("ETRN %s\r\n", domain.c_str());
}

int SmtpSession::loadRecipientFile(const String& path) {
    if (path.empty()) return 0;
    FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return 0;
    char line[kRecipientLineWidth + 1];
    while (std::fgets(line, sizeof line, file)) {
        size_t n = std::strlen(line);
        bool whole = n && line[n - 1] == '\n';
        if (!whole && n == sizeof line - 1) {
            // Overlong line: keep its first 255 characters, drop the rest of it.
            int c;
            while ((c = std::fgetc(file)) != EOF && c != '\n') {}
        }
        if (line[0] == '\n' || line[0] == '#' || line[0] == '\r' || line[0] == '\0') continue;
        while (n && (line[n - 1] == '\n' || line[n - 1] == '\r' || line[n - 1] == ' ' || line[n - 1] == '\t'))
            line[--n] = '\0';
        if (n) extraRecipients_.emplace_back(line);
    }
    std::fclose(file);
    return 0;
}

int SmtpSession::mailFrom(const String& from, const String& replyTo, const String& errorsTo, bool wait) {
    const String& sender = !errorsTo.empty() ? errorsTo : !replyTo.empty() ? replyTo : from;
    bool bodyIs8Bit = usesExtensions() && esmtpInUse_ && ext_.eightBitMime && style().eightBit;
    const char* format = "MAIL FROM:<%s>%s\r\n";
    String address = envelopeAddress(sender);
    return wait ? command(format, address.c_str(), bodyIs8Bit ? " BODY=8BITMIME" : "")
                : sendCommand(format, address.c_str(), bodyIs8Bit ? " BODY=8BITMIME" : "");
}

int SmtpSession::recipientCommand(const String& recipient, bool dsn, bool wait) {
    const String address = envelopeAddress(recipient);
    String parameters;
    if (dsn) {
        parameters = String(" NOTIFY=") + (style().returnReceipt ? "DELAY,SUCCESS,FAILURE" : "DELAY,FAILURE");
        parameters += " ORCPT=rfc822;" + address;
    }
    const char* format = "RCPT TO:<%s>%s\r\n";
    return wait ? command(format, address.c_str(), parameters.c_str())
                : sendCommand(format, address.c_str(), parameters.c_str());
}

void SmtpSession::accepted(const String& recipient) { taken_.push_back(envelopeAddress(recipient)); }

void SmtpSession::refused(const String& recipient, const char* reply) {
    std::string line = reply;
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    verdicts_.refused.emplace_back(envelopeAddress(recipient), String(line));
}

int SmtpSession::startData(int groupedDataReply) {
    if (!taken_.empty()) return groupedDataReply == kDataNotSent ? command("DATA\r\n") : groupedDataReply;
    const std::string reason = !verdicts_.refused.empty() ? verdicts_.refused.back().second.str() + "\n"
                                                          : std::string("the message names no recipient\n");
    return endWithoutData(groupedDataReply != kDataNotSent && groupedDataReply > 0, reason);
}

int SmtpSession::endWithoutData(bool dataAccepted, const std::string& reason) {
    taken_.clear();
    if (dataAccepted) command(".\r\n");
    else if (isOpen()) command("RSET\r\n");
    setReplyLine(reason.c_str());
    return kSessionRefused;
}

int SmtpSession::lockstepEnvelope(const String& from, const String& replyTo, const String& errorsTo,
                                  std::deque<String>& pending, bool dsn) {
    int result;
    if ((result = mailFrom(from, replyTo, errorsTo)) < 1) return result;
    int counted = 0;
    while (!pending.empty() && counted < style().recipientLimit) {
        result = recipientCommand(pending.front(), dsn, true);
        if (result > 0) {
            ++counted;
            accepted(pending.front());
        } else if (isTransientLimit(replyLine())) {
            // The server wants fewer recipients per message: this one and the rest go into
            // another transaction (with nobody accepted here it is passed over, so every
            // transaction moves the message on).
            if (counted == 0) {
                refused(pending.front(), replyLine());
                pending.pop_front();
            }
            break;
        } else {
            refused(pending.front(), replyLine());
            if (!skipRefused_ || !isOpen()) return result;
        }
        pending.pop_front();
    }
    while (!extraRecipients_.empty() && counted < style().recipientLimit) {
        String recipient = extraRecipients_.front();
        extraRecipients_.pop_front();
        ++counted;
        result = command("RCPT TO:<%s>\r\n", envelopeAddress(recipient).c_str());
        if (!isOpen()) return result < 0 ? result : kSessionClosed;
        if (result > 0) accepted(recipient);
        else refused(recipient, replyLine());
    }
    if (probe_) return result;
    return startData();
}

void SmtpSession::envelopeGroup(const String& from, const String& replyTo, const String& errorsTo,
                                const std::deque<String>& pending, size_t begin, size_t count,
                                bool first, bool reset, bool dsn, bool data) {
    if (first && reset) sendCommand("RSET\r\n");
    if (first) mailFrom(from, replyTo, errorsTo, false);
    for (size_t i = 0; i < count; ++i) recipientCommand(pending[begin + i], dsn, false);
    if (data) sendCommand("DATA\r\n");
}

bool SmtpSession::pipelines() const {
    return ext_.pipelining && usesExtensions() && esmtpInUse_ && !probe_ && extraRecipients_.empty();
}

size_t SmtpSession::groupSize(const std::deque<String>& pending) const {
    return std::min<size_t>({pending.size(), static_cast<size_t>(style().recipientLimit), serverLimit_});
}

void SmtpSession::atDataEnd() {
    Envelope next;
    if (sentAhead_ || !isOpen() || !pipelines() || !askNextEnvelope(next)) return;
    std::deque<String> pending = envelopeRecipients(next.to, next.cc, next.bcc);
    // Only a whole envelope with its DATA goes ahead; a larger one waits for its own turn.
    const size_t total = groupSize(pending);
    if (pending.empty() || total != pending.size() || total > kPipelineWindow || !(skipRefused_ || total == 1))
        return;
    const bool dsn = ext_.dsn;
    beginGroup();
    envelopeGroup(next.from, next.replyTo, next.errorsTo, pending, 0, total, true, true, dsn, true);
    if (!appendGroupToData()) return;
    sentAhead_ = std::move(next);
    aheadReplies_ = total + 3;  // RSET, MAIL, the RCPTs and DATA
}

int SmtpSession::dropSentAhead() {
    sentAhead_.reset();
    int result = kSessionOk;
    for (size_t i = 0; i < aheadReplies_ && isOpen(); ++i) result = readReply();
    aheadReplies_ = 0;
    if (!isOpen()) return kSessionClosed;
    if (result > 0) {
        close();
        return kSessionClosed;
    }
    return kSessionOk;
}

int SmtpSession::quit() {
    if (sentAhead_ && dropSentAhead() < 1) return kSessionClosed;
    return SenderSession::quit();
}

int SmtpSession::pipelinedEnvelope(const String& from, const String& replyTo, const String& errorsTo,
                                   std::deque<String>& pending, bool reset, bool dsn, bool sentAhead) {
    // At most one window of recipients per group, so that the replies waiting to be read
    // always fit the socket buffers; a transaction of more takes a group per window.
    const size_t total = groupSize(pending);
    // A refused recipient ends the transaction unless refusals are skipped; DATA then waits
    // for the verdicts, as a "354" would leave no way back but the lone ".".
    const bool dataInGroup = skipRefused_ || total == 1;
    std::deque<std::pair<String, std::string>> deferred;  // a recipient and its limit reply
    int failure = kSessionOk;
    std::string failedLine;
    auto judge = [&](int result, bool counts) {
        if (result < 1 && counts && failure >= 1) {
            failure = result;
            failedLine = replyLine();
        }
    };
    size_t sent = 0;
    bool limited = false;
    while (sent < total && isOpen()) {
        const size_t window = std::min(total - sent, kPipelineWindow);
        const bool first = sent == 0, last = sent + window == total;
        if (!(first && sentAhead)) {
            beginGroup();
            envelopeGroup(from, replyTo, errorsTo, pending, sent, window, first, reset, dsn, last && dataInGroup);
            int written = sendGroup();
            if (written < 1) return written;
        }
        // The replies in the order of the commands. The first failure is the result and its
        // reply line the one reported, as if the commands had gone one by one; the replies
        // after it are still read, so the session stays in step.
        if (first && reset) judge(readReply(), true);
        if (first) judge(readReply(), true);
        for (size_t i = 0; i < window && isOpen(); ++i) {
            const String& recipient = pending[sent + i];
            int result = readReply();
            if (result > 0) {
                accepted(recipient);
            } else if (isOpen() && isTransientLimit(replyLine())) {
                // This recipient goes into the next transaction; the server's limit is learnt
                // from the first such reply, so the next groups are no larger than it takes.
                if (!limited && !taken_.empty()) serverLimit_ = taken_.size();
                limited = true;
                deferred.emplace_back(recipient, replyLine());
            } else {
                if (failure >= 1) refused(recipient, replyLine());
                judge(result, !skipRefused_);
            }
        }
        sent += window;
    }
    if (!isOpen()) return failure < 1 ? failure : kSessionClosed;
    // With nobody accepted the deferred recipients are passed over: every transaction must
    // move the message on.
    if (taken_.empty()) {
        for (const auto& [recipient, reply] : deferred) refused(recipient, reply.c_str());
        deferred.clear();
    }
    pending.erase(pending.begin(), pending.begin() + static_cast<long>(sent));
    for (auto it = deferred.rbegin(); it != deferred.rend(); ++it) pending.push_front(it->first);
    const int dataReply = dataInGroup ? readReply() : kDataNotSent;
    if (failure < 1) {
        if (dataReply != kDataNotSent && dataReply > 0) endWithoutData(true, failedLine);
        setReplyLine(failedLine.c_str());
        return failure;
    }
    return startData(dataReply);
}

int SmtpSession::sendMessage(const String& from, const String& replyTo, const String& to,
                             const String& subject, const char* body, size_t length,
                             const String& base, const String& cc, const String& bcc,
                             const String& errorsTo) {
    std::deque<String> pending = envelopeRecipients(to, cc, bcc);
    const bool dsn = usesExtensions() && esmtpInUse_ && ext_.dsn;
    // A server that offers PIPELINING gets each transaction's envelope as one group: one round
    // trip instead of one per command. The envelope may have gone already, behind the last
    // message's final ".".
    const bool pipelined = pipelines() && !pending.empty();
    bool ahead = false;
    if (sentAhead_) {
        if (pipelined && isOpen() && *sentAhead_ == Envelope{from, replyTo, to, cc, bcc, errorsTo}) {
            sentAhead_.reset();
            aheadReplies_ = 0;
            ahead = true;
        } else if (dropSentAhead() < 1) {
            return kSessionClosed;
        }
    }
    bool furtherTransaction = false;
    beginVerdicts();
    while (true) {
        taken_.clear();
        int result;
        bool reset = !firstTransaction_ && (resetBetweenTransactions() || !furtherTransaction);
        firstTransaction_ = 0;
        if (pipelined) {
            result = pipelinedEnvelope(from, replyTo, errorsTo, pending, reset, dsn, ahead);
            ahead = false;
        } else {
            if (reset && (result = command("RSET\r\n")) < 1) return result;
            result = lockstepEnvelope(from, replyTo, errorsTo, pending, dsn);
            if (probe_) return result;
        }
        if (result < 1) return result;
        result = SenderSession::sendMessage(from, replyTo, to, subject, body, length, base, cc, bcc,
                                            errorsTo);
        if (result < 1) return result;
        verdicts_.delivered.insert(verdicts_.delivered.end(), taken_.begin(), taken_.end());
        if (pending.empty()) return result;
        furtherTransaction = true;
    }
}

int SmtpSession::sendMessageToLists(const String& from, const String& replyTo,
                                    const StringList& to, const String& subject,
                                    const char* body, size_t length, const String& base,
                                    const StringList& cc, const StringList& bcc,
                                    const String& errorsTo) {
    if (sentAhead_ && dropSentAhead() < 1) return kSessionClosed;
    std::deque<String> work;
    for (const StringList* list : {&to, &cc, &bcc})
        for (const String& entry : *list) work.push_back(entry);
    while (!extraRecipients_.empty()) {
        work.push_back(extraRecipients_.front());
        extraRecipients_.pop_front();
    }
    beginVerdicts();
    if (work.empty()) return 0;
    const int limit = style().recipientLimit;
    const bool dsn = usesExtensions() && esmtpInUse_ && ext_.dsn && style().returnReceipt;
    int result = 0;
    while (!work.empty()) {
        firstTransaction_ = 0;
        taken_.clear();
        if ((result = mailFrom(from, replyTo, errorsTo)) < 1) return result;
        int counted = 0;
        while (!work.empty()) {
            String entry = work.front();
            work.pop_front();
            String address = envelopeAddress(entry);
            if (dsn)
                result = command("RCPT TO:<%s> NOTIFY=DELAY,SUCCESS,FAILURE ORCPT=rfc822;%s\r\n",
                                 address.c_str(), address.c_str());
            else
                result = command("RCPT TO:<%s>\r\n", address.c_str());
            bool limited = result < 1 && isTransientLimit(replyLine());
            if (result > 0) accepted(entry);
            else if (!limited || counted == 0) refused(entry, replyLine());
            if (result > 0 || (skipRefused_ && !limited && isOpen())) {
                if (++counted >= limit) break;
            } else if (limited) {
                // This recipient goes into the next transaction, unless this one has none.
                if (counted > 0) work.push_front(entry);
                break;
            } else {
                return result;
            }
        }
        if (probe_) return result;
        if ((result = startData()) < 1) return result;
        result = SenderSession::sendMessageToLists(from, replyTo, to, subject, body, length, base,
                                                   cc, bcc, errorsTo);
        if (result < 1) return result;
        verdicts_.delivered.insert(verdicts_.delivered.end(), taken_.begin(), taken_.end());
        result = command("RSET\r\n");
    }
    return result;
}

} // namespace qarvel
