// HttpResponse: what the header lines of one HTTP response say, gathered line by line as they
// arrive (takeLine), plus the small parsers of what follows a header: chunk-size lines and
// Location values. Everything here reads text from the network, so every value is bounded and
// nothing trusts a length the server gives.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "base/string.h"

namespace qarvel {

// Content-Length when the server gives none: read until the connection ends.
constexpr int64_t kUnknownLength = 2147483647;

struct HttpResponse {
    bool haveStatus = false;       // a status line came first
    int statusCode = 0;
    String reason;                 // the words after the code ("Not Found")
    String lastModified = "none";
    String date = "none";
    String contentType = "text/html";
    String location, expires;
    int64_t contentLength = kUnknownLength;
    bool badLength = false;        // a Content-Length that is no number below 2^63
    bool keepAlive = false;
    bool chunked = false;
    // WWW-Authenticate: the schemes seen and the last usable Digest challenge.
    bool basicChallenge = false, digestChallenge = false, challenged = false;
    String realm, nonce, qop, opaque;
    // Set-Cookie: the cookie text (name=value) and the attributes after it, in order.
    struct RawCookie {
        String text, domain, path, expires;
    };
    std::vector<RawCookie> cookies;

    // One header line without its CR LF. Unknown lines are ignored; a status line is only taken
    // as the first line.
    void takeLine(const char* line, size_t length);
};

// The size of a chunk from its size line ("1a3f" with optional ";extensions"): the size, or -1
// for a line that is not a hexadecimal number or one beyond 2^40.
int64_t parseChunkSize(const char* line, size_t length);

// The URL a redirect goes to: an absolute http: or https: Location as it is; otherwise one on
// the same scheme, host and port at the root, the Location's leading "../" pieces dropped.
String redirectUrl(const String& scheme, const String& host, const String& port,
                   const String& location);

// A value from `text` after `name` (case ignored), e.g. name "realm=": a quoted value up to its
// closing quote, or an unquoted one up to ",", ";" or the end; cut at 255 characters.
String headerAttribute(const String& text, const char* name);

}  // namespace qarvel
