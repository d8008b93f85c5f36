// How the list server judges a message that reached the list.
#include "receive/list_request.h"

#include <strings.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "base/text.h"
#include "receive/header_display.h"
#include "receive/header_parameter.h"
#include "send/addresses.h"
#include "send/sender_session.h"

namespace qarvel {

namespace {

// The last piece of a folder name: the word a subject uses for it.
std::string_view lastPiece(std::string_view path) {
    while (!path.empty() && (path.back() == '/' || path.back() == '\\')) path.remove_suffix(1);
    size_t cut = path.find_last_of("/\\");
    return cut == std::string_view::npos ? path : path.substr(cut + 1);
}

// "WORD index" with nothing after it (blanks aside).
bool isIndexRequest(std::string_view subject, std::string_view word) {
    if (word.empty() || !startsWithNoCase(subject, word)) return false;
    std::string_view rest = subject.substr(word.size());
    if (rest.empty() || !isBlank(rest.front())) return false;
    while (!rest.empty() && isBlank(rest.front())) rest.remove_prefix(1);
    while (!rest.empty() && (isBlank(rest.back()) || rest.back() == '\r' || rest.back() == '\n')) rest.remove_suffix(1);
    return rest.size() == 5 && startsWithNoCase(rest, "index");
}

} // namespace

ListRequest judgeListRequest(const String& subject, const String& sender, bool manual,
                             const String& fetchWord) {
    std::string_view s = subject.view();
    if (startsWithNoCase(s, "help")) return ListRequest::kHelp;
    if (!manual) {
        if (startsWithNoCase(s, "subscribe")) return ListRequest::kSubscribe;
        if (startsWithNoCase(s, "unsubscribe")) return ListRequest::kUnsubscribe;
        if (startsWithNoCase(s, "Returned mail") || startsWithNoCase(s, "Undeliverable") ||
            startsWithNoCase(s, "Mail delivery") || containsNoCase(sender.view(), "MAILER-DAEMON"))
            return ListRequest::kBounce;
    }
    // "fetch index" asks for the index, not for a file called "index".
    std::string_view word = lastPiece(fetchWord.view());
    if (isIndexRequest(s, "fetch") || isIndexRequest(s, word)) return ListRequest::kIndex;
    if (startsWithNoCase(s, "fetch ") || startsWithNoCase(s, "get ")) return ListRequest::kFetch;
    if (!word.empty() && startsWithNoCase(s, word) && s.size() > word.size() && s[word.size()] == ' ')
        return ListRequest::kFetch;
    // The fetch word alone is a fetch without a name: answered as an unknown request.
    std::string_view bare = s;
    while (!bare.empty() && (isBlank(bare.back()) || bare.back() == '\r' || bare.back() == '\n')) bare.remove_suffix(1);
    for (std::string_view w : {std::string_view("fetch"), std::string_view("get"), word})
        if (!w.empty() && bare.size() == w.size() && startsWithNoCase(bare, w)) return ListRequest::kFetch;
    if (startsWithNoCase(s, "dir") || startsWithNoCase(s, "index")) return ListRequest::kIndex;
    return ListRequest::kDistribution;
}

String fetchedName(const String& subject) {
    std::string_view s = subject.view();
    auto skipBlanks = [&s] {
        while (!s.empty() && (isBlank(s.front()) || s.front() == '\r' || s.front() == '\n')) s.remove_prefix(1);
    };
    skipBlanks();
    while (!s.empty() && !isBlank(s.front()) && s.front() != '\r' && s.front() != '\n') s.remove_prefix(1);
    skipBlanks();
    size_t end = 0;
    while (end < s.size() && end < 1023 && !isBlank(s[end]) && s[end] != '\r' && s[end] != '\n') ++end;
    return String(s.substr(0, end));
}

bool leavesFolder(const String& name) {
    std::string_view n = name.view();
    return n.find("..") != std::string_view::npos || n.find('\\') != std::string_view::npos ||
           (!n.empty() && n.front() == '/') || n.find('\0') != std::string_view::npos;
}

bool failedRecipient(std::string_view report, String& address) {
    bool failed = false;
    String recipient;
    size_t pos = 0;
    while (pos < report.size()) {
        size_t end = report.find('\n', pos);
        if (end == std::string_view::npos) end = report.size();
        std::string_view line = report.substr(pos, end - pos);
        pos = end + 1;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (startsWithNoCase(line, "Action:")) {
            if (containsNoCase(line, "failed")) failed = true;
        } else if (startsWithNoCase(line, "Final-Recipient:") && recipient.empty()) {
            std::string_view value = line.substr(16);
            for (size_t i = 0; i + 7 <= value.size(); ++i) {
                if (strncasecmp(value.data() + i, "RFC822;", 7) != 0) continue;
                std::string_view a = value.substr(i + 7, 1023);
                while (!a.empty() && isBlank(a.front())) a.remove_prefix(1);
                while (!a.empty() && isBlank(a.back())) a.remove_suffix(1);
                recipient = String(a);
                break;
            }
        }
    }
    if (!failed || recipient.empty()) return false;
    address = recipient;
    return true;
}

bool cleanAddress(std::string_view address) {
    if (address.empty() || address.size() > 254) return false;
    size_t at = address.find('@');
    if (at == 0 || at == std::string_view::npos || at + 1 == address.size() ||
        address.find('@', at + 1) != std::string_view::npos)
        return false;
    for (char c : address) {
        unsigned char u = static_cast<unsigned char>(c);
        if (u <= ' ' || u == 0x7F || std::strchr(",;:<>()[]\\\"", c)) return false;
    }
    return true;
}

namespace {

// Copies a quoted string that starts at text[i] (with its quotes) to out; false when it does not end.
bool takeQuoted(std::string_view text, size_t& i, std::string& out) {
    out += text[i++];
    while (i < text.size() && text[i] != '"') {
        if (text[i] == '\\' && i + 1 < text.size()) out += text[i++];
        out += text[i++];
    }
    if (i >= text.size()) return false;
    out += text[i++];
    return true;
}

// Skips a comment that starts at text[i] (nested, with escapes); false when it does not end.
bool skipComment(std::string_view text, size_t& i) {
    int depth = 0;
    for (; i < text.size(); ++i) {
        if (text[i] == '\\') ++i;
        else if (text[i] == '(') ++depth;
        else if (text[i] == ')' && --depth == 0) {
            ++i;
            return true;
        }
    }
    return false;
}

// A display name: words and quoted strings, with no special outside the quotes.
bool isPhrase(std::string_view phrase) {
    bool quoted = false;
    for (size_t i = 0; i < phrase.size(); ++i) {
        const char c = phrase[i];
        if (c == '"') quoted = !quoted;
        else if (quoted && c == '\\') ++i;
        else if (!quoted && std::strchr("@,;:<>[]\\", c)) return false;
    }
    return true;
}

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) text.remove_prefix(1);
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.remove_suffix(1);
    return text;
}

}  // namespace

bool requestAddress(const String& from, String& address) {
    // The text is taken apart with comments dropped and quoted strings whole: before the
    // angle address (the display name), inside it, and after it (nothing may follow).
    const std::string_view text = from.view();
    std::string parts[3];
    int part = 0;
    for (size_t i = 0; i < text.size();) {
        const char c = text[i];
        if (c == '(') {
            if (!skipComment(text, i)) return false;
            parts[part] += ' ';
        } else if (c == '"') {
            if (!takeQuoted(text, i, parts[part])) return false;
        } else if (c == '<' || c == '>') {
            if (part != (c == '<' ? 0 : 1)) return false;  // a second angle address, or a stray ">"
            ++part;
            ++i;
        } else {
            parts[part] += c;
            ++i;
        }
    }
    if (part == 1) return false;
    std::string_view candidate = trimmed(parts[part == 0 ? 0 : 1]);
    if (part == 2 && (!trimmed(parts[2]).empty() || !isPhrase(parts[0]))) return false;
    if (!cleanAddress(candidate)) return false;
    address = String(candidate);
    return true;
}

bool isDeliveryReport(const String& contentType, const String& from) {
    if (startsWithNoCase(contentType.view(), "multipart/report") &&
        headerParameter(contentType, "report-type").equalsIgnoreCase("delivery-status"))
        return true;
    const String sender = senderAddress(from);
    const std::string_view local = sender.view().substr(0, sender.view().find('@'));
    return local.size() == 13 && startsWithNoCase(local, "MAILER-DAEMON");
}

String indexLine(const String& name, long long bytes, long long modifiedSince1970) {
    std::string line = name.str();
    line += ' ';
    if (name.length() < 50) line.append(50 - name.length(), '.');
    char size[64];
    std::snprintf(size, sizeof size, " %8ld", static_cast<long>(bytes / 1024));
    line += size;
    line += "K   ";
    time_t when = static_cast<time_t>(modifiedSince1970);
    struct tm parts {};
    localtime_r(&when, &parts);
    char date[64];
    std::strftime(date, sizeof date, "%a %b %e %H:%M:%S %Y", &parts);
    line += date;
    // The date form of the C library ends the line; mail text ends lines with CR LF.
    line += "\r\n";
    return String(line);
}

} // namespace qarvel
