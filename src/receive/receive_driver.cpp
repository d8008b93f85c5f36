// The receive driver: one retrieval run over the current mailbox reader.
#include "receive/receive_driver.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <functional>
#include <memory>
#include <string>

#include "receive/delivery_round.h"
#include "receive/header_display.h"
#include "receive/imap_run.h"
#include "receive/list_server.h"
#include "receive/mailbox_reader.h"
#include "receive/message_actions.h"
#include "receive/message_forward.h"
#include "receive/receive_filters.h"
#include "receive/receive_pages.h"
#include "base/run_failure.h"
#include "base/terminal_prompt.h"
#include "net/failure_cause.h"
#include "net/winsock_error.h"

namespace qarvel {

namespace {

// Closes the reader when the run leaves by any path, so a POP3 server always gets QUIT. The
// close is where deletions become final (QUIT, CLOSE): what must happen before it runs first.
class ReaderCloser {
public:
    ReaderCloser(MailboxReader& reader, std::function<void()> before)
        : reader_(reader), before_(std::move(before)) {}
    ~ReaderCloser() { close(); }
    ReaderCloser(const ReaderCloser&) = delete;
    ReaderCloser& operator=(const ReaderCloser&) = delete;
    void close() {
        if (!open_) return;
        open_ = false;
        before_();
        reader_.close();
    }

private:
    MailboxReader& reader_;
    std::function<void()> before_;
    bool open_ = true;
};

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
          imap_(options.receive.imap ? dynamic_cast<ImapReader*>(&reader) : nullptr), delivery_(o_) {}

    int run();

private:
    int connect();
    int processMessages(int count);
    // Whether the loop says nothing on the reader's connection between two retrievals but
    // what a round's settling sends: then the reader may send retrievals ahead.
    bool retrievalsOnly() const;
    // The message the loop retrieves after n (0: none, or the round is closing or full).
    int nextRetrieval(int n, int count) const;
    // Step results inside the loop: go on, or end the run with the exit code.
    static constexpr int kContinue = -1000;
    static constexpr int kEndLoop = -1001;  // no further message; the run ends normally
    int processMessage(int n, int count);
    // After a message was written: the IMAP copy; a move or a deletion when nothing of the
    // message was lost on the way, once the round has made its outputs durable.
    int finishMessage(int n);
    // A message an earlier run delivered (-seen:): with -rm it goes, unread.
    int seenAgain(int n);
    // Makes the round in flight durable and then final (settle); false when a message did not
    // reach the disk or a final step failed (the run then ends with 1).
    bool settle();
    bool finalStep(const InFlight& m);
    // The UID to flag or move message n by (IMAP), else 0.
    unsigned imapUid(int n);
    // The -exec: command over the message, and a list run's answer; then finishMessage.
    int runCommand(int n);
    int answerList(int n);
    // The user name and password (asked for on a terminal); false after saying which is missing.
    bool haveCredentials();
    // What the reader keeps of each message, and whether its raw text streams.
    void prepareReader();
    int fetchImapPart(int n, int count);
    void display(int n);
    // Writes a piece of a streamed message to standard output, after its counter.
    bool writeStreamed(const char* data, size_t length);
    int deleteMessage(int n, unsigned uid, bool announce);
    int deleteRange(int count);
    void printStatistics();
    // Messages are numbered from 1; a smaller message number starts at 1.
    int firstNumber() const { return o_.receive.messageNumber > 1 ? o_.receive.messageNumber : 1; }

    ReceiveOptions o_;
    MailboxReader& reader_;
    SenderSession* sender_;
    ImapReader* imap_;  // the reader in IMAP mode, else none
    DeliveryRound delivery_;
    HarvestFile harvest_;
    std::unique_ptr<ListServer> list_;  // list-server mode
    int counter_ = 0;
    double bytes_ = 0;
    time_t startSeconds_ = 0;
    clock_t startClock_ = 0;
    bool failed_ = false;  // something was kept back; the run ends with 1 after the loop
    bool closingRound_ = false;  // a round waits to settle until the retrievals ahead are in
    bool keep_ = false;    // the current message was not delivered whole: never delete it
    bool terminal_ = false;  // standard output is a terminal
    int outputError_ = 0;    // why standard output failed first (errno)
    bool counterShown_ = false;  // the current message's counter is out (a streamed text began)
    char lastStreamed_ = 0;      // the last byte of the streamed text, 0 before any
};

int ReceiveRun::connect() {
    const ConnectionOptions& c = reader_.connectionOptions();
    const String certificate = c.presentedCertificate();
    Failure cause = Failure::kNone;  // of the last failed try, read before its socket is closed
    const int result = reader_.connectWithRetries(
        [&] { return reader_.open(o_.host, o_.port, certificate.empty() ? nullptr : certificate.c_str(), c.level); },
        [&](int failed) { cause = reader_.failureOf(failed); });
    if (result <= 0) noteFailure(cause);
    return result;
}

int ReceiveRun::run() {
    const ConnectionOptions& c = reader_.connectionOptions();
    const bool certified = !c.certificateFile.empty() || c.level >= 2;
    if (!certified && !haveCredentials()) return failRun(Failure::kUsage);
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
    ReaderCloser closer(reader_, [this] {
        settle();
        reader_.setRawSink(nullptr);
    });

    if (!o_.receive.preauthenticated && !certified) {
        result = reader_.login(o_.receive.user, o_.receive.password);
        if (result <= 0) {
            fprintf(stderr, "Could not log in as '%s' to: %s:%s\n", o_.receive.user.c_str(), o_.host.c_str(),
                    o_.port.c_str());
            const char* reply = reader_.lastReply();
            size_t length = strlen(reply);
            fputs(reply, stderr);
            if (length == 0 || reply[length - 1] != '\n') fputc('\n', stderr);
            return failRun(atLogin(reader_, reader_.failureOf(result)));
        }
    }

    if (o_.pages && o_.pages->serveAfterLogin(reader_)) return kReceiveSuccess;

    // IMAP folder management and access control; a management run processes no message.
    bool managementRun = false;
    if (imap_) {
        // Deleted and moved messages are expunged when the session ends (CLOSE), as a POP3
        // QUIT makes deletions final; -unrm keeps them.
        imap_->setPurge(o_.receive.purge || (o_.receive.remove && !o_.receive.keepMessages) ||
                        !o_.receive.moveTo.empty());
        managementRun = runImapManagement(*imap_, o_);
        if (!managementRun && selectImapFolder(*imap_, o_) < 1) return failRun(reader_.failureOf(0));
    }

    int count = reader_.messageCount();
    if (o_.receive.exitWithCount) return count;
    if (imap_ && !managementRun) count = orderImapMessages(*imap_, o_, count);
    if (count < 0) return kReceiveFailed;
    if (o_.pages) o_.pages->showMailbox(count, reader_);

    if (!managementRun && !delivery_.open(reader_, count)) return failRun(Failure::kOther);
    prepareReader();
    if (!o_.receive.harvestFile.empty()) harvest_.open(o_.receive.harvestFile);

    const bool fastDeletion = o_.receive.remove && o_.receive.brief && o_.tools.quiet;
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

bool ReceiveRun::haveCredentials() {
    if (o_.receive.user.empty()) {
        fputs("Missing userid\n", stderr);
        return false;
    }
    // Asked for only on a terminal, never in a listing: without one the run ends here, before
    // it connects.
    if (o_.receive.password.empty() && !o_.cgi && o_.tools.logFile.empty())
        askSecretOnTerminal("Password: ", o_.receive.password);
    if (!o_.receive.password.empty()) return true;
    fputs("Missing password\n", stderr);
    return false;
}

void ReceiveRun::prepareReader() {
    reader_.setDecodeHeaders(o_.receive.decodeHeaders);
    reader_.setRaw(o_.content.raw);
    // The list server reads a contribution's parts to pass them on.
    if (listRun(o_)) list_ = std::make_unique<ListServer>(o_, sender_);
    reader_.setExtract(o_.receive.extract || list_);
    // Parts go straight into files of the extraction folder when only the extraction takes them.
    const bool partsToFolder = o_.receive.extract && !o_.pages && !list_;
    reader_.setPartFolder(partsToFolder ? std::optional<String>(o_.receive.extractFolder) : std::nullopt,
                          o_.content.textAttachments);
    reader_.setHtml(o_.content.html);
    // Forwarding and the copies into a Maildir or an mbox file take the whole message.
    const bool copies = !o_.receive.maildir.empty() || !o_.receive.mboxFile.empty();
    reader_.setHeaderOnly(o_.receive.brief && o_.servers.relayHost.empty() && !copies ? 1 : 0);
    if (copies) reader_.setRawSink([this](const char* data, size_t length) { delivery_.copy(data, length); });
    // A raw message that is only shown goes to standard output as it arrives, so that a
    // message of any size passes through without being held.
    if (o_.content.raw && !o_.tools.quiet && !needsWholeMessage(o_))
        reader_.setBodySink([this](const char* data, size_t length) { return writeStreamed(data, length); });
}

bool ReceiveRun::retrievalsOnly() const {
    const ReceiveSettings& r = o_.receive;
    if (!r.subjectPattern.empty() || !r.senderPattern.empty() || o_.pages || list_) return false;
    if (r.remove && r.keepMessages) return false;
    return !imap_ || (!r.listParts && r.partName.empty() && r.copyTo.empty());
}

int ReceiveRun::nextRetrieval(int n, int count) const {
    // A round holds no more messages for the retrievals ahead: a crash repeats at most one.
    if (closingRound_ || delivery_.messages() + reader_.commandsAhead() >= kRoundMessages) return 0;
    for (int m = n + 1; m <= count && m <= o_.receive.lastMessage; ++m)
        if (!delivery_.seenBefore(reader_, m)) return m;
    return 0;
}

int ReceiveRun::processMessages(int count) {
    if (retrievalsOnly()) reader_.setRetrievalPlan([this, count](int n) { return nextRetrieval(n, count); });
    for (int n = firstNumber(); n <= count && n <= o_.receive.lastMessage; ++n) {
        int result = processMessage(n, count);
        if (result == kEndLoop) break;
        if (result != kContinue) return result;
        if (!delivery_.due()) continue;
        // The deletions and moves of a round wait for the replies of the retrievals sent
        // ahead: sent now, they would have to throw those away.
        closingRound_ = delivery_.finalSteps() && reader_.commandsAhead() > 0;
        if (!closingRound_ && !settle()) return kReceiveFailed;
    }
    return kContinue;
}

int ReceiveRun::processMessage(int n, int count) {
    ++counter_;
    keep_ = false;
    counterShown_ = false;
    lastStreamed_ = 0;
    if (delivery_.seenBefore(reader_, n)) return seenAgain(n);
    int kept = applyFilters(reader_, o_, n);
    if (kept < 0) {
        // The header fetch failed: no further message, but the run ends normally.
        return kEndLoop;
    }
    if (kept == kFilterSkip) return kContinue;

    if (imap_ && o_.receive.listParts) {
        int listed = listImapParts(*imap_, n);
        if (listed <= 0) {
            fprintf(stderr, "Could not retrieve message (%d/%d), error= %s\n", n, count,
                    describeError(reader_.failureCode(listed)).c_str());
            return failRun(reader_.failureOf(listed));
        }
        return kContinue;
    }
    if (imap_ && !o_.receive.partName.empty()) {
        delivery_.begin(reader_, n, false);
        return fetchImapPart(n, count);
    }

    delivery_.begin(reader_, n, true);
    int result = reader_.retrieve(n);
    if (result <= 0) {
        delivery_.abandon();
        fprintf(stderr, "Could not retrieve message (%d/%d), error= %s\n", n, count,
                    describeError(reader_.failureCode(result)).c_str());
        return failRun(reader_.failureOf(result));
    }
    if (!o_.receive.filter.empty()) {
        delivery_.abandon();
        return kContinue;
    }
    if (!delivery_.deliver(reader_)) return failRun(Failure::kOther);

    // A text larger than the body buffer was cut: what is shown, handed to the command or
    // forwarded is not the whole message.
    if (reader_.message().bodyCut && (!o_.tools.quiet || !o_.receive.execCommand.empty() || !o_.servers.relayHost.empty())) {
        fprintf(stderr, "The text of message #%d is larger than %llu bytes and was cut; it is kept\n", n,
                static_cast<unsigned long long>(reader_.bodyLength()));
        keep_ = true;
        failed_ = true;
    }

    if (!o_.receive.execCommand.empty()) return runCommand(n);

    int size = reader_.messageSize(n);
    bytes_ += size > 0 ? size : static_cast<double>(reader_.message().bytesRead);

    if (list_) return answerList(n);

    if (!o_.tools.quiet) {
        if (o_.pages) o_.pages->showMessage(counter_, n, reader_);
        else display(n);
        delivery_.touchStandardOutput();
    }

    // Extraction runs under -quiet too: a script that extracts and deletes quietly must not
    // lose the attachments. A web page saves them itself.
    if (o_.receive.extract && !o_.pages && extractParts(reader_, o_, delivery_.durableOutputs()) != kActionOk) {
        fprintf(stderr, "Could not extract the attachments of message #%d; it is kept\n", n);
        return failRun(Failure::kOther);
    }

    if (!o_.servers.relayHost.empty()) {
        if (!sender_) {
            fprintf(stderr, "Could not connect to relay: %s, error= %d\n", o_.servers.relayHost.c_str(), 0);
            return failRun(Failure::kOther);
        }
        if (forwardMessage(*sender_, reader_, o_) <= 0) return kReceiveFailed;
    }

    return finishMessage(n);
}

int ReceiveRun::runCommand(int n) {
    int result = runExecCommand(o_.receive.execCommand, o_.workingFolder, reader_.body(),
                                static_cast<size_t>(reader_.bodyLength()), n);
    if (result == kActionOk) return finishMessage(n);
    fprintf(stderr, "Message #%d is kept on the server\n", n);
    // The body never reached the command: stop here. A command that failed keeps only this one.
    if (result == kActionFailed) return failRun(Failure::kOther);
    failed_ = true;
    return kContinue;
}

int ReceiveRun::answerList(int n) {
    int result = list_->handle(reader_);
    if (result == kListHandled) return o_.receive.remove ? deleteMessage(n, imapUid(n), true) : kContinue;
    fprintf(stderr, "Message #%d is kept on the server\n", n);
    if (result == kListStop) return kReceiveFailed;
    failed_ = true;
    return kContinue;
}

int ReceiveRun::finishMessage(int n) {
    // Copies come after the message was written, like deletion.
    if (imap_ && !o_.receive.copyTo.empty()) {
        unsigned uid = imap_->currentUid();
        int r = uid ? imap_->copyByUid(uid, o_.receive.copyTo, 0)
                    : imap_->copyMessage(n, o_.receive.copyTo, 0);
        if (r <= 0) {
            fprintf(stderr, "Could not copy message #%d to '%s'\n", n, o_.receive.copyTo.c_str());
            return failRun(reader_.failureOf(r));
        }
    }
    const bool move = imap_ && !o_.receive.moveTo.empty();
    if (!o_.receive.remove && !move && !delivery_.durable()) return kContinue;
    // A message that was not delivered whole stays where it is, and is not recorded.
    if (keep_) return kContinue;
    // What was shown must have reached standard output before the message goes: a full disk
    // or a closed pipe behind it would otherwise lose the mail.
    errno = 0;
    if (fflush(stdout) != 0 && outputError_ == 0) outputError_ = errno;
    if (outputError_ != 0 || ferror(stdout)) {
        fprintf(stderr, "Could not write message #%d to standard output: %s; it is kept\n", n,
                strerror(outputError_ ? outputError_ : EIO));
        return failRun(Failure::kOther);
    }
    if (o_.receive.remove && o_.receive.keepMessages) return deleteMessage(n, imapUid(n), true);
    // The move or the deletion waits until the round has made every output durable.
    InFlight& m = delivery_.current();
    m.whole = true;
    m.remove = o_.receive.remove;
    m.move = move;
    m.uid = imapUid(n);
    return kContinue;
}

int ReceiveRun::seenAgain(int n) {
    if (!o_.receive.remove || o_.receive.keepMessages) return kContinue;
    delivery_.begin(reader_, n, false);
    InFlight& m = delivery_.current();
    m.whole = m.remove = true;
    m.seenId = String();
    m.uid = imap_ ? imap_->orderedUid(n) : 0;
    return kContinue;
}

bool ReceiveRun::settle() {
    bool stepFailed = false;
    auto finish = [&](const InFlight& m) {
        if (finalStep(m)) return true;
        stepFailed = true;
        return false;
    };
    if (delivery_.settle(finish)) return true;
    // A message that did not reach the disk is a local file's failure; a step that failed
    // has noted its own cause.
    if (!stepFailed) noteFailure(Failure::kOther);
    failed_ = true;
    return false;
}

bool ReceiveRun::finalStep(const InFlight& m) {
    if (m.move) {
        int r = m.uid ? imap_->moveByUid(m.uid, o_.receive.moveTo) : imap_->moveMessage(m.n, o_.receive.moveTo);
        if (r <= 0) {
            fprintf(stderr, "Could not move message #%d to '%s'\n", m.n, o_.receive.moveTo.c_str());
            failRun(reader_.failureOf(r));
            return false;
        }
    }
    return !m.remove || deleteMessage(m.n, m.uid, true) == kContinue;
}

unsigned ReceiveRun::imapUid(int n) {
    if (!imap_) return 0;
    // By UID when it is known: a message number may shift under an expunge.
    unsigned uid = reader_.lastRetrieved() == n ? static_cast<unsigned>(imap_->currentUid()) : 0;
    return uid ? uid : imap_->orderedUid(n);
}

int ReceiveRun::fetchImapPart(int n, int count) {
    const ReceiveSettings& io = o_.receive;
    const String& encoding = o_.content.encoding;
    const unsigned long start = static_cast<unsigned long>(io.partStart);
    const unsigned long length = static_cast<unsigned long>(io.partLength);
    // The decoded part goes straight to standard output, so a part of any size streams.
    imap_->setBodySink([](const char* data, size_t length) {
        return fwrite(data, 1, length, stdout) == length;
    });
    unsigned uid = imap_->ordered() ? imap_->orderedUid(n) : 0;
    int result = uid ? imap_->retrievePartByUid(uid, io.partName, encoding, start, length)
                     : imap_->retrievePart(n, io.partName, encoding, start, length);
    imap_->setBodySink(nullptr);
    if (fflush(stdout) != 0) outputError_ = errno;
    if (result <= 0) {
        fprintf(stderr, "Could not retrieve message (%d/%d), error= %s\n", n, count,
                    describeError(reader_.failureCode(result)).c_str());
        return failRun(reader_.failureOf(result));
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
    if (o_.receive.unixMailbox) writeText(mailboxFromLine(reader_.sender(), time(nullptr)));
    if (!counterShown_) printf("%d. ", counter_);
    if (!o_.content.raw) {
        int size = reader_.messageSize(n);
        long long shown = size > 0 ? size : static_cast<long long>(reader_.message().bytesRead);
        // A terminal gets the texts in its locale's charset; a file or a pipe the bytes.
        const HeaderForm form = terminal_ ? HeaderForm::kLocale : HeaderForm::kBytes;
        writeText(formatHeaderLines(collectHeaders(reader_, o_.receive.fullHeaders, shown, form), o_.labels, o_.receive.fullHeaders,
                                    o_.receive.showSize, terminal_));
    }

    if (!o_.content.raw && o_.receive.readReceipt && sender_) {
        // -mdn answers only a Disposition-Notification-To request; -receipt answers every
        // message, to that address when there is one, else to the reply address.
        String to = reader_.dispositionNotificationTo();
        if (to.empty() && o_.receive.readReceipt == 2) to = reader_.replyAddress();
        if (!to.empty() && !(to == "[unknown]")) {
            if (sendReadReceipt(*sender_, reader_, o_, to) <= 0)
                fprintf(stderr, "Could not send a read receipt for message #%d to %s\n", n,
                        to.c_str());
        }
    }

    if (harvest_.add(reader_.sender()) && delivery_.durable()) delivery_.outputs().touch(harvest_);

    size_t length = static_cast<size_t>(reader_.bodyLength());
    const char* body = reader_.body();
    if (o_.receive.unixMailbox)
        writeMailboxBody(stdout, body, length);
    else
        writeText(body, length);
    // A streamed text is out already; the record holds none of it.
    const char last = length ? body[length - 1] : lastStreamed_;
    if (!o_.receive.separator.empty()) {
        if (last && last != '\n') writeText("\n", 1);
        writeText(o_.receive.separator.c_str(), o_.receive.separator.length());
        writeText("\n", 1);
    }
    if (fflush(stdout) != 0) outputError_ = errno;
}

int ReceiveRun::deleteMessage(int n, unsigned uid, bool announce) {
    if (announce && !o_.tools.quiet) {
        const String& label = o_.receive.keepMessages ? o_.labels.undeletedMessage : o_.labels.deletedMessage;
        printf("%s%d%s\n", label.c_str(), n, o_.cgi || o_.content.html ? "<br>" : "");
    }
    int result;
    if (uid)
        result = o_.receive.keepMessages ? imap_->undeleteByUid(uid) : imap_->deleteByUid(uid);
    else
        result = o_.receive.keepMessages ? reader_.undeleteMessage(n) : reader_.deleteMessage(n);
    if (result <= 0) {
        fprintf(stderr, "Could not delete message, error= %s\n", describeError(reader_.failureCode(result)).c_str());
        return failRun(reader_.failureOf(result));
    }
    return kContinue;
}

int ReceiveRun::deleteRange(int count) {
    for (int n = firstNumber(); n <= count && n <= o_.receive.lastMessage; ++n) {
        int result = deleteMessage(n, imapUid(n), false);
        if (result != kContinue) return result;
    }
    return kContinue;
}

void ReceiveRun::printStatistics() {
    double ms = elapsedMilliseconds(startSeconds_, startClock_);
    if (!o_.receive.showRate) return;
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
