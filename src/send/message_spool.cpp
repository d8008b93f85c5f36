// MessageSpool: the submitted message, its header changed as sendmail changes it, in a file.
#include "send/message_spool.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <random>

#include "base/text.h"
#include "send/batch_file.h"
#include "send/header_addresses.h"
#include "send/sender_session.h"

namespace qarvel {

namespace {

// A header field begins with its name (printable characters other than ":") and a colon.
bool isFieldLine(std::string_view line) {
    size_t colon = line.find(':');
    if (colon == 0 || colon == std::string_view::npos) return false;
    for (size_t i = 0; i < colon; ++i)
        if (line[i] <= ' ' || line[i] > '~') return false;
    return true;
}

bool isField(std::string_view field, std::string_view name) {
    return field.size() > name.size() && field[name.size()] == ':' && startsWithNoCase(field, name);
}

// The value of a field with its folding taken out.
std::string unfolded(std::string_view field) {
    std::string value(field.substr(field.find(':') + 1));
    value.erase(std::remove(value.begin(), value.end(), '\n'), value.end());
    return value;
}

bool hasHighBit(std::string_view text) {
    return std::any_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) > 127; });
}

// A From field whose one address has no domain ("root (Cron Daemon)", "Cron <root>") with
// the domain put behind that address; any other field as it is.
std::string qualifiedFrom(const std::string& field, const String& domain) {
    std::vector<String> addresses = headerAddresses(unfolded(field));
    if (domain.empty() || addresses.size() != 1 || addresses[0].find('@') != String::npos) return field;
    const std::string& address = addresses[0].str();
    size_t open = field.rfind('<');
    size_t at = open != std::string::npos ? field.find('>', open) : std::string::npos;
    if (at == std::string::npos) {
        size_t found = field.find(address, field.find(':') + 1);
        if (found == std::string::npos) return field;
        at = found + address.size();
    }
    return field.substr(0, at) + "@" + domain.str() + field.substr(at);
}

} // namespace

String newMessageId(const String& domain, std::time_t now) {
    static std::random_device device;
    char id[160];
    std::snprintf(id, sizeof id, "<%lld.%ld.%08x@%.100s>", static_cast<long long>(now), static_cast<long>(getpid()),
                  static_cast<unsigned>(device()), domain.empty() ? "localhost" : domain.c_str());
    return String(id);
}

bool MessageSpool::put(std::string_view text) {
    if (text.empty() || std::fwrite(text.data(), 1, text.size(), out_) == text.size()) return true;
    error_ = std::string("could not write the message to ") + file_.path() + ": " + std::strerror(errno);
    return false;
}

bool MessageSpool::putLine(std::string_view line) {
    // A leading "." is doubled: the ready-made path takes ".." for ".", so a lone "." is text.
    return (line.empty() || line.front() != '.' || put(".")) && put(line) && put("\n");
}

// Notes what the message has and what it names, and writes the field unless it is a Bcc.
bool MessageSpool::headerField(const std::string& field, const SpoolRules& rules) {
    if (field.empty()) return true;
    const bool bcc = isField(field, "Bcc") || isField(field, "Resent-Bcc");
    if (bcc || isField(field, "To") || isField(field, "Cc")) {
        for (const String& a : headerAddresses(unfolded(field))) recipients_.push_back(a);
        if (bcc) return true;
    }
    hasDate_ = hasDate_ || isField(field, "Date");
    hasMessageId_ = hasMessageId_ || isField(field, "Message-ID");
    std::string written = field;
    if (isField(field, "From")) {
        hasFrom_ = true;
        written = qualifiedFrom(field, rules.domain);
    }
    size_t start = 0;
    while (true) {
        size_t end = written.find('\n', start);
        if (!putLine(std::string_view(written).substr(start, end == std::string::npos ? std::string::npos : end - start))) return false;
        if (end == std::string::npos) return true;
        start = end + 1;
    }
}

bool MessageSpool::read(std::FILE* in, const SpoolRules& rules, const String& folder) {
    BatchText input(std::vector<std::FILE*>{in});
    if (!readFrom(input, rules, folder)) return false;
    if (input.failed()) {
        error_ = std::string("could not read the message: ") + std::strerror(errno);
        return false;
    }
    return true;
}

bool MessageSpool::readText(std::string_view text, const SpoolRules& rules, const String& folder) {
    BatchText input(text);
    return readFrom(input, rules, folder);
}

// The header phase ends at the first empty line, at a line that is no header field (which
// begins the body), at the header limit (the rest goes on as it is) or at the end; then the
// lines the message lacks are added. The body is copied piece by piece.
bool MessageSpool::readFrom(BatchText& input, const SpoolRules& rules, const String& folder) {
    file_ = TempFile(folder, "qarvel-sendmail-");
    if (!file_.valid() || !(out_ = file_.stream("w"))) {
        error_ = std::string("could not make the message file in ") + (folder.empty() ? "/tmp" : folder.c_str()) + ": " + std::strerror(errno);
        return false;
    }
    bool inHeader = true, firstLine = true, lineStart = true;
    std::string field, line;
    size_t headerBytes = 0;
    auto endHeader = [&](bool blankLine) {
        if (!headerField(field, rules)) return false;
        field.clear();
        if (!hasFrom_ && !rules.from.empty() && !putLine("From: " + rules.from.str())) return false;
        if (!hasDate_ && !putLine("Date: " + formatDateHeader(0, rules.now).str())) return false;
        if (!hasMessageId_ && !putLine("Message-ID: " + newMessageId(rules.domain, rules.now).str())) return false;
        inHeader = false;
        return !blankLine || put("\n");
    };
    std::string_view piece;
    bool lineEnds;
    while (input.takePiece(piece, lineEnds)) {
        eightBit_ = eightBit_ || hasHighBit(piece);
        if (inHeader) {
            line.append(piece);
            headerBytes += piece.size() + (lineEnds ? 1 : 0);
            if (headerBytes > kHeaderLimit) {
                // Too much to read as fields: what is left goes on unchanged.
                if (!endHeader(false)) return false;
                piece = line;
                lineStart = true;
            } else if (!lineEnds) {
                continue;
            } else {
                const bool mboxLine = firstLine && startsWith(line, "From ");
                firstLine = false;
                if (rules.dotEnds && line == ".") break;
                if (mboxLine) {
                    // A mailbox's separator line before the header is not part of the message.
                } else if (line.empty()) {
                    if (!endHeader(true)) return false;
                } else if (isBlank(line.front()) && !field.empty()) {
                    field += "\n" + line;
                } else if (isFieldLine(line)) {
                    if (!headerField(field, rules)) return false;
                    field = line;
                } else {
                    // No header line: the body begins here, after the lines the header gains.
                    if (!endHeader(true)) return false;
                    piece = line;
                }
                if (inHeader || line.empty()) {
                    line.clear();
                    continue;
                }
            }
        }
        if (lineStart && lineEnds && rules.dotEnds && piece.compare(".") == 0) break;
        if (lineStart && !piece.empty() && piece.front() == '.' && !put(".")) return false;
        if (!put(piece) || (lineEnds && !put("\n"))) return false;
        lineStart = lineEnds;
        line.clear();
    }
    if (inHeader && !endHeader(true)) return false;
    if (!lineStart && !put("\n")) return false;
    if (!file_.close()) {
        error_ = std::string("could not write the message to ") + file_.path() + ": " + std::strerror(errno);
        return false;
    }
    out_ = nullptr;
    return true;
}

} // namespace qarvel
