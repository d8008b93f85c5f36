// The address helpers of the senders: the display name, the bare and the envelope address,
// the domain, and the split of a recipient list at its commas.
#include "send/addresses.h"

#include <cctype>

#include "base/text.h"

namespace qarvel {

namespace {

// Address scans stop at 1023 characters.
constexpr size_t kAddressWidth = 1023;

std::string_view capWidth(std::string_view s) { return s.substr(0, kAddressWidth); }

// An address as given: blanks off its start, blanks and the line end a value may carry off
// its end.
std::string_view trimmedEntry(std::string_view s) {
    s = skipBlanks(s);
    while (!s.empty() && (isBlank(s.back()) || s.back() == '\r' || s.back() == '\n')) s.remove_suffix(1);
    return s;
}

std::string_view unquote(std::string_view s) {
    while (!s.empty() && (s.front() == '"' || s.front() == '\'')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == '"' || s.back() == '\'')) s.remove_suffix(1);
    return s;
}

} // namespace

String displayName(const String& address) {
    std::string_view a = address.view();
    size_t lt = a.find('<');
    if (lt != std::string_view::npos) {
        // "%1023[^<]": nothing when the text starts with '<'.
        return String(unquote(trimTrailingBlanks(capWidth(a.substr(0, lt)))));
    }
    size_t open = a.find('(');
    if (open != std::string_view::npos) {
        std::string_view rest = a.substr(open + 1);
        return String(unquote(capWidth(rest.substr(0, rest.find(')')))));
    }
    return String();
}

namespace {

// The address inside "<" and ">" (to the end of the text when ">" is missing), cut at the
// address width; false when the text has no "<".
bool angleAddress(std::string_view a, String& out) {
    size_t lt = a.find('<');
    if (lt == std::string_view::npos) return false;
    std::string_view rest = a.substr(lt + 1);
    out = String(capWidth(rest.substr(0, rest.find('>'))));
    return true;
}

}  // namespace

String bareAddress(const String& address) {
    std::string_view a = address.view();
    String inside;
    if (angleAddress(a, inside)) return inside;
    size_t open = a.find('(');
    if (open != std::string_view::npos) return String(trimTrailingBlanks(capWidth(a.substr(0, open))));
    return address;
}

String addressDomain(const String& address) {
    std::string_view a = address.view();
    size_t at = a.find('@');
    if (at == std::string_view::npos || at == 0) return String();
    std::string_view rest = a.substr(at + 1);
    // "%1023s": a word, stopping at white space.
    size_t end = 0;
    while (end < rest.size() && end < kAddressWidth && !std::isspace(static_cast<unsigned char>(rest[end])))
        ++end;
    return String(rest.substr(0, end));
}

String envelopeAddress(const String& address) {
    std::string_view a = address.view();
    String inside;
    if (angleAddress(a, inside)) return inside;
    size_t open = a.find('(');
    if (open == std::string_view::npos) return String(capWidth(trimmedEntry(a)));
    return String(trimmedEntry(capWidth(a.substr(0, open))));
}

std::vector<String> splitRecipientText(const String& text, size_t maxEntries) {
    std::vector<String> entries;
    std::string_view t = text.view();
    size_t start = 0;
    size_t i = 0;
    bool quoted = false;
    while (i <= t.size() && entries.size() < maxEntries) {
        if (i == t.size()) {
            entries.emplace_back(t.substr(start));
            break;
        }
        char c = t[i];
        if (c == '"') {
            quoted = !quoted;
        } else if (!quoted && c == '(') {
            // A comma inside the parentheses does not split; without a ')' the rest of the
            // text is one entry.
            size_t close = t.find(')', i + 1);
            if (close == std::string_view::npos) {
                entries.emplace_back(t.substr(start));
                break;
            }
            i = close;
        } else if (!quoted && c == ',') {
            entries.emplace_back(t.substr(start, i - start));
            start = i + 1;
        }
        ++i;
    }
    return entries;
}

}  // namespace qarvel
