// SenderSession: the base of every class that delivers a composed message (SMTP, QMTP, NNTP,
// the IMAP upload and the file sender). It holds the style of its messages, the files
// to attach, the session operations shared by all senders (connect through a host list, send a
// command and judge the reply, QUIT), and the writer that streams the header lines and a
// single-part body to the peer as it composes them.
//
// Every byte of message data leaves through one sink (writeData): it batches the bytes into
// blocks for the socket, keeps the line-start state across calls and applies dot-stuffing in
// that one place. The MIME composer writes through the same sink.
//
// Every header line leaves through the header writer (writeHeader, writeHeaderLine,
// writeHeaderBlock): a value can never break its line, whatever it holds.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/progress_line.h"
#include "base/run_failure.h"
#include "base/string.h"
#include "net/connection.h"
#include "send/message_style.h"

namespace qarvel {

class StringList;

// Results of the session operations: above 0 success, 0 closed or not done, below 0 failure.
constexpr int kSessionOk = 1;
constexpr int kSessionClosed = 0;
constexpr int kSessionRefused = -1;

// The Date header value for a moment: zone style 0 local time with a numeric zone ("+0530"),
// 1 UTC ending in "GMT", 2 UTC ending in "UTC".
String formatDateHeader(int zoneStyle, long long secondsSince1970);

// Ready-made message text that a sender takes piece by piece while the message goes out, so
// that the text is never held whole.
class ReadyMadePieces {
public:
    virtual ~ReadyMadePieces() = default;
    // The next piece; lineEnds: CR LF follows it. False at the end of the text.
    virtual bool nextPiece(std::string_view& piece, bool& lineEnds) = 0;
};

// What the server said to the recipients of the last message: those whose transaction it
// accepted (the message reached them) and those it refused, each with its reply line. Filled by
// the senders that hear a reply per recipient (SMTP, QMTP); empty for the others.
struct RecipientVerdicts {
    std::vector<String> delivered;
    std::vector<std::pair<String, String>> refused;  // the envelope address and the reply
};

// What a message's transaction is made of besides its text: the arguments of sendMessage
// that decide the envelope.
struct Envelope {
    String from, replyTo, to, cc, bcc, errorsTo;
    bool operator==(const Envelope& other) const = default;
};

class SenderSession : public Connection {
public:
    SenderSession();
    ~SenderSession() override;
    SenderSession(const SenderSession&) = delete;
    SenderSession& operator=(const SenderSession&) = delete;

    // --- session operations (virtual, in the order of the sender hierarchy) ---
    int disconnect() override;
    // Connects through the host list (commas and spaces separate entries, "host:port" changes
    // the port for that and later entries, "*" is 127.0.0.1, empty or "*" means
    // "localhost,127.0.0.1"), sends the firewall text and reads the greeting.
    virtual int connectSession(const String& host, const String& port, int level = 0,
                               const String& certificate = String());
    virtual int sendMessageToLists(const String& from, const String& replyTo, const StringList& to,
                                   const String& subject, const char* body, size_t length,
                                   const String& base, const StringList& cc,
                                   const StringList& bcc, const String& errorsTo);
    virtual int sendMessage(const String& from, const String& replyTo, const String& to,
                            const String& subject, const char* body, size_t length,
                            const String& base, const String& cc, const String& bcc,
                            const String& errorsTo);
    virtual int loadRecipientFile(const String& path);
    virtual int authenticate(const String& user, const String& password) = 0;
    virtual int reportProgress(int percent);
    virtual int sendMessageId();
    virtual int quit();
    // STARTTLS, then the TLS handshake with the connected host. The reply must be positive
    // and, when goCode is given, begin with it. Every way out without encryption closes the
    // connection, so nothing after this point travels in clear.
    int upgradeWithStartTls(const char* goCode = nullptr);
    // Reads a reply line into the reply buffer and judges it by its first digit.
    int readReply() override;

    // The last reply line (NUL-terminated, with its line end).
    const char* replyLine() const { return reply_; }
    // Why the step that returned result failed, for the exit status under -strict: the
    // connection's failure, else the last reply read as SMTP's (net/failure_cause.h).
    virtual Failure failureOf(int result) const;
    void setReplyLine(const char* text);

    // --- the data sink (message bytes between DATA and the final ".") ---
    // Appends bytes to the output block, flushing full blocks to the socket. Every line that
    // begins with "." gets a second one, unless dot-stuffing is off. Returns length
    // when accepted, else the failed send result (below 1).
    int writeData(const char* data, size_t length);
    int writeData(const String& text) { return writeData(text.c_str(), text.length()); }

    // --- the header writer: every header line goes through one of these ---
    // A formatted header line. A CR or LF that an argument brings becomes a blank; a format
    // without a final line end gets CR LF. Echoed at trace level 2.
    int writeHeader(const char* format, ...) __attribute__((format(printf, 2, 3)));
    // One composed header line: its own line end (if any) is replaced by CR LF, any other CR
    // or LF in it becomes a blank.
    int writeHeaderLine(std::string_view line);
    // Header lines given whole by the user (-hdr:, a part header): each line must be a field
    // or a folded continuation (see headerBlockFault); each goes out with CR LF. A block that
    // breaks the rule is refused (below 1, a message on standard error) and nothing is sent.
    int writeHeaderBlock(std::string_view block);
    // Sends what the sink holds. Returns 1 or the failed send result.
    int flushData();
    // Ends the message data: flushes and (unless the no-terminator flag is set) sends ".\r\n".
    int endData();
    // Progress bookkeeping for the composers: counted bytes and the total expected.
    void addProgress(uint32_t bytes) { bytesCounted_ += bytes; }
    void addExpected(int64_t delta);
    void reportProgressNow();

    // --- attachments ---
    int addAttachment(const String& path, const String& name, bool related);
    void releaseFiles(bool force);
    const std::vector<String>& attachmentFiles() const { return attachmentFiles_; }
    const std::vector<String>& attachmentNames() const { return attachmentNames_; }
    const std::vector<String>& relatedFiles() const { return relatedFiles_; }
    const std::vector<String>& relatedNames() const { return relatedNames_; }
    bool hasMultipartBody() const;

    // --- how messages are composed: set once by the run, adjusted per message by the
    // batch sender, the list server and the forwarder ---
    MessageStyle& style() { return style_; }
    const MessageStyle& style() const { return style_; }
    // The charset a text goes out under: the chosen one; without a choice "utf-8" for UTF-8
    // text beyond ASCII, else the style's charset.
    String textCharset(std::string_view text) const;

    // --- the kind of sender ---
    // What a kind changes for good: no final "." (the IMAP upload, the file sender),
    // no dot-stuffing (a literal cannot end early), Newsgroups instead of To and Cc.
    void setNoTerminator(bool v) { noTerminator_ = v; }
    void setDotStuffing(bool v) { dotStuffing_ = v; }
    void setNews(bool v) { news_ = v; }
    // Whether an end of the run has a session to close: an open connection; for the file
    // sender always (its file and its attachments are let go at every end).
    virtual bool hasSessionToClose() const { return isOpen(); }
    // A recipient the server refuses does not stop the others (the senders with a reply per
    // recipient, SMTP and QMTP, heed it).
    void setSkipRefused(bool v) { skipRefused_ = v; }

    // --- the connection ---
    // The connection's options, the firewall text and the command buffer size (16 at least).
    void setConnectionOptions(const ConnectionOptions& options, int verbose = 0) override;
    size_t bufferSize() const { return bufferSize_; }
    // Raw mode: the text that follows the body given to sendMessage, taken while it is sent
    // (null: that body is the whole text). Not owned.
    void setReadyMadeRest(ReadyMadePieces* rest) { readyMadeRest_ = rest; }
    const String& hostList() const { return hostList_; }
    const String& lastPort() const { return lastPort_; }
    const String& firewallText() const { return firewall_; }
    // Bytes of message data written for the last message, and its attachment count.
    uint32_t bytesSent() const { return bytesSent_; }
    uint32_t bytesCounted() const { return bytesCounted_; }
    uint32_t totalExpected() const { return totalExpected_; }
    int attachmentCount() const { return lastAttachmentCount_; }
    bool messageSent() const { return messageSent_; }
    const RecipientVerdicts& recipientVerdicts() const { return verdicts_; }
    // The run's promise of what it sends next on this session: asked when a message's data
    // ends, it gives the envelope of the message that sendMessage gets next (false: none, or
    // not known yet). A sender that pipelines puts that envelope in the same write as the
    // final "." (SMTP); the others never ask. Unset: nothing is asked.
    using NextEnvelope = std::function<bool(Envelope& next)>;
    void setNextEnvelope(NextEnvelope next) { nextEnvelope_ = std::move(next); }
    const NextEnvelope& nextEnvelope() const { return nextEnvelope_; }

protected:
    // The common writer: header lines from From to Date, then the body and the end of data.
    int writeMessage(const String& from, const String& replyTo, const String& subject,
                     const char* body, size_t length, const String& base,
                     const String& errorsTo);
    // Resets the per-message counters; total := length.
    void beginMessage(size_t length);
    // beginMessage, the first progress report and, with blind copies, the bulk precedence line.
    int startMessage(size_t length, bool hasBcc);
    // The greeting domain: the local name of the connection, completed with the DNS domain.
    String greetingDomain();
    // A header value through the encoded-word encoder in the session's charset; address
    // mode leaves the address part alone.
    String headerText(const String& value, bool address) const;
    char* commandBuffer() { return commandBuffer_.data(); }
    // Commands go through the command buffer (bufferSize() bytes), echoed when tracing.
    int vsendCommand(const char* format, va_list args) override;
    // Between these two the commands sent are gathered and go out in one write (a pipelined
    // group); sendGroup sends none of them when one could not be formatted.
    void beginGroup();
    int sendGroup();
    // Ends a group by putting its commands behind the message data not yet sent, so that they
    // leave in the data's last write: false (nothing added) when one could not be formatted.
    bool appendGroupToData();
    // Called when the data's final "." waits in the sink, before the last write.
    virtual void atDataEnd() {}
    // The run's next envelope, when it has promised one.
    bool askNextEnvelope(Envelope& next) const { return nextEnvelope_ && nextEnvelope_(next); }

    // A new message's verdicts: none yet, and no data sent.
    void beginVerdicts() {
        verdicts_ = RecipientVerdicts();
        messageSent_ = false;
    }

    int probe_ = 0;
    bool skipRefused_ = false;
    RecipientVerdicts verdicts_;

private:
    int writeSinglePartBody(const char* body, size_t length, const String& base);
    // Raw mode's body: ready-made message data, sent without dot-stuffing.
    int writeReadyMadeText(const char* body, size_t length);
    int writeRecipientText(const char* header, const String& list, bool applyHide);
    int sendBlock(const char* data, size_t length);
    int writeHeaderText(const std::string& text);

    std::vector<String> attachmentFiles_, attachmentNames_, relatedFiles_, relatedNames_;
    String firewall_, hostList_, lastPort_;
    MessageStyle style_;
    bool news_ = false, noTerminator_ = false, dotStuffing_ = true;
    ReadyMadePieces* readyMadeRest_ = nullptr;
    NextEnvelope nextEnvelope_;
    uint32_t bytesSent_ = 0, bytesCounted_ = 0, totalExpected_ = 0;
    int lastAttachmentCount_ = 0;
    bool messageSent_ = false;

    // The configured size: the buffer is released on disconnect and set up again at this size.
    size_t bufferSize_ = 4096;
    std::vector<char> commandBuffer_;
    char reply_[1024] = {};

    // The sink: pending output block and the line-start state for dot-stuffing.
    std::vector<char> out_;
    ProgressLine sending_{"Sending"};
    bool atLineStart_ = true;
    bool grouping_ = false, groupSpoilt_ = false;
    std::string group_;
};

// While alive, the sender's promise of the next envelope is the one given; the promise it had
// before comes back at the end.
class EnvelopePromise {
public:
    EnvelopePromise(SenderSession& sender, SenderSession::NextEnvelope next)
        : sender_(sender), before_(sender.nextEnvelope()) {
        sender_.setNextEnvelope(std::move(next));
    }
    ~EnvelopePromise() { sender_.setNextEnvelope(std::move(before_)); }
    EnvelopePromise(const EnvelopePromise&) = delete;
    EnvelopePromise& operator=(const EnvelopePromise&) = delete;

private:
    SenderSession& sender_;
    SenderSession::NextEnvelope before_;
};

// Opens the sender's session on host:port as its connection options say: with their
// -retries:, -level: and client certificate (presented over TLS only), each failure reported
// by reportConnectFailure. Returns the last connect result; a failure notes its cause.
int openSession(SenderSession& sender, const String& host, const String& port);
// "Could not connect to server: HOST:PORT, error= ..." on standard error.
void reportConnectFailure(const SenderSession& sender, const String& host, const String& port, int result);

} // namespace qarvel
