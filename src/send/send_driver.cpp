// The send driver: one sending activity from the settings with the current sender.
#include "send/send_driver.h"

#include <sys/stat.h>

#include <cctype>
#include <cstdio>
#include <ctime>
#include <sstream>
#include <string>

#include "send/addresses.h"
#include "send/batch_file.h"
#include "send/sender_session.h"
#include "send/smtp_session.h"
#include "base/mail_log.h"
#include "base/run_failure.h"
#include "net/failure_cause.h"
#include "net/host_address.h"
#include "net/winsock_error.h"

namespace qarvel {

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;

bool fileExists(const String& path) {
    struct stat st;
    return !path.empty() && ::stat(path.c_str(), &st) == 0;
}

// The reply line without its line end, for messages.
std::string replyText(const SenderSession& sender) {
    std::string s = sender.replyLine();
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
    return s;
}


// The length a file takes once every line end is made CR LF: a bare LF and a bare CR each
// gain one byte. Knowing it lets the body be reserved once, so that it is never copied
// while it grows.
bool normalisedLength(const String& path, size_t& length) {
    FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return false;
    char buffer[65536];
    bool lastWasCr = false;
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
        length += n;
        for (size_t i = 0; i < n; ++i) {
            char c = buffer[i];
            if (c == '\n') {
                if (!lastWasCr) ++length;
            } else if (lastWasCr) {
                ++length;
            }
            lastWasCr = c == '\r';
        }
    }
    if (lastWasCr) ++length;
    std::fclose(file);
    return true;
}

// Reads a whole file and appends it with every line end made CR LF.
bool appendFileNormalised(const String& path, std::string& text) {
    FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return false;
    char buffer[65536];
    bool lastWasCr = false;
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
        for (size_t i = 0; i < n; ++i) {
            char c = buffer[i];
            if (c == '\n') {
                if (!lastWasCr) text += '\r';
                text += '\n';
                lastWasCr = false;
            } else {
                if (lastWasCr) text += '\n';
                if (c == '\r') {
                    text += '\r';
                    lastWasCr = true;
                } else {
                    text += c;
                    lastWasCr = false;
                }
            }
        }
    }
    if (lastWasCr) text += '\n';
    std::fclose(file);
    return true;
}

// An address that can be used as a sender: a local part, "@", a dotted domain, no blanks.
bool plausibleAddress(const String& address) {
    String bare = bareAddress(address);
    std::string_view a = bare.view();
    size_t at = a.find('@');
    if (at == std::string_view::npos || at == 0 || at + 1 >= a.size()) return false;
    if (a.find('@', at + 1) != std::string_view::npos) return false;
    std::string_view domain = a.substr(at + 1);
    if (domain.find('.') == std::string_view::npos || domain.front() == '.' || domain.back() == '.')
        return false;
    for (char c : a)
        if (std::isspace(static_cast<unsigned char>(c)) || static_cast<unsigned char>(c) < 32) return false;
    return true;
}

// The streams a batch of ready-made messages is read from while it is sent.
struct BatchStreams {
    std::vector<std::FILE*> files;
    BatchStreams() = default;
    BatchStreams(const BatchStreams&) = delete;
    BatchStreams& operator=(const BatchStreams&) = delete;
    ~BatchStreams() {
        for (std::FILE* f : files)
            if (f != stdin) std::fclose(f);
    }
};

std::string joined(const std::vector<String>& addresses) {
    std::string text;
    for (const String& a : addresses) text += (text.empty() ? "" : ", ") + a.str();
    return text;
}

// The recipient text without the entries the server refused, for the status line.
String withoutRefused(const String& list, const RecipientVerdicts& verdicts) {
    if (verdicts.refused.empty()) return list;
    String kept;
    for (const String& entry : splitRecipientText(list)) {
        bool refused = false;
        for (const auto& r : verdicts.refused) refused = refused || r.first == envelopeAddress(entry);
        if (!refused) kept += (kept.empty() ? "" : ",") + entry;
    }
    return kept;
}

std::string localTimeText() {
    std::time_t now = std::time(nullptr);
    struct tm t;
    localtime_r(&now, &t);
    char text[64];
    std::strftime(text, sizeof text, "%a %b %d %H:%M:%S %Y", &t);
    return text;
}

} // namespace

bool isDottedAddress(const String& domain) {
    if (isAddressLiteral(domain.view())) return true;  // [192.0.2.1], [IPv6:::1], ::1
    int dots = 0;
    for (char c : domain.view()) {
        if (c == '.') ++dots;
        else if (std::isalpha(static_cast<unsigned char>(c))) return false;
    }
    return dots >= 3;
}

// Sends the message count times, printing the status line of each copy. Returns 1 when
// every copy was sent, 0 after the first failure.
void logMessageLine(const SenderSession& sender, const SendDriverOptions& s, const String& from,
                    const std::vector<const String*>& recipients, int status) {
    std::string line = "host=" + (sender.connectedHost().empty() ? s.host : sender.connectedHost()).str();
    line += std::string(" tls=") + (sender.encrypted() ? "on" : "off");
    if (!s.user.empty()) line += " user=" + logQuoted(s.user.view());
    line += " from=" + logQuoted(from.view()) + " recipients=";
    std::string all;
    for (const String* list : recipients)
        if (!list->empty()) all += (all.empty() ? "" : ",") + list->str();
    line += logQuoted(all) + " size=" + std::to_string(sender.bytesSent());
    line += " reply=" + logQuoted(replyText(sender)) + " exit=" + std::to_string(status);
    logToSyslog(status != 0, line);
}

int sendWithStatus(SenderSession& sender, const String& from, const String& replyTo,
                   const String& to, const String& cc, const String& bcc, const String& subject,
                   const std::string& body, long count, const String& url,
                   const SendDriverOptions& s, const String& errorsTo) {
    // Every copy but the last promises the next: a pipelining server then gets the next
    // envelope with the final "." of the copy before. The last passes on the promise of the
    // caller.
    const SenderSession::NextEnvelope caller = sender.nextEnvelope();
    long copy = 0;
    EnvelopePromise promise(sender, [&](Envelope& next) {
        if (copy + 1 >= count) return caller && caller(next);
        next = Envelope{from, replyTo, to, cc, bcc, errorsTo};
        return true;
    });
    for (; copy < count; ++copy) {
        std::time_t startSeconds = std::time(nullptr);
        std::clock_t startClock = std::clock();
        int result = sender.sendMessage(from, replyTo, to, subject, body.data(), body.size(), url,
                                        cc, bcc, errorsTo);
        if (s.tools.syslog) {
            const int status = result >= 1 ? 0 : s.tools.strict ? strictExitStatus(sender.failureOf(result)) : 1;
            logMessageLine(sender, s, from, {&to, &cc, &bcc}, status);
        }
        const RecipientVerdicts& verdicts = sender.recipientVerdicts();
        for (const auto& [address, reply] : verdicts.refused)
            std::fprintf(stderr, "Refused recipient: %s: %s\n", address.c_str(), reply.c_str());
        if (result < 1) {
            noteFailure(sender.failureOf(result));
            std::fprintf(stderr, "Could not send:  error= %s\n", describeError(sender.failureCode(result)).c_str());
            std::fprintf(stderr, "Status: %s\n", replyText(sender).c_str());
            if (!verdicts.delivered.empty())
                std::fprintf(stderr, "Sent to %s only\n", joined(verdicts.delivered).c_str());
            return 0;
        }
        if (s.tools.verbose == 1 && !s.tools.quiet) {
            std::printf("%s: %s\n", s.labels.to.c_str(), to.c_str());
            std::printf("%s: %s\n", s.labels.cc.c_str(), cc.c_str());
            std::printf("%s: %s\n", s.labels.bcc.c_str(), bcc.c_str());
            std::printf("%s: %s\n", s.labels.from.c_str(), from.c_str());
            std::printf("%s: %s\n", s.labels.subject.c_str(), subject.c_str());
        }
        long elapsedMs = 1000L * static_cast<long>(std::time(nullptr) - startSeconds);
        if (elapsedMs == 0) elapsedMs = static_cast<long>((std::clock() - startClock) * 1000 / CLOCKS_PER_SEC);
        if (elapsedMs == 0) elapsedMs = 1;
        if (!s.tools.quiet) {
            std::ostringstream line;
            line << "Sent " << sender.bytesSent() << " bytes in";
            if (s.showRate) {
                double seconds = elapsedMs * 0.001;
                double rate = static_cast<double>(sender.bytesSent()) / elapsedMs / 1024 * 1000;
                line << " " << seconds << " seconds (" << rate << " KB/s)";
            }
            if (sender.attachmentCount() > 0) line << " with " << sender.attachmentCount() << " attachments ";
            line << "to '" << withoutRefused(to, verdicts).str() << "' " << localTimeText() << "\n";
            std::fputs(line.str().c_str(), stdout);
            std::fflush(stdout);
        }
    }
    return 1;
}

namespace {

// One sending activity, step by step (the numbers are the steps of the run). Each step
// returns false after it has said why the run stops.
class SendRun {
public:
    SendRun(const SendDriverOptions& options, SenderSession& sender)
        : s(options), sender_(sender), files_(s.content.files.begin(), s.content.files.end()),
          readyMade_(s.smtp.importBatch || s.smtp.recipientsFromHeaders) {}

    int run() {
        // 2. A missing attachment stops the run unless -ns was given (the warning was written).
        if (s.content.missingAttachments > 0 && !s.smtp.goOnPastErrors) {
            stop(Failure::kData);
            return kExitFailed;
        }
        // 3. CGI mode: end the response headers (the result page head belongs to the CGI pages).
        if (s.cgi) {
            std::fputs("\r\n", stdout);
            std::fflush(stdout);
            if (s.hooks.writeCgiHead) s.hooks.writeCgiHead();
        }
        if (!check() || !gatherBody() || !chooseServer() || !connect() || !login() || !deliver())
            return kExitFailed;
        finish();
        return kExitOk;
    }

private:
    bool check();
    bool gatherBody();
    bool readFiles();
    bool chooseServer();
    bool connect();
    bool login();
    bool deliver();
    void finish();
    // A stop of the run: its message, its cause for the exit status under -strict, and with
    // -syslog the run's line (none of its messages went out, so none has a line of its own).
    void stop(Failure cause, const std::string& message = std::string());
    // The -header: text goes before a plain message's text.
    bool headerFirst() const { return !s.content.html && !readyMade_; }

    const SendDriverOptions& s;
    SenderSession& sender_;
    std::vector<String> files_;  // the -file: names of this run
    const bool readyMade_;       // import mode or -t: the batch sender's messages
    std::string text_;           // the body
    String url_;
    // Ready-made Internet messages from files or standard input are read while they are sent,
    // so that a batch of any size is never held in memory.
    bool streamed_ = false;
    BatchStreams streams_;
    String host_;
    int preference_ = 0;
    std::vector<std::pair<String, int>> exchangers_;  // direct delivery, in order of preference
    size_t nextExchanger_ = 0;
    bool connected_ = false;
};

// 4.-7. The sender, the recipients and the message file.
bool SendRun::check() {
    if (s.addresses.from.empty() && s.smtp.etrnDomain.empty() && !readyMade_) {
        stop(Failure::kUsage, "Missing from address");
        return false;
    }
    if (s.smtp.verifySender && !plausibleAddress(s.addresses.from)) {
        stop(Failure::kData, "Invalid email address: '" + s.addresses.from.str() + "'");
        return false;
    }
    if (s.addresses.to.empty() && s.smtp.etrnDomain.empty() && !readyMade_) {
        stop(Failure::kUsage, "Missing to address");
        return false;
    }
    if (!s.content.messageFile.empty() && !fileExists(s.content.messageFile)) {
        stop(Failure::kData, "Missing data file: " + s.content.messageFile.str());
        return false;
    }
    return true;
}

// 8. The body: -msg:, the -file: files, or standard input.
bool SendRun::gatherBody() {
    text_ = s.content.messageText.str();
    url_ = s.url;
    streamed_ = s.smtp.recipientsFromHeaders && !s.smtp.importBatch && !s.cgi && text_.empty() &&
                (!s.content.messageFile.empty() || !s.content.noMessageText);
    if (streamed_ && !s.content.messageFile.empty()) {
        for (const String& name : files_) {
            std::FILE* f = std::fopen(name.c_str(), "rb");
            if (!f) {
                stop(Failure::kData, "Missing data file: " + name.str());
                return false;
            }
            streams_.files.push_back(f);
        }
        return true;
    }
    if (streamed_) {
        if (!s.tools.quiet) std::fprintf(stderr, "Enter message text...\n");
        streams_.files.push_back(stdin);
        return true;
    }
    if (!s.content.messageFile.empty()) return readFiles();
    if (!text_.empty() || s.content.noMessageText) return true;
    if (s.cgi) {
        stop(Failure::kData, "No message body (either file or post)");
        return false;
    }
    if (!s.tools.quiet) std::fprintf(stderr, "Enter message text...\n");
    std::string line;
    int c;
    while ((c = std::getchar()) != EOF) {
        if (c == '\n') {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            text_ += line;
            text_ += "\r\n";
            line.clear();
        } else {
            line += static_cast<char>(c);
        }
    }
    if (!line.empty()) {
        if (line.back() == '\r') line.pop_back();
        text_ += line;
        text_ += "\r\n";
    }
    return true;
}

// The -file: files after the text. The header goes before the text later on; the room for it
// and for every file is taken now, so that the body exists once in memory, however large the
// files are.
bool SendRun::readFiles() {
    size_t room = text_.size() + (headerFirst() ? s.content.leadingText.length() : 0);
    for (const String& name : files_) {
        room += 2;
        if (!normalisedLength(name, room)) {
            stop(Failure::kData, "Missing data file: " + name.str());
            return false;
        }
    }
    text_.reserve(room);
    for (const String& name : files_) {
        if (!text_.empty() && text_.back() != '\n') text_ += "\r\n";
        if (!appendFileNormalised(name, text_)) {
            stop(Failure::kData, "Missing data file: " + name.str());
            return false;
        }
        if (s.content.uuencode) url_ = name;
    }
    return true;
}

// 9.-10. The server: the chosen sender's host, or with direct delivery the exchangers of the
// first recipient's domain (tried in order of preference).
bool SendRun::chooseServer() {
    host_ = s.host;
    if (!s.servers.directToMx) return true;
    const std::vector<String> first = splitRecipientText(s.addresses.to, 1);
    const String domain = addressDomain(bareAddress(first.empty() ? String() : first[0]));
    if (s.tools.verbose && !s.tools.quiet) std::printf("Check MX priority=%d\n", -1);
    if (isDottedAddress(domain)) {
        exchangers_.emplace_back(domain, 0);
    } else if (!readyMade_) {
        if (!s.hooks.routeDomain) {
            stop(Failure::kHostNotFound, "Could not route to domain: " + domain.str());
            return false;
        }
        // A name server that could not be asked noted its own cause.
        const int routed = s.hooks.routeDomain(domain, exchangers_);
        if (routed < 1 || exchangers_.empty()) {
            if (exchangers_.empty())
                stop(routed < 1 ? notedFailure() : Failure::kHostNotFound, "Could not route to domain: " + domain.str());
            return false;
        }
    }
    if (!exchangers_.empty()) {
        host_ = exchangers_[0].first;
        preference_ = exchangers_[0].second;
        nextExchanger_ = 1;
    }
    return true;
}

// 11.-13. Connect with retries, then one try for each further exchanger. Ready-made messages
// with direct delivery are routed one by one by the batch sender.
bool SendRun::connect() {
    if (s.servers.directToMx && readyMade_) return true;
    const ConnectionOptions& c = sender_.connectionOptions();
    const String certificate = c.presentedCertificate();
    auto attempt = [&] {
        if (s.tools.verbose && !s.tools.quiet)
            std::printf("[%s] MX/A server (%d) = '%s'\n", s.servers.dnsServerHost.c_str(), preference_, host_.c_str());
        return sender_.connectSession(host_, s.port, c.level, certificate);
    };
    Failure cause = Failure::kNone;  // of the last failed try, read before its socket is closed
    auto failed = [&](int result) {
        reportConnectFailure(sender_, host_, s.port, result);
        cause = sender_.failureOf(result);
    };
    connected_ = sender_.connectWithRetries(attempt, failed) >= 1;
    for (; !connected_ && s.servers.directToMx && nextExchanger_ < exchangers_.size(); ++nextExchanger_) {
        host_ = exchangers_[nextExchanger_].first;
        preference_ = exchangers_[nextExchanger_].second;
        connected_ = sender_.connectWithRetries(attempt, failed, 0) >= 1;
    }
    if (!connected_) stop(cause);
    return connected_;
}

// 14.-15. The login, when a user name is given.
bool SendRun::login() {
    if (!s.user.empty()) {
        const int result = sender_.authenticate(s.user, s.password);
        if (result < 1) {
            stop(atLogin(sender_, sender_.failureOf(result)), "Login failed: " + replyText(sender_));
            sender_.disconnect();
            return false;
        }
    }
    if (s.tools.verbose && connected_) {
        // A host that names its own port (-host:HOST:PORT) was reached on that port.
        if (splitHostPort(host_.view()).portGiven) std::printf("Connected to '%s'\n", host_.c_str());
        else std::printf("Connected to '%s:%s'\n", host_.c_str(), s.port.c_str());
    }
    return true;
}

// 16. ETRN (not over QMTP, which sends the message instead), the ready-made messages, or the
// message its count of times.
bool SendRun::deliver() {
    if (!s.smtp.etrnDomain.empty() && s.sender != SenderKind::kQmtp) {
        auto* smtp = s.sender == SenderKind::kSmtp ? dynamic_cast<SmtpSession*>(&sender_) : nullptr;
        if (!smtp) return true;
        int result = smtp->requestQueueRun(s.smtp.etrnDomain);
        if (s.tools.verbose && !s.tools.quiet) std::printf("ETRN %s: %s\n", s.smtp.etrnDomain.c_str(), replyText(sender_).c_str());
        if (result < 1) std::fprintf(stderr, "ETRN refused: %s\n", replyText(sender_).c_str());
        return true;
    }
    if (readyMade_) {
        BatchText batch = streamed_ ? BatchText(streams_.files) : BatchText(std::string_view(text_));
        if (s.hooks.sendBatch && s.hooks.sendBatch(sender_, batch) >= 1) return true;
        if (!s.hooks.sendBatch) stop(Failure::kOther, "Ready-made messages are not supported in this build");
        if (sender_.isOpen()) sender_.disconnect();
        return false;
    }
    // In place: the room was reserved, so the body is not copied.
    if (headerFirst()) text_.insert(0, s.content.leadingText.view());
    const AddressSettings& a = s.addresses;
    if (sendWithStatus(sender_, a.from, a.replyTo, a.to, a.cc, a.bcc, s.content.subject, text_, s.smtp.sendCount, url_, s))
        return true;
    if (sender_.hasSessionToClose()) sender_.disconnect();
    return false;
}

// 17. The files -rm and -rmlist remove, and the end of the session.
void SendRun::finish() {
    sender_.releaseFiles(s.remove);
    if (s.remove)
        for (const String& name : files_) std::remove(name.c_str());
    if (s.tools.removeListFiles) {
        for (const String* list : {&s.addresses.toListFile, &s.addresses.ccListFile, &s.addresses.bccListFile}) {
            if (list->empty()) continue;
            if (s.tools.verbose > 1)
                std::printf("REMOVE '%s' file: %s line: %d\n", list->c_str(), __FILE__, __LINE__);
            std::remove(list->c_str());
        }
    }
    if (sender_.hasSessionToClose()) {
        sender_.disconnect();
        if (s.tools.verbose) std::printf("Disconnected\n");
    }
}

void SendRun::stop(Failure cause, const std::string& message) {
    noteFailure(cause);
    if (!message.empty()) std::fprintf(stderr, "%s\n", message.c_str());
    if (s.tools.syslog)
        logMessageLine(sender_, s, s.addresses.from, {&s.addresses.to, &s.addresses.cc, &s.addresses.bcc},
                       s.tools.strict ? strictExitStatus(cause) : 1);
}

} // namespace

int runSendDriver(const SendDriverOptions& options, SenderSession& sender) {
    return SendRun(options, sender).run();
}

} // namespace qarvel
