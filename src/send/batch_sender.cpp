// The batch sender: every message of a text of ready-made messages, sent in turn.
#include "send/batch_sender.h"

#include <cerrno>
#include <cstdio>

#include "base/run_failure.h"
#include "send/addresses.h"
#include "send/mx_delivery.h"
#include "send/sender_session.h"

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

// Direct delivery of one message: the exchangers of its first recipient's domain, tried in
// order of preference. Returns true when the sender is connected; else the cause is noted.
bool route(SenderSession& sender, const BatchMessage& message, BatchOptions& o) {
    String domain = addressDomain(firstAddress(message.to));
    Exchangers exchangers;
    if (isDottedAddress(domain)) {
        exchangers.emplace_back(domain, 0);
    } else {
        const ServerSettings& servers = o.send.servers;
        std::fprintf(stderr, "Trying %s\n", servers.dnsServerHost.c_str());
        MxRouteRequest request;
        request.dnsServer = servers.dnsServerHost;
        request.fallbackServer = servers.discoveredDnsServer;
        request.datagram = servers.dnsOverUdp;
        request.verbose = o.send.tools.verbose != 0;
        request.quiet = o.send.tools.quiet;
        // A name server that could not be asked noted its own cause.
        const int looked = lookUpExchangers(domain, request, exchangers);
        if (exchangers.empty()) {
            if (looked >= 1) noteFailure(Failure::kHostNotFound);
            std::fprintf(stderr, "Could not get MX: '%s'\n", domain.c_str());
            return false;
        }
    }
    const String& port = o.send.smtp.news ? o.send.servers.nntpPort : o.send.servers.smtpPort;
    for (const auto& [host, preference] : exchangers) {
        if (!o.send.tools.quiet) std::printf("MX server (%d) = '%s'\n", preference, host.c_str());
        if (openSession(sender, host, port) >= 1) return true;
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

// What a keyword message lacks to be sent (its first missing field), or null.
const char* keywordGap(const BatchMessage& m) {
    return m.from.empty() ? "from address" : m.to.empty() ? "to address" : m.body.empty() ? "message body" : nullptr;
}

bool hasNoRecipient(const BatchMessage& m) { return m.to.empty() && m.cc.empty() && m.bcc.empty(); }

// Recipients given to the run replace the message's own: to first (with cc and bcc), then cc
// (with bcc), then bcc.
void takeRunRecipients(BatchMessage& m, const AddressSettings& given) {
    if (!given.to.empty()) {
        m.to = given.to;
        m.cc = String();
        m.bcc = String();
    }
    if (!given.cc.empty()) {
        m.cc = given.cc;
        m.bcc = String();
    }
    if (!given.bcc.empty()) m.bcc = given.bcc;
}

// A message's own Importance and Date replace the run's; its Organization only when it has one.
void takeMessageStyle(SenderSession& sender, const BatchMessage& m) {
    MessageStyle& style = sender.style();
    style.priority = importancePriority(m.importance);
    if (!m.organization.empty()) style.organization = m.organization;
    style.date = m.date;
}

// The body given to the sender: a keyword message's whole body; of an Internet message the
// part read so far (the rest streams), or all of it when several copies go out.
std::string messageBody(BatchFileReader& reader, BatchMessage& m, const BatchOptions& o, long count) {
    if (o.layout == BatchLayout::kKeywords) return std::move(m.body);
    std::string body;
    if (!o.send.servers.relayHost.empty() && o.send.smtp.news) body = "Newsgroups: " + m.to.str() + "\r\n";
    body += m.body;
    if (count > 1) {
        // Every copy needs the whole text: this message is kept in memory.
        std::string_view piece;
        bool lineEnds;
        while (reader.bodyPiece(piece, lineEnds)) {
            body.append(piece);
            if (lineEnds) body += "\r\n";
        }
    }
    return body;
}

// The batch's messages in turn, one of them read ahead: when a message's data ends the next is
// read at once and its envelope promised, so that a pipelining server gets it in the same write
// as the final "." (not when each message goes to its own exchanger, nor a message the batch
// would not send).
class MessagesAhead {
public:
    MessagesAhead(BatchFileReader& reader, const BatchOptions& o) : reader_(reader), o_(o) {}

    bool promise(Envelope& next) {
        const bool keywords = o_.layout == BatchLayout::kKeywords;
        if (haveAhead_ || ended_ || o_.send.smtp.news || o_.send.servers.directToMx) return false;
        if (!reader_.next(ahead_)) {
            ended_ = true;
            return false;
        }
        haveAhead_ = true;
        takeRunRecipients(ahead_, o_.send.addresses);
        if (keywords ? keywordGap(ahead_) != nullptr : o_.send.tools.strict && hasNoRecipient(ahead_)) return false;
        next = Envelope{ahead_.from, ahead_.replyTo, ahead_.to, ahead_.cc, ahead_.bcc,
                        keywords ? String() : o_.send.addresses.envelopeSender};
        return true;
    }

    // The next message: the one read ahead, else the reader's next.
    bool next(BatchMessage& m) {
        if (!haveAhead_) return !ended_ && reader_.next(m);
        m = std::move(ahead_);
        haveAhead_ = false;
        return true;
    }

private:
    BatchFileReader& reader_;
    const BatchOptions& o_;
    BatchMessage ahead_;
    bool haveAhead_ = false, ended_ = false;
};

} // namespace

int runBatch(SenderSession& sender, BatchText& text, BatchOptions& o, int* missing) {
    const bool keywords = o.layout == BatchLayout::kKeywords;
    const bool news = o.send.smtp.news, strict = o.send.tools.strict;
    const String& host = o.send.servers.smtpHost;
    const long count = o.send.smtp.sendCount > 0 ? o.send.smtp.sendCount : 1;
    BatchFileReader reader(text, o.layout, !o.send.servers.relayHost.empty(), o.book);
    BodyPieces rest(reader);
    BatchMessage m;
    int handled = 0;
    int seen = 0;
    int failed = 0;
    // A session the run opened before the batch is opened again when a message loses it.
    const bool sessionGiven = sender.isOpen();
    MessagesAhead messages(reader, o);
    EnvelopePromise promise(sender, [&messages](Envelope& next) { return messages.promise(next); });
    while (messages.next(m)) {
        ++seen;
        takeRunRecipients(m, o.send.addresses);

        if (keywords) {
            if (const char* missingField = keywordGap(m)) {
                std::fprintf(stderr, "Missing %s, line: %ld\n", missingField, m.lastLine);
                ++handled;
                continue;
            }
            addAttachments(sender, m, o, missing);
        } else if (strict && !news && hasNoRecipient(m)) {
            // Nobody to deliver to: the server never sees it. The position is where it ends.
            std::string_view piece;
            bool lineEnds;
            while (reader.bodyPiece(piece, lineEnds)) {}
            std::fprintf(stderr, "Missing to address, line: %ld\n", reader.lineNumber());
            noteFailure(Failure::kData);
            ++failed;
            continue;
        }

        bool routed = false;
        // Why this message's server could not be reached: the send that follows fails on a
        // closed session, which says nothing of the cause.
        Failure unreached = Failure::kNone;
        if (o.send.servers.directToMx) {
            routed = true;
            if (!route(sender, m, o)) unreached = notedFailure();
        } else if (sessionGiven && !sender.isOpen() && !host.empty()) {
            // The session of the run was lost with an earlier message: this one gets a new one.
            if (openSession(sender, host, o.port) < 1) unreached = notedFailure();
        }

        takeMessageStyle(sender, m);
        const std::string body = messageBody(reader, m, o, count);
        int sent;
        {
            RestFromReader streamed(sender, rest);
            sent = sendWithStatus(sender, m.from, m.replyTo, m.to, m.cc, m.bcc, m.subject, body,
                                  count, String(), o.send, keywords ? String() : o.send.addresses.envelopeSender);
        }
        if (!sent && unreached != Failure::kNone) noteFailure(unreached);
        sender.releaseFiles(sent && o.send.remove);
        if (routed && sender.isOpen()) sender.disconnect();
        if (sent) ++handled;
        else ++failed;
    }
    if (text.failed()) {
        std::fputs("Could not read the message text to its end\n", stderr);
        noteFailure(Failure::kData);
        ++failed;
    }
    if (seen == 0) {
        std::fputs("No message in the message text\n", stderr);
        noteFailure(Failure::kData);
    }
    // Under -strict a ready-made message that did not go out fails the run, after the others.
    if (strict && !keywords && failed > 0) return 0;
    return handled;
}

} // namespace qarvel
