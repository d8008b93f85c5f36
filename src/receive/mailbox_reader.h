// MailboxReader: the one interface through which the receive driver talks to every kind of
// mailbox (POP3, IMAP, a message file). A reader is a Connection: the server readers use its
// socket, the file reader overrides the reading operations. The reader owns the Message record
// of the message retrieved last and runs the message parser over its own input.
//
// The server readers share the command loop of Connection (sendCommand, command) through the
// reader's command buffer; each protocol class supplies only readReply, which judges a reply
// line.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "base/ordered_map.h"
#include "base/run_failure.h"
#include "base/string.h"
#include "base/string_list.h"
#include "net/connection.h"
#include "receive/line_source.h"
#include "receive/message.h"
#include "receive/part_decoder.h"

namespace qarvel {

struct ParseBuffers;

// Results of the reader operations: above 0 success, 0 not done, below 0 failure.
constexpr int kReaderOk = 1;
constexpr int kReaderNotDone = 0;
constexpr int kReaderFailed = -1;

// Retrievals a reader keeps unanswered at most when it pipelines them.
constexpr size_t kRetrievalWindow = 32;

// Buffer sizes of the reader.
constexpr size_t kReaderCommandSize = 8192;
constexpr size_t kReaderReplySize = 512;

class MailboxReader : public Connection {
public:
    MailboxReader();
    ~MailboxReader() override;
    MailboxReader(const MailboxReader&) = delete;
    MailboxReader& operator=(const MailboxReader&) = delete;

    using Connection::open;

    // --- reader operations, in their fixed order ---
    // Clears the message state; unless keep-open is set, disconnects and frees the buffers.
    int close() override;
    // Connects to host:port (one host), sends the pre-command; no greeting is read here.
    virtual int open(const String& host, const String& port, const char* certificate, int level);
    virtual int login(const String& user, const String& password);
    virtual int messageCount();
    virtual int deleteMessage(int n);
    virtual int undeleteMessage(int n);
    virtual int closeMailbox();
    // retrieve with header-only 1 and extract 0, both restored afterwards.
    virtual int retrieveHeader(int n);
    virtual int retrieve(int n);
    virtual int sort(const String& criteria, const String& key);
    virtual int search(const String& criteria);
    virtual int messageSize(int n);
    virtual int unseenCount();
    virtual int recentCount();
    virtual int uidValidity();
    virtual int uidNext();
    virtual unsigned uidOf(int n);
    virtual unsigned orderedUid(int n);
    virtual int currentUid();
    virtual String currentFlags();
    virtual int listFolders(const String& pattern, int subscribedOnly);
    virtual int createFolder(const String& name);
    virtual int subscribeFolder(const String& name);
    virtual int unsubscribeFolder(const String& name);
    virtual int openFolder(const String& name, int readOnly);
    virtual int renameFolder(const String& oldName, const String& newName);
    virtual int copyMessage(int n, const String& folder, int deleteAfter);
    virtual int moveMessage(int n, const String& folder);
    virtual int deleteFolder(const String& name);
    virtual int nextFolderName(String& name);
    virtual int selectFolder(const String& name, int readOnly);
    virtual int fetchSizes(int first, int last);
    int readReply() override;
    // A lasting id for each message, for a record of what was delivered: asks the server
    // for them where it must (POP3 UIDL). 1, or 0 when the mailbox gives none.
    virtual int listUniqueIds();
    // The id of message n (after listUniqueIds), "" when it has none.
    virtual String uniqueId(int n);

    // --- the message parser ---
    // Reads one message from this reader's input into the Message record. Returns 1 when the
    // message was read to its end, 0 when reading failed first (the connection is then
    // disconnected; what was parsed so far stays in the record).
    int parseMessage(uint64_t expectedBytes);
    // The same over another input (an IMAP literal bounded to its size).
    int parseMessage(uint64_t expectedBytes, LineSource& input);

    // --- the Message record and its accessors ---
    Message& message() { return message_; }
    const Message& message() const { return message_; }
    OrderedMap& headerMap() { return headerMap_; }
    // The first value of a header field in the header map (case ignored), or "".
    String headerValue(const char* name) const;
    String subject() const { return message_.subject(); }
    String replyAddress() const { return message_.replyAddress(); }
    String sender() const { return message_.sender(); }
    String to() const { return message_.to(); }
    String cc() const { return message_.cc(); }
    String date() const { return message_.date(); }
    String mediaType() const { return message_.mediaType(); }
    const String& charset() const { return message_.charset; }
    const String& partFileName() const { return message_.partFileName; }
    const String& dispositionNotificationTo() const { return message_.dispositionNotificationTo; }
    const String& sensitivity() const { return message_.sensitivity; }
    const String& contentId() const { return message_.contentId; }
    const String& contentLocation() const { return message_.contentLocation; }
    const String& contentBase() const { return message_.contentBase; }
    const String& messageId() const { return message_.messageId; }
    const String& references() const { return message_.references; }
    int priority() const { return message_.priority; }
    const char* priorityName() const { return message_.priorityName(); }
    const char* body() const { return message_.bodyText(); }
    uint64_t bodyLength() const { return message_.bodyLength; }
    int headerCount() const { return message_.headerCount; }
    int partCount() const { return message_.partCount(); }
    MessagePart* nextPart();
    // The last reply line as read (line end included), also after close; "" before the first
    // open.
    const char* lastReply() const { return reply_.empty() ? "" : reply_.data(); }
    // Why the step that returned result failed, for the exit status under -strict: the
    // connection's failure, else the last reply read as POP3's (net/failure_cause.h).
    virtual Failure failureOf(int result) const;

    // --- settings of the reader (copied in by the entry point and the driver; the
    // connection's own come with setConnectionOptions) ---
    void setRaw(int v) { raw_ = v; }
    void setExtract(int v) { extract_ = v ? 1 : 0; }
    void setHtml(int v) { html_ = v; }
    void setHeaderOnly(int v) { headerOnly_ = v; }
    void setSizeTrust(int v) { sizeTrust_ = v; }
    void setDecodeHeaders(int v) { decodeHeaders_ = v; }
    void setKeepOpen(int v) { keepOpen_ = v; }
    void setApop(int v) { apop_ = v; }
    void setPreCommand(const String& v) { preCommand_ = v; }
    // Where parts that outgrow memory are spilled while a message is parsed.
    void setWorkingFolder(const String& folder) { workingFolder_ = folder; }
    // The folder every extracted part is written to, when the caller writes the parts there
    // with writeAttachment: the parser then puts each part straight into a file of that
    // folder, in text mode by writtenAsText(content type, allText). None (the default): parts
    // are held in memory or spilled to the working folder.
    void setPartFolder(std::optional<String> folder, bool allText = false) {
        partFolder_ = std::move(folder);
        allPartsText_ = allText;
    }
    // Where the text of each retrieved message (or IMAP part) goes instead of the record, for
    // a caller that only writes it out: none of it is held, whatever its size. A header-only
    // read keeps its line in the record. None (the default): the record keeps the text.
    void setBodySink(PartDecoder::Sink sink) { bodySink_ = std::move(sink); }
    // Where a copy of each message goes as it was received, header and all, whatever the
    // parser makes of it: the bytes after the data phase's dot rule (a stuffed dot dropped,
    // the end marker left out). A header-only read copies nothing. None: no copy.
    void setRawSink(std::function<void(const char*, size_t)> sink) { rawSink_ = std::move(sink); }
    // The messages the run retrieves next, in order, with no other command on the connection
    // between them: next(n) names the one after n (0: none). A reader that may pipeline sends
    // their retrievals ahead of the replies (a bounded window). None (the default): every
    // retrieval waits for its reply before the next is sent.
    void setRetrievalPlan(NextKey next) { plan_ = std::move(next); }
    int raw() const { return raw_; }
    int extract() const { return extract_; }
    int html() const { return html_; }
    int headerOnly() const { return headerOnly_; }
    int sizeTrust() const { return sizeTrust_; }
    int decodeHeaders() const { return decodeHeaders_; }
    int keepOpen() const { return keepOpen_; }
    int apop() const { return apop_; }
    int loggedIn() const { return loggedIn_; }
    const String& workingFolder() const { return workingFolder_; }
    const String& preCommand() const { return preCommand_; }
    const String& connectHost() const { return connectHost_; }
    const String& connectPort() const { return connectPort_; }
    // Total size of the mailbox after login/open, the body length after a parse, the part
    // size after nextPart.
    uint64_t currentSize() const { return currentSize_; }
    int lastRetrieved() const { return lastRetrieved_; }
    bool connected() const;

    // Reads one line of at most kReaderReplySize-1 bytes into the reply buffer, NUL-terminated,
    // echoed when tracing. Returns the read result (below 1 on failure).
    int readReplyLine();

protected:
    // Commands go through the 8192-byte command buffer, echoed when tracing; -1 when closed.
    int vsendCommand(const char* format, va_list args) override;
    // Clears the message record, the header map and the reply and command buffers.
    void clearMessageState();
    // sendInTurn for the retrieval of message n, with the retrievals of the plan sent ahead
    // up to window (none without a plan).
    int retrievalInTurn(int n, const SendFor& send, size_t window, unsigned long& tag);
    bool planned(int n) const { return plan_ && plan_(n) > 0; }
    // Puts a reason of the client's own where the reply line goes (lastReply shows it).
    void setReply(const char* text);

    std::vector<char> commandBuffer_;
    std::vector<char> reply_;
    StringList folders_;
    int count_ = 0;
    int raw_ = 0;
    int extract_ = 0;
    int html_ = 0;
    int headerOnly_ = 0;
    int sizeTrust_ = 1;
    int decodeHeaders_ = 1;
    int endMarker_ = 1;  // a lone "." line ends a message (servers; not message files)
    int lastRetrieved_ = 0;
    int keepOpen_ = 0;
    int loggedIn_ = 0;
    int apop_ = 0;
    int dotStuffed_ = 1;  // the input is POP3 data: "." ends it, leading dots are doubled
    uint64_t currentSize_ = 0;
    String connectHost_, connectPort_, preCommand_, workingFolder_;
    std::optional<String> partFolder_;
    bool allPartsText_ = false;
    PartDecoder::Sink bodySink_;
    std::function<void(const char*, size_t)> rawSink_;
    NextKey plan_;
    // The parser's buffers, kept for the run.
    ParseBuffers& parseBuffers();

private:
    Message message_;
    OrderedMap headerMap_;
    std::unique_ptr<ParseBuffers> parseBuffers_;
};

} // namespace qarvel
