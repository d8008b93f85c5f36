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
#include "receive/header_display.h"
#include "receive/list_request.h"
#include "receive/mailbox_reader.h"
#include "receive/message.h"
#include "send/file_sender.h"
#include "send/send_driver.h"
#include "send/sender_session.h"
#include "send/smtp_session.h"
#include "net/winsock_error.h"

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

// The first value of a header field (the message's own, before any part's), trimmed.
String topHeader(MailboxReader& reader, const char* name) {
    std::string_view v = reader.message().header(name).view();
    while (!v.empty() && (v.front() == ' ' || v.front() == '\t')) v.remove_prefix(1);
    while (!v.empty() && std::isspace(static_cast<unsigned char>(v.back()))) v.remove_suffix(1);
    return String(v);
}

// Names a contribution for the progress file: its Message-ID, else a digest of what it says.
String contributionKey(MailboxReader& reader, const String& sender, const String& subject) {
    std::string id = topHeader(reader, "Message-ID").str();
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

} // namespace

ListServer::ListServer(const ReceiveOptions& options, SenderSession* sender)
    : o_(options), sender_(sender), subscribers_(options.list.subscriberFile) {
    listAddress_ = o_.list.listAddress.empty() ? o_.user + "@" + o_.host : o_.list.listAddress;
    if (o_.list.recipientsPerTransaction < 1) o_.list.recipientsPerTransaction = 100;
    // A subscriber the server refuses must not hold back the others.
    if (auto* smtp = dynamic_cast<SmtpSession*>(sender_)) smtp->setSkipRefused(1);
}

ListServer::~ListServer() {
    if (sender_ && (sender_->openCount > 0 || dynamic_cast<FileSender*>(sender_))) sender_->disconnect();
}

void ListServer::log(const char* marker, const std::string& detail) const {
    std::printf("%s%s%s\n", o_.user.c_str(), marker, detail.c_str());
    std::fflush(stdout);
}

bool ListServer::connect() {
    if (!sender_) {
        std::fputs("No sender available\n", stderr);
        return false;
    }
    const bool toFile = dynamic_cast<FileSender*>(sender_) != nullptr;
    if (sender_->openCount > 0 && !toFile) return true;
    String port = toFile ? String() : o_.smtpPort;
    int result = sender_->connectSession(o_.smtpHost, port);
    if (result >= 1) return true;
    std::fprintf(stderr, "Could not connect to server: %s:%s, error= %s\n", o_.smtpHost.c_str(),
                 port.c_str(), describeError(sender_->failureCode(result)).c_str());
    if (sender_->openCount > 0) sender_->close();
    return false;
}

bool ListServer::reply(const String& to, const String& subject, const std::string& text,
                       const String& attachment) {
    if (!connect()) return false;
    if (!attachment.empty()) sender_->addAttachment(attachment, attachment.filePart(), false);
    SendDriverOptions status;
    status.quiet = o_.quiet;
    status.verbose = o_.list.verbose;
    status.kbs = o_.kbs;
    int sent = sendWithStatus(*sender_, listAddress_, String(), to, String(), String(), subject,
                              text, 1, String(), status);
    sender_->releaseFiles(false);
    // A session that failed is opened afresh for the next reply.
    if (!sent) sender_->disconnect();
    return sent != 0;
}

int ListServer::handle(MailboxReader& reader) {
    // The message's own header lines: a delivery report carries the returned message inside
    // it, whose From and Subject must not be taken for the report's.
    String from = topHeader(reader, "From");
    String sender = senderAddress(from);
    String subject = topHeader(reader, "Subject");
    switch (judgeListRequest(subject, from, o_.list.manual != 0, o_.list.fetchFolder)) {
    case ListRequest::kHelp:
        return kListHandled;
    case ListRequest::kSubscribe:
        return subscribe(sender, subject);
    case ListRequest::kUnsubscribe:
        return unsubscribe(sender, subject);
    case ListRequest::kBounce:
        return bounce(reader, sender);
    case ListRequest::kFetch:
        return fetch(sender, subject);
    case ListRequest::kIndex:
        return index(sender, subject);
    case ListRequest::kDistribution:
        break;
    }
    return distribute(reader, sender, subject);
}

int ListServer::subscribe(const String& sender, const String& subject) {
    if (sender.find('@') == String::npos) {
        log("/unknown or invalid: ", subject.str());
        return kListHandled;
    }
    if (findAddress({listAddress_}, sender) >= 0) {
        log("/circular: ", sender.str());
        return kListHandled;
    }
    bool already = false;
    int written = subscribers_.update([&](std::vector<String>& list) {
        already = findAddress(list, sender) >= 0;
        if (!already) list.push_back(sender);
        return !already;
    });
    if (written < 0) return kListStop;  // keep the request for the next run
    if (already) {
        reply(sender, "RE: subscribe", "You are already subscribed!");
        log("/subscribe (ignored): ", sender.str());
    } else {
        reply(sender, "RE: subscribe",
              "To be removed from this list reply to this message with a subject of just 'unsubscribe'");
        log("/subscribe: ", sender.str());
    }
    return kListHandled;
}

int ListServer::unsubscribe(const String& sender, const String& subject) {
    if (sender.find('@') == String::npos) {
        log("/unknown or invalid: ", subject.str());
        return kListHandled;
    }
    bool removed = false;
    int written = subscribers_.update([&](std::vector<String>& list) {
        long at = findAddress(list, sender);
        removed = at >= 0;
        if (removed) list.erase(list.begin() + at);
        return removed;
    });
    if (written < 0) return kListStop;
    if (removed) {
        reply(sender, "RE: unsubscribe",
              "To be added back to this list reply to this message with a subject of just 'subscribe'");
        log("/unsubscribe: ", sender.str());
    } else {
        reply(sender, "RE: unsubscribe", "You were not subscribed!");
        log("/unsubscribe (ignored): ", sender.str());
    }
    return kListHandled;
}

int ListServer::bounce(MailboxReader& reader, const String& sender) {
    // The delivery status is usually a part of its own: read the body and every part.
    std::string report(reader.body(), reader.bodyLength());
    while (const MessagePart* part = reader.nextPart()) {
        report += "\n";
        report += part->data.head(1u << 20);
    }
    String failed;
    if (!failedRecipient(report, failed)) {
        log("/undelivered: ", sender.str());
        return kListHandled;
    }
    bool removed = false;
    int written = subscribers_.update([&](std::vector<String>& list) {
        long at = findAddress(list, failed);
        removed = at >= 0;
        if (removed) list.erase(list.begin() + at);
        return removed;
    });
    if (written < 0) return kListStop;
    log(removed ? "/undelivered (unsubscribed): " : "/undelivered (ignored): ", failed.str());
    return kListHandled;
}

int ListServer::fetch(const String& sender, const String& subject) {
    String name = fetchedName(subject);
    if (name.empty()) {
        log("/unknown: ", subject.str());
        return kListHandled;
    }
    String replySubject = "RE: " + subject;
    if (leavesFolder(name)) {
        reply(sender, replySubject, "SORRY, can't do that: " + name.str());
    } else {
        char resolvedFolder[PATH_MAX];
        std::string root = ::realpath(o_.list.fetchFolder.c_str(), resolvedFolder) ? resolvedFolder : "";
        std::string file = root.empty() ? std::string() : regularFile(root + "/" + name.str());
        // A link may point anywhere: only what really lies inside the folder is sent.
        if (file.empty() || file.compare(0, root.size() + 1, root + "/") != 0)
            reply(sender, replySubject, "UNKNOWN FILE - '" + name.str() + "'");
        else
            reply(sender, replySubject, "OK - '" + name.str() + "'", String(file));
    }
    log("/fetch: ", sender.str() + " who " + name.str());
    return kListHandled;
}

int ListServer::index(const String& sender, const String& subject) {
    namespace fs = std::filesystem;
    std::vector<std::pair<std::string, fs::path>> files;
    std::error_code error;
    fs::path root(o_.list.fetchFolder.str());
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
    reply(sender, "RE: " + subject, text);
    log("/index: ", sender.str() + " from " + listAddress_.str());
    return kListHandled;
}

int ListServer::distribute(MailboxReader& reader, const String& sender, const String& subject) {
    String from = topHeader(reader, "From");
    std::string text(reader.body(), reader.bodyLength());
    // The attachments are passed on under their own names: each is written into a folder of
    // this run's own (so no file of the same name is ever overwritten) and removed after.
    std::vector<String> written;
    std::string folder;
    auto removeWritten = [&] {
        if (sender_) sender_->releaseFiles(false);
        for (const String& f : written) std::remove(f.c_str());
        if (!folder.empty()) ::rmdir(folder.c_str());
    };
    while (const MessagePart* part = reader.nextPart()) {
        if (part->fileName.empty()) {
            text += "\r\n";
            text += part->data.head(part->size());
            continue;
        }
        if (o_.list.dropAttachments) {
            text += "\r\nAttachment deleted: " + part->fileName.str();
            continue;
        }
        if (folder.empty()) {
            std::string pattern = o_.workingFolder.str() + "/qarvel-list-XXXXXX";
            if (::mkdtemp(pattern.data())) folder = pattern;
        }
        String file = part->fileName;
        if (folder.empty() || !sender_ ||
            writeAttachment(String(folder), file, *part, writtenAsText(*part, o_.textMode), true) < 1) {
            removeWritten();
            std::fprintf(stderr, "The contribution '%s' is kept: its attachment '%s' could not be written\n",
                         subject.c_str(), part->fileName.c_str());
            return kListStop;
        }
        String path = String(folder) + "/" + file;
        written.push_back(path);
        sender_->addAttachment(path, String(), false);
    }

    std::vector<String> all;
    if (subscribers_.read(all) < 0) {
        removeWritten();
        return kListStop;
    }
    DistributionProgress progress(o_.list.subscriberFile, contributionKey(reader, from, subject));
    progress.load();
    std::vector<String> pending;
    for (const String& a : all)
        if (!progress.reached(a)) pending.push_back(a);

    size_t done = 0;
    bool finished = pending.empty();
    bool recorded = true;
    if (!pending.empty() && connect()) {
        SendDriverOptions status;
        status.quiet = o_.quiet;
        status.verbose = o_.list.verbose;
        status.kbs = o_.kbs;
        String replyTo = o_.list.priv ? o_.list.owner : String();
        const size_t per = static_cast<size_t>(o_.list.recipientsPerTransaction);
        finished = true;
        for (size_t first = 0; first < pending.size(); first += per) {
            std::vector<String> chunk(pending.begin() + static_cast<long>(first),
                                      pending.begin() + static_cast<long>(std::min(pending.size(), first + per)));
            String bcc;
            for (const String& a : chunk) bcc += (bcc.empty() ? "" : ",") + a;
            if (!sendWithStatus(*sender_, from, replyTo, "!" + listAddress_, String(), bcc, subject,
                                text, 1, String(), status)) {
                finished = false;
                break;
            }
            done += chunk.size();
            if (!progress.add(chunk)) {
                std::fprintf(stderr, "Could not record the distribution in '%s'\n", progress.path().c_str());
                recorded = false;
                finished = false;
                break;
            }
        }
    }
    removeWritten();
    if (!finished) {
        if (sender_ && sender_->openCount > 0) sender_->disconnect();
        std::fprintf(stderr, "Distribution of '%s' stopped: %zu of %zu subscribers not reached%s\n",
                     subject.c_str(), pending.size() - done, all.size(),
                     recorded ? "; the next run sends to them" : "");
        for (size_t i = done; i < pending.size(); ++i)
            std::fprintf(stderr, "Not reached: %s\n", pending[i].c_str());
        return kListStop;
    }
    progress.finish();
    log("/distribution: ", sender.str() + " (" + subject.str() + ")");
    return kListHandled;
}

} // namespace qarvel
