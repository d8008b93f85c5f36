// The IMAP4 reader: tagged commands over the shared command loop, the response reader with its
// literals, the message and part fetches, folders, ordering, IDLE and access control.
#include "receive/imap_reader.h"

#include <strings.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/base64.h"
#include "base/md5.h"
#include "receive/message_parser.h"

namespace qarvel {

namespace {

// LOGOUT waits this long for its reply.
constexpr int kLogoutTimeout = 30;
// Drained in pieces of this size when a line is too long or a literal is not kept.
constexpr size_t kSkipPiece = 64 * 1024;
// Literals up to this size that hold only plain characters are inlined as quoted strings.
constexpr size_t kInlineLiteralMax = 1024;

bool containsNoCase(const char* text, const char* word) {
    size_t n = strlen(word);
    for (const char* p = text; *p; ++p)
        if (strncasecmp(p, word, n) == 0) return true;
    return false;
}

const char* findNoCase(const char* text, const char* word) {
    size_t n = strlen(word);
    for (const char* p = text; *p; ++p)
        if (strncasecmp(p, word, n) == 0) return p;
    return nullptr;
}

// The number after a word somewhere in text ("UID 17"), or fallback.
unsigned long numberAfter(const char* text, const char* word, unsigned long fallback) {
    const char* at = findNoCase(text, word);
    if (!at) return fallback;
    unsigned long value = 0;
    if (sscanf(at, "%*s %lu", &value) != 1) return fallback;
    return value;
}

// A double quote dropped from the first and the last position.
String stripQuotes(const String& text) {
    const char* s = text.c_str();
    size_t length = text.length();
    if (length && s[0] == '"') { ++s; --length; }
    if (length && s[length - 1] == '"') --length;
    return String(s, length);
}

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
    unsigned long long left() const { return left_; }
    bool stopped() const { return stopped_; }

private:
    MailboxReader& reader_;
    unsigned long long left_;
    bool stopped_ = false;
};

// Tokens kept of one access-control reply line.
constexpr size_t kAclTokensMax = 10000;

// ACL replies: quoted tokens with backslash escapes, other tokens up to white space.
std::vector<std::string> aclTokens(const char* line) {
    std::vector<std::string> tokens;
    const char* p = line;
    while (*p && *p != '\r' && *p != '\n' && tokens.size() < kAclTokensMax) {
        while (*p && *p != '\r' && *p != '\n' && isspace(static_cast<unsigned char>(*p))) ++p;
        if (!*p || *p == '\r' || *p == '\n') break;
        std::string token;
        if (*p == '"') {
            ++p;
            while (*p && *p != '"' && *p != '\r' && *p != '\n') {
                if (*p == '\\' && p[1] && p[1] != '\r' && p[1] != '\n') ++p;
                token += *p++;
            }
            if (*p == '"') ++p;
        } else {
            while (*p && !isspace(static_cast<unsigned char>(*p))) token += *p++;
        }
        tokens.push_back(token);
    }
    return tokens;
}

} // namespace

// ---------------------------------------------------------------- login answers

String imapCramMd5Answer(const char* challengeLine, const String& user, const String& password) {
    char challenge[256] = "";
    if (sscanf(challengeLine, "%*s %255[^\r\n]", challenge) != 1) challenge[0] = '\0';
    String decoded = base64Decode(challenge, strlen(challenge));
    unsigned char digest[16];
    hmacMd5(decoded.c_str(), decoded.length(), password.c_str(), password.length(), digest);
    String answer = user + " " + digestToHex(digest);
    return base64Encode(answer.c_str(), answer.length(), 0);
}

String imapPlainAnswer(const String& user, const String& password) {
    std::string text;
    text += '\0';
    text.append(user.c_str(), user.length());
    text += '\0';
    text.append(password.c_str(), password.length());
    return base64Encode(text.data(), text.size(), 0);
}

String imapQuoted(const String& text) {
    std::string out = "\"";
    for (size_t i = 0; i < text.length(); ++i) {
        char c = text.c_str()[i];
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    out += '"';
    return String(out.data(), out.size());
}

String imapQuotedLogin(const String& text) { return imapQuoted(stripQuotes(text)); }

// ---------------------------------------------------------------- body structure

namespace {

class StructureTokens {
public:
    explicit StructureTokens(const char* text) : p_(text) {}
    // Skips spaces and "(" (each raising the depth); false at the end of the text.
    bool skipOpen() {
        while (*p_ == ' ' || *p_ == '(') {
            if (*p_ == '(') ++depth_;
            ++p_;
        }
        return *p_ != '\0';
    }
    // The next token: a quoted string or an atom up to a space or ")".
    std::string next() {
        skipOpen();
        std::string token;
        if (*p_ == '"') {
            ++p_;
            while (*p_ && *p_ != '"') {
                if (*p_ == '\\' && p_[1]) ++p_;
                token += *p_++;
            }
            if (*p_ == '"') ++p_;
        } else {
            while (*p_ && *p_ != ' ' && *p_ != ')' && *p_ != '(') token += *p_++;
        }
        skipCloseAndSpaces();
        return token;
    }
    void skipCloseAndSpaces() {
        while (*p_ == ' ' || *p_ == ')') {
            if (*p_ == ')') --depth_;
            ++p_;
        }
    }
    // Skips one parenthesised group (or an atom/string) without reading it.
    void skipValue() {
        while (*p_ == ' ') ++p_;
        if (*p_ != '(') { next(); return; }
        int level = 0;
        bool quoted = false;
        for (; *p_; ++p_) {
            if (quoted) {
                if (*p_ == '\\' && p_[1]) ++p_;
                else if (*p_ == '"') quoted = false;
                continue;
            }
            if (*p_ == '"') quoted = true;
            else if (*p_ == '(') ++level;
            else if (*p_ == ')' && --level == 0) { ++p_; break; }
        }
        while (*p_ == ' ') ++p_;
    }
    char peek() {
        while (*p_ == ' ') ++p_;
        return *p_;
    }
    int depth() const { return depth_; }
    bool atEnd() const { return *p_ == '\0'; }

private:
    const char* p_;
    int depth_ = 0;
};

bool isMultipartSubtype(const std::string& word) {
    static const char* const kSubtypes[] = {"MIXED", "ALTERNATIVE", "RELATED", "PARALLEL",
                                            "REPORT", "DIGEST", "SIGNED", "ENCRYPTED",
                                            "VOICE-MESSAGE"};
    for (const char* s : kSubtypes)
        if (strcasecmp(word.c_str(), s) == 0) return true;
    return false;
}

// The rest of a part after its encoding and size: line count, extension data, up to the
// part's closing parenthesis (depth back below startDepth).
void readPartTail(StructureTokens& t, BodyPart& part, const std::string& type,
                  const std::string& subtype, int startDepth) {
    if (strcasecmp(type.c_str(), "TEXT") == 0) {
        part.lines = atof(t.next().c_str());
    } else if (strcasecmp(type.c_str(), "MESSAGE") == 0 && strcasecmp(subtype.c_str(), "RFC822") == 0) {
        t.skipValue();  // envelope
        t.skipValue();  // inner body structure
        t.skipCloseAndSpaces();
        if (t.depth() >= startDepth) part.lines = atof(t.next().c_str());
    }
    if (t.depth() < startDepth) return;
    // Extension data: MD5, then a disposition list.
    std::string md5 = t.next();
    if (strcasecmp(md5.c_str(), "NIL") != 0) part.md5 = String(md5);
    if (t.depth() < startDepth) return;
    if (t.peek() == '(') {
        int dispositionDepth = t.depth() + 1;
        part.disposition = String(t.next());
        while (!t.atEnd() && t.depth() >= dispositionDepth && t.peek() != ')') {
            if (t.peek() == 'N' || t.peek() == 'n') { t.next(); continue; }  // NIL parameters
            std::string attribute = t.next();
            if (t.depth() < dispositionDepth) break;
            std::string value = t.next();
            if (strcasecmp(attribute.c_str(), "filename") == 0) part.fileName = String(value);
        }
        t.skipCloseAndSpaces();
    }
    // Anything further (language, location) is skipped up to the part's end.
    int guard = 0;
    while (!t.atEnd() && t.depth() >= startDepth && ++guard < 1000) {
        if (t.peek() == '(') t.skipValue();
        else t.next();
    }
}

} // namespace

size_t parseBodyStructure(const char* text, std::vector<BodyPart>& parts) {
    parts.clear();
    const char* start = strchr(text, '(');
    if (!start) return 0;
    StructureTokens t(start);
    // counters[level]: the position of the open group at that level among its siblings.
    std::vector<int> counters(1, 0);
    size_t guard = 0;
    while (!t.atEnd() && parts.size() < static_cast<size_t>(kImapMessagesMax) && ++guard < 100000) {
        int before = t.depth();
        t.skipOpen();
        if (t.atEnd()) break;
        int depth = t.depth();
        if (depth <= 0) break;
        if (depth == before) {
            // No group opened: the subtype that ends the multipart open at this level.
            std::string subtype = t.next();
            if (!isMultipartSubtype(subtype)) break;
            BodyPart multi;
            multi.contentType = String("MULTIPART/") + String(subtype);
            multi.depth = depth;
            multi.section = "";
            parts.push_back(multi);
            int skipGuard = 0;
            while (!t.atEnd() && t.depth() >= depth && ++skipGuard < 1000) {
                if (t.peek() == '(') t.skipValue();
                else t.next();
            }
            continue;
        }
        for (int level = std::max(before + 1, 0); level <= depth; ++level) {  // a malformed answer can give a negative level
            counters.resize(static_cast<size_t>(level) + 1, 0);
            ++counters[static_cast<size_t>(level)];
        }
        BodyPart part;
        part.depth = depth;
        std::string section;
        for (int level = 2; level <= depth; ++level) {
            if (!section.empty()) section += '.';
            section += std::to_string(counters[static_cast<size_t>(level)]);
        }
        part.section = section.empty() ? String("1") : String(section);
        std::string type = t.next();
        std::string subtype = t.next();
        part.contentType = String(type + "/" + subtype);
        if (t.peek() == '(') {
            int paramDepth = t.depth() + 1;
            t.skipOpen();
            while (!t.atEnd() && t.depth() >= paramDepth) {
                std::string attribute = t.next();
                if (t.depth() < paramDepth) break;
                std::string value = t.next();
                if (strcasecmp(attribute.c_str(), "charset") == 0) part.charset = String(value);
                else if (strcasecmp(attribute.c_str(), "name") == 0) part.name = String(value);
                else if (strcasecmp(attribute.c_str(), "type") == 0) part.type = String(value);
            }
        } else {
            t.next();  // NIL
        }
        std::string id = t.next();
        if (strcasecmp(id.c_str(), "NIL") != 0) part.contentId = String(id);
        std::string description = t.next();
        if (strcasecmp(description.c_str(), "NIL") != 0) part.description = String(description);
        part.encoding = String(t.next());
        part.size = atof(t.next().c_str());
        if (t.depth() >= depth) readPartTail(t, part, type, subtype, depth);
        parts.push_back(part);
    }
    return parts.size();
}

// ---------------------------------------------------------------- connection

ImapReader::ImapReader() { dotStuffed_ = 0; }

ImapReader::~ImapReader() {
    if (connected()) close();
}

int ImapReader::vsendCommand(const char* format, va_list args) {
    alerted_ = false;
    alert_ = String();
    return MailboxReader::vsendCommand(format, args);
}

void ImapReader::resetMessageArrays(size_t count) {
    sizes_.assign(count, 0);
    uids_.assign(count, 0);
    orderedUids_.assign(count, 0);
}

int ImapReader::close() {
    if (connected() && !keepOpen_) logout(false);
    std::vector<uint32_t>().swap(sizes_);
    std::vector<uint32_t>().swap(uids_);
    std::vector<uint32_t>().swap(orderedUids_);
    literals_.clear();
    parts_.clear();
    ordered_ = false;
    idling_ = false;
    return MailboxReader::close();
}

int ImapReader::open(const String& host, const String& port, const char* certificate, int level) {
    if (connected()) close();
    caps_ = Capabilities();
    int result = MailboxReader::open(host, port, certificate, level);
    if (result < 0) return result;
    reply_.assign(kImapResponseSize, '\0');
    count_ = 0;
    recent_ = unseen_ = 0;
    currentSize_ = 0;
    idling_ = false;
    ordered_ = false;
    resetMessageArrays(0);
    alerted_ = false;
    alert_ = bye_ = selected_ = String();
    tag_ = 0;
    loggedOut_ = 1;
    int r = readResponse();
    if (r < 1) return r;
    if (containsNoCase(reply_.data(), "[REFERRAL ")) {
        char referred[256] = "";
        if (sscanf(reply_.data(), "%*s %*s [REFERRAL IMAP://%*[^@]@%255[^/]", referred) == 1 &&
            referred[0]) {
            Connection::close();
            return open(String(referred), port, certificate, level);
        }
    }
    if (strncasecmp(reply_.data(), "* BYE", 5) == 0) {
        fprintf(stderr, "IMAP server refused the connection: %s", reply_.data() + 2);
        Connection::close();
        return kReaderFailed;
    }
    if (!caps_.known) {
        r = capability();
        if (r < 0) { Connection::close(); return r; }
    }
    if (tls_ && !ssl_) {
        // STARTTLS upgrades the session; a server that does not offer it never gets the
        // password in clear.
        if (!caps_.startTls) {
            fprintf(stderr, "IMAP server does not offer STARTTLS\n");
            Connection::close();
            return kReaderFailed;
        }
        r = command("%lu STARTTLS\r\n", nextTag());
        if (r < 1) {
            fprintf(stderr, "IMAP server refused STARTTLS: %s", lastReply());
            Connection::close();
            return r < 0 ? r : kReaderFailed;
        }
        if (startTls(host) < 1) {
            fprintf(stderr, "TLS negotiation with '%s' failed\n", host.c_str());
            Connection::close();
            return kReaderFailed;
        }
        // What the server offered before TLS is not trusted after it.
        caps_ = Capabilities();
        r = capability();
        if (r < 0) { Connection::close(); return r; }
    }
    return r;
}

int ImapReader::capability() { return command("%lu CAPABILITY\r\n", nextTag()); }

// ---------------------------------------------------------------- reading responses

int ImapReader::readPhysical(size_t at) {
    if (reply_.size() < kImapResponseSize) reply_.assign(kImapResponseSize, '\0');
    const size_t limit = kImapResponseSize - 1;
    if (!connected()) return kReaderFailed;
    if (at >= limit) at = limit;
    size_t room = limit - at;
    int r = room ? readLine(reply_.data() + at, static_cast<int>(room)) : 0;
    if (room && r < 1) { reply_[at] = '\0'; return r; }
    size_t length = at + static_cast<size_t>(r);
    reply_[length] = '\0';
    if (traceLevel_ && r > 0) echo(reply_.data() + at, static_cast<size_t>(r));
    if (length > 0 && reply_[length - 1] == '\n') return static_cast<int>(length);
    if (r > 0 && static_cast<size_t>(r) < room) return kReaderNotDone;  // cut by the time-out
    // Too long: the rest of the line is read and dropped, keeping its end (a literal size
    // may be announced there).
    char tail[64];
    size_t tailLength = 0;
    char piece[4096];
    for (size_t drained = 0;; ) {
        int n = readLine(piece, static_cast<int>(sizeof piece));
        if (n < 1) return n;
        drained += static_cast<size_t>(n);
        if (static_cast<size_t>(n) >= sizeof tail) {
            memcpy(tail, piece + n - sizeof tail + 1, sizeof tail - 1);
            tailLength = sizeof tail - 1;
        } else {
            size_t keep = std::min(tailLength, sizeof tail - 1 - static_cast<size_t>(n));
            memmove(tail, tail + tailLength - keep, keep);
            memcpy(tail + keep, piece, static_cast<size_t>(n));
            tailLength = keep + static_cast<size_t>(n);
        }
        if (piece[n - 1] == '\n') break;
        if (static_cast<size_t>(n) < sizeof piece) return kReaderNotDone;
        if (drained > (64u << 20)) return kReaderFailed;
    }
    // Keep the line's end in place of its last bytes.
    size_t keepAt = limit - tailLength;
    memcpy(reply_.data() + keepAt, tail, tailLength);
    reply_[limit] = '\0';
    return static_cast<int>(limit);
}

long long ImapReader::literalAtEnd(const char* text, size_t length) {
    if (length < 4 || text[length - 1] != '\n') return -1;
    size_t end = length - 1;
    if (end && text[end - 1] == '\r') --end;
    if (end == 0 || text[end - 1] != '}') return -1;
    size_t close = end - 1;
    size_t digits = close;
    if (digits && text[digits - 1] == '+') --digits;  // a non-synchronising literal
    size_t first = digits;
    while (first && isdigit(static_cast<unsigned char>(text[first - 1]))) --first;
    if (first == digits || first == 0 || text[first - 1] != '{' || digits - first > 18) return -1;
    return atoll(text + first);
}

int ImapReader::skipBytes(unsigned long long n) {
    char piece[kSkipPiece];
    while (n > 0) {
        int want = n < sizeof piece ? static_cast<int>(n) : static_cast<int>(sizeof piece);
        int got = read(piece, want);
        if (got < 1) return got < 0 ? got : kReaderNotDone;
        n -= static_cast<unsigned long long>(got);
    }
    return kReaderOk;
}

int ImapReader::finishResponse(size_t length) {
    for (size_t count = 0;; ++count) {
        long long size = literalAtEnd(reply_.data(), length);
        if (size < 0) return kReaderOk;
        if (count >= kImapLiteralsPerResponseMax) return kReaderFailed;
        unsigned long long n = static_cast<unsigned long long>(size);
        std::string kept;
        size_t keep = n < kImapLiteralKeepMax ? static_cast<size_t>(n) : kImapLiteralKeepMax;
        kept.resize(keep);
        size_t got = 0;
        while (got < keep) {
            int r = read(kept.data() + got, static_cast<int>(keep - got));
            if (r < 1) return r < 0 ? r : kReaderNotDone;
            got += static_cast<size_t>(r);
        }
        if (n > keep) {
            int r = skipBytes(n - keep);
            if (r < 1) return r;
        }
        // Drop the "{n}" CRLF from the text; a short plain literal takes its place as a quoted
        // string, so the forms below read it like any other string.
        size_t open = length;
        while (open > 0 && reply_[open - 1] != '{') --open;
        length = open > 0 ? open - 1 : 0;
        bool plain = n <= kInlineLiteralMax;
        for (char c : kept)
            if (c == '\r' || c == '\n' || c == '\0') plain = false;
        String inlined = plain ? imapQuoted(String(kept.data(), kept.size())) : String("{}");
        if (length + inlined.length() < kImapResponseSize - 1) {
            memcpy(reply_.data() + length, inlined.c_str(), inlined.length());
            length += inlined.length();
        }
        reply_[length] = '\0';
        literals_.push_back(std::move(kept));
        int r = readPhysical(length);
        if (r < 1) return r;
        length = static_cast<size_t>(r);
    }
}

int ImapReader::readResponse() {
    literals_.clear();
    int r = readPhysical(0);
    if (r >= 1) r = finishResponse(static_cast<size_t>(r));
    if (r < 1) {
        // The dialogue is lost in the middle of a response: nothing more may be sent on it.
        printf("No response: %d\n", r);
        Connection::close();
        return r;
    }
    digest();
    return kReaderOk;
}

void ImapReader::readCapabilities(const char* line) {
    caps_.startTls = containsNoCase(line, " STARTTLS");
    caps_.uidPlus = containsNoCase(line, " UIDPLUS");
    caps_.idle = containsNoCase(line, " IDLE");
    caps_.sort = containsNoCase(line, " SORT");
    caps_.acl = containsNoCase(line, " ACL");
    caps_.userLogout = containsNoCase(line, " USERLOGOUT");
    caps_.authLogin = containsNoCase(line, " AUTH=LOGIN");
    caps_.authPlain = containsNoCase(line, " AUTH=PLAIN");
    caps_.authCramMd5 = containsNoCase(line, " AUTH=CRAM-MD5");
    caps_.known = true;
}

void ImapReader::digest() {
    const char* line = reply_.data();
    if (line[0] != '*') return;
    char flags[256], delimiter[256], name[256];
    // The flags are a parenthesised list that may hold spaces.
    if (sscanf(line, "* LIST (%254[^)]) %255s %255[^\r\n]", flags, delimiter, name) == 3 ||
        sscanf(line, "* LIST ()%*[ ]%255s %255[^\r\n]", delimiter, name) == 2 ||
        (sscanf(line, "* LSUB ()%*[ ]%255s %255[^\r\n]", delimiter, name) == 2) ||
        (sscanf(line, "* LSUB (%254[^)]) %255s %255[^\r\n]", flags, delimiter, name) == 3 &&
         strcasecmp(flags, "\\Noselect") != 0)) {
        String folder = stripQuotes(String(name));
        folders_.add(folder);
        kept_.add(folder);
        return;
    }
    if (strncasecmp(line, "* LIST ", 7) == 0 || strncasecmp(line, "* LSUB ", 7) == 0) return;
    char text[1024];
    if (sscanf(line, "* CAPABILITY %255[^\r\n]", text) == 1) {
        readCapabilities(line);
        return;
    }
    if (sscanf(line, "* OK [ALERT] %1023[^\r\n]", text) == 1) {
        alert_ = String(text);
        alerted_ = true;
        return;
    }
    if (sscanf(line, "* OK %255[^\r\n]", text) == 1) {
        // A greeting may carry the capabilities as a response code.
        if (containsNoCase(text, "[CAPABILITY ")) {
            readCapabilities(line);
            return;
        }
        uidValidity_ = static_cast<uint32_t>(numberAfter(text, "UIDVALIDITY", uidValidity_));
        uidNext_ = static_cast<uint32_t>(numberAfter(text, "UIDNEXT", uidNext_));
        unseen_ = static_cast<uint32_t>(numberAfter(text, "UNSEEN", unseen_));
        return;
    }
    if (strncasecmp(line, "* BYE", 5) == 0) {
        const char* at = line + 5;
        while (*at == ' ') ++at;
        bye_ = String(at, strcspn(at, "\r\n"));
        return;
    }
    const bool sortLine = strncasecmp(line, "* SORT", 6) == 0;
    if (sortLine || strncasecmp(line, "* SEARCH", 8) == 0) {
        const char* p = line + (sortLine ? 6 : 8);
        size_t results = 0;
        size_t old = static_cast<size_t>(count_);
        while (*p && *p != '\r' && *p != '\n') {
            while (*p == ' ') ++p;
            if (!isdigit(static_cast<unsigned char>(*p))) break;
            unsigned long value = strtoul(p, const_cast<char**>(&p), 10);
            if (results < orderedUids_.size()) orderedUids_[results] = static_cast<uint32_t>(value);
            else if (orderedUids_.size() < kImapMessagesMax) orderedUids_.push_back(static_cast<uint32_t>(value));
            else continue;
            ++results;
        }
        for (size_t i = results; i < old && i < orderedUids_.size(); ++i) orderedUids_[i] = 0;
        count_ = static_cast<int>(results);
        return;
    }
    unsigned long number = 0;
    char word[256];
    if (sscanf(line, "* %lu %255s", &number, word) != 2) return;
    if (strcasecmp(word, "EXISTS") == 0) {
        if (number > kImapMessagesMax) number = kImapMessagesMax;
        if (expectExists_) {
            count_ = static_cast<int>(number);
            resetMessageArrays(number);
            currentSize_ = 0;
        } else if (!ordered_ && number > static_cast<unsigned long>(count_)) {
            // New mail during a command: the new slots are known by number only.
            count_ = static_cast<int>(number);
            sizes_.resize(number, 0);
            uids_.resize(number, 0);
            orderedUids_.resize(number, 0);
        }
        return;
    }
    if (strcasecmp(word, "RECENT") == 0) {
        recent_ = static_cast<uint32_t>(number);
        return;
    }
    if (number < 1 || number > static_cast<unsigned long>(count_)) return;
    size_t slot = number - 1;
    if (strcasecmp(word, "EXPUNGE") == 0) {
        // Every later message moves down by one; the UIDs move with them.
        if (ordered_) return;
        if (slot < sizes_.size()) sizes_.erase(sizes_.begin() + static_cast<long>(slot));
        if (slot < uids_.size()) uids_.erase(uids_.begin() + static_cast<long>(slot));
        if (slot < orderedUids_.size()) orderedUids_.erase(orderedUids_.begin() + static_cast<long>(slot));
        --count_;
        return;
    }
    if (strcasecmp(word, "FETCH") == 0 && !ordered_) {
        if (slot < uids_.size() && findNoCase(line, "UID ")) {
            uids_[slot] = static_cast<uint32_t>(numberAfter(line, "UID ", 0));
        }
        if (slot < sizes_.size() && findNoCase(line, "RFC822.SIZE")) {
            unsigned long size = numberAfter(line, "RFC822.SIZE", 0);
            sizes_[slot] = static_cast<uint32_t>(size);
            currentSize_ += size;
        }
    }
}

int ImapReader::judgeTagged() {
    unsigned long tag = 0;
    char status[256] = "";
    int scanned = sscanf(reply_.data(), "%lu %255s", &tag, status);
    if (scanned == 2 && tag == tag_) return strcasecmp(status, "OK") == 0 ? kReaderOk : kReaderFailed;
    printf("Sequence error, got: %lu, expected: %lu [%.*s]\n", tag, tag_,
           static_cast<int>(strcspn(reply_.data(), "\r\n")), reply_.data());
    return kReaderFailed;
}

int ImapReader::readReply() {
    for (;;) {
        int r = readResponse();
        if (r < 1) {
            printf("IMAP OK() didn't complete\n");
            return r;
        }
        if (reply_[0] != '*') break;
        if (!bye_.empty() && !loggingOut_) {
            // The server is ending the session; what follows is the end of the connection.
            fprintf(stderr, "IMAP server closed the session: %s\n", bye_.c_str());
            bye_ = String();
        }
    }
    return judgeTagged();
}

// ---------------------------------------------------------------- login

int ImapReader::authenticateExchange(const String& user, const String& password) {
    auto readContinuation = [this]() {
        int r = readPhysical(0);
        if (r < 1) Connection::close();
        return r;
    };
    if (caps_.authCramMd5 && apop_) {
        if (sendCommand("%lu AUTHENTICATE CRAM-MD5\r\n", nextTag()) < 1) return 0;
        if (readContinuation() < 1) return 0;
        String answer = imapCramMd5Answer(reply_.data(), user, password);
        return sendCommand("%s\r\n", answer.c_str()) < 1 ? 0 : 1;
    }
    if (caps_.authPlain) {
        if (sendCommand("%lu AUTHENTICATE PLAIN\r\n", nextTag()) < 1) return 0;
        if (readContinuation() < 1) return 0;
        return sendCommand("%s\r\n", imapPlainAnswer(user, password).c_str()) < 1 ? 0 : 1;
    }
    if (caps_.authLogin) {
        if (sendCommand("%lu AUTHENTICATE LOGIN\r\n", nextTag()) < 1) return 0;
        if (readContinuation() < 1) return 0;
        if (sendCommand("%s\r\n", base64Encode(user).c_str()) < 1) return 0;
        if (readContinuation() < 1) return 0;
        return sendCommand("%s\r\n", base64Encode(password).c_str()) < 1 ? 0 : 1;
    }
    return sendCommand("%lu LOGIN %s %s\r\n", nextTag(), imapQuotedLogin(user).c_str(),
                       imapQuotedLogin(password).c_str()) < 1 ? 0 : 1;
}

int ImapReader::login(const String& user, const String& password) {
    caps_.startTls = caps_.uidPlus = caps_.sort = caps_.acl = caps_.idle = caps_.userLogout = 0;
    alerted_ = false;
    alert_ = String();
    const bool authKnown = caps_.authLogin || caps_.authPlain || caps_.authCramMd5;
    caps_.known = false;
    loggedIn_ = 0;
    if (!connected()) return kReaderFailed;
    if ((tls_ || ssl_) && !encrypted()) return kReaderFailed;  // never a password in clear
    (void)authKnown;
    if (authenticateExchange(user, password) < 1) return 0;
    count_ = 0;
    recent_ = unseen_ = 0;
    currentSize_ = 0;
    resetMessageArrays(0);
    int r = readReply();
    if (containsNoCase(reply_.data(), "[REFERRAL ")) return referral(password);
    if (r < 1) return r;
    // The login reply may carry the capabilities of the session as a response code.
    if (containsNoCase(reply_.data(), "[CAPABILITY ")) readCapabilities(reply_.data());
    if (!caps_.known) {
        r = capability();
        if (r < 0) { Connection::close(); return r; }
    }
    loggedIn_ = 1;
    loggedOut_ = 0;
    user_ = user;
    password_ = password;
    return kReaderOk;
}

int ImapReader::referral(const String& password) {
    char user[256] = "", host[256] = "";
    const char* line = reply_.data();
    sscanf(line, "%*s %*s [REFERRAL IMAP://%255[^;@]", user);
    sscanf(line, "%*s %*s [REFERRAL IMAP://%*[^@]@%255[^/]", host);
    close();
    int r = open(String(host), String("143"), nullptr, 0);
    if (r < 1) return r;
    return login(String(user), password);
}

int ImapReader::logout(bool useUserLogout) {
    loggedIn_ = 0;
    if (!connected()) return kReaderFailed;
    alerted_ = false;
    alert_ = String();
    timeout = std::min(timeout > 0 ? timeout : kLogoutTimeout, kLogoutTimeout);
    loggingOut_ = true;
    int r = kReaderOk;
    if (purge_ && !loggedOut_ && !selected_.empty()) r = command("%lu CLOSE\r\n", nextTag());
    if (!loggedOut_) {
        if (useUserLogout && caps_.userLogout) r = command("%lu USERLOGOUT\r\n", nextTag());
        else r = command("%lu LOGOUT\r\n", nextTag());
        loggedOut_ = 1;
    }
    loggingOut_ = false;
    return r;
}

// ---------------------------------------------------------------- folders

int ImapReader::selectFolder(const String& name, int readOnly) {
    if (!connected()) return kReaderFailed;
    resetMessageArrays(0);
    currentSize_ = 0;
    uidNext_ = unseen_ = recent_ = 0;
    ordered_ = false;
    count_ = 0;
    expectExists_ = true;
    int r = command("%lu %s %s\r\n", nextTag(), readOnly ? "EXAMINE" : "SELECT",
                    imapQuoted(name).c_str());
    expectExists_ = false;
    if (r < 0) return r;
    selected_ = name;
    return kReaderOk;
}

int ImapReader::fetchSizes(int first, int last) {
    if (!connected()) return kReaderFailed;
    if (count_ == 0) return kReaderNotDone;
    if (last == 0) last = count_;
    return command("%lu FETCH %lu:%lu (UID RFC822.SIZE)\r\n", nextTag(),
                   static_cast<unsigned long>(first), static_cast<unsigned long>(last));
}

int ImapReader::listFolders(const String& pattern, int subscribedOnly) {
    if (!connected()) return kReaderFailed;
    folders_.clear();
    kept_.clear();
    return command("%lu %s \"\" %s\r\n", nextTag(), subscribedOnly ? "LSUB" : "LIST",
                   imapQuoted(pattern.empty() ? String("*") : pattern).c_str());
}

int ImapReader::nextFolderName(String& name) {
    if (folders_.takeHead(name)) return kReaderOk;
    name = String();
    for (const String& folder : kept_) folders_.add(folder);
    return kReaderNotDone;
}

int ImapReader::createFolder(const String& name) {
    if (!connected()) return kReaderFailed;
    return command("%lu CREATE %s\r\n", nextTag(), imapQuoted(name).c_str());
}

int ImapReader::deleteFolder(const String& name) {
    if (!connected()) return kReaderFailed;
    return command("%lu DELETE %s\r\n", nextTag(), imapQuoted(name).c_str());
}

int ImapReader::subscribeFolder(const String& name) {
    if (!connected()) return kReaderFailed;
    return command("%lu SUBSCRIBE %s\r\n", nextTag(), imapQuoted(name).c_str());
}

int ImapReader::unsubscribeFolder(const String& name) {
    if (!connected()) return kReaderFailed;
    return command("%lu UNSUBSCRIBE %s\r\n", nextTag(), imapQuoted(name).c_str());
}

int ImapReader::renameFolder(const String& oldName, const String& newName) {
    if (!connected()) return kReaderFailed;
    return command("%lu RENAME %s %s\r\n", nextTag(), imapQuoted(oldName).c_str(),
                   imapQuoted(newName).c_str());
}

int ImapReader::closeMailbox() {
    if (!connected()) return kReaderFailed;
    return command("%lu CLOSE\r\n", nextTag());
}

// ---------------------------------------------------------------- flags, copies, order

int ImapReader::deleteMessage(int n) {
    if (!connected() || n < 1 || n > count_) return kReaderFailed;
    return command("%lu STORE %d +FLAGS (\\Deleted)\r\n", nextTag(), n);
}

int ImapReader::undeleteMessage(int n) {
    if (!connected() || n < 1 || n > count_) return kReaderFailed;
    return command("%lu STORE %d -FLAGS (\\Deleted)\r\n", nextTag(), n);
}

int ImapReader::deleteByUid(unsigned uid) {
    if (!connected()) return kReaderFailed;
    return command("%lu UID STORE %lu +FLAGS (\\Deleted)\r\n", nextTag(), static_cast<unsigned long>(uid));
}

int ImapReader::undeleteByUid(unsigned uid) {
    if (!connected()) return kReaderFailed;
    return command("%lu UID STORE %lu -FLAGS (\\Deleted)\r\n", nextTag(), static_cast<unsigned long>(uid));
}

int ImapReader::copyMessage(int n, const String& folder, int deleteAfter) {
    if (!connected() || n < 1 || n > count_) return kReaderFailed;
    int r = command("%lu COPY %d %s\r\n", nextTag(), n, imapQuoted(folder).c_str());
    if (r < 1 || !deleteAfter) return r;
    return command("%lu STORE %d +FLAGS (\\Deleted)\r\n", nextTag(), n);
}

int ImapReader::copyByUid(unsigned uid, const String& folder, int deleteAfter) {
    if (!connected()) return kReaderFailed;
    int r = command("%lu UID COPY %lu %s\r\n", nextTag(), static_cast<unsigned long>(uid),
                    imapQuoted(folder).c_str());
    if (r < 1 || !deleteAfter) return r;
    return deleteByUid(uid);
}

int ImapReader::sort(const String& criteria, const String& key) {
    if (!connected()) return kReaderFailed;
    if (!caps_.sort || ordered_) return kReaderNotDone;
    int old = count_;
    count_ = 0;
    int r = command("%lu UID SORT (%s) US-ASCII %s\r\n", nextTag(),
                    criteria.empty() ? "ARRIVAL" : criteria.c_str(), key.empty() ? "ALL" : key.c_str());
    if (r < 1) { if (count_ == 0) count_ = old; return r; }
    ordered_ = true;
    return kReaderOk;
}

int ImapReader::search(const String& criteria) {
    if (!connected()) return kReaderFailed;
    if (ordered_) return kReaderNotDone;
    int old = count_;
    count_ = 0;
    int r = command("%lu UID SEARCH %s\r\n", nextTag(), criteria.empty() ? "ALL" : criteria.c_str());
    if (r < 1) { if (count_ == 0) count_ = old; return r; }
    ordered_ = true;
    return kReaderOk;
}

int ImapReader::messageSize(int n) {
    if (n < 1 || n > count_ || static_cast<size_t>(n) > sizes_.size() || ordered_) return 0;
    return static_cast<int>(sizes_[static_cast<size_t>(n - 1)]);
}

unsigned ImapReader::uidOf(int n) {
    if (n < 1 || n > count_ || static_cast<size_t>(n) > uids_.size()) return 0;
    return uids_[static_cast<size_t>(n - 1)];
}

unsigned ImapReader::orderedUid(int n) {
    if (n < 1 || n > count_) return 0;
    if (ordered_) return static_cast<size_t>(n) <= orderedUids_.size() ? orderedUids_[static_cast<size_t>(n - 1)] : 0;
    return uidOf(n);
}

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
    PartDecoder decoder;
    PartDecoder::Sink sink = partSink_;
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
    std::vector<char> piece(kSkipPiece + 1);
    bool ok = true;
    while (input.left() > 0) {
        int got = input.readLine(piece.data(), static_cast<int>(kSkipPiece));
        if (got < 1) return got < 0 ? got : kReaderNotDone;
        if (ok) ok = decoder.put(piece.data(), static_cast<size_t>(got), piece[static_cast<size_t>(got) - 1] == '\n');
        if (input.stopped() && input.left() > 0) return kReaderNotDone;
    }
    if (ok) ok = decoder.finish();
    message().bytesRead = n;
    return ok ? kReaderOk : kReaderFailed;
}

int ImapReader::readFetch(unsigned long wanted, bool byUid, const char* failText, FetchKind kind) {
    for (;;) {
        literals_.clear();
        int r = readPhysical(0);
        if (r < 1) {
            printf("%s%d\n", failText, r);
            Connection::close();
            return r;
        }
        size_t length = static_cast<size_t>(r);
        const char* line = reply_.data();
        if (line[0] != '*') {
            judgeTagged();
            return kReaderFailed;
        }
        unsigned long number = 0;
        char word[1024];
        bool fetch = sscanf(line, "* %lu %1023s", &number, word) == 2 && strcasecmp(word, "FETCH") == 0;
        bool ours = false;
        // Only the answer carries the body (or the structure); a FETCH of flags alone for the
        // same message is unsolicited.
        const bool answer = kind == FetchKind::kStructure ? findNoCase(line, "BODYSTRUCTURE") != nullptr
                                                          : findNoCase(line, "BODY[") != nullptr;
        if (fetch && !answer) fetch = false;
        if (fetch && !byUid) ours = number == wanted;
        if (fetch && byUid) {
            // The UID may also come after the literal; a FETCH with a body and no UID before
            // it is taken as the answer and checked once the UID is known.
            unsigned long uid = numberAfter(line, "UID ", 0);
            ours = uid == wanted || (uid == 0 && (kind == FetchKind::kStructure || literalAtEnd(line, length) >= 0));
        }
        if (!ours || kind == FetchKind::kStructure) {
            // Unsolicited data in the middle of the command (new mail, flag changes, expunges),
            // or a structure, which is read whole with its literals.
            r = finishResponse(length);
            if (r < 1) {
                printf("%s%d\n", failText, r);
                Connection::close();
                return r;
            }
            if (!ours) {
                digest();
                if (!bye_.empty()) fprintf(stderr, "IMAP server closed the session: %s\n", bye_.c_str());
                bye_ = String();
                continue;
            }
            line = reply_.data();
        }
        currentUid_ = static_cast<uint32_t>(numberAfter(line, "UID ", 0));
        unsigned long size = numberAfter(line, "RFC822.SIZE", 0);
        char flags[1024] = "";
        if (const char* at = findNoCase(line, "FLAGS (")) sscanf(at, "FLAGS (%1023[^)\r\n]", flags);
        flags_ = String(flags);
        if (kind == FetchKind::kStructure) {
            structure_ = String();
            if (const char* at = findNoCase(line, "BODYSTRUCTURE")) {
                const char* open = strchr(at, '(');
                if (open) {
                    int level = 0;
                    const char* p = open;
                    for (; *p; ++p) {
                        if (*p == '(') ++level;
                        else if (*p == ')' && --level == 0) { ++p; break; }
                    }
                    structure_ = String(open, static_cast<size_t>(p - open));
                }
            }
            parseBodyStructure(structure_.c_str(), parts_);
            return readReply();
        }
        long long literal = literalAtEnd(line, length);
        if (literal < 0) {
            // No body came (an empty part, or the server sent none).
            r = finishResponse(length);
            if (r < 1) return r;
            return readReply();
        }
        if (kind == FetchKind::kPart) {
            message().clear();
            r = streamPart(static_cast<unsigned long long>(literal));
        } else {
            r = parseLiteral(static_cast<unsigned long long>(literal));
        }
        if (r < 1) {
            printf("Parse failed: %d\n", r);
            Connection::close();
            return r;
        }
        r = readPhysical(0);
        if (r >= 1) r = finishResponse(static_cast<size_t>(r));
        if (r < 1) {
            printf("Premature end of Retrieve() operation: %d\n", r);
            Connection::close();
            return r;
        }
        // Servers may send the size, the flags and the UID after the literal.
        unsigned long after = numberAfter(reply_.data(), "RFC822.SIZE", 0);
        if (after) size = after;
        if (flags_.empty()) {
            if (const char* at = findNoCase(reply_.data(), "FLAGS (")) {
                sscanf(at, "FLAGS (%1023[^)\r\n]", flags);
                flags_ = String(flags);
            }
        }
        if (!currentUid_) currentUid_ = static_cast<uint32_t>(numberAfter(reply_.data(), "UID ", 0));
        if (size) currentSize_ = size;
        r = readReply();
        if (r >= 1 && byUid && currentUid_ != wanted) {
            printf("Message nbr missmatch: got = %lu, expected = %lu\n",
                   static_cast<unsigned long>(currentUid_), wanted);
            return kReaderFailed;
        }
        return r;
    }
}

int ImapReader::retrieve(int n) {
    if (n < 1 || n > count_ || !connected()) return kReaderFailed;
    int r;
    if (ordered_) {
        r = retrieveByUid(orderedUid(n));
    } else {
        const char* peek = headerOnly_ ? ".PEEK" : "";
        const char* section = headerOnly_ == 1 ? "HEADER" : "";
        r = sendCommand("%lu FETCH %d (UID RFC822.SIZE FLAGS BODY%s[%s])\r\n", nextTag(), n, peek, section);
        if (r < 1) return r;
        r = readFetch(static_cast<unsigned long>(n), false, "No response retrieveby: ", FetchKind::kMessage);
    }
    if (r >= 1) lastRetrieved_ = n;
    return r;
}

int ImapReader::retrieveByUid(unsigned uid) {
    if (!connected()) return kReaderFailed;
    const char* peek = headerOnly_ ? ".PEEK" : "";
    const char* section = headerOnly_ == 1 ? "HEADER" : "";
    int r = sendCommand("%lu UID FETCH %lu (UID RFC822.SIZE FLAGS BODY%s[%s])\r\n", nextTag(),
                        static_cast<unsigned long>(uid), peek, section);
    if (r < 1) return r;
    return readFetch(uid, true, "No response retrievebyuid: ", FetchKind::kMessage);
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
    if (!caps_.idle) return kReaderNotDone;
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

// ---------------------------------------------------------------- access control

int ImapReader::aclCommand() {
    aclLines_.clear();
    for (;;) {
        int r = readResponse();
        if (r < 1) {
            printf("IMAP OK() didn't complete\n");
            return r;
        }
        if (reply_[0] != '*') break;
        aclLines_.push_back(aclTokens(reply_.data() + 1));
    }
    return judgeTagged();
}

int ImapReader::setAcl(const String& folder, const String& identifier, const String& rights) {
    if (!connected()) return kReaderFailed;
    if (!caps_.acl) return kReaderNotDone;
    return command("%lu SETACL %s %s %s\r\n", nextTag(), imapQuoted(folder).c_str(),
                   imapQuoted(identifier).c_str(), imapQuoted(rights).c_str());
}

int ImapReader::deleteAcl(const String& folder, const String& identifier) {
    if (!connected()) return kReaderFailed;
    if (!caps_.acl) return kReaderNotDone;
    return command("%lu DELETEACL %s %s\r\n", nextTag(), imapQuoted(folder).c_str(),
                   imapQuoted(identifier).c_str());
}

int ImapReader::getAcl(const String& folder, StringList& identifiers, StringList& rights) {
    if (!connected()) return kReaderFailed;
    if (!caps_.acl) return kReaderNotDone;
    int r = sendCommand("%lu GETACL %s\r\n", nextTag(), imapQuoted(folder).c_str());
    if (r < 1) return r;
    r = aclCommand();
    for (const auto& tokens : aclLines_) {
        // ACL folder (identifier rights)...
        if (tokens.size() < 2 || strcasecmp(tokens[0].c_str(), "ACL") != 0) continue;
        for (size_t i = 2; i + 1 < tokens.size(); i += 2) {
            identifiers.add(String(tokens[i]));
            rights.add(String(tokens[i + 1]));
        }
    }
    return r;
}

int ImapReader::listRights(const String& folder, const String& identifier, String& required,
                           StringList& optional) {
    if (!connected()) return kReaderFailed;
    if (!caps_.acl) return kReaderNotDone;
    int r = sendCommand("%lu LISTRIGHTS %s %s\r\n", nextTag(), imapQuoted(folder).c_str(),
                        imapQuoted(identifier).c_str());
    if (r < 1) return r;
    r = aclCommand();
    for (const auto& tokens : aclLines_) {
        if (tokens.size() < 4 || strcasecmp(tokens[0].c_str(), "LISTRIGHTS") != 0) continue;
        required = String(tokens[3]);
        for (size_t i = 4; i < tokens.size(); ++i) optional.add(String(tokens[i]));
    }
    return r;
}

int ImapReader::myRights(const String& folder, String& rights) {
    if (!connected()) return kReaderFailed;
    if (!caps_.acl) return kReaderNotDone;
    int r = sendCommand("%lu MYRIGHTS %s\r\n", nextTag(), imapQuoted(folder).c_str());
    if (r < 1) return r;
    r = aclCommand();
    for (const auto& tokens : aclLines_)
        if (tokens.size() >= 3 && strcasecmp(tokens[0].c_str(), "MYRIGHTS") == 0) rights = String(tokens[2]);
    return r;
}

} // namespace qarvel
