// The small text routines of the web pages: escaping and the quoting of a reply.
#include "web/web_routines.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/base64.h"

namespace qarvel {

namespace {

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

} // namespace

String urlDecode(const String& text) {
    std::string out;
    const std::string_view in = text.view();
    out.reserve(in.size());
    for (size_t i = 0; i < in.size(); ++i) {
        const char c = in[i];
        if (c == '+') {
            out += ' ';
        } else if (c == '%' && i + 2 < in.size() && hexValue(in[i + 1]) >= 0 && hexValue(in[i + 2]) >= 0) {
            out += static_cast<char>(hexValue(in[i + 1]) * 16 + hexValue(in[i + 2]));
            i += 2;
        } else {
            out += c;
        }
    }
    return String(out);
}

String urlEncode(const String& text, bool strict) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (const char c : text.view()) {
        const unsigned char byte = static_cast<unsigned char>(c);
        if (c == ' ') {
            out += '+';
        } else if (strict || std::strchr("\"%&'+<>", c) != nullptr || byte < 32 || byte == 127) {
            // Control bytes are escaped even in the lenient form: a raw CR or LF must never
            // reach a link.
            out += '%';
            out += kHex[byte >> 4];
            out += kHex[byte & 15];
        } else {
            out += c;
        }
    }
    return String(out);
}

String htmlEscape(const String& text) {
    std::string out;
    out.reserve(text.length());
    for (const char c : text.view()) {
        switch (c) {
        case '"': out += "&quot;"; break;
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        default: out += c;
        }
    }
    return String(out);
}

String quoteForReply(const String& text) {
    std::string out;
    if (!text.empty()) out += "&gt; ";
    for (const char c : text.view()) {
        out += c;
        if (c == '\n') out += "&gt; ";
    }
    return String(out);
}

String httpDate(time_t when) {
    static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    struct tm t {};
    gmtime_r(&when, &t);
    char text[64];
    std::snprintf(text, sizeof text, "%s %s %02d %02d:%02d:%02d GMT %d", kDays[t.tm_wday % 7],
                  kMonths[t.tm_mon % 12], t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec, t.tm_year + 1900);
    return String(text);
}

int isOldBrowser(const char* agent) {
    if (!agent) return 0;
    for (const char* old : {"Microsoft Internet Explorer/", "MSIE 1.", "MSIE 2.", "MSIE 3."})
        if (std::strstr(agent, old)) return 1;
    return 0;
}

int isOldBrowser() { return isOldBrowser(std::getenv("HTTP_USER_AGENT")); }

int decodeCredentials(const String& base64, String& user, String& password) {
    const String decoded = base64Decode(base64);
    std::string_view text = decoded.view();
    // The first word only; a NUL ends the text as well.
    const size_t end = text.find_first_of(std::string_view(" \t\r\n\0", 5));
    if (end != std::string_view::npos) text = text.substr(0, end);
    const size_t colon = text.find(':');
    if (colon == std::string_view::npos) return 0;
    user = String(text.substr(0, colon));
    password = String(text.substr(colon + 1));
    return 1;
}

int isPlainAddress(const String& text) {
    const std::string_view t = text.view();
    const size_t at = t.find('@');
    if (at == std::string_view::npos || at == 0 || at > 1023) return 0;
    std::string_view local = t.substr(0, at);
    std::string_view domain = t.substr(at + 1);
    // The domain is one word: it ends at the first blank.
    const size_t blank = domain.find_first_of(" \t\r\n");
    if (blank != std::string_view::npos) domain = domain.substr(0, blank);
    if (domain.empty() || domain.size() > 1023) return 0;
    if (local.find_first_of(" ,") != std::string_view::npos) return 0;
    if (domain.find(',') != std::string_view::npos || domain.find('.') == std::string_view::npos) return 0;
    return 1;
}

int countAddresses(const String& list, const String& reference) {
    int count = 0;
    std::string_view rest = list.view();
    for (;;) {
        const size_t cut = rest.find_first_of(",;");
        std::string_view piece = rest.substr(0, cut);
        while (!piece.empty() && piece.back() == ' ') piece.remove_suffix(1);
        if (piece == reference.view()) ++count;
        if (cut == std::string_view::npos) break;
        rest = rest.substr(cut + 1);
    }
    return count;
}

String withoutLineBreaks(const String& text) {
    if (text.find('\r') == String::npos && text.find('\n') == String::npos) return text;
    std::string out;
    for (const char c : text.view())
        if (c != '\r' && c != '\n') out += c;
    return String(out);
}

bool isSafeRelativeName(const String& name) {
    const std::string_view n = name.view();
    if (n.empty() || n.find('\0') != std::string_view::npos) return false;
    if (n.front() == '/' || n.find('\\') != std::string_view::npos) return false;
    return n.find("..") == std::string_view::npos;
}

bool staysInside(const String& folder, const String& name) {
    char base[PATH_MAX], target[PATH_MAX];
    if (!realpath(folder.c_str(), base)) return false;
    const std::string path = folder.str() + "/" + name.str();
    if (!realpath(path.c_str(), target)) return false;
    const size_t length = std::strlen(base);
    if (std::strncmp(base, target, length) != 0) return false;
    return target[length] == '/' || (length == 1 && base[0] == '/');
}

} // namespace qarvel
