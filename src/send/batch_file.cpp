// BatchFileReader: a text of ready-made messages cut into one message at a time.
#include "send/batch_file.h"

#include <strings.h>

#include <cstring>

#include "base/text.h"
#include "send/addresses.h"
#include "send/sender_session.h"

namespace qarvel {

namespace {

enum class ValueKind {
    kText,       // the value as it is
    kAddresses,  // split, unquoted, alias-expanded and appended to the list
    kListFile,   // a file of addresses appended to the list
};

struct Keyword {
    const char* word;
    String BatchMessage::*field;
    ValueKind kind;
    bool ignoredWithRelay;  // a relay delivers to the To list only
};

// Tried in this order; the first keyword the line begins with (case ignored) wins.
const Keyword kKeywords[] = {
    {"Newsgroups:", &BatchMessage::newsgroups, ValueKind::kAddresses, false},
    {"To:", &BatchMessage::to, ValueKind::kAddresses, false},
    {"Cc:", &BatchMessage::cc, ValueKind::kAddresses, true},
    {"Bcc:", &BatchMessage::bcc, ValueKind::kAddresses, true},
    {"Tolist:", &BatchMessage::to, ValueKind::kListFile, false},
    {"Cclist:", &BatchMessage::cc, ValueKind::kListFile, false},
    {"Bcclist:", &BatchMessage::bcc, ValueKind::kListFile, false},
    {"From:", &BatchMessage::from, ValueKind::kText, false},
    {"Importance:", &BatchMessage::importance, ValueKind::kText, false},
    {"Organization:", &BatchMessage::organization, ValueKind::kText, false},
    {"Date:", &BatchMessage::date, ValueKind::kText, false},
    {"Reply-To:", &BatchMessage::replyTo, ValueKind::kText, false},
    {"Subject:", &BatchMessage::subject, ValueKind::kText, false},
};

// File names in the body are read as "%255[^\r\n]" reads them.
constexpr size_t kFileNameWidth = 255;

// The value after a keyword: leading blanks skipped, up to a CR, trailing blanks removed.
std::string_view valueAfter(std::string_view line, size_t keywordLength) {
    std::string_view v = line.substr(keywordLength);
    size_t cr = v.find('\r');
    if (cr != std::string_view::npos) v = v.substr(0, cr);
    return trimBlanks(v);
}

String bounded(std::string_view v, size_t width) { return String(v.substr(0, width)); }

void appendTo(String& list, const String& more) {
    if (more.empty()) return;
    if (!list.empty()) list += ',';
    list += more;
}

} // namespace

int importancePriority(const String& value) {
    if (value.equalsIgnoreCase("High")) return 1;
    if (value.equalsIgnoreCase("Low")) return 2;
    if (value.equalsIgnoreCase("Normal")) return 3;
    return 0;
}

namespace {
constexpr size_t kReadBlock = 64 * 1024;
}

bool BatchText::takePiece(std::string_view& piece, bool& lineEnds) {
    lineEnds = true;
    if (files_.empty()) {
        if (pos_ >= text_.size()) return false;
        size_t end = text_.find('\n', pos_);
        size_t next = end == std::string_view::npos ? text_.size() : end + 1;
        if (end == std::string_view::npos) end = text_.size();
        piece = text_.substr(pos_, end - pos_);
        if (!piece.empty() && piece.back() == '\r') piece.remove_suffix(1);
        pos_ = next;
        return true;
    }
    while (true) {
        if (crPending_ && pos_ < text_.size()) {
            if (text_[pos_] == '\n') ++pos_;
            crPending_ = false;
        }
        size_t end = text_.find_first_of("\r\n", pos_);
        if (end != std::string_view::npos) {
            piece = text_.substr(pos_, end - pos_);
            if (text_[end] == '\r') {
                if (end + 1 == text_.size()) crPending_ = true;
                else if (text_[end + 1] == '\n') ++end;
            }
            pos_ = end + 1;
            midLine_ = false;
            return true;
        }
        size_t rest = text_.size() - pos_;
        if (rest == kReadBlock) {  // a line longer than the block
            piece = text_.substr(pos_);
            pos_ = text_.size();
            lineEnds = false;
            midLine_ = true;
            return true;
        }
        if (file_ >= files_.size()) return false;
        // Keep the unread rest and read behind it.
        block_.resize(kReadBlock);
        if (rest > 0) std::memmove(block_.data(), text_.data() + pos_, rest);
        pos_ = 0;
        text_ = std::string_view(block_.data(), rest);
        size_t n = std::fread(block_.data() + rest, 1, kReadBlock - rest, files_[file_]);
        if (n > 0) {
            text_ = std::string_view(block_.data(), rest + n);
            continue;
        }
        // The end of a file ends its last line.
        if (std::ferror(files_[file_])) failed_ = true;
        ++file_;
        crPending_ = false;
        if (rest > 0 || midLine_) {
            piece = text_;
            pos_ = text_.size();
            midLine_ = false;
            return true;
        }
    }
}

bool BatchText::takeLine(std::string_view& line, std::string& scratch) {
    bool lineEnds;
    if (!takePiece(line, lineEnds)) return false;
    if (lineEnds) return true;
    scratch.assign(line);
    std::string_view piece;
    while (!lineEnds && takePiece(piece, lineEnds)) scratch.append(piece);
    line = scratch;
    return true;
}

BatchFileReader::BatchFileReader(BatchText& text, BatchLayout layout, bool relaySet, AddressBook book)
    : text_(text), layout_(layout), relaySet_(relaySet), book_(std::move(book)) {}

bool BatchFileReader::takeLine(std::string_view& line) {
    if (!text_.takeLine(line, scratch_)) return false;
    ++line_;
    return true;
}

String BatchFileReader::expandAddresses(std::string_view value) const {
    String joined;
    size_t start = 0;
    while (start <= value.size()) {
        size_t end = value.find_first_of(",;", start);
        if (end == std::string_view::npos) end = value.size();
        std::string_view piece = value.substr(start, end - start);
        start = end + 1;
        while (!piece.empty() && isBlank(piece.front())) piece.remove_prefix(1);
        String address = unquoteValue(std::string(piece).c_str(), kEscapesKept);
        std::string_view a = trimBlanks(address.view());
        if (!a.empty()) {
            String entry(a);
            if (book_.aliasNames && book_.aliasValues) {
                // An alias name without a domain stands for every address with that local
                // part; with a domain, for that one address.
                String bare = bareAddress(entry);
                std::string_view b = bare.view();
                std::string_view local = b.substr(0, b.find('@'));
                auto value = book_.aliasValues->begin();
                for (const String& name : *book_.aliasNames) {
                    if (value == book_.aliasValues->end()) break;
                    std::string_view n = name.view();
                    std::string_view against = n.find('@') == std::string_view::npos ? local : b;
                    if (n.size() == against.size() &&
                        strncasecmp(n.data(), against.data(), n.size()) == 0) {
                        entry = *value;
                        break;
                    }
                    ++value;
                }
            }
            appendTo(joined, entry);
        }
        if (end == value.size()) break;
    }
    return joined;
}

void BatchFileReader::headerLine(std::string_view line, BatchMessage& message) {
    for (const Keyword& k : kKeywords) {
        std::string_view word(k.word);
        if (!startsWithNoCase(line, word)) continue;
        if (k.ignoredWithRelay && relaySet_) return;
        std::string_view value = valueAfter(line, word.size());
        String& field = message.*(k.field);
        switch (k.kind) {
        case ValueKind::kText:
            field = String(value);
            break;
        case ValueKind::kAddresses:
            appendTo(field, expandAddresses(value));
            break;
        case ValueKind::kListFile:
            if (book_.readListFile && !value.empty()) appendTo(field, book_.readListFile(String(value)));
            break;
        }
        return;
    }
}

void BatchFileReader::bodyLine(std::string_view line, BatchMessage& message) {
    static constexpr std::string_view kItem = "File Item:";
    static constexpr std::string_view kObject = "File Object:";
    if (startsWithNoCase(line, kItem)) {
        std::string_view file = valueAfter(line, kItem.size());
        message.attachments.push_back({bounded(file, kFileNameWidth), String(), false});
        return;
    }
    if (startsWithNoCase(line, kObject)) {
        std::string_view rest = valueAfter(line, kObject.size());
        size_t bar = rest.find('|');
        std::string_view file = trimBlanks(rest.substr(0, bar));
        std::string_view name = bar == std::string_view::npos ? std::string_view() : trimBlanks(rest.substr(bar + 1));
        message.attachments.push_back({bounded(file, kFileNameWidth), bounded(name, kFileNameWidth), true});
        return;
    }
    message.body.append(line);
    message.body += "\r\n";
}

bool BatchFileReader::bodyPiece(std::string_view& piece, bool& lineEnds) {
    if (!inBody_) return false;
    if (!text_.takePiece(piece, lineEnds)) {
        inBody_ = false;
        return false;
    }
    const bool wholeLine = lineStart_ && lineEnds;
    lineStart_ = lineEnds;
    if (lineEnds) ++line_;
    if (wholeLine && piece.compare(".") == 0) {
        inBody_ = false;
        return false;
    }
    return true;
}

bool BatchFileReader::next(BatchMessage& message) {
    std::string_view line;
    if (inBody_) {  // what the sender did not take of the message before
        bool lineEnds;
        while (bodyPiece(line, lineEnds)) {}
    }
    message = BatchMessage();
    bool seen = false;  // a message needs at least one line with something on it

    if (layout_ == BatchLayout::kHeaders) {
        std::string header;  // the current header line with its TAB continuations
        auto endHeader = [&] {
            if (!header.empty()) headerLine(header, message);
            header.clear();
        };
        while (takeLine(line)) {
            // Empty lines and "." lines before a message's first line make no message.
            if (line.compare(".") == 0 || line.empty()) {
                if (!seen) continue;
                endHeader();
                message.lastLine = line_;
                if (line.empty()) {
                    message.body += "\r\n";
                    inBody_ = true;
                    lineStart_ = true;
                }
                return true;
            }
            seen = true;
            message.body.append(line);
            message.body += "\r\n";
            if (line.front() == '\t' && !header.empty()) {
                header.append(line);
            } else {
                endHeader();
                header.assign(line);
            }
        }
        endHeader();
        message.lastLine = line_;
        return seen;
    }

    bool inHeader = true;
    while (takeLine(line)) {
        if (!line.empty()) seen = true;
        if (inHeader) {
            if (startsWithNoCase(line, "Contents:")) inHeader = false;
            else headerLine(line, message);
        } else {
            if (startsWithNoCase(line, "Message:")) break;
            bodyLine(line, message);
        }
    }
    message.lastLine = line_;
    return seen;
}

} // namespace qarvel
