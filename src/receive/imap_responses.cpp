// The IMAP4 reader's response reader: one response line with its literals, the untagged
// responses digested as they arrive, and the tagged reply that judges a command.
#include "receive/imap_reader.h"

#include "base/text.h"

#include <strings.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace qarvel {

namespace {

// Drained in pieces of this size when a line is too long or a literal is not kept.
constexpr size_t kSkipPiece = 64 * 1024;
// Literals up to this size that hold only plain characters are inlined as quoted strings.
constexpr size_t kInlineLiteralMax = 1024;

} // namespace

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
        String inlined = plain ? ImapCore::quoted(String(kept.data(), kept.size())) : String("{}");
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

void ImapReader::digest() {
    const char* line = reply_.data();
    if (line[0] != '*') return;
    // A folder; any other LIST or LSUB line is passed over.
    if (digestFolder(line) || strncasecmp(line, "* LIST ", 7) == 0 || strncasecmp(line, "* LSUB ", 7) == 0) return;
    char text[1024];
    if (sscanf(line, "* CAPABILITY %255[^\r\n]", text) == 1) {
        core_.readCapabilities(line);
        return;
    }
    if (sscanf(line, "* OK [ALERT] %1023[^\r\n]", text) == 1) {
        alert_ = String(text);
        alerted_ = true;
        return;
    }
    if (sscanf(line, "* OK %255[^\r\n]", text) == 1) {
        // A greeting may carry the capabilities as a response code.
        if (locateNoCase(text, "[CAPABILITY ")) {
            core_.readCapabilities(line);
            return;
        }
        uidValidity_ = static_cast<uint32_t>(imapNumberAfter(text, "UIDVALIDITY", uidValidity_));
        uidNext_ = static_cast<uint32_t>(imapNumberAfter(text, "UIDNEXT", uidNext_));
        unseen_ = static_cast<uint32_t>(imapNumberAfter(text, "UNSEEN", unseen_));
        return;
    }
    if (strncasecmp(line, "* BYE", 5) == 0) {
        const char* at = line + 5;
        while (*at == ' ') ++at;
        bye_ = String(at, strcspn(at, "\r\n"));
        return;
    }
    if (strncasecmp(line, "* SORT", 6) == 0) {
        digestOrder(line + 6);
    } else if (strncasecmp(line, "* SEARCH", 8) == 0) {
        digestOrder(line + 8);
    } else {
        digestNumbered(line);
    }
}

bool ImapReader::digestFolder(const char* line) {
    char flags[256], delimiter[256], name[256];
    // The flags are a parenthesised list that may hold spaces; LSUB leaves out a folder that
    // cannot be selected.
    if (sscanf(line, "* LIST (%254[^)]) %255s %255[^\r\n]", flags, delimiter, name) == 3 ||
        sscanf(line, "* LIST ()%*[ ]%255s %255[^\r\n]", delimiter, name) == 2 ||
        (sscanf(line, "* LSUB ()%*[ ]%255s %255[^\r\n]", delimiter, name) == 2) ||
        (sscanf(line, "* LSUB (%254[^)]) %255s %255[^\r\n]", flags, delimiter, name) == 3 &&
         strcasecmp(flags, "\\Noselect") != 0)) {
        String folder = ImapCore::stripQuotes(String(name));
        folders_.add(folder);
        kept_.add(folder);
        return true;
    }
    return false;
}

void ImapReader::digestOrder(const char* numbers) {
    const char* p = numbers;
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
}

void ImapReader::digestNumbered(const char* line) {
    unsigned long number = 0;
    char word[256];
    if (sscanf(line, "* %lu %255s", &number, word) != 2) return;
    if (strcasecmp(word, "EXISTS") == 0) {
        // Only the count is taken: the tables grow with what the server then tells.
        if (number > kImapMessagesMax) number = kImapMessagesMax;
        if (expectExists_) {
            count_ = static_cast<int>(number);
            resetMessageArrays();
            currentSize_ = 0;
        } else if (!ordered_ && number > static_cast<unsigned long>(count_)) {
            count_ = static_cast<int>(number);  // new mail during a command
        }
        return;
    }
    if (strcasecmp(word, "RECENT") == 0) {
        recent_ = static_cast<uint32_t>(number);
        return;
    }
    if (number < 1 || number > static_cast<unsigned long>(count_)) return;
    const uint32_t n = static_cast<uint32_t>(number);
    if (strcasecmp(word, "EXPUNGE") == 0) {
        // Every later message moves down by one; the UIDs move with them.
        if (ordered_) return;
        table_.expunge(n);
        --count_;
        return;
    }
    if (strcasecmp(word, "FETCH") == 0 && !ordered_) {
        if (locateNoCase(line, "UID ")) table_.setUid(n, static_cast<uint32_t>(imapNumberAfter(line, "UID ", 0)));
        if (locateNoCase(line, "RFC822.SIZE")) {
            unsigned long size = imapNumberAfter(line, "RFC822.SIZE", 0);
            table_.setSize(n, static_cast<uint32_t>(size));
            currentSize_ += size;
        }
    }
}

int ImapReader::judgeTagged() {
    unsigned long tag = 0;
    switch (core_.judge(reply_.data(), &tag)) {
    case ImapCore::Status::kOk: return kReaderOk;
    case ImapCore::Status::kRefused: return kReaderFailed;
    case ImapCore::Status::kOtherTag: break;
    }
    printf("Sequence error, got: %lu, expected: %lu [%.*s]\n", tag, core_.awaited(),
           static_cast<int>(strcspn(reply_.data(), "\r\n")), reply_.data());
    return kReaderFailed;
}

bool ImapReader::passOwed() {
    if (owed_.empty() || !isdigit(static_cast<unsigned char>(reply_[0]))) return false;
    const unsigned long tag = strtoul(reply_.data(), nullptr, 10);
    auto at = std::find(owed_.begin(), owed_.end(), tag);
    if (at == owed_.end() || tag == core_.awaited()) return false;
    owed_.erase(at);
    return true;
}

int ImapReader::discardReply(unsigned long tag) {
    core_.await(tag);
    int r = readReply();
    core_.await(0);
    if (connected()) return kReaderOk;
    return r < 0 ? r : kReaderFailed;
}

int ImapReader::readReply() {
    for (;;) {
        int r = readResponse();
        if (r < 1) {
            printf("IMAP OK() didn't complete\n");
            return r;
        }
        if (reply_[0] != '*' && !passOwed()) break;
        if (!bye_.empty() && !loggingOut_) {
            // The server is ending the session; what follows is the end of the connection.
            fprintf(stderr, "IMAP server closed the session: %s\n", bye_.c_str());
            bye_ = String();
        }
    }
    return judgeTagged();
}

} // namespace qarvel
