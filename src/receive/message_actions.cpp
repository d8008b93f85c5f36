#include "receive/message_actions.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "receive/header_display.h"
#include "receive/mailbox_reader.h"
#include "send/sender_session.h"

namespace qarvel {

// --- temporary file ---

TempFile::TempFile(const String& folder) {
    std::string pattern = folder.empty() ? std::string("/tmp") : folder.str();
    if (pattern.back() != '/') pattern.push_back('/');
    pattern += "qarvel-exec-XXXXXX";
    std::string name = pattern;
    int fd = mkstemp(name.data());
    if (fd < 0) return;
    path_ = name;
    file_ = fdopen(fd, "wb");
    if (!file_) ::close(fd);
}

TempFile::~TempFile() {
    if (file_) fclose(file_);
    if (!path_.empty()) unlink(path_.c_str());
}

bool TempFile::write(const char* data, size_t length) {
    return file_ && (length == 0 || fwrite(data, 1, length, file_) == length);
}

bool TempFile::finish() {
    if (!file_) return false;
    bool ok = fflush(file_) == 0 && !ferror(file_);
    ok = fclose(file_) == 0 && ok;
    file_ = nullptr;
    return ok;
}

int runExecCommand(const String& command, const String& workingFolder, const char* body,
                   size_t length, int messageNumber, int* status) {
    TempFile temp(workingFolder);
    if (!temp.valid()) {
        fprintf(stderr, "Could not create a temporary file in '%s' for message #%d: %s\n",
                workingFolder.c_str(), messageNumber, strerror(errno));
        return kActionFailed;
    }
    errno = 0;
    if (!temp.write(body, length) || !temp.finish()) {
        fprintf(stderr, "Could not write the temporary file '%s' for message #%d: %s\n",
                temp.path().c_str(), messageNumber, strerror(errno ? errno : EIO));
        return kActionFailed;
    }
    std::string line = command.str() + " < " + temp.path();
    fflush(stdout);
    int result = system(line.c_str());
    if (status) *status = result;
    if (result == -1) {
        fprintf(stderr, "Could not run the command for message #%d: %s\n", messageNumber,
                strerror(errno));
        return kActionFailed;
    }
    if (WIFEXITED(result) && WEXITSTATUS(result) == 0) return kActionOk;
    if (WIFEXITED(result))
        fprintf(stderr, "Command '%s' for message #%d exited with code %d\n", command.c_str(),
                messageNumber, WEXITSTATUS(result));
    else
        fprintf(stderr, "Command '%s' for message #%d ended by signal %d\n", command.c_str(),
                messageNumber, WIFSIGNALED(result) ? WTERMSIG(result) : 0);
    return kActionCommandFailed;
}

// --- harvest file ---

HarvestFile::~HarvestFile() {
    if (file_) fclose(file_);
}

bool HarvestFile::open(const String& path) {
    file_ = fopen(path.c_str(), "a");
    if (!file_)
        fprintf(stderr, "Could not open the harvest file '%s': %s\n", path.c_str(), strerror(errno));
    return file_ != nullptr;
}

void HarvestFile::add(const String& address) {
    if (!file_ || address.empty() || address == "[unknown]") return;
    fprintf(file_, "%s\n", address.c_str());
    fflush(file_);
}

// --- extraction ---

int extractParts(MailboxReader& reader, const ReceiveOptions& options) {
    int result = kActionOk;
    while (const MessagePart* part = reader.nextPart()) {
        String media = reader.mediaType();
        bool text = options.textMode || media.startsWithIgnoreCase("text", 4) ||
                    media.equalsIgnoreCase("message/rfc822");
        String name = part->fileName;
        if (writeAttachment(options.extractFolder, name, *part, text, options.unique) != kWriteOk)
            result = kActionFailed;
    }
    return result;
}

// --- read receipts ---

int sendReadReceipt(SenderSession& sender, MailboxReader& reader, const ReceiveOptions& options,
                    const String& to) {
    String subject = "Read: " + reader.subject() + " (RECEIPT)";
    std::string body = "Your message\r\n\r\n";
    body += "  To: " + reader.to().str() + "\r\n";
    body += "  Subject: " + reader.subject().str() + "\r\n";
    body += "  Date: " + reader.date().str() + "\r\n\r\n";
    char when[64];
    time_t now = time(nullptr);
    struct tm parts {};
    gmtime_r(&now, &parts);
    strftime(when, sizeof when, "%a, %d %b %Y %H:%M:%S GMT", &parts);
    body += "was read on " + std::string(when) + ".\r\n";

    String from = options.from.empty() ? options.user : options.from;
    // The receipt is an ordinary composed message, sent without traces.
    int savedTrace = sender.traceLevel();
    int savedRaw = sender.raw();
    sender.setTraceLevel(0);
    sender.setRaw(0);
    int result = sender.connectSession(options.smtpHost, options.smtpPort);
    if (result > 0) {
        result = sender.sendMessage(from, String(), to, subject, body.data(), body.size(),
                                    String(), String(), String(), String());
        sender.quit();
    }
    sender.disconnect();
    sender.setTraceLevel(savedTrace);
    sender.setRaw(savedRaw);
    return result;
}

// --- forwarding ---

namespace {

// The header lines kept when a message is sent on, in this order.
const char* const kForwardedHeaders[] = {
    "Return-Path", "Received", "From", "Sender", "Reply-To", "To", "Cc", "Subject", "Date",
    "Message-ID", "In-Reply-To", "References", "MIME-Version", "Content-Type",
    "Content-Transfer-Encoding", "Content-Disposition", "Disposition-Notification-To",
    "Importance", "X-Priority", "Sensitivity", "Organization",
};

} // namespace

int forwardMessage(SenderSession& sender, MailboxReader& reader, const ReceiveOptions& options) {
    std::string text;
    for (const char* name : kForwardedHeaders) {
        String value = reader.headerValue(name);
        if (value.empty()) continue;
        text += name;
        text += ": ";
        text += value.str();
        text += "\r\n";
    }
    text += "\r\n";
    text.append(reader.body(), reader.bodyLength());

    String recipients = reader.message().toText;
    if (!reader.message().ccText.empty())
        recipients = recipients.empty() ? reader.message().ccText
                                        : recipients + "," + reader.message().ccText;
    String from = senderAddress(reader.sender());
    if (from == "[unknown]") from = options.from;

    // Raw: the header block above goes out as it is, followed by the body.
    int savedRaw = sender.raw();
    sender.setRaw(1);
    int result = sender.connectSession(options.relay, options.smtpPort);
    if (result <= 0) {
        fprintf(stderr, "Could not connect to relay: %s, error= %d\n", options.relay.c_str(), result);
        sender.disconnect();
        sender.setRaw(savedRaw);
        return result;
    }
    result = sender.sendMessage(from, String(), recipients, reader.subject(), text.data(),
                                text.size(), String(), String(), String(), String());
    if (result <= 0)
        fprintf(stderr, "Could not send to relay: %s, error= %d\n", options.relay.c_str(), result);
    sender.quit();
    sender.disconnect();
    sender.setRaw(savedRaw);
    return result;
}

} // namespace qarvel
