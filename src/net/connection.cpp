// Connection: opening a host's service and the command loop every protocol class uses.
#include "net/connection.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "base/line_breaks.h"
#include "net/host_address.h"
#include "net/winsock_error.h"

namespace qarvel {

namespace {

constexpr int kMaxAttempts = 1000;

int socketType(uint32_t flags) {
    if (flags & kSocketRaw) return SOCK_RAW;
    if (flags & kSocketDatagram) return SOCK_DGRAM;
    return SOCK_STREAM;
}

int socketProtocol(uint32_t flags, int family) {
    if (flags & kSocketIcmp) return family == AF_INET6 ? int{IPPROTO_ICMPV6} : int{IPPROTO_ICMP};
    if (flags & kSocketIgmp) return IPPROTO_IGMP;
    return 0;
}

int bindAny(int fd, int family, uint16_t port) {
    int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (family == AF_INET6) {
        sockaddr_in6 local{};
        local.sin6_family = AF_INET6;
        local.sin6_addr = in6addr_any;
        local.sin6_port = htons(port);
        return ::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local);
    }
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    local.sin_port = htons(port);
    return ::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local);
}

using Clock = std::chrono::steady_clock;

// Connects fd, waiting at most until the deadline when there is one: 0, or the Winsock number
// of the failure (kWsaTimedOut when the deadline passed first).
int connectBefore(int fd, const ResolvedAddress& to, bool limited, Clock::time_point deadline) {
    const sockaddr* address = reinterpret_cast<const sockaddr*>(&to.address);
    if (!limited) {
        int r;
        do {
            r = ::connect(fd, address, to.length);
        } while (r != 0 && errno == EINTR);
        return r == 0 ? 0 : lastWinsockError();
    }
    int mode = ::fcntl(fd, F_GETFL, 0);
    ::fcntl(fd, F_SETFL, mode | O_NONBLOCK);
    if (::connect(fd, address, to.length) == 0) return 0;
    if (errno != EINPROGRESS && errno != EINTR) return lastWinsockError();
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) return kWsaTimedOut;
        pollfd p{fd, POLLOUT, 0};
        int r = ::poll(&p, 1, static_cast<int>(left));
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) return lastWinsockError();
        if (r == 0) return kWsaTimedOut;
        int error = 0;
        socklen_t size = sizeof error;
        ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size);
        return error == 0 ? 0 : winsockError(error);
    }
}

}  // namespace

// Every address of the host is tried in turn (IPv6 first with -ipv6, else in the resolver's
// order), all within the one time-out; each failed address prints its own line.
int Connection::openSocket(const String& host, const String& service) {
    if (isOpen()) disconnect();
    timedOut_ = tlsFailed_ = false;
    // "[::1]:2525" carries its own port; a bare "host:port" stays one name (the sender's host
    // list splits those before they come here).
    String name = host, portText = service;
    if (!host.empty() && host[0] == '[') {
        HostPort split = splitHostPort(host.view());
        name = split.host;
        if (!split.port.empty()) portText = split.port;
    }
    int portNumber = servicePort(portText);
    // A port that is no port is refused, never taken for another one (the datagram and raw
    // tests take port 0, any port, when they name none).
    if (portNumber < 0 || (portNumber == 0 && socketType(flags()) == SOCK_STREAM)) {
        std::fprintf(stderr, "Invalid port '%s' for '%s': a port is a number from 1 to 65535 or a service name\n",
                     portText.c_str(), name.c_str());
        return -kWsaInvalidArgument;
    }
    std::vector<ResolvedAddress> addresses;
    int found = resolveAddresses(name, portNumber, socketType(flags()), addresses);
    if (found < 1) return found;
    const bool limited = timeout() > 0;
    const Clock::time_point deadline = Clock::now() + std::chrono::seconds(limited ? timeout() : 0);
    int lastError = kWsaHostNotFound;
    bool opened = false;
    for (const ResolvedAddress& address : addresses) {
        const int family = address.family();
        std::string shown = host.str();
        if (addresses.size() > 1)
            shown += " (" + addressText(reinterpret_cast<const sockaddr*>(&address.address), address.length).str() + ")";
        for (int attempt = 1; attempt <= kMaxAttempts && !opened; ++attempt) {
            int fd = ::socket(family, socketType(flags()), socketProtocol(flags(), family));
            if (fd < 0) {
                lastError = lastWinsockError();
                break;
            }
            handle_ = fd;
            if ((flags() & kSocketDatagram) && (flags() & (kSocketConnectedDatagram | kSocketBindOnly))) {
                if (bindAny(fd, family, static_cast<uint16_t>(portNumber)) != 0) {
                    int error = lastWinsockError();
                    std::fprintf(stderr, "*** bind(%s) to fd: %d, port: %d, failed: %d\n", familyName(family), fd,
                                 portNumber, error);
                    ::close(fd);
                    handle_ = -1;
                    return -error;
                }
                if (flags() & kSocketConnectedDatagram)
                    ::connect(fd, reinterpret_cast<const sockaddr*>(&address.address), address.length);
                opened = true;
                break;
            }
            int error = connectBefore(fd, address, limited, deadline);
            if (error == 0) {
                opened = true;
                break;
            }
            ::close(fd);
            handle_ = -1;
            if (error == kWsaAddressInUse && attempt < kMaxAttempts) continue;
            std::fprintf(stderr, "*** connect(%s) to '%s' fd %d failed: %d\n", familyName(family), shown.c_str(), fd,
                         error);
            if (error == kWsaTimedOut) timedOut_ = true;
            lastError = error;
            break;
        }
        if (opened || (limited && Clock::now() >= deadline)) break;
    }
    if (!opened) return -lastError;
    markOpen();
    int mode = ::fcntl(handle_, F_GETFL, 0);
    if (mode >= 0)
        ::fcntl(handle_, F_SETFL,
                (flags() & kSocketNonBlocking) ? (mode | O_NONBLOCK) : (mode & ~O_NONBLOCK));
    host_ = host;
    service_ = service;
    resetBuffer();
    return 1;
}

TlsOptions tlsOptionsOf(const ConnectionOptions& options, int verbose) {
    return {options.caFile, options.certificateFile, options.keyFile, options.insecure, verbose};
}

void Connection::setConnectionOptions(const ConnectionOptions& options, int verbose) {
    setTimeout(options.timeoutSeconds);
    // Only levels above 1 echo the dialogue.
    traceLevel_ = verbose > 1 ? verbose : 0;
    options_ = options;
    setTlsOptions(tlsOptionsOf(options, verbose));
}

int Connection::connectWithRetries(const std::function<int()>& attempt,
                                   const std::function<void(int result)>& failed, int retries) {
    for (retries = retries < 0 ? options_.retries : retries;; --retries) {
        const int result = attempt();
        if (result >= 1) return result;
        if (failed) failed(result);
        // Only the socket: a session class's close would talk to a server that did not answer.
        if (isOpen()) Socket::close();
        if (retries <= 0) return result;
    }
}

int Connection::open(const String& host, const String& service) {
    int result = openSocket(host, service);
    if (result < 1 || !options_.ssl || (flags() & kSocketDatagram)) return result;
    if (startTls(host) < 1) {
        close();
        return -kWsaConnectionAborted;
    }
    return 1;
}

int Connection::openWithData(const String& host, const String& service, const char* data,
                             int length) {
    int result = open(host, service);
    if (result < 1 || length < 1) return result;
    int sent = send(data, length);
    return sent < 0 ? sent : 1;
}

// ---------------------------------------------------------------- command loop

int Connection::vsendInOrder(const char* format, va_list args) {
    if (!sendingAhead_ && !ahead_.empty()) {
        int r = discardAhead();
        if (r < 1) return r;
    }
    return vsendCommand(format, args);
}

int Connection::sendCommand(const char* format, ...) {
    va_list args;
    va_start(args, format);
    int result = vsendInOrder(format, args);
    va_end(args);
    return result;
}

int Connection::command(const char* format, ...) {
    va_list args;
    va_start(args, format);
    int result = vsendInOrder(format, args);
    va_end(args);
    if (result < 1) return result;
    return readReply();
}

int Connection::sendSecret(const String& secret, const char* format, ...) {
    va_list args;
    va_start(args, format);
    int result = vsendSecret(secret, format, args);
    va_end(args);
    return result;
}

int Connection::commandSecret(const String& secret, const char* format, ...) {
    va_list args;
    va_start(args, format);
    int result = vsendSecret(secret, format, args);
    va_end(args);
    if (result < 1) return result;
    return readReply();
}

int Connection::vsendSecret(const String& secret, const char* format, va_list args) {
    // The command text blanks the line breaks of its arguments; the secret is looked for in
    // the same form, so that a password holding one is hidden all the same.
    traceSecret_ = blankLineBreaks(secret.view()).str();
    int result = vsendInOrder(format, args);
    traceSecret_.clear();
    return result;
}

int Connection::sendFormatted(std::vector<char>& buffer, bool trace, const char* format,
                              va_list args) {
    if (buffer.empty()) return -1;
    // Arguments (addresses, names, passwords, text from received mail) cannot break the
    // command: their CR and LF become blanks, so one call sends exactly the lines its format
    // has and a value can never add a command of its own.
    std::string text;
    if (!formatOneLinePerFormat(text, format, args)) return -1;
    if (text.size() >= buffer.size()) {
        // Cut short, the command would lose its line end and run into the next one.
        std::fprintf(stderr, "Command of %zu bytes does not fit the %zu-byte command buffer; not sent\n",
                     text.size(), buffer.size());
        return -1;
    }
    std::memcpy(buffer.data(), text.c_str(), text.size() + 1);
    size_t length = text.size();
    if (trace) {
        if (traceSecret_.empty()) {
            echo(buffer.data(), length);
        } else {
            std::string shown = text;
            for (size_t at = shown.find(traceSecret_); at != std::string::npos;
                 at = shown.find(traceSecret_, at + 3))
                shown.replace(at, traceSecret_.size(), "***");
            echo(shown.data(), shown.size());
        }
    }
    int sent = send(buffer.data(), static_cast<int>(length));
    if (sent >= 1 && static_cast<size_t>(sent) < length) return 0;
    return sent;
}

int Connection::sendInTurn(int key, const SendFor& send, const NextKey& next, size_t window,
                           unsigned long& tag) {
    // The sends below are the pipeline's own: they must not wait for the replies owed.
    struct SendingAhead {
        bool& flag;
        explicit SendingAhead(bool& f) : flag(f) { flag = true; }
        ~SendingAhead() { flag = false; }
    } sending(sendingAhead_);
    if (!ahead_.empty() && ahead_.front().key == key) {
        tag = ahead_.front().tag;
        ahead_.pop_front();
    } else {
        // Not what the run said would come next: what was sent ahead is of no use now.
        int r = discardAhead();
        if (r < 1) return r;
        r = send(key, tag);
        if (r < 1) return r;
    }
    // The server works on the next ones while this reply is read.
    for (int k = ahead_.empty() ? key : ahead_.back().key; ahead_.size() + 1 < window;) {
        if ((k = next(k)) <= 0) break;
        unsigned long aheadTag = 0;
        int r = send(k, aheadTag);
        if (r < 1) return r;
        ahead_.push_back({k, aheadTag});
    }
    return 1;
}

int Connection::discardAhead() {
    while (!ahead_.empty()) {
        const unsigned long tag = ahead_.front().tag;
        ahead_.pop_front();
        int r = discardReply(tag);
        if (r < 1) {
            ahead_.clear();
            return r;
        }
    }
    return 1;
}

void Connection::echo(const char* data, size_t length) {
    std::fwrite(data, 1, length, stdout);
    std::fflush(stdout);
}

}  // namespace qarvel
