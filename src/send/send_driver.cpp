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
#include "send/nntp_session.h"
#include "send/qmtp_session.h"
#include "send/sender_session.h"
#include "send/smtp_session.h"
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

void stop(const std::string& message) { std::fprintf(stderr, "%s\n", message.c_str()); }

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
int sendWithStatus(SenderSession& sender, const String& from, const String& replyTo,
                   const String& to, const String& cc, const String& bcc, const String& subject,
                   const std::string& body, long count, const String& url,
                   const SendDriverOptions& s, const String& errorsTo) {
    for (long copy = 0; copy < count; ++copy) {
        std::time_t startSeconds = std::time(nullptr);
        std::clock_t startClock = std::clock();
        int result = sender.sendMessage(from, replyTo, to, subject, body.data(), body.size(), url,
                                        cc, bcc, errorsTo);
        if (result < 1) {
            std::fprintf(stderr, "Could not send:  error= %s\n", describeError(sender.failureCode(result)).c_str());
            std::fprintf(stderr, "Status: %s\n", replyText(sender).c_str());
            return 0;
        }
        if (s.verbose == 1 && !s.quiet) {
            std::printf("%s: %s\n", s.labels.to.c_str(), to.c_str());
            std::printf("%s: %s\n", s.labels.cc.c_str(), cc.c_str());
            std::printf("%s: %s\n", s.labels.bcc.c_str(), bcc.c_str());
            std::printf("%s: %s\n", s.labels.from.c_str(), from.c_str());
            std::printf("%s: %s\n", s.labels.subject.c_str(), subject.c_str());
        }
        long elapsedMs = 1000L * static_cast<long>(std::time(nullptr) - startSeconds);
        if (elapsedMs == 0) elapsedMs = static_cast<long>((std::clock() - startClock) * 1000 / CLOCKS_PER_SEC);
        if (elapsedMs == 0) elapsedMs = 1;
        if (!s.quiet) {
            std::ostringstream line;
            line << "Sent " << sender.bytesSent() << " bytes in";
            if (s.kbs) {
                double seconds = elapsedMs * 0.001;
                double rate = static_cast<double>(sender.bytesSent()) / elapsedMs / 1024 * 1000;
                line << " " << seconds << " seconds (" << rate << " KB/s)";
            }
            if (sender.attachmentCount() > 0) line << " with " << sender.attachmentCount() << " attachments ";
            line << "to '" << to.str() << "' " << localTimeText() << "\n";
            std::fputs(line.str().c_str(), stdout);
            std::fflush(stdout);
        }
    }
    return 1;
}

int runSendDriver(const SendDriverOptions& s, SenderSession& sender, SmtpSession* smtpObject,
                  QmtpSession* qmtpObject, NntpSession* nntpObject) {
    // 1. The -file: names of this run; the no-stop and no-archive flags for the network senders.
    std::vector<String> files = s.files;
    if (nntpObject) nntpObject->setNoArchive(s.noArchive);
    if (smtpObject) smtpObject->setSkipRefused(s.noStop);
    if (qmtpObject) qmtpObject->setSkipRefused(s.noStop);
    sender.timeout = s.timeoutSeconds;

    // 2. A missing attachment stops the run unless -ns was given (the warning was written).
    if (s.missingAttachments > 0 && !s.noStop) return kExitFailed;

    // 3. CGI mode: end the response headers (the result page head belongs to the CGI pages).
    if (s.cgiMode) {
        std::fputs("\r\n", stdout);
        std::fflush(stdout);
        if (s.hooks.writeCgiHead) s.hooks.writeCgiHead();
    }

    const bool readyMade = s.importMode || s.recipientsFromHeaders;
    // 4.-6. Checks.
    if (s.from.empty() && s.etrnDomain.empty() && !readyMade) {
        stop("Missing from address");
        return kExitFailed;
    }
    if (s.verify && !plausibleAddress(s.from)) {
        stop("Invalid email address: '" + s.from.str() + "'");
        return kExitFailed;
    }
    if (s.to.empty() && s.etrnDomain.empty() && !readyMade) {
        stop("Missing to address");
        return kExitFailed;
    }
    // 7. The message file must exist.
    if (!s.messageFile.empty() && !fileExists(s.messageFile)) {
        stop("Missing data file: " + s.messageFile.str());
        return kExitFailed;
    }

    // 8. The body.
    std::string text = s.messageText.str();
    String url = s.url;
    // Ready-made Internet messages from files or standard input are read while they are sent,
    // so that a batch of any size is never held in memory.
    const bool streamed = s.recipientsFromHeaders && !s.importMode && !s.cgiMode && text.empty() &&
                          (!s.messageFile.empty() || !s.noMessageBody);
    BatchStreams streams;
    if (streamed && !s.messageFile.empty()) {
        for (const String& name : files) {
            std::FILE* f = std::fopen(name.c_str(), "rb");
            if (!f) {
                stop("Missing data file: " + name.str());
                return kExitFailed;
            }
            streams.files.push_back(f);
        }
    } else if (streamed) {
        if (!s.quiet) std::fprintf(stderr, "Enter message text...\n");
        streams.files.push_back(stdin);
    } else if (s.messageFile.empty() && text.empty() && !s.noMessageBody) {
        if (s.cgiMode) {
            stop("No message body (either file or post)");
            return kExitFailed;
        }
        if (!s.quiet) std::fprintf(stderr, "Enter message text...\n");
        std::string line;
        int c;
        while ((c = std::getchar()) != EOF) {
            if (c == '\n') {
                if (!line.empty() && line.back() == '\r') line.pop_back();
                text += line;
                text += "\r\n";
                line.clear();
            } else {
                line += static_cast<char>(c);
            }
        }
        if (!line.empty()) {
            if (line.back() == '\r') line.pop_back();
            text += line;
            text += "\r\n";
        }
    }
    // The header goes before the text later on; the room for it and for every file is taken
    // now, so that the body exists once in memory, however large the files are.
    const bool headerFirst = !s.html && !readyMade;
    if (!s.messageFile.empty() && !streamed) {
        size_t room = text.size() + (headerFirst ? s.header.length() : 0);
        for (const String& name : files) {
            room += 2;
            if (!normalisedLength(name, room)) {
                stop("Missing data file: " + name.str());
                return kExitFailed;
            }
        }
        text.reserve(room);
        for (const String& name : files) {
            if (!text.empty() && text.back() != '\n') text += "\r\n";
            if (!appendFileNormalised(name, text)) {
                stop("Missing data file: " + name.str());
                return kExitFailed;
            }
            if (s.uuencode) url = name;
        }
    }

    // 9.-10. Server choice: the SMTP host (the NNTP host in news mode), or with direct delivery
    // the exchangers of the first recipient's domain (tried in order of preference).
    String host = s.newsMode ? s.nntpHost : s.smtpHost;
    std::vector<std::pair<String, int>> exchangers;
    size_t nextExchanger = 0;
    int preference = 0;
    if (s.directMx) {
        String domain = addressDomain(bareAddress(splitRecipientText(s.to, 1).empty()
                                                      ? String()
                                                      : splitRecipientText(s.to, 1)[0]));
        if (s.verbose && !s.quiet) std::printf("Check MX priority=%d\n", -1);
        if (isDottedAddress(domain)) {
            exchangers.emplace_back(domain, 0);
        } else if (!readyMade) {
            if (!s.hooks.routeDomain) {
                stop("Could not route to domain: " + domain.str());
                return kExitFailed;
            }
            if (s.hooks.routeDomain(domain, exchangers) < 1 || exchangers.empty()) {
                if (exchangers.empty()) stop("Could not route to domain: " + domain.str());
                return kExitFailed;
            }
        }
        if (!exchangers.empty()) {
            host = exchangers[0].first;
            preference = exchangers[0].second;
            nextExchanger = 1;
        }
    }

    // 11.-13. Connect with retries, then the next exchanger.
    bool connected = false;
    String port;
    if (!(s.directMx && readyMade)) {
        int retries = s.retries;
        while (true) {
            if (s.verbose && !s.quiet)
                std::printf("[%s] MX/A server (%d) = '%s'\n", s.dnsServerHost.c_str(), preference, host.c_str());
            String certificate = (!s.cert.empty() && (s.ssl || s.tls)) ? s.cert : String();
            String target = host;
            port = s.port;
            int result = sender.connectSession(target, port, s.level, certificate);
            if (result >= 1) {
                connected = true;
                break;
            }
            std::fprintf(stderr, "Could not connect to server: %s:%s, error= %s\n", target.c_str(),
                         port.c_str(), describeError(sender.failureCode(result)).c_str());
            if (sender.openCount > 0) sender.close();
            if (retries > 0) {
                --retries;
                continue;
            }
            if (s.directMx && nextExchanger < exchangers.size()) {
                host = exchangers[nextExchanger].first;
                preference = exchangers[nextExchanger].second;
                ++nextExchanger;
                continue;
            }
            return kExitFailed;
        }
    }

    // 14. Login.
    if (!s.user.empty()) {
        if (sender.authenticate(s.user, s.password) < 1) {
            stop("Login failed: " + replyText(sender));
            sender.disconnect();
            return kExitFailed;
        }
    }
    // 15.
    if (s.verbose && connected) std::printf("Connected to '%s:%s'\n", host.c_str(), port.c_str());

    // 16. The activity.
    if (!s.etrnDomain.empty() && !s.qmtpSender) {
        if (s.smtpSender && smtpObject) {
            int result = smtpObject->requestQueueRun(s.etrnDomain);
            if (s.verbose && !s.quiet) std::printf("ETRN %s: %s\n", s.etrnDomain.c_str(), replyText(sender).c_str());
            if (result < 1) std::fprintf(stderr, "ETRN refused: %s\n", replyText(sender).c_str());
        }
    } else if (readyMade) {
        BatchText batch = streamed ? BatchText(streams.files) : BatchText(std::string_view(text));
        if (!s.hooks.sendBatch || s.hooks.sendBatch(sender, batch) < 1) {
            if (!s.hooks.sendBatch) stop("Ready-made messages are not supported in this build");
            if (sender.openCount > 0) sender.disconnect();
            return kExitFailed;
        }
    } else {
        // In place: the room was reserved above, so the body is not copied.
        if (headerFirst) text.insert(0, s.header.view());
        if (!sendWithStatus(sender, s.from, s.replyTo, s.to, s.cc, s.bcc, s.subject, text, s.messageCount, url, s)) {
            if (sender.hasSessionToClose()) sender.disconnect();
            return kExitFailed;
        }
    }

    // 17. Finish.
    sender.releaseFiles(s.rm);
    if (s.rm)
        for (const String& name : files) std::remove(name.c_str());
    if (s.rmList) {
        for (const String* list : {&s.toListFile, &s.ccListFile, &s.bccListFile}) {
            if (list->empty()) continue;
            if (s.verbose > 1)
                std::printf("REMOVE '%s' file: %s line: %d\n", list->c_str(), __FILE__, __LINE__);
            std::remove(list->c_str());
        }
    }
    if (sender.hasSessionToClose()) {
        sender.disconnect();
        if (s.verbose) std::printf("Disconnected\n");
    }
    return kExitOk;
}

} // namespace qarvel
