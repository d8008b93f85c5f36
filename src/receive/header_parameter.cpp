// Parameters of structured header values, plain and in continued sections.
#include "receive/header_parameter.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <map>
#include <string>
#include <string_view>
#include <strings.h>

#include "base/charset.h"

namespace qarvel {

namespace {

// More sections than this, or a section number above the last, are not joined: a value is
// at most kParameterMax bytes anyway.
constexpr int kSectionsMax = 64;

int hexValue(char c) {
    return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10;
}

std::string percentDecoded(std::string_view text) {
    std::string out;
    for (size_t k = 0; k < text.size(); ++k) {
        if (text[k] == '%' && k + 2 < text.size() && std::isxdigit(static_cast<unsigned char>(text[k + 1])) &&
            std::isxdigit(static_cast<unsigned char>(text[k + 2]))) {
            out.push_back(static_cast<char>(hexValue(text[k + 1]) * 16 + hexValue(text[k + 2])));
            k += 2;
        } else {
            out.push_back(text[k]);
        }
    }
    return out;
}

// Splits "charset'language'text" into its charset and text; a value without the two quotes
// is all text.
std::string_view takeCharset(std::string_view text, std::string& charset) {
    size_t first = text.find('\'');
    size_t second = first == std::string_view::npos ? first : text.find('\'', first + 1);
    if (second == std::string_view::npos) return text;
    charset.assign(text.substr(0, std::min<size_t>(first, 64)));
    return text.substr(second + 1);
}

// Cut to at most max bytes, never inside a UTF-8 sequence.
std::string limited(std::string text, size_t max) {
    if (text.size() <= max) return text;
    size_t end = max;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
    text.resize(end);
    return text;
}

// One "NAME[*N][*]=VALUE" of the wanted name, read from j (just after the name) to the end of
// its value: the section number (-1 for none), whether it is encoded (a star), and its text.
// False when no "=" follows.
struct Occurrence {
    int number = -1;
    bool encoded = false;
    std::string text;
};

bool readOccurrence(std::string_view value, size_t& j, Occurrence& out) {
    const size_t n = value.size();
    if (j < n && value[j] == '*') {
        ++j;
        if (j < n && std::isdigit(static_cast<unsigned char>(value[j]))) {
            out.number = 0;
            while (j < n && std::isdigit(static_cast<unsigned char>(value[j]))) {
                if (out.number <= kSectionsMax) out.number = out.number * 10 + (value[j] - '0');
                ++j;
            }
            if (j < n && value[j] == '*') out.encoded = true, ++j;
        } else {
            out.encoded = true;
        }
    }
    while (j < n && value[j] == ' ') ++j;
    if (j >= n || value[j] != '=') return false;
    ++j;
    while (j < n && value[j] == ' ') ++j;
    if (j < n && value[j] == '"') {
        ++j;
        while (j < n && value[j] != '"') {
            if (value[j] == '\\' && j + 1 < n) ++j;
            out.text.push_back(value[j++]);
        }
    } else {
        while (j < n && value[j] != ';') out.text.push_back(value[j++]);
        while (!out.text.empty() && (out.text.back() == ' ' || out.text.back() == '\t')) out.text.pop_back();
    }
    out.text = limited(std::move(out.text), 4 * kParameterMax);
    return true;
}

}  // namespace

String headerParameter(const String& input, const char* name, bool* extended) {
    const std::string_view value = input.view().substr(0, input.view().find_first_of("\r\n"));
    const size_t nameLength = std::strlen(name);
    const size_t n = value.size();
    std::string plain, single;
    bool plainSeen = false, singleSeen = false;
    std::map<int, Occurrence> sections;
    size_t i = 0;
    while (i < n) {
        // Parameters start after ";" (the first one may follow the media type directly).
        size_t semi = value.find(';', i);
        if (semi == std::string_view::npos) break;
        i = semi + 1;
        while (i < n && (value[i] == ' ' || value[i] == '\t')) ++i;
        if (i + nameLength > n || strncasecmp(value.data() + i, name, nameLength) != 0) continue;
        size_t j = i + nameLength;
        Occurrence found;
        if (!readOccurrence(value, j, found)) continue;
        i = j;
        if (found.number >= 0) {
            if (found.number < kSectionsMax && !sections.count(found.number)) sections[found.number] = found;
        } else if (found.encoded) {
            if (!singleSeen) single = std::move(found.text), singleSeen = true;
        } else if (!plainSeen) {
            plain = std::move(found.text);
            plainSeen = true;
        }
    }
    std::string charset, joined;
    bool isExtended = true;
    if (singleSeen) {
        joined = percentDecoded(takeCharset(single, charset));
    } else if (sections.count(0)) {
        // Sections are joined from 0 up to the first missing number; only the first encoded
        // one names the charset.
        for (int k = 0; sections.count(k) && joined.size() <= kParameterMax * 4; ++k) {
            const Occurrence& section = sections[k];
            std::string_view text = section.text;
            if (section.encoded && k == 0) text = takeCharset(text, charset);
            joined += section.encoded ? percentDecoded(text) : std::string(text);
        }
    } else {
        isExtended = false;
        joined = plain;
    }
    if (extended) *extended = isExtended;
    if (isExtended && !charset.empty()) {
        std::string converted;
        if (convertText(joined, charset.c_str(), "UTF-8", converted)) joined = std::move(converted);
    }
    return String(limited(std::move(joined), kParameterMax));
}

String boundaryOf(const String& value) {
    size_t at = String::npos;
    for (size_t i = 0; i + 8 <= value.length(); ++i) {
        if (strncasecmp(value.at(i), "boundary", 8) != 0) continue;
        size_t j = i + 8;
        while (value[j] == ' ') ++j;
        if (value[j] == '=') { at = j + 1; break; }
    }
    if (at == String::npos) return String();
    if (value[at] == '=') ++at;
    while (value[at] == ' ' || value[at] == '\t') ++at;
    size_t end = at;
    if (value[at] == '"') {
        end = ++at;
        while (end < value.length() && value[end] != '"' && value[end] != '\r' && value[end] != '\n') ++end;
    } else {
        while (end < value.length() && !strchr(" \t;\r\n", value[end])) ++end;
    }
    size_t length = end - at;
    if (length > kParameterMax) length = kParameterMax;
    return String(value.c_str() + at, length);
}

}  // namespace qarvel
