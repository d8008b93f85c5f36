// The message parser: header fields, multipart structure, per-part decoding and extraction.
#include "base/text.h"
#include "receive/message_parser.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <strings.h>

#include "base/charset.h"
#include "receive/attachment_file.h"
#include "receive/header_parameter.h"

namespace qarvel {

namespace {

String lowered(const String& text) {
    String out = text;
    out.toLower();
    return out;
}

// The header fields that the parser keeps, matched by prefix (case ignored).
enum class Field {
    kTo, kCc, kDate, kMessageId, kReferences, kSubject, kFrom, kReplyTo, kSensitivity,
    kNotificationTo, kReturnReceipt, kImportance, kXPriority, kContentId, kContentLocation,
    kContentBase,
};

struct FieldRow {
    const char* prefix;
    Field field;
};

constexpr FieldRow kFields[] = {
    {"To:", Field::kTo},
    {"Cc:", Field::kCc},
    {"Date:", Field::kDate},
    {"Message-ID:", Field::kMessageId},
    {"References:", Field::kReferences},
    {"Subject:", Field::kSubject},
    {"From:", Field::kFrom},
    {"Reply-To:", Field::kReplyTo},
    {"Sensitivity:", Field::kSensitivity},
    {"Disposition-Notification-To:", Field::kNotificationTo},
    {"Return-Receipt-To:", Field::kReturnReceipt},
    {"Importance:", Field::kImportance},
    {"X-MSMail-Priority:", Field::kImportance},
    {"X-Priority:", Field::kXPriority},
    {"Content-ID:", Field::kContentId},
    {"Content-Location:", Field::kContentLocation},
    {"Content-Base:", Field::kContentBase},
};

// The value of a header line: after the colon and any blanks, up to CR or LF.
String headerValueOf(const std::string& line, size_t colon) {
    size_t start = colon + 1;
    while (start < line.size() && line[start] == ' ') ++start;
    size_t end = start;
    while (end < line.size() && line[end] != '\r' && line[end] != '\n') ++end;
    return String(line.data() + start, end - start);
}

// A field of the table: its text (decoded, in charset) goes into the message; the Content-ID
// also into the part being extracted.
void storeField(Field field, const String& value, const String& decoded, const String& charset,
                Message& message, String* partContentId) {
    FieldCharsets& charsets = message.fieldCharsets;
    switch (field) {
    case Field::kTo:
        if (!charset.empty()) charsets.to = charset;
        if (message.toText.length() < kAddressListMax)
            message.toText = message.toText.empty() ? decoded : message.toText + "," + decoded;
        break;
    case Field::kCc:
        if (!charset.empty()) charsets.cc = charset;
        if (message.ccText.length() < kAddressListMax)
            message.ccText = message.ccText.empty() ? decoded : message.ccText + "," + decoded;
        break;
    case Field::kDate: message.dateText = decoded, charsets.date = charset; break;
    case Field::kMessageId: message.messageId = decoded; break;
    case Field::kReferences: message.references = decoded; break;
    case Field::kSubject: message.subjectText = decoded, charsets.subject = charset; break;
    case Field::kFrom: message.from = decoded, charsets.from = charset; break;
    case Field::kReplyTo: message.replyTo = decoded, charsets.replyTo = charset; break;
    case Field::kSensitivity: message.sensitivity = decoded, charsets.sensitivity = charset; break;
    case Field::kNotificationTo:
        message.dispositionNotificationTo = decoded, charsets.notificationTo = charset;
        break;
    case Field::kReturnReceipt: break;
    case Field::kImportance:
        message.priority = value.equalsIgnoreCase("High") ? 1 : value.equalsIgnoreCase("Low") ? 2
                          : value.equalsIgnoreCase("Normal") ? 3 : 0;
        break;
    case Field::kXPriority:
        if (message.priority == 0) {
            long n = toNumber(value);
            message.priority = n < 3 ? 1 : n == 3 ? 3 : 2;
        }
        break;
    case Field::kContentId: {
        size_t open = value.find('<');
        if (open != String::npos) {
            size_t close = value.find('>', open + 1);
            String id(value, open + 1, (close == String::npos ? value.length() : close) - open - 1);
            if (id.length() > 255) id = String(id, 0, 255);
            message.contentId = id;
            if (partContentId) *partContentId = id;
        }
        break;
    }
    case Field::kContentLocation: message.contentLocation = decoded; break;
    case Field::kContentBase: message.contentBase = decoded; break;
    }
}

} // namespace

MessageParser::MessageParser(LineSource& input, const ParseSettings& settings, Message& message,
                             ParseBuffers* buffers)
    : input_(input), settings_(settings), message_(message),
      piece_(buffers ? buffers->line : ownBuffers_.line),
      decoder_(buffers ? buffers->decoder : ownBuffers_.decoder),
      uuDecoder_(buffers ? buffers->uuDecoder : ownBuffers_.uuDecoder) {
    if (piece_.size() < kPieceSize + 1) piece_.resize(kPieceSize + 1);
    // Nothing of the last message stays in a kept decoder.
    decoder_.begin(PartEncoding::kNone, nullptr);
    uuDecoder_.begin(PartEncoding::kNone, nullptr);
}

void MessageParser::trace(const char* text) const {
    if (settings_.traceLevel >= 3) {
        fputs(text, stdout);
        fputc('\n', stdout);
    }
}

String MessageParser::decodeHeader(const String& value, String* charset) const {
    if (!settings_.decodeHeaders || settings_.raw || !settings_.decodeWords) return value;
    return settings_.decodeWords(value, charset);
}

// A file name from a parameter or a description, decoded and in UTF-8: an RFC 2231 value
// already is; the bytes of encoded words are converted from their charset. Then made safe.
String MessageParser::fileNameOf(const String& text, bool extended) const {
    if (extended) return attachmentFileName(text);
    String charset;
    String decoded = decodeHeader(text, &charset);
    std::string converted;
    if (!charset.empty() && !isAscii(decoded.view()) &&
        convertText(decoded.view(), charset.c_str(), "UTF-8", converted))
        decoded = String(converted);
    return attachmentFileName(decoded);
}

bool MessageParser::atEnd() const {
    return ended_ || (settings_.sizeTrust && message_.bytesRead >= expected_);
}

// Reads the next piece of a line. Returns the reader's result (below 1 on failure).
int MessageParser::readPiece() {
    int r = input_.readLine(piece_.data(), static_cast<int>(kPieceSize));
    if (r < 1) return r;
    pieceLength_ = static_cast<size_t>(r) > kPieceSize ? kPieceSize : static_cast<size_t>(r);
    message_.bytesRead += pieceLength_;
    return r;
}

int MessageParser::run(uint64_t expectedBytes) {
    expected_ = expectedBytes;
    message_.expectedBytes = expectedBytes;
    message_.bytesRead = 0;
    message_.parts.clear();
    message_.current.reset();
    message_.emptyBody();
    message_.bodyCharset = String();
    message_.bodyLength = 0;
    message_.bodyCut = false;
    message_.partsDropped = 0;
    message_.parsed = 0;
    message_.headers.clear();
    message_.ownHeaderLines = 0;
    if (settings_.headerOnly != 3) message_.clearHeaderFields();
    if (settings_.sizeTrust) {
        bodyCap_ = expectedBytes < kBodyCapMax ? expectedBytes : kBodyCapMax;
    } else {
        bodyCap_ = expectedBytes * 4;
        if (bodyCap_ < kBodyCapMin) bodyCap_ = kBodyCapMin;
        if (bodyCap_ > kBodyCapMax) bodyCap_ = kBodyCapMax;
    }
    if (settings_.headerOnly == 1 && bodyCap_ > kBriefBodyMax) bodyCap_ = kBriefBodyMax;
    beginPart();

    int result = 1;
    std::string header;
    while (!atEnd()) {
        if (inHeader_) {
            if (!readHeaderLine(header)) { result = 0; break; }
            if (ended_) break;
            headerLine(header);
            continue;
        }
        if (decodeBlock()) continue;
        Piece piece;
        int got = readDataPiece(piece, true);
        if (got == 0) { result = 0; break; }
        if (got == 2) break;
        if (piece.length) bodyPiece(piece.data, piece.length, piece.lineStart, piece.lineEnd);
    }
    finish();
    return result;
}

namespace {

// The length of the lines of data[0, length) before the first that begins with c.
size_t linesBefore(const char* data, size_t length, char c) {
    const char* p = data;
    const char* end = data + length;
    while ((p = static_cast<const char*>(memchr(p, c, static_cast<size_t>(end - p))))) {
        if (p == data || p[-1] == '\n') return static_cast<size_t>(p - data);
        ++p;
    }
    return length;
}

} // namespace

// The body of a base64 part, and one whose bytes are dropped, goes on many lines at a time,
// straight from the reader's buffer: the lines up to the first one that could be a delimiter
// ("-") or the end marker or a stuffed line ("."), neither of which ever begins a line of
// base64 text, and only lines that are whole in the buffer. Every other line takes the line
// path. The bytes are the same either way: the base64 decoder skips the line ends that the
// line path holds back in front of a delimiter. Returns false when the line path is to read
// the next line.
bool MessageParser::decodeBlock() {
    if (inHeader_ || inUu_ || !lineStart_ ||
        (target_ != Target::kNone && part_.encoding != PartEncoding::kBase64))
        return false;
    const char* data = nullptr;
    size_t length = input_.bufferedView(&data);
    // With the size trusted, the line path stops after the line that reaches it.
    if (settings_.sizeTrust && length > expected_ - message_.bytesRead)
        length = static_cast<size_t>(expected_ - message_.bytesRead);
    const void* lastLf = length ? memrchr(data, '\n', length) : nullptr;
    if (!lastLf) return false;
    length = static_cast<size_t>(static_cast<const char*>(lastLf) - data) + 1;
    length = linesBefore(data, length, '-');
    if (settings_.dotStuffed) length = linesBefore(data, length, '.');
    if (length == 0) return false;
    if (target_ != Target::kNone) {
        if (!pendingEol_.empty()) decoder_.put(pendingEol_.data(), pendingEol_.size(), true);
        pendingEol_.clear();
        decoder_.put(data, length, true);
    }
    input_.consume(length);
    message_.bytesRead += length;
    return true;
}

// Reads the next piece and applies the data phase's rule for a '.' at a line start: a lone "."
// line is the end marker (when endAllowed: sets ended_ and returns 2; without the end-marker
// setting only as the last line of the input), any other leading '.' is dropped. Returns 1 for a piece (which may be empty after the drop), 0 when the read failed.
int MessageParser::readDataPiece(Piece& piece, bool endAllowed) {
    if (readPiece() < 1) return 0;
    piece.lineStart = lineStart_;
    piece.lineEnd = piece_[pieceLength_ - 1] == '\n';
    lineStart_ = piece.lineEnd;
    piece.data = piece_.data();
    piece.length = pieceLength_;
    if (!settings_.dotStuffed || !piece.lineStart || piece.data[0] != '.') return 1;
    const char* d = piece.data;
    bool endMarker = (piece.length == 3 && d[1] == '\r' && d[2] == '\n') ||
                     (piece.length == 2 && d[1] == '\n');
    if (endMarker && !settings_.endMarker) {
        char next = 0;
        if (endAllowed && input_.peekByte(&next) < 1) {
            ended_ = true;
            return 2;
        }
        return 1;  // text of the message, kept as it stands
    }
    if (endMarker && endAllowed) {
        ended_ = true;
        return 2;
    }
    if (!inHeader_) trace("Drop leading '.' character");
    ++piece.data;
    --piece.length;
    return 1;
}

// Reads one whole header line with its folds into line (at most kHeaderMax bytes kept).
// Returns false when a read failed; sets ended_ at the end marker.
bool MessageParser::readHeaderLine(std::string& line) {
    line.clear();
    bool first = true;
    for (;;) {
        Piece piece;
        int got = readDataPiece(piece, first);
        if (got == 0) return false;
        if (got == 2) return true;
        first = false;
        if (line.size() < kHeaderMax)
            line.append(piece.data, std::min(piece.length, kHeaderMax - line.size()));
        if (!piece.lineEnd) {
            if (atEnd()) return true;
            continue;  // the rest of a long line
        }
        // A folded line continues when the next line begins with a blank or a tab.
        if (line.size() < 4 || line.compare(0, 2, "--") == 0 || atEnd()) return true;
        char next = 0;
        if (input_.peekByte(&next) < 1 || (next != ' ' && next != '\t')) return true;
        while (!atEnd() && input_.peekByte(&next) >= 1 && (next == ' ' || next == '\t')) {
            char c;
            if (input_.read(&c, 1) < 1) return false;
            ++message_.bytesRead;
        }
        while (!line.empty() && strchr(" \t\r\n", line.back())) line.pop_back();
        if (!startsWithNoCase(line, "Subject:")) line.push_back(' ');
        if (atEnd()) return true;
    }
}

void MessageParser::headerLine(std::string& line) {
    for (char& c : line)
        if (c == '\t') c = ' ';
    const bool empty = line == "\r\n" || line == "\n" || line.empty();
    if (!empty && !topLevel_ && !currentKey_.empty() && line.compare(0, 2, "--") == 0) {
        // A delimiter where a part header was expected: the part is empty.
        size_t level = 0;
        if (delimiterKind(line.data(), line.size(), level) != 0) {
            inHeader_ = false;
            bodyPiece(line.data(), line.size(), true, true);
            return;
        }
    }
    if (empty) {
        if (skipMark_) {
            // The header of an enclosed message follows; its own content headers apply.
            trace("Clear skip");
            skipMark_ = false;
            part_ = PartHeader();
            return;
        }
        // Only a line of the field table counts: an empty line after nothing but unknown
        // fields (or none) does not end the header yet.
        if (topLevel_ && !sawHeaderLine_) return;
        endHeader();
        return;
    }
    size_t colon = line.find(':');
    if (colon == std::string::npos) return;
    String name(line.data(), colon);
    String value = headerValueOf(line, colon);
    if (message_.headers.size() < kHeaderMapMax && headerMapBytes_ + line.size() <= kHeaderMapBytesMax) {
        headerMapBytes_ += line.size();
        message_.headers.emplace_back(name, value);
        if (topLevel_) message_.ownHeaderLines = message_.headers.size();
    }

    const char* text = line.c_str();
    for (const FieldRow& row : kFields) {
        if (!startsWithNoCase(std::string_view(text, line.size()), row.prefix)) continue;
        ++message_.headerCount;
        sawHeaderLine_ = true;
        String charset;
        String decoded = decodeHeader(value, &charset);
        storeField(row.field, value, decoded, charset, message_, settings_.extract ? &part_.contentId : nullptr);
        break;
    }
    if (!settings_.raw) contentHeader(name.c_str(), value);
}

void MessageParser::contentHeader(const char* name, const String& value) {
    if (strcasecmp(name, "Content-Type") == 0) {
        contentTypeHeader(value);
    } else if (strcasecmp(name, "Content-Disposition") == 0) {
        if (containsNoCase(value.view(), "attachment")) part_.attachment = true;
        if (part_.fileName.empty()) {
            bool extended = false;
            String fileName = headerParameter(value, "filename", &extended);
            if (!fileName.empty()) part_.fileName = fileNameOf(fileName, extended);
        }
    } else if (strcasecmp(name, "Content-Description") == 0) {
        if (part_.attachment && part_.fileName.empty() && settings_.extract) {
            String text(value, 0, 255);
            part_.fileName = fileNameOf(text, false);
        }
    } else if (strcasecmp(name, "Content-Transfer-Encoding") == 0) {
        if (startsWithNoCase(value.view(), "quoted-printable")) {
            part_.encoding = PartEncoding::kQuotedPrintable;
        } else if (startsWithNoCase(value.view(), "base64")) {
            if (!part_.container) part_.encoding = PartEncoding::kBase64;
        } else if (startsWithNoCase(value.view(), "x-uuencode") || startsWithNoCase(value.view(), "x-uue")) {
            part_.encoding = PartEncoding::kUuencode;
        } else {
            if (!startsWithNoCase(value.view(), "7bit") && !startsWithNoCase(value.view(), "8bit") &&
                !startsWithNoCase(value.view(), "7-bit") && !startsWithNoCase(value.view(), "8-bit") &&
                !startsWithNoCase(value.view(), "binary"))
                trace("Unknown encoding");
            part_.encoding = PartEncoding::kNone;
        }
    } else if (strcasecmp(name, "X-pmuue") == 0) {
        part_.encoding = PartEncoding::kUuencode;
    }
}

void MessageParser::contentTypeHeader(const String& value) {
    if (startsWithNoCase(value.view(), "multipart/")) {
        if (settings_.headerOnly) return;
        message_.contentType = value;
        String boundary = boundaryOf(value);
        if (boundary.empty()) return;
        if (stack_.size() >= kNestingMax) {
            if (!warnedNesting_ && settings_.traceLevel >= 1)
                fprintf(stdout, "WARNING: multipart nesting deeper than %zu ignored\n", kNestingMax);
            warnedNesting_ = true;
            return;
        }
        if (!currentKey_.empty()) stack_.push_back({currentKey_, currentAlternative_});
        currentKey_ = String("--") + boundary + "--";
        currentAlternative_ = startsWithNoCase(value.view(), "multipart/alternative");
        part_.container = true;
        part_.encoding = PartEncoding::kNone;
        return;
    }
    if (startsWithNoCase(value.view(), "message/")) {
        message_.contentType = value;
        trace("Set skip");
        skipMark_ = true;
        return;
    }
    size_t end = 0;
    while (end < value.length() && end < 255 && !strchr(";\"\r\n", value[end])) ++end;
    while (end > 0 && value[end - 1] == ' ') --end;
    String media(value.c_str(), end);
    message_.contentType = media;
    part_.mediaType = lowered(media);
    String charset = headerParameter(value, "charset");
    part_.charset = charset;
    if (!charset.empty()) message_.charset = charset;
    if (settings_.extract) part_.typeValue = value;
    if (part_.fileName.empty()) {
        bool extended = false;
        String fileName = headerParameter(value, "name", &extended);
        if (!fileName.empty()) part_.fileName = fileNameOf(fileName, extended);
    }
}

void MessageParser::beginPart() {
    part_ = PartHeader();
    inHeader_ = true;
    skipMark_ = false;
    target_ = Target::kNone;
}

void MessageParser::endHeader() {
    inHeader_ = false;
    topLevel_ = false;
    trace("Start of data");
    startTarget();
}

// Chooses where the body of the part whose header just ended goes.
void MessageParser::startTarget() {
    target_ = Target::kNone;
    pending_.reset();
    if (!part_.container) {
        const bool text = part_.mediaType.empty() || part_.mediaType.startsWith("text/");
        bool dropped = false;
        if (currentAlternative_ && !currentKey_.empty()) {
            // One alternative of multipart/alternative is kept: HTML or plain text.
            if (settings_.html && part_.mediaType == "text/plain") dropped = true;
            if (!settings_.html && part_.mediaType == "text/html") dropped = true;
            if (dropped) trace(settings_.html ? ", drop plain part" : ", drop HTML part");
        }
        if (!dropped) {
            if (text && part_.fileName.empty() && !part_.attachment) {
                target_ = Target::kBody;
                // The charset of the first text that makes up the body, to show it by.
                if (message_.bodyCharset.empty()) message_.bodyCharset = part_.charset;
            } else if (settings_.extract) {
                target_ = Target::kPart;
                pending_ = newPart(part_.typeValue);
            }
        }
    }
    PartEncoding encoding = part_.encoding;
    // Plain text bodies are searched for uuencoded blocks line by line instead.
    if (encoding == PartEncoding::kUuencode && target_ == Target::kBody) encoding = PartEncoding::kNone;
    // An x-uuencode part: its data begin after the "begin" line.
    decoder_.begin(encoding, [this](const char* data, size_t length) {
        return target_ == Target::kBody ? toBody(data, length)
             : target_ == Target::kPart ? toPart(data, length) : true;
    }, true);
}

std::unique_ptr<MessagePart> MessageParser::newPart(const String& contentType) {
    auto part = std::make_unique<MessagePart>();
    if (settings_.partFolder) {
        part->data.stageIn(settings_.partFolder, writtenAsText(contentType, settings_.allPartsText));
        if (!part->data.inMemory()) return part;
    }
    part->data.setSpillFolder(settings_.workingFolder);
    // Once the queued parts hold enough memory, new parts go straight to a file.
    if (inMemory_ >= kPartsInMemoryMax) part->data.setMemoryLimit(0);
    return part;
}

bool MessageParser::toBody(const char* data, size_t length) {
    if (settings_.bodySink && *settings_.bodySink) return (*settings_.bodySink)(data, length);
    if (settings_.headerOnly == 1) {
        // One body line, as a server's TOP n 1 gives it; a message file is read whole.
        if (!message_.body.empty() && message_.body.back() == '\n') return true;
        if (const void* lf = std::memchr(data, '\n', length))
            length = static_cast<size_t>(static_cast<const char*>(lf) - data) + 1;
    }
    if (message_.body.size() + length > bodyCap_) {
        length = message_.body.size() < bodyCap_ ? static_cast<size_t>(bodyCap_ - message_.body.size()) : 0;
        // A header-only read keeps its one line on purpose; any other cut loses text.
        if (settings_.headerOnly != 1) message_.bodyCut = true;
    }
    message_.body.append(data, length);
    return true;
}

bool MessageParser::toPart(const char* data, size_t length) {
    return pending_ ? pending_->data.append(data, length) : true;
}

void MessageParser::queuePart(std::unique_ptr<MessagePart> part) {
    part->data.finish();
    if (message_.parts.size() >= kPartsMax) {
        ++message_.partsDropped;
        return;
    }
    if (part->fileName.empty()) {
        part->fileName = contentIdFileName(part->contentId);
        if (part->fileName.empty()) {
            part->fileName = generatedPartName();
            part->generatedName = true;
        }
    }
    if (part->data.inMemory()) inMemory_ += part->data.size();
    message_.parts.push_back(std::move(part));
}

void MessageParser::endPart() {
    if (inUu_) endUuBlock();
    if (!pendingEol_.empty()) decoder_.put(pendingEol_.data(), pendingEol_.size(), true);
    pendingEol_.clear();
    decoder_.finish();
    if (target_ == Target::kPart && pending_) {
        pending_->fileName = part_.fileName;
        pending_->contentType = part_.typeValue;
        pending_->contentId = part_.contentId;
        queuePart(std::move(pending_));
    }
    pending_.reset();
    target_ = Target::kNone;
}

// 0: not a delimiter; 1: a delimiter that begins a part; 2: a close; 3: a close written with
// a single trailing "-". level tells how many enclosing containers the line closes first
// (0 for the current one).
int MessageParser::delimiterKind(const char* data, size_t length, size_t& level) const {
    if (length < 3 || data[0] != '-' || data[1] != '-') return 0;
    auto match = [&](const String& key) -> int {
        size_t open = key.length() - 2;  // "--" and the boundary
        if (length < open || memcmp(data, key.c_str(), open) != 0) return 0;
        size_t i = open;
        if (i + 1 < length && data[i] == '-' && data[i + 1] == '-') return 2;
        if (i < length && data[i] == '-') return 3;
        for (; i < length; ++i)
            if (!strchr(" \t\r\n", data[i])) return 0;
        return 1;
    };
    level = 0;
    if (int kind = match(currentKey_)) return kind;
    // A delimiter of an enclosing container ends the unterminated inner ones.
    for (size_t k = 0; k < stack_.size() && k < 64; ++k) {
        if (int kind = match(stack_[stack_.size() - 1 - k].key)) {
            level = k + 1;
            return kind;
        }
    }
    return 0;
}

void MessageParser::bodyPiece(const char* data, size_t length, bool lineStart, bool lineEnd) {
    if (lineStart && !currentKey_.empty() && length >= 3 && data[0] == '-' && data[1] == '-') {
        size_t level = 0;
        int kind = delimiterKind(data, length, level);
        if (kind != 0) {
            pendingEol_.clear();
            endPart();
            for (; level > 0; --level) {
                currentKey_ = stack_.back().key;
                currentAlternative_ = stack_.back().alternative;
                stack_.pop_back();
            }
            if (kind == 1) {
                trace("Begin part");
                beginPart();
                return;
            }
            if (kind == 3 && settings_.traceLevel >= 1)
                fputs("WARNING: incorrect MIME multipart termination\n", stdout);
            if (stack_.empty()) {
                currentKey_ = String();
                currentAlternative_ = false;
            } else {
                currentKey_ = stack_.back().key;
                currentAlternative_ = stack_.back().alternative;
                stack_.pop_back();
            }
            // What follows the close until the next delimiter is dropped.
            part_ = PartHeader();
            part_.container = true;
            target_ = Target::kNone;
            return;
        }
    }
    if (inUu_) {
        uuDecoder_.put(data, length, lineEnd);
        if (uuDecoder_.uuEnded()) endUuBlock();
        return;
    }
    if (target_ == Target::kBody && lineStart && part_.encoding != PartEncoding::kBase64 &&
        part_.encoding != PartEncoding::kQuotedPrintable) {
        if (length >= 12 && memcmp(data, "filetime ", 9) == 0 && isdigit(static_cast<unsigned char>(data[9])) &&
            isdigit(static_cast<unsigned char>(data[10])) && isdigit(static_cast<unsigned char>(data[11])))
            return;
        if (length >= 11 && memcmp(data, "begin ", 6) == 0 && isdigit(static_cast<unsigned char>(data[6])) &&
            isdigit(static_cast<unsigned char>(data[7])) && isdigit(static_cast<unsigned char>(data[8])) &&
            isspace(static_cast<unsigned char>(data[9])) && !isspace(static_cast<unsigned char>(data[10]))) {
            if (!pendingEol_.empty()) decoder_.put(pendingEol_.data(), pendingEol_.size(), true);
            pendingEol_.clear();
            beginUuBlock(data, length);
            return;
        }
    }
    if (target_ == Target::kNone) return;
    if (!pendingEol_.empty()) {
        decoder_.put(pendingEol_.data(), pendingEol_.size(), true);
        pendingEol_.clear();
    }
    if (lineEnd && !currentKey_.empty()) {
        // The line end before a delimiter belongs to the delimiter: it is held back until
        // the next line shows that it is data.
        size_t eol = length >= 2 && data[length - 2] == '\r' ? 2 : 1;
        pendingEol_.assign(data + length - eol, eol);
        length -= eol;
        lineEnd = false;
    }
    decoder_.put(data, length, lineEnd);
}

void MessageParser::beginUuBlock(const char* line, size_t length) {
    trace("Begin UUdecode");
    inUu_ = true;
    uuPart_.reset();
    if (settings_.extract) {
        uuPart_ = newPart(String());  // queued without a content type
        // "begin <mode> <name>": the name runs to the line end, at most 255 characters.
        size_t start = 6;
        while (start < length && !isspace(static_cast<unsigned char>(line[start]))) ++start;
        while (start < length && line[start] == ' ') ++start;
        size_t end = start;
        while (end < length && end - start < 255 && line[end] != '\r' && line[end] != '\n') ++end;
        String name(line + start, end - start);
        if (currentKey_.empty() || part_.fileName.empty()) uuPart_->fileName = attachmentFileName(name);
    }
    MessagePart* target = uuPart_.get();
    uuDecoder_.begin(PartEncoding::kUuencode, [target](const char* data, size_t n) {
        return target ? target->data.append(data, n) : true;
    });
}

void MessageParser::endUuBlock() {
    trace("end UUdecode data");
    uuDecoder_.finish();
    inUu_ = false;
    if (uuPart_) queuePart(std::move(uuPart_));
    uuPart_.reset();
}

void MessageParser::finish() {
    const bool unterminated = !currentKey_.empty();
    String key = currentKey_;
    endPart();
    stack_.clear();
    currentKey_ = String();
    message_.bodyLength = message_.body.size();
    message_.parsed = 1;
    if (unterminated && !settings_.headerOnly && settings_.traceLevel >= 1)
        fprintf(stdout,
                "QARVEL warning: Unterminated multipart MIME attachment '%s' detected. This is "
                "probably just be a badly formed message from a buggy client.\n",
                key.c_str());
    if (settings_.traceLevel >= 3)
        fprintf(stdout, "There are %d attachments. len=%llu\n", message_.partCount(),
                static_cast<unsigned long long>(message_.bodyLength));
}

} // namespace qarvel
