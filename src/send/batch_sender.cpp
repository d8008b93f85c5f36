// The batch sender: every message of a text of ready-made messages, sent in turn.
#include "send/batch_sender.h"

#include <cerrno>
#include <cstdio>

#include "send/addresses.h"
#include "send/mx_delivery.h"
#include "send/sender_session.h"
#include "net/winsock_error.h"

namespace qarvel {

namespace {

// An attachment name from a web request loses its folder part and is looked up in the
// request's own folder.
String confinedPath(const String& folder, const String& name) {
    std::string_view n = name.view();
    size_t cut = n.find_last_of("/\\");
    if (cut != std::string_view::npos) n.remove_prefix(cut + 1);
    if (n.empty() || n.compare(".") == 0 || n.compare("..") == 0) return String();
    return folder + "/" + String(n);
}

void addAttachments(SenderSession& sender, const BatchMessage& message, const BatchOptions& o,
                    int* missing) {
    for (const BatchAttachment& a : message.attachments) {
        String path = o.confinedFolder.empty() ? a.file : confinedPath(o.confinedFolder, a.file);
        errno = ENOENT;
        if (sender.addAttachment(path, a.name, a.related) >= 1) continue;
        std::fprintf(stderr, "WARNING: %s '%s' does not exist! (%d)\n",
                     a.related ? "object" : "attachment", a.file.c_str(), errno);
        if (missing) ++*missing;
    }
}

// The first address of a recipient list, as the domain lookup wants it.
String firstAddress(const String& list) {
    std::vector<String> entries = splitRecipientText(list, 1);
    return entries.empty() ? String() : bareAddress(entries[0]);
}

// Connects the sender to host, retrying while the retry counter lasts. Returns the last
// connect result.
int connectWithRetries(SenderSession& sender, const String& host, const String& port,
                       const BatchOptions& o) {
    String certificate = (!o.cert.empty() && (o.ssl || o.tls)) ? o.cert : String();
    int retries = o.retries;
    while (true) {
        int result = sender.connectSession(host, port, o.level, certificate);
        if (result >= 1) return result;
        std::fprintf(stderr, "Could not connect to server: %s:%s, error= %s\n", host.c_str(),
                     port.c_str(), describeError(sender.failureCode(result)).c_str());
        if (sender.openCount > 0) sender.close();
        if (retries-- <= 0) return result;
    }
}

// Direct delivery of one message: the exchangers of its first recipient's domain, tried in
// order of preference. Returns true when the sender is connected.
bool route(SenderSession& sender, const BatchMessage& message, BatchOptions& o) {
    String domain = addressDomain(firstAddress(message.to));
    Exchangers exchangers;
    if (isDottedAddress(domain)) {
        exchangers.emplace_back(domain, 0);
    } else {
        std::fprintf(stderr, "Trying %s\n", o.dnsServerHost.c_str());
        MxRouteRequest request;
        request.dnsServer = o.dnsServerHost;
        request.fallbackServer = o.fallbackDnsServer;
        request.datagram = o.dnsUdp != 0;
        request.verbose = o.status.verbose != 0;
        request.quiet = o.status.quiet != 0;
        lookUpExchangers(domain, request, exchangers);
        if (exchangers.empty()) {
            std::fprintf(stderr, "Could not get MX: '%s'\n", domain.c_str());
            return false;
        }
    }
    const String& port = o.newsMode ? o.nntpPort : o.smtpPort;
    for (const auto& [host, preference] : exchangers) {
        if (!o.status.quiet) std::printf("MX server (%d) = '%s'\n", preference, host.c_str());
        if (connectWithRetries(sender, host, port, o) >= 1) return true;
    }
    return false;
}

// The body of the message being sent, handed to the sender while it goes out.
class BodyPieces : public ReadyMadePieces {
public:
    explicit BodyPieces(BatchFileReader& reader) : reader_(reader) {}
    bool nextPiece(std::string_view& piece, bool& lineEnds) override {
        return reader_.bodyPiece(piece, lineEnds);
    }

private:
    BatchFileReader& reader_;
};

// While alive the sender takes the rest of the message from the reader.
class RestFromReader {
public:
    RestFromReader(SenderSession& sender, BodyPieces& pieces) : sender_(sender) {
        sender_.setReadyMadeRest(&pieces);
    }
    ~RestFromReader() { sender_.setReadyMadeRest(nullptr); }
    RestFromReader(const RestFromReader&) = delete;
    RestFromReader& operator=(const RestFromReader&) = delete;

private:
    SenderSession& sender_;
};

} // namespace

int runBatch(SenderSession& sender, BatchText& text, BatchOptions& o, int* missing) {
    const bool keywords = o.layout == BatchLayout::kKeywords;
    BatchFileReader reader(text, o.layout, !o.relayHost.empty(), o.book);
    BodyPieces rest(reader);
    BatchMessage m;
    int handled = 0;
    int seen = 0;
    int failed = 0;
    // A session the run opened before the batch is opened again when a message loses it.
    const bool sessionGiven = sender.openCount > 0;
    while (reader.next(m)) {
        ++seen;
        if (!o.to.empty()) {
            m.to = o.to;
            m.cc = String();
            m.bcc = String();
        }
        if (!o.cc.empty()) {
            m.cc = o.cc;
            m.bcc = String();
        }
        if (!o.bcc.empty()) m.bcc = o.bcc;

        if (keywords) {
            const char* missingField = m.from.empty() ? "from address"
                                       : m.to.empty() ? "to address"
                                       : m.body.empty() ? "message body"
                                                        : nullptr;
            if (missingField) {
                std::fprintf(stderr, "Missing %s, line: %ld\n", missingField, m.lastLine);
                ++handled;
                continue;
            }
            addAttachments(sender, m, o, missing);
        } else if (o.strict && !o.newsMode && m.to.empty() && m.cc.empty() && m.bcc.empty()) {
            // Nobody to deliver to: the server never sees it. The position is where it ends.
            std::string_view piece;
            bool lineEnds;
            while (reader.bodyPiece(piece, lineEnds)) {}
            std::fprintf(stderr, "Missing to address, line: %ld\n", reader.lineNumber());
            ++failed;
            continue;
        }

        bool routed = false;
        if (o.directMx) {
            routed = true;
            route(sender, m, o);
        } else if (sessionGiven && sender.openCount < 1 && !o.host.empty()) {
            // The session of the run was lost with an earlier message: this one gets a new one.
            connectWithRetries(sender, o.host, o.port, o);
        }

        // A message's own Importance and Date replace the run's; its Organization only when
        // it has one.
        MessageStyle& style = sender.style();
        style.priority = importancePriority(m.importance);
        if (!m.organization.empty()) style.organization = m.organization;
        style.date = m.date;

        std::string body;
        if (keywords) {
            body = std::move(m.body);
        } else {
            if (!o.relayHost.empty() && o.newsMode) body = "Newsgroups: " + m.to.str() + "\r\n";
            body += m.body;
            if (o.count > 1) {
                // Every copy needs the whole text: this message is kept in memory.
                std::string_view piece;
                bool lineEnds;
                while (reader.bodyPiece(piece, lineEnds)) {
                    body.append(piece);
                    if (lineEnds) body += "\r\n";
                }
            }
        }
        int sent;
        {
            RestFromReader streamed(sender, rest);
            sent = sendWithStatus(sender, m.from, m.replyTo, m.to, m.cc, m.bcc, m.subject, body,
                                  o.count, String(), o.status);
        }
        sender.releaseFiles(sent && o.rm);
        if (routed && sender.openCount > 0) sender.disconnect();
        if (sent) ++handled;
        else ++failed;
    }
    if (text.failed()) {
        std::fputs("Could not read the message text to its end\n", stderr);
        ++failed;
    }
    if (seen == 0) std::fputs("No message in the message text\n", stderr);
    // Under -strict a ready-made message that did not go out fails the run, after the others.
    if (o.strict && !keywords && failed > 0) return 0;
    return handled;
}

} // namespace qarvel
