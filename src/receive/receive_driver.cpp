// The receive driver: one retrieval run over the current mailbox reader.
#include "receive/receive_driver.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>

#include "receive/header_display.h"
#include "receive/imap_run.h"
#include "receive/list_server.h"
#include "receive/mailbox_reader.h"
#include "receive/message_actions.h"
#include "receive/message_forward.h"
#include "receive/receive_filters.h"
#include "receive/receive_pages.h"
#include "net/winsock_error.h"

namespace qarvel {

namespace {

// Closes the reader when the run leaves by any path, so a POP3 server always gets QUIT.
class ReaderCloser {
public:
    explicit ReaderCloser(MailboxReader& reader) : reader_(reader) {}
    ~ReaderCloser() { close(); }
    ReaderCloser(const ReaderCloser&) = delete;
    ReaderCloser& operator=(const ReaderCloser&) = delete;
    void close() {
        if (open_) reader_.close();
        open_ = false;
    }

private:
    MailboxReader& reader_;
    bool open_ = true;
};

// Reads one line from the console as the password (at most 255 characters).
String promptPassword() {
    fputs("Password: ", stdout);
    fflush(stdout);
    char line[256];
    if (!fgets(line, sizeof line, stdin)) return String();
    size_t length = strcspn(line, "\r\n");
    return String(line, length);
}

void writeText(const char* data, size_t length) {
    if (length) fwrite(data, 1, length, stdout);
}

void writeText(const std::string& text) { writeText(text.data(), text.size()); }

// Elapsed time of the run in milliseconds: wall seconds, else processor time, else 1.
double elapsedMilliseconds(time_t startSeconds, clock_t startClock) {
    double ms = static_cast<double>(time(nullptr) - startSeconds) * 1000.0;
    if (ms == 0) ms = static_cast<double>(clock() - startClock) * 1000.0 / CLOCKS_PER_SEC;
    if (ms <= 0) ms = 1;
    return ms;
}

// The state of one run.
class ReceiveRun {
public:
    ReceiveRun(const ReceiveOptions& options, MailboxReader& reader, SenderSession* sender)
        : o_(options), reader_(reader), sender_(sender),
          imap_(options.imap ? dynamic_cast<ImapReader*>(&reader) : nullptr) {}

    int run();

private:
    int connect();
    int processMessages(int count);
    // Step results inside the loop: go on, or end the run with the exit code.
    static constexpr int kContinue = -1000;
    static constexpr int kEndLoop = -1001;  // no further message; the run ends normally
    int processMessage(int n, int count);
    // After a message was written: IMAP copy and move, then deletion; a move or a deletion
    // only when nothing of the message was lost on the way.
    int finishMessage(int n);
    int fetchImapPart(int n, int count);
    void display(int n);
    // Writes a piece of a streamed message to standard output, after its counter.
    bool writeStreamed(const char* data, size_t length);
    int deleteMessage(int n, bool announce);
    int deleteRange(int count);
    void printStatistics();
    // Messages are numbered from 1; a smaller message number starts at 1.
    int firstNumber() const { return o_.messageNumber > 1 ? o_.messageNumber : 1; }

    ReceiveOptions o_;
    MailboxReader& reader_;
    SenderSession* sender_;
    ImapReader* imap_;  // the reader in IMAP mode, else none
    HarvestFile harvest_;
    std::unique_ptr<ListServer> list_;  // list-server mode
    int counter_ = 0;
    double bytes_ = 0;
    time_t startSeconds_ = 0;
    clock_t startClock_ = 0;
    bool failed_ = false;  // something was kept back; the run ends with 1 after the loop
    bool keep_ = false;    // the current message was not delivered whole: never delete it
    bool terminal_ = false;  // standard output is a terminal
    int outputError_ = 0;    // why standard output failed first (errno)
    bool counterShown_ = false;  // the current message's counter is out (a streamed text began)
    char lastStreamed_ = 0;      // the last byte of the streamed text, 0 before any
};

int ReceiveRun::connect() {
    const char* certificate =
        (o_.ssl || o_.tls) && !o_.certificate.empty() ? o_.certificate.c_str() : nullptr;
    int retries = o_.retries;
    int result = 0;
    for (;;) {
        result = reader_.open(o_.host, o_.port, certificate, o_.level);
        if (result > 0 || retries <= 0) break;
        --retries;
    }
    return result;
}

int ReceiveRun::run() {
    const bool certified = !o_.certificate.empty() || o_.level >= 2;
    if (o_.user.empty() && !certified) {
        fputs("Missing userid\n", stderr);
        return kReceiveFailed;
    }
    if (o_.password.empty() && !certified && !o_.cgi && o_.logFile.empty())
        o_.password = promptPassword();
    if (o_.password.empty() && !certified) {
        fputs("Missing password\n", stderr);
        return kReceiveFailed;
    }
    startSeconds_ = time(nullptr);
    startClock_ = clock();
    terminal_ = isatty(STDOUT_FILENO) == 1;
    bytes_ = 0;

    int result = connect();
    if (result <= 0) {
        reader_.close();
        fprintf(stderr, "Could not connect to: %s:%s, error= %s\n", o_.host.c_str(), o_.port.c_str(),
                describeError(reader_.failureCode(result)).c_str());
        return kReceiveFailed;
    }
    ReaderCloser closer(reader_);

    if (!o_.preauth && !certified) {
        result = reader_.login(o_.user, o_.password);
        if (result <= 0) {
            fprintf(stderr, "Could not log in as '%s' to: %s:%s\n", o_.user.c_str(), o_.host.c_str(),
                    o_.port.c_str());
            const char* reply = reader_.lastReply();
            size_t length = strlen(reply);
            fputs(reply, stderr);
            if (length == 0 || reply[length - 1] != '\n') fputc('\n', stderr);
            return kReceiveFailed;
        }
    }

    if (o_.pages && o_.pages->serveAfterLogin(reader_)) return kReceiveSuccess;

    // IMAP folder management and access control; a management run processes no message.
    bool managementRun = false;
    if (imap_) {
        // Deleted and moved messages are expunged when the session ends (CLOSE), as a POP3
        // QUIT makes deletions final; -unrm keeps them.
        imap_->setPurge(o_.imapOptions.purge || (o_.remove && !o_.undelete) ||
                        !o_.imapOptions.moveTo.empty());
        managementRun = runImapManagement(*imap_, o_);
        if (!managementRun && selectImapFolder(*imap_, o_) < 1) return kReceiveFailed;
    }

    int count = reader_.messageCount();
    if (o_.exitWithCount) return count;
    if (imap_ && !managementRun) count = orderImapMessages(*imap_, o_, count);
    if (o_.pages) o_.pages->showMailbox(count, reader_);

    reader_.setDecodeHeaders(o_.decodeHeaders);
    reader_.setRaw(o_.raw);
    // The list server reads a contribution's parts to pass them on.
    if (!o_.list.subscriberFile.empty()) list_ = std::make_unique<ListServer>(o_, sender_);
    reader_.setExtract(o_.extract || list_);
    reader_.setHtml(o_.html);
    reader_.setHeaderOnly(o_.brief && o_.relay.empty() ? 1 : 0);
    // A raw message that is only shown goes to standard output as it arrives, so that a
    // message of any size passes through without being held.
    if (o_.raw && !o_.quiet && !o_.pages && !o_.umbox && !o_.extract && !list_ && o_.execCommand.empty() &&
        o_.filter.empty() && o_.relay.empty() && o_.imapOptions.partName.empty())
        reader_.setBodySink([this](const char* data, size_t length) { return writeStreamed(data, length); });

    if (!o_.harvestFile.empty()) harvest_.open(o_.harvestFile);

    const bool fastDeletion = o_.remove && o_.brief && o_.quiet;
    if (fastDeletion) {
        result = deleteRange(count);
        if (result != kContinue) return result;
    } else if (!managementRun) {
        result = processMessages(count);
        if (result != kContinue) return result;
    }

    closer.close();
    printStatistics();
    return failed_ ? kReceiveFailed : kReceiveSuccess;
}

int ReceiveRun::processMessages(int count) {
    for (int n = firstNumber(); n <= count && n <= o_.lastMessage; ++n) {
        int result = processMessage(n, count);
        if (result == kEndLoop) break;
        if (result != kContinue) return result;
    }
    return kContinue;
}

int ReceiveRun::processMessage(int n, int count) {
    ++counter_;
    keep_ = false;
    counterShown_ = false;
    lastStreamed_ = 0;
    int kept = applyFilters(reader_, o_, n);
    if (kept < 0) {
        // The header fetch failed: no further message, but the run ends normally.
        return kEndLoop;
    }
    if (kept == kFilterSkip) return kContinue;

    if (imap_ && o_.imapOptions.bodyStructure) {
        int listed = listImapParts(*imap_, n);
        if (listed <= 0) {
            fprintf(stderr, "Could not retrieve message (%d/%d), error= %s\n", n, count,
                    describeError(reader_.failureCode(listed)).c_str());
            return kReceiveFailed;
        }
        return kContinue;
    }
    if (imap_ && !o_.imapOptions.partName.empty()) return fetchImapPart(n, count);

    int result = reader_.retrieve(n);
    if (result <= 0) {
        fprintf(stderr, "Could not retrieve message (%d/%d), error= %s\n", n, count,
                    describeError(reader_.failureCode(result)).c_str());
        return kReceiveFailed;
    }
    if (!o_.filter.empty()) return kContinue;

    // A text larger than the body buffer was cut: what is shown, handed to the command or
    // forwarded is not the whole message.
    if (reader_.message().bodyCut && (!o_.quiet || !o_.execCommand.empty() || !o_.relay.empty())) {
        fprintf(stderr, "The text of message #%d is larger than %llu bytes and was cut; it is kept\n", n,
                static_cast<unsigned long long>(reader_.bodyLength()));
        keep_ = true;
        failed_ = true;
    }

    if (!o_.execCommand.empty()) {
        result = runExecCommand(o_.execCommand, o_.workingFolder, reader_.body(),
                                static_cast<size_t>(reader_.bodyLength()), n);
        if (result == kActionFailed) {
            // The body never reached the command: keep the message and stop here.
            fprintf(stderr, "Message #%d is kept on the server\n", n);
            return kReceiveFailed;
        }
        if (result == kActionCommandFailed) {
            fprintf(stderr, "Message #%d is kept on the server\n", n);
            failed_ = true;
            return kContinue;
        }
        return finishMessage(n);
    }

    int size = reader_.messageSize(n);
    bytes_ += size > 0 ? size : static_cast<double>(reader_.message().bytesRead);

    if (list_) {
        result = list_->handle(reader_);
        if (result == kListStop) {
            fprintf(stderr, "Message #%d is kept on the server\n", n);
            return kReceiveFailed;
        }
        if (result == kListKept) {
            fprintf(stderr, "Message #%d is kept on the server\n", n);
            failed_ = true;
            return kContinue;
        }
        return o_.remove ? deleteMessage(n, true) : kContinue;
    }

    if (!o_.quiet) {
        if (o_.pages) o_.pages->showMessage(counter_, n, reader_);
        else display(n);
    }

    // Extraction runs under -quiet too: a script that extracts and deletes quietly must not
    // lose the attachments. A web page saves them itself.
    if (o_.extract && !o_.pages && extractParts(reader_, o_) != kActionOk) {
        fprintf(stderr, "Could not extract the attachments of message #%d; it is kept\n", n);
        return kReceiveFailed;
    }

    if (!o_.relay.empty()) {
        if (!sender_) {
            fprintf(stderr, "Could not connect to relay: %s, error= %d\n", o_.relay.c_str(), 0);
            return kReceiveFailed;
        }
        if (forwardMessage(*sender_, reader_, o_) <= 0) return kReceiveFailed;
    }

    return finishMessage(n);
}

int ReceiveRun::finishMessage(int n) {
    // Copies and moves come after the message was written, like deletion.
    if (imap_ && !o_.imapOptions.copyTo.empty()) {
        unsigned uid = imap_->currentUid();
        int r = uid ? imap_->copyByUid(uid, o_.imapOptions.copyTo, 0)
                    : imap_->copyMessage(n, o_.imapOptions.copyTo, 0);
        if (r <= 0) {
            fprintf(stderr, "Could not copy message #%d to '%s'\n", n, o_.imapOptions.copyTo.c_str());
            return kReceiveFailed;
        }
    }
    const bool move = imap_ && !o_.imapOptions.moveTo.empty();
    if (!o_.remove && !move) return kContinue;
    // A message that was not delivered whole stays where it is.
    if (keep_) return kContinue;
    // What was shown must have reached standard output before the message goes: a full disk
    // or a closed pipe behind it would otherwise lose the mail.
    errno = 0;
    if (fflush(stdout) != 0 && outputError_ == 0) outputError_ = errno;
    if (outputError_ != 0 || ferror(stdout)) {
        fprintf(stderr, "Could not write message #%d to standard output: %s; it is kept\n", n,
                strerror(outputError_ ? outputError_ : EIO));
        return kReceiveFailed;
    }
    if (move) {
        unsigned uid = imap_->currentUid();
        int r = uid ? imap_->moveByUid(uid, o_.imapOptions.moveTo)
                    : imap_->moveMessage(n, o_.imapOptions.moveTo);
        if (r <= 0) {
            fprintf(stderr, "Could not move message #%d to '%s'\n", n, o_.imapOptions.moveTo.c_str());
            return kReceiveFailed;
        }
    }
    return o_.remove ? deleteMessage(n, true) : kContinue;
}

int ReceiveRun::fetchImapPart(int n, int count) {
    const ReceiveOptions::Imap& io = o_.imapOptions;
    // The decoded part goes straight to standard output, so a part of any size streams.
    imap_->setBodySink([](const char* data, size_t length) {
        return fwrite(data, 1, length, stdout) == length;
    });
    unsigned uid = imap_->ordered() ? imap_->orderedUid(n) : 0;
    int result = uid ? imap_->retrievePartByUid(uid, io.partName, io.encoding, io.partStart, io.partLength)
                     : imap_->retrievePart(n, io.partName, io.encoding, io.partStart, io.partLength);
    imap_->setBodySink(nullptr);
    if (fflush(stdout) != 0) outputError_ = errno;
    if (result <= 0) {
        fprintf(stderr, "Could not retrieve message (%d/%d), error= %s\n", n, count,
                    describeError(reader_.failureCode(result)).c_str());
        return kReceiveFailed;
    }
    return finishMessage(n);
}

bool ReceiveRun::writeStreamed(const char* data, size_t length) {
    if (!counterShown_) {
        printf("%d. ", counter_);
        counterShown_ = true;
    }
    if (length == 0) return true;
    lastStreamed_ = data[length - 1];
    if (fwrite(data, 1, length, stdout) == length) return true;
    if (outputError_ == 0) outputError_ = errno ? errno : EIO;
    return false;
}

void ReceiveRun::display(int n) {
    if (o_.umbox) writeText(mailboxFromLine(reader_.sender(), time(nullptr)));
    if (!counterShown_) printf("%d. ", counter_);
    if (!o_.raw) {
        int size = reader_.messageSize(n);
        long long shown = size > 0 ? size : static_cast<long long>(reader_.message().bytesRead);
        // A terminal gets the texts in its locale's charset; a file or a pipe the bytes.
        const HeaderForm form = terminal_ ? HeaderForm::kLocale : HeaderForm::kBytes;
        writeText(formatHeaderLines(collectHeaders(reader_, o_.full, shown, form), o_.labels, o_.full,
                                    o_.showSize, terminal_));
    }

    if (!o_.raw && o_.receiptMode && sender_) {
        // -mdn answers only a Disposition-Notification-To request; -receipt answers every
        // message, to that address when there is one, else to the reply address.
        String to = reader_.dispositionNotificationTo();
        if (to.empty() && o_.receiptMode == 2) to = reader_.replyAddress();
        if (!to.empty() && !(to == "[unknown]")) {
            if (sendReadReceipt(*sender_, reader_, o_, to) <= 0)
                fprintf(stderr, "Could not send a read receipt for message #%d to %s\n", n,
                        to.c_str());
        }
    }

    harvest_.add(reader_.sender());

    size_t length = static_cast<size_t>(reader_.bodyLength());
    const char* body = reader_.body();
    if (o_.umbox)
        writeMailboxBody(stdout, body, length);
    else
        writeText(body, length);
    // A streamed text is out already; the record holds none of it.
    const char last = length ? body[length - 1] : lastStreamed_;
    if (!o_.separator.empty()) {
        if (last && last != '\n') writeText("\n", 1);
        writeText(o_.separator.c_str(), o_.separator.length());
        writeText("\n", 1);
    }
    if (fflush(stdout) != 0) outputError_ = errno;
}

int ReceiveRun::deleteMessage(int n, bool announce) {
    if (announce && !o_.quiet) {
        const String& label = o_.undelete ? o_.labels.undeletedMessage : o_.labels.deletedMessage;
        printf("%s%d%s\n", label.c_str(), n, o_.cgi || o_.html ? "<br>" : "");
    }
    int result;
    // IMAP flags by UID when it is known: a message number may shift under an expunge.
    unsigned uid = 0;
    if (imap_) {
        uid = reader_.lastRetrieved() == n ? static_cast<unsigned>(imap_->currentUid()) : 0;
        if (!uid) uid = imap_->orderedUid(n);
    }
    if (uid)
        result = o_.undelete ? imap_->undeleteByUid(uid) : imap_->deleteByUid(uid);
    else
        result = o_.undelete ? reader_.undeleteMessage(n) : reader_.deleteMessage(n);
    if (result <= 0) {
        fprintf(stderr, "Could not delete message, error= %s\n", describeError(reader_.failureCode(result)).c_str());
        return kReceiveFailed;
    }
    return kContinue;
}

int ReceiveRun::deleteRange(int count) {
    for (int n = firstNumber(); n <= count && n <= o_.lastMessage; ++n) {
        int result = deleteMessage(n, false);
        if (result != kContinue) return result;
    }
    return kContinue;
}

void ReceiveRun::printStatistics() {
    double ms = elapsedMilliseconds(startSeconds_, startClock_);
    if (!o_.kbs) return;
    double rate = bytes_ / ms * 1000.0 / 1024.0;
    printf("Received %lld bytes in %.3f seconds (%.2f KB/s)\n", static_cast<long long>(bytes_),
           ms * 0.001, rate);
}

} // namespace

int runReceive(const ReceiveOptions& options, MailboxReader& reader, SenderSession* sender) {
    ReceiveRun run(options, reader, sender);
    return run.run();
}

} // namespace qarvel
