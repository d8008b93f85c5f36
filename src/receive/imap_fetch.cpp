// The IMAP4 reader's fetches: a message or one body part streamed off its literal, the body
// structure, and IDLE.
#include "receive/imap_reader.h"

#include <strings.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/text.h"
#include "receive/message_parser.h"

namespace qarvel {

namespace {

// A decoded part is read in pieces of this size.
constexpr size_t kPartPiece = 64 * 1024;

// A literal that stays the whole message: bounded to its size, so the parser cannot read the
// tagged line that follows, and so a lying size ends at the end of the connection.
class LiteralInput : public LineSource {
public:
    LiteralInput(MailboxReader& reader, unsigned long long size) : reader_(reader), left_(size) {}
    int readLine(char* buffer, int max) override {
        if (left_ == 0 || stopped_) return 0;
        int limit = static_cast<unsigned long long>(max) < left_ ? max : static_cast<int>(left_);
        int n = reader_.readLine(buffer, limit);
        if (n < 1) { stopped_ = true; return n; }
        if (n < limit && buffer[n - 1] != '\n') stopped_ = true;  // the time-out cut a line
        left_ -= static_cast<unsigned long long>(n);
        return n;
    }
    int peekByte(char* out) override {
        if (left_ == 0 || stopped_) return 0;
        return reader_.peekByte(out);
    }
    int read(char* buffer, int length) override {
        if (left_ == 0 || stopped_) return 0;
        int limit = static_cast<unsigned long long>(length) < left_ ? length : static_cast<int>(left_);
        int n = reader_.read(buffer, limit);
        if (n < 1) { stopped_ = true; return n; }
        left_ -= static_cast<unsigned long long>(n);
        return n;
    }
    size_t bufferedView(const char** data) override {
        size_t n = stopped_ ? 0 : reader_.bufferedView(data);
        return n < left_ ? n : static_cast<size_t>(left_);
    }
    void consume(size_t n) override {
        reader_.consume(n);
        left_ -= n;
    }
    unsigned long long left() const { return left_; }
    bool stopped() const { return stopped_; }

private:
    MailboxReader& reader_;
    unsigned long long left_;
    bool stopped_ = false;
};

// The parenthesised list that follows word in line ("" when none does).
String structureAfter(const char* line, const char* word) {
    const char* at = locateNoCase(line, word);
    const char* open = at ? strchr(at, '(') : nullptr;
    if (!open) return String();
    int level = 0;
    const char* p = open;
    for (; *p; ++p) {
        if (*p == '(') ++level;
        else if (*p == ')' && --level == 0) { ++p; break; }
    }
    return String(open, static_cast<size_t>(p - open));
}

} // namespace

// ---------------------------------------------------------------- fetches

int ImapReader::parseLiteral(unsigned long long n) {
    LiteralInput input(*this, n);
    int r = parseMessage(n, input);
    if (r < 1) return r;
    if (input.left() > 0) {
        // The parser may stop early (a header-only read); the rest of the literal is dropped
        // so the response goes on where it should.
        r = skipBytes(input.left());
        if (r < 1) return r;
    }
    return kReaderOk;
}

int ImapReader::streamPart(unsigned long long n) {
    PartDecoder& decoder = parseBuffers().decoder;
    PartDecoder::Sink sink = bodySink_;
    if (!sink) {
        // Without a sink the part becomes the body of the message record (bounded).
        sink = [this](const char* data, size_t length) {
            std::string& body = message().body;
            if (body.size() < kBodyCapMax) body.append(data, std::min(length, static_cast<size_t>(kBodyCapMax - body.size())));
            message().bodyLength = body.size();
            return true;
        };
    }
    decoder.begin(partEncoding_, sink, partEncoding_ == PartEncoding::kUuencode);
    LiteralInput input(*this, n);
    std::vector<char>& piece = parseBuffers().line;
    if (piece.size() < kPartPiece + 1) piece.resize(kPartPiece + 1);
    bool ok = true;
    while (input.left() > 0) {
        int got = input.readLine(piece.data(), static_cast<int>(kPartPiece));
        if (got < 1) return got < 0 ? got : kReaderNotDone;
        if (ok) ok = decoder.put(piece.data(), static_cast<size_t>(got), piece[static_cast<size_t>(got) - 1] == '\n');
        if (input.stopped() && input.left() > 0) return kReaderNotDone;
    }
    if (ok) ok = decoder.finish();
    message().bytesRead = n;
    return ok ? kReaderOk : kReaderFailed;
}

int ImapReader::fetchFailed(const char* text, int result) {
    printf("%s%d\n", text, result);
    Connection::close();
    return result;
}

bool ImapReader::answersFetch(const char* line, size_t length, unsigned long wanted, bool byUid,
                              FetchKind kind) const {
    unsigned long number = 0;
    char word[1024];
    if (sscanf(line, "* %lu %1023s", &number, word) != 2 || strcasecmp(word, "FETCH") != 0) return false;
    // Only the answer carries the body (or the structure); a FETCH of flags alone for the same
    // message is unsolicited.
    if (!locateNoCase(line, kind == FetchKind::kStructure ? "BODYSTRUCTURE" : "BODY[")) return false;
    if (!byUid) {
        if (number == wanted) return true;
        // The answer for another message: this command fails at its tagged line.
        printf("Message nbr missmatch: got = %lu, expected = %lu\n", number, wanted);
        return false;
    }
    // The UID may also come after the literal; a FETCH with a body and no UID before it is
    // taken as the answer and checked once the UID is known.
    unsigned long uid = imapNumberAfter(line, "UID ", 0);
    return uid == wanted || (uid == 0 && (kind == FetchKind::kStructure || literalAtEnd(line, length) >= 0));
}

int ImapReader::awaitFetchAnswer(unsigned long wanted, bool byUid, const char* failText, FetchKind kind,
                                 size_t& length) {
    for (;;) {
        literals_.clear();
        int r = readPhysical(0);
        if (r < 1) return fetchFailed(failText, r);
        length = static_cast<size_t>(r);
        if (reply_[0] != '*') {
            if (passOwed()) continue;
            judgeTagged();
            return kReaderFailed;
        }
        const bool answer = answersFetch(reply_.data(), length, wanted, byUid, kind);
        if (answer && kind != FetchKind::kStructure) return kReaderOk;
        // Unsolicited data in the middle of the command (new mail, flag changes, expunges), or
        // a structure, which is read whole with its literals.
        r = finishResponse(length);
        if (r < 1) return fetchFailed(failText, r);
        if (answer) return kReaderOk;
        digest();
        if (!bye_.empty()) fprintf(stderr, "IMAP server closed the session: %s\n", bye_.c_str());
        bye_ = String();
    }
}

void ImapReader::takeFetchItems(const char* text, unsigned long& size) {
    if (!currentUid_) currentUid_ = static_cast<uint32_t>(imapNumberAfter(text, "UID ", 0));
    if (unsigned long found = imapNumberAfter(text, "RFC822.SIZE", 0)) size = found;
    if (flags_.empty()) {
        char flags[1024] = "";
        if (const char* at = locateNoCase(text, "FLAGS (")) sscanf(at, "FLAGS (%1023[^)\r\n]", flags);
        flags_ = String(flags);
    }
}

int ImapReader::readFetch(unsigned long wanted, bool byUid, const char* failText, FetchKind kind) {
    size_t length = 0;
    int r = awaitFetchAnswer(wanted, byUid, failText, kind, length);
    if (r < 1) return r;
    currentUid_ = 0;
    flags_ = String();
    unsigned long size = 0;
    takeFetchItems(reply_.data(), size);
    if (kind == FetchKind::kStructure) {
        structure_ = structureAfter(reply_.data(), "BODYSTRUCTURE");
        parseBodyStructure(structure_.c_str(), parts_);
        return readReply();
    }
    const long long literal = literalAtEnd(reply_.data(), length);
    if (literal < 0) {
        // No body came (an empty part, or the server sent none).
        r = finishResponse(length);
        return r < 1 ? r : readReply();
    }
    if (kind == FetchKind::kPart) message().clear();
    r = kind == FetchKind::kPart ? streamPart(static_cast<unsigned long long>(literal))
                                 : parseLiteral(static_cast<unsigned long long>(literal));
    if (r < 1) return fetchFailed("Parse failed: ", r);
    r = readPhysical(0);
    if (r >= 1) r = finishResponse(static_cast<size_t>(r));
    if (r < 1) return fetchFailed("Premature end of Retrieve() operation: ", r);
    // Servers may send the size, the flags and the UID after the literal.
    takeFetchItems(reply_.data(), size);
    if (size) currentSize_ = size;
    if (!byUid && !ordered_) {
        // What the answer told of the message is kept for its size and UID.
        if (size) table_.setSize(static_cast<uint32_t>(wanted), static_cast<uint32_t>(size));
        if (currentUid_) table_.setUid(static_cast<uint32_t>(wanted), currentUid_);
    }
    if (kind == FetchKind::kMessage && commandsAhead() > 0) {
        // The message is whole; its tagged line may come after the next ones' data and is
        // passed over where it comes.
        owed_.push_back(core_.awaited());
        r = kReaderOk;
    } else {
        r = readReply();
    }
    if (r >= 1 && byUid && currentUid_ != wanted) {
        printf("Message nbr missmatch: got = %lu, expected = %lu\n", static_cast<unsigned long>(currentUid_), wanted);
        return kReaderFailed;
    }
    return r;
}

int ImapReader::retrieve(int n) {
    if (n < 1 || n > count_ || !connected()) return kReaderFailed;
    const char* peek = headerOnly_ ? ".PEEK" : "";
    const char* section = headerOnly_ == 1 ? "HEADER" : "";
    // IMAP lets a client send commands without waiting (each answered under its own tag);
    // the FETCH of the messages the run takes next go ahead of this one's answer.
    auto send = [&](int k, unsigned long& tag) {
        int r = ordered_ ? sendCommand("%lu UID FETCH %lu (UID RFC822.SIZE FLAGS BODY%s[%s])\r\n", nextTag(),
                                       static_cast<unsigned long>(orderedUid(k)), peek, section)
                         : sendCommand("%lu FETCH %d (UID RFC822.SIZE FLAGS BODY%s[%s])\r\n", nextTag(), k, peek, section);
        tag = core_.tag();
        return r;
    };
    unsigned long tag = 0;
    int r = retrievalInTurn(n, send, kRetrievalWindow, tag);
    if (r < 1) return r;
    core_.await(tag);
    r = ordered_ ? readFetch(orderedUid(n), true, "No response retrievebyuid: ", FetchKind::kMessage)
                 : readFetch(static_cast<unsigned long>(n), false, "No response retrieveby: ", FetchKind::kMessage);
    if (r >= 1) lastRetrieved_ = n;
    return r;
}

int ImapReader::fetchStructure(int n) {
    if (n < 1 || n > count_ || !connected()) return kReaderFailed;
    int r;
    if (ordered_) {
        unsigned long uid = orderedUid(n);
        r = sendCommand("%lu UID FETCH %lu (UID BODYSTRUCTURE)\r\n", nextTag(), uid);
        if (r < 1) return r;
        return readFetch(uid, true, "No response retrieveby: ", FetchKind::kStructure);
    }
    r = sendCommand("%lu FETCH %d (UID BODYSTRUCTURE)\r\n", nextTag(), n);
    if (r < 1) return r;
    return readFetch(static_cast<unsigned long>(n), false, "No response retrieveby: ", FetchKind::kStructure);
}

namespace {

PartEncoding encodingNamed(const String& name) {
    if (strcasecmp(name.c_str(), "base64") == 0) return PartEncoding::kBase64;
    if (strcasecmp(name.c_str(), "quoted-printable") == 0) return PartEncoding::kQuotedPrintable;
    if (strstr(name.c_str(), "uue")) return PartEncoding::kUuencode;
    return PartEncoding::kNone;
}

} // namespace

int ImapReader::retrievePart(int n, const String& section, const String& encoding,
                             unsigned long offset, unsigned long length) {
    message().clear();
    message().contentType = "application/octet-stream";
    lastRetrieved_ = n;
    if (!connected()) return kReaderFailed;
    partEncoding_ = encodingNamed(encoding);
    currentSize_ = 0;
    int r = length ? sendCommand("%lu FETCH %d (UID BODY[%s]<%lu.%lu>)\r\n", nextTag(), n, section.c_str(), offset, length)
                   : sendCommand("%lu FETCH %d (UID BODY[%s])\r\n", nextTag(), n, section.c_str());
    if (r < 1) return r;
    return readFetch(static_cast<unsigned long>(n), false, "No response retrieveby: ", FetchKind::kPart);
}

int ImapReader::retrievePartByUid(unsigned uid, const String& section, const String& encoding,
                                  unsigned long offset, unsigned long length) {
    message().clear();
    message().contentType = "application/octet-stream";
    lastRetrieved_ = static_cast<int>(uid);
    if (!connected()) return kReaderFailed;
    partEncoding_ = encodingNamed(encoding);
    currentSize_ = 0;
    unsigned long u = uid;
    int r = length ? sendCommand("%lu UID FETCH %lu (UID BODY[%s]<%lu.%lu>)\r\n", nextTag(), u, section.c_str(), offset, length)
                   : sendCommand("%lu UID FETCH %lu (UID BODY[%s])\r\n", nextTag(), u, section.c_str());
    if (r < 1) return r;
    return readFetch(u, true, "No response retrievebyuid: ", FetchKind::kPart);
}

// ---------------------------------------------------------------- IDLE

int ImapReader::idle() {
    if (!connected()) return kReaderFailed;
    if (!core_.capabilities().idle) return kReaderNotDone;
    int r = sendCommand("%lu IDLE\r\n", nextTag());
    if (r < 1) return r;
    r = readResponse();
    if (r < 1) return r;
    if (reply_[0] != '+') return kReaderNotDone;
    idling_ = true;
    return kReaderOk;
}

int ImapReader::idleWait(int seconds) {
    if (!connected()) return kReaderFailed;
    if (!idling_) return kReaderNotDone;
    for (int left = seconds; left > 0; --left) {
        if (buffered() > 0 || waitReadable(1, 0) > 0) {
            int r = readResponse();
            if (r < 1) return r;
            return left;
        }
    }
    return kReaderNotDone;
}

int ImapReader::idleEnd() {
    idling_ = false;
    return connected() ? kReaderNotDone : kReaderFailed;
}

int ImapReader::idleDone() {
    if (!connected()) return kReaderFailed;
    idling_ = false;
    int r = sendCommand("DONE\r\n");
    if (r < 1) return r;
    return readReply();
}

} // namespace qarvel
