// Feeds arbitrary server output to the HTTP response-header parser line by line, as the client
// does (status line first, lines cut at 1023 bytes), then the chunk-size parser, the URL
// splitter and the redirect resolution with what the header named. Checks the bounds the client
// relies on.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "net/http_client.h"
#include "net/http_response.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace qarvel;
    std::string_view input(reinterpret_cast<const char*>(data), size);
    HttpResponse header;
    size_t lines = 0;
    while (!input.empty()) {
        size_t end = input.find('\n');
        std::string_view line = input.substr(0, end);
        input.remove_prefix(end == std::string_view::npos ? input.size() : end + 1);
        if (line.size() > 1023) line = line.substr(0, 1023);
        while (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        header.takeLine(line.data(), line.size());
        int64_t chunk = parseChunkSize(line.data(), line.size());
        if (chunk < -1 || chunk > (int64_t{1} << 40) + 15) std::abort();
        ++lines;
    }
    if (header.cookies.size() > lines) std::abort();
    if (header.realm.length() > 255 || header.nonce.length() > 255 || header.qop.length() > 255 ||
        header.opaque.length() > 255 || header.reason.length() > 255)
        std::abort();
    if (header.location.length() > 4095 || header.contentType.length() > 4095) std::abort();
    if (header.contentLength < 0) std::abort();
    if (header.haveStatus && (header.statusCode < 0 || header.statusCode > 999)) std::abort();

    String scheme, host, port, path, fragment;
    if (HttpClient::splitUrl(header.location, scheme, host, port, path, fragment) == 1) {
        if (host.find('/') != String::npos) std::abort();
        if (scheme.find('/') != String::npos) std::abort();
        String next = redirectUrl("http", "host", "80", header.location);
        String s, h, p, f, x;
        if (HttpClient::splitUrl(next, s, h, p, f, x) != 1) std::abort();
    }
    return 0;
}
