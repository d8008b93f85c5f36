// HttpResponse: the header lines of one HTTP response, read as they arrive.
#include "base/text.h"
#include "net/http_response.h"

#include <cctype>
#include <cstring>
#include <string_view>

namespace qarvel {

namespace {

constexpr size_t kLongValue = 4095;
constexpr size_t kShortValue = 255;

// The value after the first colon and the blanks that follow it, cut at `limit`.
std::string_view fieldValue(std::string_view line, size_t limit = kLongValue) {
    size_t colon = line.find(':');
    if (colon == std::string_view::npos) return {};
    std::string_view value = trimTrailingBlanks(skipBlanks(line.substr(colon + 1)));
    return value.substr(0, limit);
}

// The text up to the first of the stop characters.
std::string_view upTo(std::string_view text, const char* stops) {
    size_t end = text.find_first_of(stops);
    return end == std::string_view::npos ? text : text.substr(0, end);
}

// An attribute of a Set-Cookie line ("path=/x; ..."): the text after name up to ";".
String cookieAttribute(std::string_view attributes, const char* name) {
    size_t at = findNoCase(attributes, name);
    if (at == std::string_view::npos) return String();
    std::string_view value = attributes.substr(at + std::strlen(name));
    return String(trimTrailingBlanks(upTo(value, ";")).substr(0, kLongValue));
}

// "Digest realm=..., algorithm=SHA-256": only MD5 (named or not) can be answered.
bool digestUsable(std::string_view challenge) {
    String algorithm = headerAttribute(String(challenge), "algorithm=");
    return algorithm.empty() || algorithm.equalsIgnoreCase("MD5");
}

}  // namespace

String headerAttribute(const String& text, const char* name) {
    std::string_view all = text.view();
    size_t from = 0;
    // Only a name that starts a word counts: "nonce=" must not match inside "cnonce=".
    for (;;) {
        size_t at = findNoCase(all.substr(from), name);
        if (at == std::string_view::npos) return String();
        at += from;
        if (at == 0 || all[at - 1] == ' ' || all[at - 1] == ',' || all[at - 1] == '\t') {
            std::string_view value = all.substr(at + std::strlen(name));
            if (!value.empty() && value[0] == '"') {
                value.remove_prefix(1);
                value = upTo(value, "\"");
            } else {
                value = trimTrailingBlanks(upTo(value, ",;"));
            }
            return String(value.substr(0, kShortValue));
        }
        from = at + 1;
    }
}

void HttpResponse::takeLine(const char* data, size_t length) {
    std::string_view line(data, length);
    if (!haveStatus) {
        // "HTTP/1.1 200 OK": the version, the code, the reason.
        if (!startsWithNoCase(line, "HTTP/")) return;
        std::string_view rest = line.substr(5);
        size_t space = rest.find(' ');
        if (space == std::string_view::npos) return;
        rest = skipBlanks(rest.substr(space));
        int code = 0, digits = 0;
        while (digits < 3 && digits < static_cast<int>(rest.size()) &&
               std::isdigit(static_cast<unsigned char>(rest[digits])))
            code = code * 10 + (rest[digits++] - '0');
        if (digits != 3) return;
        haveStatus = true;
        statusCode = code;
        reason = String(trimTrailingBlanks(skipBlanks(rest.substr(3))).substr(0, kShortValue));
        return;
    }
    if (startsWithNoCase(line, "Last-Modified:")) {
        lastModified = String(fieldValue(line));
    } else if (startsWithNoCase(line, "Date:")) {
        date = String(fieldValue(line));
    } else if (startsWithNoCase(line, "WWW-Authenticate:")) {
        std::string_view value = fieldValue(line);
        std::string_view scheme = upTo(value, " \t");
        std::string_view params = skipBlanks(value.substr(scheme.size()));
        challenged = true;
        if (startsWithNoCase(scheme, "Basic") && scheme.size() == 5) {
            basicChallenge = true;
        } else if (startsWithNoCase(scheme, "Digest") && scheme.size() == 6 &&
                   digestUsable(params)) {
            digestChallenge = true;
            String text(params);
            realm = headerAttribute(text, "realm=");
            qop = headerAttribute(text, "qop=");
            opaque = headerAttribute(text, "opaque=");
            nonce = headerAttribute(text, "nonce=");
        }
    } else if (startsWithNoCase(line, "Expires:")) {
        expires = String(fieldValue(line));
    } else if (startsWithNoCase(line, "Location:")) {
        location = String(fieldValue(line));
    } else if (startsWithNoCase(line, "Connection:")) {
        std::string_view value = fieldValue(line);
        if (findNoCase(value, "close") != std::string_view::npos) keepAlive = false;
        else if (findNoCase(value, "keep-alive") != std::string_view::npos ||
                 findNoCase(value, "persist") != std::string_view::npos)
            keepAlive = true;
    } else if (startsWithNoCase(line, "Set-Cookie:")) {
        std::string_view value = fieldValue(line);
        std::string_view text = trimTrailingBlanks(upTo(value, ";"));
        if (text.empty()) return;
        std::string_view attributes = value.substr(text.size());
        cookies.push_back(RawCookie{String(text), cookieAttribute(attributes, "domain="),
                                    cookieAttribute(attributes, "path="),
                                    cookieAttribute(attributes, "expires=")});
    } else if (startsWithNoCase(line, "Content-Type:")) {
        std::string_view value = trimTrailingBlanks(upTo(fieldValue(line), ";"));
        if (!value.empty()) contentType = String(value);
    } else if (startsWithNoCase(line, "Content-Length:")) {
        // Only digits, and a number that fits: a length the body cannot be measured against
        // makes the whole response unusable.
        std::string_view value = fieldValue(line);
        int64_t n = 0;
        bool number = !value.empty();
        for (char c : value) {
            if (!std::isdigit(static_cast<unsigned char>(c)) || n > (INT64_MAX - (c - '0')) / 10) {
                number = false;
                break;
            }
            n = n * 10 + (c - '0');
        }
        if (number) contentLength = n;
        else badLength = true;
    } else if (startsWithNoCase(line, "Transfer-Encoding:")) {
        chunked = findNoCase(fieldValue(line), "chunked") != std::string_view::npos;
    }
}

int64_t parseChunkSize(const char* data, size_t length) {
    std::string_view line = skipBlanks(std::string_view(data, length));
    int64_t size = 0;
    size_t i = 0;
    for (; i < line.size() && std::isxdigit(static_cast<unsigned char>(line[i])); ++i) {
        char c = static_cast<char>(std::tolower(static_cast<unsigned char>(line[i])));
        size = size * 16 + (c <= '9' ? c - '0' : c - 'a' + 10);
        if (size > (int64_t{1} << 40)) return -1;
    }
    if (i == 0) return -1;
    std::string_view rest = skipBlanks(line.substr(i));
    if (!rest.empty() && rest[0] != ';') return -1;
    return size;
}

String redirectUrl(const String& scheme, const String& host, const String& port,
                   const String& location) {
    if (location.startsWithIgnoreCase("http:", 5) || location.startsWithIgnoreCase("https:", 6))
        return location;
    String url = scheme;
    url += "://";
    url += host;
    url += ":";
    url += port;
    if (location[0] == '/') {
        url += location;
        return url;
    }
    std::string_view rest = location.view();
    while (rest.substr(0, 3) == std::string_view("../")) rest.remove_prefix(3);
    url += "/";
    url += String(rest);
    return url;
}

}  // namespace qarvel
