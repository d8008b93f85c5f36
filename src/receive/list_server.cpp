// ListServer: the answers to the messages of a mailing list's mailbox.
#include "receive/list_server.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "base/md5.h"
#include "base/temp_file.h"
#include "base/text.h"
#include "receive/header_display.h"
#include "receive/list_request.h"
#include "receive/mailbox_reader.h"
#include "receive/attachment_file.h"
#include "receive/message.h"
#include "send/send_driver.h"
#include "send/sender_session.h"

namespace qarvel {

namespace {

// The media type of a part: its content type up to the first ";", blanks trimmed.
std::string partMediaType(const MessagePart& part) {
    std::string type = part.contentType.str();
    type = type.substr(0, type.find(';'));
    while (!type.empty() && (type.back() == ' ' || type.back() == '\t')) type.pop_back();
    return type;
}

bool writtenAsText(const MessagePart& part, bool textMode) {
    std::string type = partMediaType(part);
    for (char& c : type) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return textMode || type.compare(0, 4, "text") == 0 || type == "message/rfc822";
}

// The first value of one of the message's own header fields (not a part's), trimmed.
String ownHeader(const Message& message, const char* name) {
    const size_t own = std::min(message.ownHeaderLines, message.headers.size());
    for (size_t i = 0; i < own; ++i) {
        if (!message.headers[i].first.equalsIgnoreCase(name)) continue;
        std::string_view v = skipBlanks(message.headers[i].second.view());
        while (!v.empty() && std::isspace(static_cast<unsigned char>(v.back()))) v.remove_suffix(1);
        return String(v);
    }
    return String();
}

// Names a contribution for the progress file: its Message-ID, else a digest of what it says.
String contributionKey(MailboxReader& reader, const String& sender, const String& subject) {
    std::string id = ownHeader(reader.message(), "Message-ID").str();
    id.erase(std::remove_if(id.begin(), id.end(), [](char c) { return c == '\r' || c == '\n'; }), id.end());
    if (!id.empty()) return String("message-id " + id);
    std::string all = sender.str() + "\n" + subject.str() + "\n";
    all.append(reader.body(), reader.bodyLength());
    return String("digest ") + md5Hex(String(all));
}

// The real path of an existing regular file, or "" when there is none.
std::string regularFile(const std::string& path) {
    char resolved[PATH_MAX];
    if (!::realpath(path.c_str(), resolved)) return std::string();
    struct stat st;
    if (::stat(resolved, &st) != 0 || !S_ISREG(st.st_mode)) return std::string();
    return resolved;
}

// The subscribers still without the contribution, a transaction's worth at a time, with room
// for one transaction read ahead while the one before it is sent.
class SubscriberChunks {
public:
    SubscriberChunks(SubscriberStream& stream, const DistributionProgress& progress, size_t per)
        : stream_(stream), progress_(progress), per_(per) {}

    // The next transaction's subscribers (the ones read ahead, if any): empty at the end.
    void next(std::vector<String>& chunk) {
        if (haveAhead_) chunk.swap(ahead_);
        else fill(chunk);
        haveAhead_ = false;
    }
    // Reads the transaction after the one in hand: false when there is none.
    bool readAhead() {
        if (haveAhead_ || read_ <= 0) return false;
        fill(ahead_);
        haveAhead_ = true;
        return !ahead_.empty();
    }
    const std::vector<String>& ahead() const { return ahead_; }
    bool failed() const { return read_ < 0; }
    // Subscribers read so far, reached or not.
    size_t total() const { return total_; }
    // Every subscriber after the transaction in hand that has not got the contribution.
    void rest(const std::function<void(const String&)>& each) {
        if (haveAhead_)
            for (const String& a : ahead_) each(a);
        haveAhead_ = false;
        String address;
        while (read_ > 0 && (read_ = stream_.next(address)) > 0) {
            ++total_;
            if (!progress_.reached(address)) each(address);
        }
    }

private:
    void fill(std::vector<String>& into) {
        into.clear();
        String address;
        while (into.size() < per_ && (read_ = stream_.next(address)) > 0) {
            ++total_;
            if (!progress_.reached(address)) into.push_back(address);
        }
    }

    SubscriberStream& stream_;
    const DistributionProgress& progress_;
    const size_t per_;
    std::vector<String> ahead_;
    bool haveAhead_ = false;
    int read_ = 1;
    size_t total_ = 0;
};

String joinedAddresses(const std::vector<String>& addresses) {
    String joined;
    for (const String& a : addresses) joined += (joined.empty() ? "" : ",") + a;
    return joined;
}

} // namespace

ListServer::ListServer(const ReceiveOptions& options, SenderSession* sender)
    : o_(options), sender_(sender), subscribers_(options.addresses.toListFile) {
    listAddress_ = o_.addresses.listAddress.empty() ? o_.receive.user + "@" + o_.host : o_.addresses.listAddress;
    // A subscriber the server refuses must not hold back the others.
    if (sender_) sender_->setSkipRefused(true);
}

ListServer::~ListServer() {
    if (!sender_) return;
    if (sender_->hasSessionToClose()) sender_->disconnect();
    sender_->style().extraHeaders = o_.content.extraHeaders;
}

void ListServer::setListHeader(const std::string& lines) {
    std::string block = o_.content.extraHeaders.str();
    if (!block.empty() && block.back() != '\n') block += "\r\n";
    sender_->style().extraHeaders = String(block + lines);
}

void ListServer::log(const char* marker, const std::string& detail) const {
    std::printf("%s%s%s\n", o_.receive.user.c_str(), marker, detail.c_str());
    std::fflush(stdout);
}

bool ListServer::connect() {
    if (!sender_) {
        std::fputs("No sender available\n", stderr);
        return false;
    }
    // The file sender has no connection to count: it opens its file again for each copy.
    if (sender_->isOpen()) return true;
    return openSession(*sender_, o_.servers.smtpHost, o_.fileSender ? String() : o_.smtpPort) >= 1;
}

ListServer::Answer ListServer::reply(const String& to, const String& subject, const std::string& text,
                                     const String& attachment) {
    if (!connect()) return Answer::kNotSent;
    // An answer made by a program: responders must not answer it in turn (RFC 3834).
    setListHeader("X-Loop: " + listAddress_.str() + "\r\nAuto-Submitted: auto-replied\r\n");
    if (!attachment.empty()) sender_->addAttachment(attachment, attachment.filePart(), false);
    SendDriverOptions status;
    status.tools = o_.tools;
    status.showRate = o_.receive.showRate;
    int sent = sendWithStatus(*sender_, listAddress_, String(), to, String(), String(), subject,
                              text, 1, String(), status);
    sender_->releaseFiles(false);
    if (sent) return Answer::kSent;
    // Refused for good: the server, still there, said 5xx to the recipient or to the data.
    const bool forGood = sender_->isOpen() && sender_->replyLine()[0] == '5' &&
                         (sender_->messageSent() || !sender_->recipientVerdicts().refused.empty());
    // A session that failed is opened afresh for the next reply.
    sender_->disconnect();
    return forGood ? Answer::kRefused : Answer::kNotSent;
}

int ListServer::outcome(Answer answer, const String& sender) const {
    switch (answer) {
    case Answer::kSent: return kListHandled;
    case Answer::kRefused:
        // Asking again would only be refused again, by every run.
        std::fprintf(stderr, "The answer to %s was refused for good: the request is given up\n", sender.c_str());
        return kListHandled;
    case Answer::kNotSent: return kListKept;
    case Answer::kNotRecorded: return kListStop;
    }
    return kListStop;
}

bool ListServer::looped(const Message& message, const String& from) const {
    if (findAddress({listAddress_}, senderAddress(from)) >= 0) return true;
    const size_t own = std::min(message.ownHeaderLines, message.headers.size());
    for (size_t i = 0; i < own; ++i)
        if (message.headers[i].first.equalsIgnoreCase("X-Loop") &&
            findAddress({listAddress_}, message.headers[i].second) >= 0)
            return true;
    return false;
}

bool ListServer::returnedFromList(const Message& message, std::string_view report) const {
    for (size_t i = std::min(message.ownHeaderLines, message.headers.size()); i < message.headers.size(); ++i)
        if (message.headers[i].first.equalsIgnoreCase("X-Loop") &&
            findAddress({listAddress_}, message.headers[i].second) >= 0)
            return true;
    // Returned header lines given as text (text/rfc822-headers, or a report in plain text).
    for (size_t pos = 0; pos < report.size();) {
        size_t end = std::min(report.find('\n', pos), report.size());
        std::string_view line = report.substr(pos, end - pos);
        pos = end + 1;
        if (startsWithNoCase(line, "X-Loop:") && findAddress({listAddress_}, String(line.substr(7))) >= 0) return true;
    }
    return false;
}

int ListServer::handle(MailboxReader& reader) {
    // The message's own header lines: a delivery report carries the returned message inside
    // it, whose From and Subject must not be taken for the report's.
    const Message& message = reader.message();
    String from = ownHeader(message, "From");
    String subject = ownHeader(message, "Subject");
    ListRequest request = judgeListRequest(subject, from, o_.receive.listManual != 0, o_.receive.fetchFolder);
    if (request == ListRequest::kHelp) return kListHandled;
    if (request == ListRequest::kBounce) return outcome(bounce(reader, from), from);
    if (looped(message, from)) {
        log("/circular: ", senderAddress(from).str());
        return kListHandled;
    }
    if (request == ListRequest::kDistribution) return distribute(reader, from, subject);
    // An answer goes to one address, the one the request came from, and only a clean one
    // ever reaches the subscriber file.
    String sender;
    if (!requestAddress(from, sender)) {
        log("/unknown or invalid: ", subject.str());
        return kListHandled;
    }
    switch (request) {
    case ListRequest::kSubscribe: return outcome(subscribe(sender), sender);
    case ListRequest::kUnsubscribe: return outcome(unsubscribe(sender), sender);
    case ListRequest::kFetch: return outcome(fetch(sender, subject), sender);
    case ListRequest::kIndex: return outcome(index(sender, subject), sender);
    default: return kListHandled;
    }
}

ListServer::Answer ListServer::subscribe(const String& sender) {
    bool already = false;
    int written = subscribers_.update([&](std::vector<String>& list) {
        already = findAddress(list, sender) >= 0;
        if (!already) list.push_back(sender);
        return !already;
    });
    if (written < 0) return Answer::kNotRecorded;  // keep the request for the next run
    Answer sent = already ? reply(sender, "RE: subscribe", "You are already subscribed!")
                          : reply(sender, "RE: subscribe",
                                  "To be removed from this list reply to this message with a subject of just 'unsubscribe'");
    log(already ? "/subscribe (ignored): " : "/subscribe: ", sender.str());
    return sent;
}

ListServer::Answer ListServer::unsubscribe(const String& sender) {
    bool removed = false;
    int written = subscribers_.update([&](std::vector<String>& list) {
        long at = findAddress(list, sender);
        removed = at >= 0;
        if (removed) list.erase(list.begin() + at);
        return removed;
    });
    if (written < 0) return Answer::kNotRecorded;
    Answer sent = removed ? reply(sender, "RE: unsubscribe",
                                  "To be added back to this list reply to this message with a subject of just 'subscribe'")
                          : reply(sender, "RE: unsubscribe", "You were not subscribed!");
    log(removed ? "/unsubscribe: " : "/unsubscribe (ignored): ", sender.str());
    return sent;
}

ListServer::Answer ListServer::bounce(MailboxReader& reader, const String& from) {
    const Message& message = reader.message();
    const String sender = senderAddress(from);
    // The delivery status is usually a part of its own: read the body and every part.
    std::string report(reader.body(), reader.bodyLength());
    while (const MessagePart* part = reader.nextPart()) {
        report += "\n";
        report += part->data.head(1u << 20);
    }
    // Only a real delivery report about a copy the list sent may remove anybody, and then only
    // the one address it names.
    String failed;
    if (!isDeliveryReport(ownHeader(message, "Content-Type"), from) || !returnedFromList(message, report) ||
        !failedRecipient(report, failed)) {
        log("/undelivered: ", sender.str());
        return Answer::kSent;
    }
    bool removed = false;
    int written = subscribers_.update([&](std::vector<String>& list) {
        long at = findAddress(list, failed);
        removed = at >= 0;
        if (removed) list.erase(list.begin() + at);
        return removed;
    });
    if (written < 0) return Answer::kNotRecorded;
    log(removed ? "/undelivered (unsubscribed): " : "/undelivered (ignored): ", failed.str());
    return Answer::kSent;
}

ListServer::Answer ListServer::fetch(const String& sender, const String& subject) {
    String name = fetchedName(subject);
    if (name.empty()) {
        log("/unknown: ", subject.str());
        return Answer::kSent;
    }
    String replySubject = "RE: " + subject;
    Answer sent;
    if (leavesFolder(name)) {
        sent = reply(sender, replySubject, "SORRY, can't do that: " + name.str());
    } else {
        char resolvedFolder[PATH_MAX];
        std::string root = ::realpath(o_.receive.fetchFolder.c_str(), resolvedFolder) ? resolvedFolder : "";
        std::string file = root.empty() ? std::string() : regularFile(root + "/" + name.str());
        // A link may point anywhere: only what really lies inside the folder is sent.
        if (file.empty() || file.compare(0, root.size() + 1, root + "/") != 0)
            sent = reply(sender, replySubject, "UNKNOWN FILE - '" + name.str() + "'");
        else
            sent = reply(sender, replySubject, "OK - '" + name.str() + "'", String(file));
    }
    log("/fetch: ", sender.str() + " who " + name.str());
    return sent;
}

ListServer::Answer ListServer::index(const String& sender, const String& subject) {
    namespace fs = std::filesystem;
    std::vector<std::pair<std::string, fs::path>> files;
    std::error_code error;
    fs::path root(o_.receive.fetchFolder.str());
    for (fs::recursive_directory_iterator it(root, fs::directory_options::skip_permission_denied, error), end;
         !error && it != end; it.increment(error)) {
        if (!it->is_regular_file(error)) continue;
        files.emplace_back(it->path().lexically_relative(root).generic_string(), it->path());
    }
    std::sort(files.begin(), files.end());
    std::string text = "FILE INDEX:\r\n\r\n";
    for (const auto& [name, path] : files) {
        struct stat st;
        if (::stat(path.c_str(), &st) != 0) continue;
        text += indexLine(String(name), st.st_size, st.st_mtime).view();
    }
    Answer sent = reply(sender, "RE: " + subject, text);
    log("/index: ", sender.str() + " from " + listAddress_.str());
    return sent;
}

// The attachments of a contribution, passed on under their own names: each is written into a
// folder of this run's own (so no file of the same name is ever overwritten), and all are
// removed when the distribution ends.
class ContributionFiles {
public:
    ContributionFiles(SenderSession* sender, const String& workingFolder)
        : sender_(sender), workingFolder_(workingFolder) {}
    ~ContributionFiles() {
        if (sender_) sender_->releaseFiles(false);
        for (const String& f : written_) std::remove(f.c_str());
        if (!folder_.empty()) ::rmdir(folder_.c_str());
    }
    ContributionFiles(const ContributionFiles&) = delete;
    ContributionFiles& operator=(const ContributionFiles&) = delete;

    // Writes the part and attaches it to the copies; false when it could not be written.
    bool add(MessagePart& part, bool textMode) {
        if (folder_.empty()) folder_ = makeTempFolder(workingFolder_, "qarvel-list-");
        String file = part.fileName;
        if (folder_.empty() || !sender_ ||
            writeAttachment(String(folder_), file, part, writtenAsText(part, textMode), true) < 1)
            return false;
        written_.push_back(String(folder_) + "/" + file);
        sender_->addAttachment(written_.back(), String(), false);
        return true;
    }

private:
    SenderSession* sender_;
    String workingFolder_;
    std::vector<String> written_;
    std::string folder_;
};

bool ListServer::gatherContribution(MailboxReader& reader, const String& subject, std::string& text,
                                    ContributionFiles& files) {
    text.assign(reader.body(), reader.bodyLength());
    while (MessagePart* part = reader.nextPart()) {
        if (part->fileName.empty()) {
            text += "\r\n";
            text += part->data.head(part->size());
        } else if (!o_.receive.showAttachments) {
            text += "\r\nAttachment deleted: " + part->fileName.str();
        } else if (!files.add(*part, o_.content.textAttachments)) {
            std::fprintf(stderr, "The contribution '%s' is kept: its attachment '%s' could not be written\n",
                         subject.c_str(), part->fileName.c_str());
            return false;
        }
    }
    return true;
}

void ListServer::setCopyHeader(const Message& contribution) {
    const std::string list = listAddress_.str();
    std::string id = list;
    std::replace(id.begin(), id.end(), '@', '.');
    setListHeader("List-Id: <" + id + ">\r\nList-Post: <mailto:" + list + ">\r\nList-Unsubscribe: <mailto:" + list +
                  "?subject=unsubscribe>\r\nX-Loop: " + list + "\r\n");
    // A copy is the contribution passed on: it keeps its Message-ID, so that replies and
    // threads find it.
    sender_->style().keptMessageId = ownHeader(contribution, "Message-ID");
}

int ListServer::distribute(MailboxReader& reader, const String& from, const String& subject) {
    ContributionFiles files(sender_, o_.workingFolder);
    std::string text;
    if (!gatherContribution(reader, subject, text, files)) return kListStop;

    // The subscribers are read a transaction's worth at a time; those the progress file
    // names already have this contribution.
    SubscriberStream stream(o_.addresses.toListFile);
    DistributionProgress progress(o_.addresses.toListFile, contributionKey(reader, from, subject));
    progress.load();
    // -limit: subscribers per transaction, else 100: the unit in which progress is recorded.
    const size_t per = static_cast<size_t>(o_.smtp.recipientLimit > 0 ? o_.smtp.recipientLimit : 100);
    SendDriverOptions status;
    status.tools = o_.tools;
    status.showRate = o_.receive.showRate;
    const String replyTo = o_.receive.listPrivate ? o_.addresses.listOwner : String();
    // Delivery reports go to the list's mailbox (or to its owner), never to the contributor.
    const String envelopeSender = o_.addresses.listOwner.empty() ? listAddress_ : o_.addresses.listOwner;
    bool headerSet = false;

    std::vector<String> chunk;
    bool stopped = false, recorded = true;
    SubscriberChunks chunks(stream, progress, per);
    // When a transaction's data ends, the next one's subscribers are read and its envelope
    // promised: a pipelining server gets it in the same write as the final ".". A transaction
    // is recorded only after the server took its data, as before.
    EnvelopePromise promise(*sender_, [&](Envelope& next) {
        if (!chunks.readAhead()) return false;
        next = Envelope{from, replyTo, "!" + listAddress_, String(), joinedAddresses(chunks.ahead()), envelopeSender};
        return true;
    });
    while (!stopped) {
        chunks.next(chunk);
        if (chunks.failed() || (!chunk.empty() && !connect())) stopped = true;
        if (chunk.empty() || stopped) break;
        if (!headerSet) setCopyHeader(reader.message());
        headerSet = true;
        if (!sendWithStatus(*sender_, from, replyTo, "!" + listAddress_, String(), joinedAddresses(chunk), subject, text,
                            1, String(), status, envelopeSender)) {
            stopped = true;
            break;
        }
        if (!progress.add(chunk)) {
            std::fprintf(stderr, "Could not record the distribution in '%s'\n", progress.path().c_str());
            recorded = false;
            stopped = true;
        }
        chunk.clear();
    }
    if (headerSet) sender_->style().keptMessageId = String();
    if (!stopped) {
        progress.finish();
        log("/distribution: ", senderAddress(from).str() + " (" + subject.str() + ")");
        return kListHandled;
    }
    if (sender_ && sender_->isOpen()) sender_->disconnect();
    // Everyone still without the contribution: the transaction in hand, the one read ahead
    // and the rest.
    size_t missed = 0;
    auto notReached = [&missed](const String& a) {
        std::fprintf(stderr, "Not reached: %s\n", a.c_str());
        ++missed;
    };
    for (const String& a : chunk) notReached(a);
    chunks.rest(notReached);
    std::fprintf(stderr, "Distribution of '%s' stopped: %zu of %zu subscribers not reached%s\n",
                 subject.c_str(), missed, chunks.total(), recorded ? "; the next run sends to them" : "");
    return kListStop;
}

} // namespace qarvel
