// The mailbox reader base: default operations, the connect form of the readers, the command
// loop shared by the server readers, and the entry to the message parser.
#include "receive/mailbox_reader.h"

#include <cstdio>
#include <cstring>

#include "base/encoded_word.h"
#include "base/progress_line.h"
#include "receive/message_parser.h"
#include "net/failure_cause.h"

namespace qarvel {

namespace {
// A reply line longer than this is a broken or hostile server.
constexpr size_t kReplyDrainMax = 1u << 20;
} // namespace

MailboxReader::MailboxReader() {
    setTimeout(300);
    workingFolder_ = "/tmp";
}

MailboxReader::~MailboxReader() {
    if (isOpen()) Connection::close();
}

bool MailboxReader::connected() const { return isOpen(); }

void MailboxReader::clearMessageState() {
    message_.clear();
    headerMap_.clear();
    folders_.clear();
    if (!commandBuffer_.empty()) commandBuffer_[0] = '\0';
    lastRetrieved_ = 0;
    currentSize_ = 0;
}

int MailboxReader::close() {
    clearMessageState();
    forgetAhead();
    if (keepOpen_) return kReaderOk;
    loggedIn_ = 0;
    count_ = 0;
    int result = Connection::close();
    std::vector<char>().swap(commandBuffer_);
    // The reply stays: the last word of the session (QUIT's answer) is what -syslog records.
    return result;
}

int MailboxReader::open(const String& host, const String& port, const char*, int) {
    if (connected()) close();
    if (commandBuffer_.empty()) commandBuffer_.assign(kReaderCommandSize, '\0');
    if (reply_.empty()) reply_.assign(kReaderReplySize, '\0');
    commandBuffer_[0] = '\0';
    reply_[0] = '\0';
    connectHost_ = host;
    connectPort_ = port;
    forgetAhead();
    int result = open(host, port);  // the connection layer's open (virtual)
    if (result < 1) return result;
    if (!preCommand_.empty()) {
        int sent = sendCommand("%s\r\n", preCommand_.c_str());
        if (sent < 1) return sent;
    }
    return kReaderOk;
}

int MailboxReader::login(const String&, const String&) { return kReaderNotDone; }
int MailboxReader::messageCount() { return count_; }
int MailboxReader::deleteMessage(int) { return kReaderNotDone; }
int MailboxReader::undeleteMessage(int) { return kReaderNotDone; }
int MailboxReader::closeMailbox() { return kReaderOk; }

int MailboxReader::retrieveHeader(int n) {
    int savedHeaderOnly = headerOnly_;
    int savedExtract = extract_;
    // A header is fetched out of the plan: nothing goes ahead of it.
    NextKey savedPlan = std::move(plan_);
    plan_ = nullptr;
    headerOnly_ = 1;
    extract_ = 0;
    int result = retrieve(n);
    headerOnly_ = savedHeaderOnly;
    extract_ = savedExtract;
    plan_ = std::move(savedPlan);
    return result;
}

int MailboxReader::retrievalInTurn(int n, const SendFor& send, size_t window, unsigned long& tag) {
    static const NextKey none = [](int) { return 0; };
    return sendInTurn(n, send, plan_ ? plan_ : none, plan_ ? window : 1, tag);
}

int MailboxReader::retrieve(int) { return kReaderNotDone; }
int MailboxReader::sort(const String&, const String&) { return kReaderNotDone; }
int MailboxReader::search(const String&) { return kReaderNotDone; }
int MailboxReader::messageSize(int) { return 0; }
int MailboxReader::unseenCount() { return 0; }
int MailboxReader::recentCount() { return 0; }
int MailboxReader::uidValidity() { return 0; }
int MailboxReader::uidNext() { return 0; }
unsigned MailboxReader::uidOf(int) { return 0; }
unsigned MailboxReader::orderedUid(int n) { return uidOf(n); }
int MailboxReader::currentUid() { return lastRetrieved_; }
String MailboxReader::currentFlags() { return "\\Seen"; }
int MailboxReader::listFolders(const String&, int) { return kReaderNotDone; }
int MailboxReader::createFolder(const String&) { return kReaderNotDone; }
int MailboxReader::subscribeFolder(const String&) { return kReaderNotDone; }
int MailboxReader::unsubscribeFolder(const String&) { return kReaderNotDone; }
int MailboxReader::openFolder(const String& name, int readOnly) {
    int result = selectFolder(name, readOnly);
    if (result < 1) return result;
    return fetchSizes(1, 0);
}
int MailboxReader::renameFolder(const String&, const String&) { return kReaderNotDone; }
int MailboxReader::copyMessage(int, const String&, int) { return kReaderNotDone; }
int MailboxReader::moveMessage(int n, const String& folder) { return copyMessage(n, folder, 1); }
int MailboxReader::deleteFolder(const String&) { return kReaderNotDone; }
int MailboxReader::nextFolderName(String&) { return kReaderNotDone; }
int MailboxReader::selectFolder(const String&, int) { return kReaderNotDone; }
int MailboxReader::fetchSizes(int, int) { return kReaderNotDone; }
int MailboxReader::readReply() { return kReaderNotDone; }
int MailboxReader::listUniqueIds() { return kReaderNotDone; }
String MailboxReader::uniqueId(int) { return String(); }

namespace {

// The reader's own reading operations (socket, or file for the file reader) as the parser's
// line source. A line that comes back shorter than asked and without its line feed means the
// input stopped: the end of a file, or on a connection the time-out ran out in the middle of a
// line. After that the input reads as ended, so a stalled server costs one time-out, not one
// per read.
class ReaderInput : public LineSource {
public:
    explicit ReaderInput(MailboxReader& reader) : reader_(reader) {}
    int readLine(char* buffer, int max) override {
        if (stopped_) return 0;
        int n = reader_.readLine(buffer, max);
        if (n > 0 && n < max && buffer[n - 1] != '\n') stopped_ = true;
        return n;
    }
    int peekByte(char* out) override { return stopped_ ? 0 : reader_.peekByte(out); }
    int read(char* buffer, int length) override {
        if (stopped_) return 0;
        int n = reader_.read(buffer, length);
        if (n > 0 && n < length) stopped_ = true;
        return n;
    }
    size_t bufferedView(const char** data) override {
        if (!stopped_) return reader_.bufferedView(data);
        *data = nullptr;
        return 0;
    }
    void consume(size_t n) override { reader_.consume(n); }

private:
    MailboxReader& reader_;
    bool stopped_ = false;
};

// The message's bytes counted on their way to the parser, for the progress line.
class CountedInput : public LineSource {
public:
    CountedInput(LineSource& input, uint64_t expectedBytes) : input_(input) {
        progress_.begin(expectedBytes > 0 ? static_cast<int64_t>(expectedBytes) : -1);
    }
    int readLine(char* buffer, int max) override { return counted(input_.readLine(buffer, max)); }
    int peekByte(char* out) override { return input_.peekByte(out); }
    int read(char* buffer, int length) override { return counted(input_.read(buffer, length)); }
    size_t bufferedView(const char** data) override { return input_.bufferedView(data); }
    void consume(size_t n) override {
        progress_.add(static_cast<int64_t>(n));
        input_.consume(n);
    }

private:
    int counted(int n) {
        if (n > 0) progress_.add(n);
        return n;
    }
    LineSource& input_;
    ProgressLine progress_{"Receiving"};
};

// Every byte the parser takes also goes to the raw sink, as the message was before the data
// phase stuffed it: a leading dot of a line dropped, and the end marker left out (on a
// connection always; in a message file, where a lone "." is text, only as the last line).
class CopiedInput : public LineSource {
public:
    CopiedInput(LineSource& input, const std::function<void(const char*, size_t)>& sink, bool dotStuffed,
                bool endMarker)
        : input_(input), sink_(sink), dotStuffed_(dotStuffed), endMarker_(endMarker) {}
    int readLine(char* buffer, int max) override {
        int n = input_.readLine(buffer, max);
        if (n > 0) copyLine(buffer, static_cast<size_t>(n));
        return n;
    }
    int peekByte(char* out) override { return input_.peekByte(out); }
    int read(char* buffer, int length) override {
        int n = input_.read(buffer, length);
        if (n > 0) copy(buffer, static_cast<size_t>(n));
        return n;
    }
    size_t bufferedView(const char** data) override {
        size_t n = input_.bufferedView(data);
        view_ = *data;
        return n;
    }
    void consume(size_t n) override {
        // The parser takes whole lines here, none of which begins with a dot.
        copy(view_, n);
        input_.consume(n);
    }

private:
    void copyLine(const char* data, size_t n) {
        if (dotStuffed_ && lineStart_ && data[0] == '.') {
            const bool lone = (n == 2 && data[1] == '\n') || (n == 3 && data[1] == '\r' && data[2] == '\n');
            char next = 0;
            if (lone && (endMarker_ || input_.peekByte(&next) < 1)) return;
            if (!lone) ++data, --n;
        }
        copy(data, n);
    }
    void copy(const char* data, size_t n) {
        if (n == 0) return;
        sink_(data, n);
        lineStart_ = data[n - 1] == '\n';
    }

    LineSource& input_;
    const std::function<void(const char*, size_t)>& sink_;
    const bool dotStuffed_, endMarker_;
    bool lineStart_ = true;
    const char* view_ = nullptr;
};

} // namespace

ParseBuffers& MailboxReader::parseBuffers() {
    if (!parseBuffers_) parseBuffers_ = std::make_unique<ParseBuffers>();
    return *parseBuffers_;
}

int MailboxReader::parseMessage(uint64_t expectedBytes) {
    ReaderInput input(*this);
    return parseMessage(expectedBytes, input);
}

int MailboxReader::parseMessage(uint64_t expectedBytes, LineSource& source) {
    CountedInput counted(source, expectedBytes);
    CopiedInput copied(counted, rawSink_, dotStuffed_, endMarker_);
    LineSource& input = rawSink_ && headerOnly_ != 1 ? static_cast<LineSource&>(copied) : counted;
    ParseSettings settings;
    settings.dotStuffed = dotStuffed_;
    settings.headerOnly = headerOnly_;
    settings.extract = extract_;
    settings.html = html_;
    settings.sizeTrust = sizeTrust_;
    settings.raw = raw_;
    settings.decodeHeaders = decodeHeaders_;
    settings.endMarker = endMarker_;
    settings.traceLevel = traceLevel_;
    settings.workingFolder = workingFolder_;
    // A folder that cannot be opened stages nothing: the parts are then held as without one,
    // and the attachment writer reports the folder when it writes them.
    if (partFolder_) settings.partFolder = FolderHandle::open(*partFolder_);
    settings.allPartsText = allPartsText_;
    settings.decodeWords = decodeEncodedWords;
    if (headerOnly_ != 1) settings.bodySink = &bodySink_;
    MessageParser parser(input, settings, message_, &parseBuffers());
    int result = parser.run(expectedBytes);
    headerMap_.clear();
    for (const auto& [name, value] : message_.headers) headerMap_.insert(name, value);
    currentSize_ = message_.bodyLength;
    if (result < 1) Connection::close();
    return result;
}

MessagePart* MailboxReader::nextPart() {
    MessagePart* part = message_.nextPart();
    if (part) currentSize_ = part->size();
    return part;
}

String MailboxReader::headerValue(const char* name) const { return message_.header(name); }

int MailboxReader::vsendCommand(const char* format, va_list args) {
    if (!connected()) return kReaderFailed;
    if (commandBuffer_.empty()) commandBuffer_.assign(kReaderCommandSize, '\0');
    return sendFormatted(commandBuffer_, traceLevel_ != 0, format, args);
}

int MailboxReader::readReplyLine() {
    if (reply_.empty()) reply_.assign(kReaderReplySize, '\0');
    reply_[0] = '\0';
    if (!connected()) return kReaderFailed;
    int r = readLine(reply_.data(), static_cast<int>(kReaderReplySize - 1));
    if (r < 1) return r;
    size_t length = static_cast<size_t>(r) < kReaderReplySize - 1 ? static_cast<size_t>(r) : kReaderReplySize - 1;
    reply_[length] = '\0';
    if (traceLevel_) echo(reply_.data(), length);
    // A line that stops short of its end without a line feed: the time-out ran out (or the
    // peer closed) in the middle of it. That is no reply, and waiting again would double the
    // time-out.
    const int lineMax = static_cast<int>(kReaderReplySize - 1);
    if (reply_[length - 1] != '\n' && r < lineMax) return kReaderNotDone;
    // The rest of an over-long line is read and dropped, so that it is not taken for the
    // next reply or for message data.
    if (reply_[length - 1] != '\n') {
        char rest[512];
        const int restMax = static_cast<int>(sizeof rest - 1);
        size_t drained = 0;
        for (;;) {
            int n = readLine(rest, restMax);
            if (n < 1) return n;
            drained += static_cast<size_t>(n);
            if (rest[n - 1] == '\n') break;
            if (n < restMax) return kReaderNotDone;
            if (drained > kReplyDrainMax) return kReaderFailed;
        }
    }
    return r;
}

void MailboxReader::setReply(const char* text) {
    if (reply_.empty()) reply_.assign(kReaderReplySize, '\0');
    std::snprintf(reply_.data(), reply_.size(), "%s", text);
}

Failure MailboxReader::failureOf(int result) const { return sessionFailure(*this, result, lastReply()); }

} // namespace qarvel
