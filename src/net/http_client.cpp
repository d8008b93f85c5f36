// HttpClient: one URL fetched into a file, with its redirects, credentials, cookies and proxy.
#include "net/http_client.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "base/text.h"
#include "base/temp_file.h"
#include "base/base64.h"
#include "base/md5.h"
#include "net/failure_cause.h"
#include "net/host_address.h"
#include "net/winsock_error.h"

namespace qarvel {

namespace {

// A header line is read up to this many bytes; the rest of a longer one is dropped.
constexpr size_t kMaxLine = 1023;
// A header larger than this (all lines together) is refused: a server that sends a line of a
// megabyte, or lines without end, must not make us read forever.
constexpr size_t kMaxHeaderBytes = 65536;
// Redirect chains longer than this are taken to be loops.
constexpr int kMaxRedirects = 20;
// Cookies kept by one client, so that a server cannot make the list grow without bound.
constexpr size_t kMaxCookies = 200;
constexpr int kBodyBufferSize = 65536;
constexpr const char* kUserAgent = "User-Agent: Tarnwick-LIB\r\n";

const char* const kMethodNames[] = {"GET",   "POST", "PROPFIND", "PROPPATCH", "MKCOL", "DELETE",
                                    "PUT",   "COPY", "MOVE",     "LOCK",      "UNLOCK"};

bool isGet(int method) { return std::strcmp(httpMethodName(method), "GET") == 0; }

bool isHttpScheme(const String& scheme) {
    return scheme.equalsIgnoreCase("http") || scheme.equalsIgnoreCase("https");
}

// Control characters or blanks in a host or port would end up in the request as they are.
bool unsafeForRequest(const String& text) {
    for (size_t i = 0; i < text.length(); ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (c <= ' ' || c == 0x7f) return true;
    }
    return false;
}

// The path as it goes into the request line: blanks and control characters (CR and LF above
// all) are sent percent-encoded, so no caller's text can end the line early.
String requestPath(const String& path) {
    String out;
    for (size_t i = 0; i < path.length(); ++i) {
        unsigned char c = static_cast<unsigned char>(path[i]);
        if (c <= ' ' || c == 0x7f) {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02X", c);
            out += hex;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

// A value that goes into one header line: CR and LF dropped.
String oneLine(const String& text) {
    if (text.find('\r') == String::npos && text.find('\n') == String::npos) return text;
    String out;
    for (size_t i = 0; i < text.length(); ++i)
        if (text[i] != '\r' && text[i] != '\n') out += text[i];
    return out;
}

int64_t nowSeconds() { return static_cast<int64_t>(std::time(nullptr)); }

// Writes all bytes to a file descriptor: false on a write error.
bool writeAll(int fd, const char* data, size_t length) {
    while (length > 0) {
        ssize_t n = ::write(fd, data, length);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += n;
        length -= static_cast<size_t>(n);
    }
    return true;
}

// Closes a file descriptor when it goes out of scope.
struct FileHandle {
    int fd;
    explicit FileHandle(int f) : fd(f) {}
    ~FileHandle() {
        if (fd >= 0) ::close(fd);
    }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
};

}  // namespace

const char* httpMethodName(int method) {
    if (method == kHttpFormPost) return "POST";
    if (method < 0 || method > kHttpUnlock) return "GET";
    return kMethodNames[method];
}

HttpClient::HttpClient(bool http11) : Connection(0, '\n'), http11_(http11) {
    extraHeaders_ = kUserAgent;
    std::snprintf(statusText_, sizeof statusText_, "404 NOT FOUND");
    Socket::setTimeout(timeoutSeconds_);
}

void HttpClient::startJob(const TlsOptions& tls) {
    if (!(tls == tlsOptions())) close();
    setTlsOptions(tls);
    setTimeout(0);
    extraHeaders_ = kUserAgent;
    proxyHost_ = proxyPort_ = user_ = password_ = String();
    realm_ = nonce_ = qop_ = opaque_ = String();
    cookies_.clear();
    nonceCount_ = 1;
    basicChallenge_ = digestChallenge_ = false;
    challenges_ = 0;
    referer = requestBody = requestContentType = String();
    depth = -1;
    trace = false;
    credentialsNeedTls = false;
    statusCode_ = 0;
    bytesFetched_ = 0;
    lastModified_ = date_ = contentType_ = transcript_ = String();
    std::snprintf(statusText_, sizeof statusText_, "404 NOT FOUND");
}

HttpClient::~HttpClient() { close(); }

void HttpClient::setTimeout(int seconds) {
    timeoutSeconds_ = seconds > 0 ? seconds : 300;
    Socket::setTimeout(timeoutSeconds_);
}

void HttpClient::setProxy(const String& host, const String& port) {
    proxyHost_ = host;
    proxyPort_ = port;
}

void HttpClient::setCredentials(const String& user, const String& password) {
    user_ = user;
    password_ = password;
}

void HttpClient::addHeader(const String& text) { extraHeaders_ += text; }

int HttpClient::progress(int, long) { return 1; }

int HttpClient::enableSecureLayer(const String& scheme) {
    if (!scheme.equalsIgnoreCase("https") || encrypted()) return 1;
    return startTls(requestHost_) == 1 ? 1 : 0;
}

Failure HttpClient::failure() const {
    if (tlsFailed()) return Failure::kProtocol;
    if (connectError_ != 0) return networkFailure(connectError_, "", true);
    if (timedOut_) return Failure::kTemporary;
    if (statusCode_ == 401 || statusCode_ == 407) return Failure::kLogin;
    if (statusCode_ == 408 || statusCode_ == 429 || statusCode_ >= 500) return Failure::kTemporary;
    if (statusCode_ >= 400) return Failure::kUnavailable;
    return Failure::kProtocol;
}

int HttpClient::fail(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vsnprintf(statusText_, sizeof statusText_, format, args);
    va_end(args);
    return -1;
}

// ---------------------------------------------------------------- URLs

int HttpClient::splitUrl(const String& url, String& scheme, String& host, String& port,
                         String& path, String& fragment) {
    scheme = host = port = path = fragment = String();
    if (url.empty()) return 0;
    std::string_view rest = url.view();
    size_t colon = rest.find(':');
    size_t stop = rest.find_first_of("/#?");
    if (colon != std::string_view::npos && (stop == std::string_view::npos || colon < stop)) {
        scheme = String(rest.substr(0, colon));
        rest.remove_prefix(colon + 1);
    }
    if (rest.substr(0, 2) == std::string_view("//")) {
        // host[:port] runs to the first "/"; a ":" further on belongs to the path.
        rest.remove_prefix(2);
        size_t slash = rest.find('/');
        std::string_view authority = rest.substr(0, slash);
        // User information before the host is never part of it (takeUserInfo reads it).
        if (size_t at = authority.rfind('@'); at != std::string_view::npos) authority.remove_prefix(at + 1);
        // An IPv6 address keeps its brackets: the Host line and the proxy request need them.
        HostPort split = splitHostPort(authority);
        host = split.host.find(':') == String::npos ? split.host : "[" + split.host + "]";
        port = split.port;
        if (slash == std::string_view::npos) return 1;
        rest.remove_prefix(slash + 1);
    }
    size_t hash = rest.find('#');
    if (hash == std::string_view::npos) {
        path = String(rest);
    } else {
        path = String(rest.substr(0, hash));
        fragment = String(rest.substr(hash + 1));
    }
    return 1;
}

namespace {

// Where the user information of a URL lies: the text between "//" and the last "@" of the
// authority. False when there is none.
bool userInfoSpan(std::string_view url, size_t& start, size_t& end) {
    size_t slashes = url.find("//");
    size_t stop = url.find_first_of("/?#");
    if (slashes == std::string_view::npos || stop < slashes) return false;
    start = slashes + 2;
    std::string_view authority = url.substr(start, url.find_first_of("/?#", start) - start);
    size_t at = authority.rfind('@');
    if (at == std::string_view::npos) return false;
    end = start + at;
    return true;
}

String percentDecoded(std::string_view text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && std::isxdigit(static_cast<unsigned char>(text[i + 1])) &&
            std::isxdigit(static_cast<unsigned char>(text[i + 2]))) {
            out += static_cast<char>(std::stoi(std::string(text.substr(i + 1, 2)), nullptr, 16));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return String(out);
}

}  // namespace

bool HttpClient::takeUserInfo(const String& url, String& bare, String& user, String& password) {
    size_t start, end;
    const std::string_view u = url.view();
    if (!userInfoSpan(u, start, end)) return false;
    std::string_view info = u.substr(start, end - start);
    const size_t colon = info.find(':');
    user = percentDecoded(info.substr(0, colon));
    password = colon == std::string_view::npos ? String() : percentDecoded(info.substr(colon + 1));
    bare = String(std::string(u.substr(0, start)) + std::string(u.substr(end + 1)));
    return true;
}

String HttpClient::shownUrl(const String& url) {
    size_t start, end;
    const std::string_view u = url.view();
    if (!userInfoSpan(u, start, end)) return url;
    const size_t colon = u.substr(start, end - start).find(':');
    if (colon == std::string_view::npos) return url;
    return String(std::string(u.substr(0, start + colon + 1)) + "***" + std::string(u.substr(end)));
}

// ---------------------------------------------------------------- the request

namespace {

// The port a URL's scheme implies when it names none.
String portOrDefault(const String& scheme, const String& port) {
    if (!port.empty()) return port;
    return scheme.equalsIgnoreCase("https") ? "443" : "80";
}

}  // namespace

int HttpClient::fetch(const String& url, const String& localPath, int method) {
    transcript_ = String();
    String path, fragment;
    splitUrl(url, namedScheme_, namedHost_, namedPort_, path, fragment);
    namedPort_ = portOrDefault(namedScheme_, namedPort_);
    return request(url, localPath, method, 0);
}

int HttpClient::fetchToString(String& out, const String& url, int method) {
    out = String();
    TempFile temp("/tmp", "qarvel-http");
    if (!temp.valid()) {
        fail("500 %s TEMPORARY FILE FAILURE", url.c_str());
        out = statusText_;
        return -1;
    }
    temp.close();
    int result = fetch(url, String(temp.path()), method);
    if (result < 0) {
        out = statusText_;
    } else if (FILE* in = temp.stream("rb")) {
        char chunk[1023];
        size_t n;
        while ((n = std::fread(chunk, 1, sizeof chunk, in)) > 0) out.append(chunk, n);
    }
    return result;
}

int HttpClient::openFor(const String& scheme, const String& host, const String& port) {
    // A connection left open by the previous request is used again only for the same server,
    // and only while it is idle: anything readable on it now is the server's close (or bytes
    // that belong to no request of ours).
    if (isOpen()) {
        bool same = scheme.equalsIgnoreCase(openScheme_.c_str()) && host == openHost_ &&
                    port == openPort_ && targetHost_ == connectedHost();
        if (same && keepAlive_ && buffered() == 0 && wait(0, 0, kWaitReadable) == 0) return 2;
        close();
    }
    if (int opened = open(targetHost_, targetPort_); opened < 1) {
        connectError_ = failureCode(opened);
        close();
        return fail("500 %s:%s CONNECTION FAILED, error= %s", targetHost_.c_str(), targetPort_.c_str(),
                    describeError(failureCode(opened)).c_str());
    }
    if (trace) std::fprintf(stderr, "Connected to '%s'\n", targetHost_.c_str());
    if (!proxyHost_.empty() && scheme.equalsIgnoreCase("https") && tunnel(host, port) < 1) {
        close();
        return fail("500 %s:%s CONNECTION FAILED", targetHost_.c_str(), targetPort_.c_str());
    }
    if (enableSecureLayer(scheme) == 0) {
        close();
        return fail("500 %s:%s ENABLE SSL FAILED", targetHost_.c_str(), targetPort_.c_str());
    }
    openScheme_ = scheme;
    openHost_ = host;
    openPort_ = port;
    return 1;
}

// https through a proxy: the proxy is asked for a tunnel to the server, inside which TLS runs
// end to end; the proxy never sees the request.
int HttpClient::tunnel(const String& host, const String& port) {
    String text = "CONNECT ";
    text += host + ":" + port + " HTTP/1.1\r\nHost: " + host + ":" + port + "\r\n\r\n";
    transcript_ += text;
    if (send(text.c_str(), static_cast<int>(text.length())) != static_cast<int>(text.length()))
        return -1;
    HttpResponse answer;
    bool cancelled = false;
    if (readHeader(answer, cancelled) < 1 || cancelled) return -1;
    return answer.statusCode >= 200 && answer.statusCode <= 299 ? 1 : -1;
}

String HttpClient::requestText(int method, const String& scheme, const String& host,
                               const String& port, const String& path) {
    const char* version = http11_ ? "1.1" : "1.0";
    String text = httpMethodName(method);
    if (!proxyHost_.empty() && !scheme.equalsIgnoreCase("https")) {
        text += " " + scheme + "://" + host + ":" + port + "/" + requestPath(path);
    } else {
        text += " /" + requestPath(path);
    }
    text += String(" HTTP/") + version + "\r\n";
    if (!referer.empty()) text += "Referer: " + oneLine(referer) + "\r\n";
    if (!user_.empty() && challenges_ > 0 && credentialsAllowed_) text += authorization(method, path);
    if (depth != -1) text += "Depth: " + String(std::to_string(depth)) + "\r\n";
    text += cookieLine(host, path);
    if (port == "80") text += "Host: " + host + "\r\n";
    else text += "Host: " + host + ":" + port + "\r\n";
    text += extraHeaders_;
    if (!isGet(method)) {
        text += "Content-Type: ";
        text += method == kHttpFormPost ? String("application/x-www-form-urlencoded")
                                        : oneLine(requestContentType);
        text += "\r\n";
        text += "Content-Length: " + String(std::to_string(requestBody.length())) + "\r\n";
    } else {
        text += "Content-Length: 0\r\n";
    }
    text += "Connection: keep-alive\r\n\r\n";
    return text;
}

String HttpClient::authorization(int method, const String& path) {
    if (digestChallenge_) {
        // The answer of RFC 2617 with qop=auth, whatever the challenge offered.
        const String qop = "auth";
        const String user = oneLine(user_);
        String ha1 = md5Hex(user + ":" + realm_ + ":" + password_);
        String ha2 = md5Hex(String(httpMethodName(method)) + ":/" + path);
        char count[16];
        std::snprintf(count, sizeof count, "%08lx", static_cast<unsigned long>(nonceCount_++));
        char seed[64];
        std::snprintf(seed, sizeof seed, "%lu.%lu", static_cast<unsigned long>(std::time(nullptr)),
                      static_cast<unsigned long>(std::clock()));
        String cnonce = base64Encode(seed, std::strlen(seed));
        String response =
            md5Hex(ha1 + ":" + nonce_ + ":" + count + ":" + cnonce + ":" + qop + ":" + ha2);
        return "Authorization: Digest username=\"" + user + "\", realm=\"" + realm_ +
               "\", qop=" + qop + ", uri=\"/" + requestPath(path) + "\", nonce=\"" + nonce_ +
               "\", nc=" + count + ", cnonce=\"" + cnonce + "\", response=\"" + response +
               "\", opaque=\"" + opaque_ + "\"\r\n";
    }
    if (basicChallenge_) return "Authorization: Basic " + base64Encode(user_ + ":" + password_) + "\r\n";
    return String();
}

String HttpClient::cookieLine(const String& host, const String& path) const {
    String line;
    for (const HttpCookie& cookie : cookies_) {
        if (!endsWithNoCase(host.view(), cookie.domain.view())) continue;
        String prefix = cookie.path[0] == '/' ? String(cookie.path, 1) : cookie.path;
        if (!path.startsWithIgnoreCase(prefix.c_str(), prefix.length())) continue;
        line += line.empty() ? "Cookie:" : ";";
        line += " " + cookie.text;
    }
    if (!line.empty()) line += "\r\n";
    return line;
}

void HttpClient::keepCookie(const HttpResponse& header, const String& host) {
    for (const HttpResponse::RawCookie& raw : header.cookies) {
        if (cookies_.size() >= kMaxCookies) return;
        cookies_.push_back(HttpCookie{raw.domain.empty() ? host : raw.domain,
                                      raw.path.empty() ? String("/") : raw.path, raw.text,
                                      raw.expires});
    }
}

int HttpClient::request(const String& url, const String& localPath, int method, int redirects) {
    String scheme, host, port, path, fragment;
    if (!splitUrl(url, scheme, host, port, path, fragment) || host.empty() ||
        unsafeForRequest(host) || unsafeForRequest(port))
        return fail("500 PARSE ERROR");
    if (!isHttpScheme(scheme)) return fail("500 %s UNSUPPORTED PROTOCOL", scheme.c_str());

    std::snprintf(statusText_, sizeof statusText_, "404 NOT FOUND");
    cancelled_ = timedOut_ = false;
    statusCode_ = connectError_ = 0;
    port = portOrDefault(scheme, port);
    credentialsAllowed_ = scheme.equalsIgnoreCase(namedScheme_.c_str()) && host.equalsIgnoreCase(namedHost_.c_str()) &&
                          port == namedPort_;
    requestHost_ = host;
    targetHost_ = proxyHost_.empty() ? host : proxyHost_;
    targetPort_ = proxyHost_.empty() ? port : (proxyPort_.empty() ? String("80") : proxyPort_);
    if (progress(0, -1) <= 0) cancelled_ = true;

    HttpResponse header;
    // A kept-alive connection may have been closed by the server since: then the request is
    // sent once more on a new connection.
    for (int attempt = 0; !cancelled_; ++attempt) {
        int opened = openFor(scheme, host, port);
        if (opened < 0) return -1;
        if (progress(0, -1) <= 0) {
            cancelled_ = true;
            break;
        }
        String text = requestText(method, scheme, host, port, path);
        transcript_ += text;
        if (send(text.c_str(), static_cast<int>(text.length())) != static_cast<int>(text.length())) {
            close();
            if (opened == 2 && attempt == 0) continue;
            return fail("500 %s:%s WRITE FAILED", targetHost_.c_str(), targetPort_.c_str());
        }
        if (!isGet(method) &&
            !requestBody.empty() &&
            send(requestBody.c_str(), static_cast<int>(requestBody.length())) !=
                static_cast<int>(requestBody.length())) {
            close();
            return fail("500 %s:%s WRITE FORM DATA FAILED", targetHost_.c_str(),
                        targetPort_.c_str());
        }
        header = HttpResponse();
        header.keepAlive = http11_;
        int got = readHeader(header, cancelled_);
        if (got == 0 && opened == 2 && attempt == 0) {
            close();
            continue;
        }
        if (cancelled_) break;
        if (got == 0) {
            close();
            return fail("500 %s:%s READ FAILED", targetHost_.c_str(), targetPort_.c_str());
        }
        if (got < 0 || header.badLength) {
            close();
            return fail("500 %s:%s BAD RESPONSE", targetHost_.c_str(), targetPort_.c_str());
        }
        break;
    }
    if (cancelled_) {
        if (trace) std::fprintf(stderr, "Cancelled\n");
        close();
        return failCancelled();
    }

    statusCode_ = header.statusCode;
    lastModified_ = header.lastModified;
    date_ = header.date;
    contentType_ = header.contentType;
    if (trace && (statusCode_ < 200 || statusCode_ > 299)) std::fprintf(stderr, "Not found\n");
    if (header.challenged) {
        ++challenges_;
        if (header.basicChallenge) basicChallenge_ = true;
        if (header.digestChallenge) {
            digestChallenge_ = true;
            realm_ = header.realm;
            nonce_ = header.nonce;
            qop_ = header.qop;
            opaque_ = header.opaque;
        }
    }
    keepCookie(header, host);
    if (statusCode_ == 204 || statusCode_ == 304) header.contentLength = 0;
    // Without a length the body ends when the connection does.
    if (!header.chunked && header.contentLength == kUnknownLength) header.keepAlive = false;
    keepAlive_ = header.keepAlive;

    int body = -1;
    {
        FileHandle file(::open(localPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644));
        if (file.fd < 0) {
            close();
            return fail("500 %s:%s TEMPORARY FILE FAILURE", targetHost_.c_str(),
                        targetPort_.c_str());
        }
        body = readBody(file.fd, header, cancelled_);
    }
    if (cancelled_) {
        if (trace) std::fprintf(stderr, "Cancelled\n");
        close();
        return failCancelled();
    }
    // Bytes beyond the announced length belong to no response: the connection is out of step.
    if (body == 1 && keepAlive_ && buffered() > 0) body = -3;
    if (body < 1 || !keepAlive_) close();
    progress(100, 0);
    if (body == -2)
        return fail("500 %s:%s TEMPORARY FILE FAILURE", targetHost_.c_str(), targetPort_.c_str());
    if (body == -3)
        return fail("500 %s:%s BAD RESPONSE", targetHost_.c_str(), targetPort_.c_str());
    if (body < 1)
        return fail("500 %s:%s INCOMPLETE BODY", targetHost_.c_str(), targetPort_.c_str());

    bool moved = statusCode_ == 301 || statusCode_ == 302 || statusCode_ == 303 ||
                 statusCode_ == 307 || statusCode_ == 308;
    if (moved && !header.location.empty()) {
        String next = redirectUrl(scheme, host, port, header.location);
        if (trace) std::fprintf(stderr, "Redirect to '%s'\n", next.c_str());
        String s, h, p, f, x;
        if (!splitUrl(next, s, h, p, f, x)) {
            std::snprintf(statusText_, sizeof statusText_, "500 %s PARSE LOCATION FAILED",
                          next.c_str());
            return 0;
        }
        if (redirects >= kMaxRedirects) return fail("500 %s TOO MANY REDIRECTS", next.c_str());
        close();
        return request(next, localPath, kHttpGet, redirects + 1);
    }
    if (statusCode_ == 401 && challenges_ == 1 && !user_.empty() && credentialsAllowed_) {
        if (credentialsNeedTls && !scheme.equalsIgnoreCase("https"))
            return fail("500 %s:%s PASSWORD NOT SENT WITHOUT TLS (-requiretls)", targetHost_.c_str(),
                        targetPort_.c_str());
        return request(url, localPath, method, redirects);
    }
    // The status text is the server's own: code and reason, the reason in capitals.
    const String& reason = header.reason;
    std::snprintf(statusText_, sizeof statusText_, "%d%s%s", statusCode_, reason.empty() ? "" : " ",
                  reason.c_str());
    for (char* c = statusText_; *c; ++c) *c = static_cast<char>(std::toupper(static_cast<unsigned char>(*c)));
    return statusCode_ >= 200 && statusCode_ <= 299 ? 1 : 0;
}

// ---------------------------------------------------------------- reading the response

// The status text of a cancelled transfer; one the time-out ended says so.
int HttpClient::failCancelled() {
    if (!timedOut_) return fail("500 %s:%s CANCELLED", targetHost_.c_str(), targetPort_.c_str());
    return fail("500 %s:%s CANCELLED, error= %s", targetHost_.c_str(), targetPort_.c_str(),
                describeError(-kWsaTimedOut).c_str());
}

// Waits until bytes can be read, in one-second steps so that progress() can cancel: 1 when
// ready, 0 when cancelled or nothing came within the time-out, below 0 on an error.
int HttpClient::waitForData() {
    for (int waited = 0;;) {
        if (buffered() > 0) return 1;
        int w = waitReadable(1, 0);
        if (w != 0) return w;
        if (progress(0, -1) <= 0) {
            cancelled_ = true;
            return 0;
        }
        if (++waited >= timeoutSeconds_) {
            if (trace) std::fprintf(stderr, "Timed out\n");
            cancelled_ = timedOut_ = true;
            return 0;
        }
    }
}

// One line without its CR LF, at most kMaxLine bytes kept. Returns the bytes the line took
// on the wire, 0 when the connection ended before a byte of it, -1 on an error or an end in
// the middle of the line; *cancelled when the wait was cancelled.
int HttpClient::readLimitedLine(std::string& line, bool& cancelled) {
    line.clear();
    char piece[kMaxLine + 1];
    int total = 0;
    for (;;) {
        int ready = waitForData();
        if (ready == 0) {
            cancelled = true;
            return -1;
        }
        if (ready < 0) return -1;
        int n = readLine(piece, static_cast<int>(sizeof piece));
        if (n < 0) return total == 0 && n == -kWsaConnectionReset ? 0 : -1;
        if (n == 0) continue;
        total += n;
        bool complete = piece[n - 1] == '\n';
        if (line.size() < kMaxLine)
            line.append(piece, std::min(static_cast<size_t>(n), kMaxLine - line.size()));
        if (complete) break;
        if (static_cast<size_t>(total) > kMaxHeaderBytes) return -1;
    }
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    return total;
}

int HttpClient::readHeader(HttpResponse& header, bool& cancelled) {
    size_t headerBytes = 0;
    const bool keepAlive = header.keepAlive;
    std::string line;
    for (;;) {
        int n = readLimitedLine(line, cancelled);
        if (cancelled) return -1;
        if (n == 0 && headerBytes == 0) return 0;
        if (n <= 0) return headerBytes == 0 ? 0 : -1;
        headerBytes += static_cast<size_t>(n);
        if (headerBytes > kMaxHeaderBytes) return -1;
        transcript_ += String(line) + "\r\n";
        if (trace) std::fprintf(stderr, "%s\n", line.c_str());
        if (!header.haveStatus) {
            header.takeLine(line.data(), line.size());
            if (!header.haveStatus) return -1;  // not an HTTP response at all
            continue;
        }
        if (n < 3 || line.empty()) {
            // An interim answer (100 Continue) is followed by the real one.
            if (header.statusCode >= 100 && header.statusCode <= 199) {
                header = HttpResponse();
                header.keepAlive = keepAlive;
                continue;
            }
            return 1;
        }
        header.takeLine(line.data(), line.size());
    }
}

void HttpClient::reportProgress(int64_t received, int64_t expected, bool force) {
    int64_t now = nowSeconds();
    if (!force && now == lastProgress_) return;
    lastProgress_ = now;
    int percent = -1;
    long left = -1;
    if (expected != kUnknownLength && expected > 0) {
        percent = static_cast<int>(100 - (expected - received) * 100 / expected);
        int64_t elapsed = now - progressStart_;
        if (received > 0) left = static_cast<long>(elapsed * expected / received - elapsed);
    }
    if (progress(percent, left) <= 0) cancelled_ = true;
}

// Copies up to count bytes of the body into fd (count kUnknownLength: until the connection
// ends). 1 when count bytes arrived (or the end came for an unknown count), -1 when the
// connection ended or failed early, -2 when the file cannot be written.
int HttpClient::copyBytes(int fd, int64_t count, bool& cancelled, int64_t& received) {
    std::vector<char> buffer(kBodyBufferSize);
    int64_t remaining = count;
    while (remaining > 0) {
        int ready = waitForData();
        if (ready == 0) {
            cancelled = true;
            return -1;
        }
        if (ready < 0) return -1;
        int want = static_cast<int>(std::min<int64_t>(remaining, kBodyBufferSize));
        int n;
        if (bufferedCount_ > 0) {
            n = std::min(want, bufferedCount_);
            std::memcpy(buffer.data(), readPosition_, n);
            readPosition_ += n;
            bufferedCount_ -= n;
        } else {
            n = receiveSome(buffer.data(), want);
        }
        if (n <= 0) return count == kUnknownLength && n == 0 ? 1 : -1;
        if (!writeAll(fd, buffer.data(), static_cast<size_t>(n))) return -2;
        received += n;
        download_.add(n);
        if (count != kUnknownLength) remaining -= n;
        reportProgress(received, count, false);
        if (cancelled_) {
            cancelled = true;
            return -1;
        }
    }
    return 1;
}

int HttpClient::readChunkedBody(int fd, bool& cancelled, int64_t& received) {
    std::string line;
    for (;;) {
        if (readLimitedLine(line, cancelled) <= 0) return -1;
        int64_t size = parseChunkSize(line.data(), line.size());
        if (size < 0) return -3;
        if (size == 0) break;
        int copied = copyBytes(fd, size, cancelled, received);
        if (copied < 1) return copied;
        // The chunk's data ends with an empty line.
        if (readLimitedLine(line, cancelled) <= 0) return -1;
        if (!line.empty()) return -3;
    }
    // Trailer lines up to the empty line, bounded like a header.
    size_t trailer = 0;
    for (;;) {
        int n = readLimitedLine(line, cancelled);
        if (n <= 0) return -1;
        trailer += static_cast<size_t>(n);
        if (trailer > kMaxHeaderBytes) return -3;
        if (line.empty()) return 1;
    }
}

int HttpClient::readBody(int fd, HttpResponse& header, bool& cancelled) {
    int64_t received = 0;
    progressStart_ = nowSeconds();
    lastProgress_ = progressStart_;
    download_.begin(header.chunked ? -1 : header.contentLength);
    int result;
    if (header.chunked) {
        result = readChunkedBody(fd, cancelled, received);
    } else {
        result = header.contentLength == 0 ? 1 : copyBytes(fd, header.contentLength, cancelled, received);
    }
    download_.finish();
    bytesFetched_ = static_cast<uint32_t>(received);
    if (trace && !header.chunked && header.contentLength != kUnknownLength &&
        received != header.contentLength)
        std::fprintf(stderr, "Expected: %lld bytes, got: %lld\n",
                     static_cast<long long>(header.contentLength), static_cast<long long>(received));
    return result;
}

}  // namespace qarvel
