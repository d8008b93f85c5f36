// The UTF-8 test and the iconv conversions between character sets.
#include "base/charset.h"

#include <cerrno>
#include <iconv.h>
#include <langinfo.h>
#include <locale.h>
#include <strings.h>

namespace qarvel {

namespace {

bool isUtf8Name(std::string_view name) {
    return (name.size() == 5 && strncasecmp(name.data(), "utf-8", 5) == 0) ||
           (name.size() == 4 && strncasecmp(name.data(), "utf8", 4) == 0);
}

bool sameName(std::string_view name, const char* other) {
    size_t n = std::char_traits<char>::length(other);
    return name.size() == n && strncasecmp(name.data(), other, n) == 0;
}

// The length of the UTF-8 sequence that starts with this byte (1 for a byte that starts none).
size_t sequenceLength(unsigned char c) {
    return c >= 0xF0 && c <= 0xF4 ? 4 : c >= 0xE0 ? (c < 0xF0 ? 3 : 1) : c >= 0xC2 ? 2 : 1;
}

// One iconv descriptor, closed on every way out.
class Converter {
public:
    Converter(const char* from, const char* to) : cd_(iconv_open(to, from)) {}
    ~Converter() {
        if (ok()) iconv_close(cd_);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;
    bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
    iconv_t get() const { return cd_; }

private:
    iconv_t cd_;
};

}  // namespace

bool isAscii(std::string_view text) {
    for (char c : text)
        if (static_cast<unsigned char>(c) > 127) return false;
    return true;
}

bool isUtf8(std::string_view text) {
    const size_t n = text.size();
    for (size_t i = 0; i < n;) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c < 0x80) {
            ++i;
            continue;
        }
        const size_t length = sequenceLength(c);
        if (length == 1 || i + length > n) return false;
        const unsigned char second = static_cast<unsigned char>(text[i + 1]);
        // The second byte's range rules out overlong forms, surrogates and values past U+10FFFF.
        const unsigned char low = c == 0xE0 ? 0xA0 : c == 0xF0 ? 0x90 : 0x80;
        const unsigned char high = c == 0xED ? 0x9F : c == 0xF4 ? 0x8F : 0xBF;
        if (second < low || second > high) return false;
        for (size_t k = 2; k < length; ++k)
            if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return false;
        i += length;
    }
    return true;
}

bool convertText(std::string_view text, const char* from, const char* to, std::string& out) {
    const bool toUtf8 = isUtf8Name(to);
    const std::string target = toUtf8 ? std::string(to) : std::string(to) + "//TRANSLIT";
    Converter converter(from, target.c_str());
    if (!converter.ok()) return false;
    const bool fromUtf8 = isUtf8Name(from);
    std::string result;
    result.reserve(text.size() + text.size() / 2 + 16);
    char* in = const_cast<char*>(text.data());
    size_t inLeft = text.size();
    char buffer[4096];
    for (;;) {
        char* next = buffer;
        size_t room = sizeof buffer;
        // A null input flushes a state-keeping target (ISO-2022-JP) at the end.
        size_t r = inLeft ? iconv(converter.get(), &in, &inLeft, &next, &room)
                          : iconv(converter.get(), nullptr, nullptr, &next, &room);
        result.append(buffer, static_cast<size_t>(next - buffer));
        if (r != static_cast<size_t>(-1)) {
            if (inLeft == 0 && next == buffer) break;
            continue;
        }
        if (errno == E2BIG) continue;
        // EILSEQ or EINVAL: an undefined or cut sequence. Step over it and mark the place.
        size_t skip = fromUtf8 ? sequenceLength(static_cast<unsigned char>(*in)) : 1;
        if (skip > inLeft) skip = inLeft;
        for (size_t k = 1; k < skip; ++k)
            if ((static_cast<unsigned char>(in[k]) & 0xC0) != 0x80) skip = k;
        in += skip;
        inLeft -= skip;
        result += toUtf8 ? "\xEF\xBF\xBD" : "?";
    }
    out = std::move(result);
    return true;
}

std::string textAsUtf8(std::string_view text, std::string_view charset) {
    // Seven-bit text is ASCII, unless escapes switch a charset such as ISO-2022-JP.
    if (isAscii(text) && text.find('\x1B') == std::string_view::npos) return std::string(text);
    // Whitespace or quotes around a charset name count for nothing.
    while (!charset.empty() && (charset.front() == ' ' || charset.front() == '"')) charset.remove_prefix(1);
    while (!charset.empty() && (charset.back() == ' ' || charset.back() == '"')) charset.remove_suffix(1);
    const bool plain = charset.empty() || isUtf8Name(charset) || sameName(charset, "us-ascii");
    std::string out;
    if (!plain) {
        // Browsers read ISO-8859-1 as Windows-1252, whose 0x80..0x9F are printable.
        const bool latin1 = sameName(charset, "iso-8859-1") || sameName(charset, "latin1") ||
                            sameName(charset, "iso_8859-1");
        const std::string name = latin1 ? std::string("WINDOWS-1252") : std::string(charset.substr(0, 64));
        if (convertText(text, name.c_str(), "UTF-8", out)) return out;
    }
    if (isUtf8(text)) return std::string(text);
    if (convertText(text, "WINDOWS-1252", "UTF-8", out)) return out;
    return std::string(text);
}

std::string localeCharset() {
    locale_t locale = newlocale(LC_CTYPE_MASK, "", static_cast<locale_t>(0));
    if (!locale) return "ANSI_X3.4-1968";
    std::string name = nl_langinfo_l(CODESET, locale);
    freelocale(locale);
    return name;
}

std::string utf8As(std::string_view text, const std::string& charset) {
    std::string out;
    if (isAscii(text) || isUtf8Name(charset) || !convertText(text, "UTF-8", charset.c_str(), out))
        return std::string(text);
    return out;
}

}  // namespace qarvel
