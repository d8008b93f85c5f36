#include "net/connection.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "base/line_breaks.h"
#include "net/winsock_error.h"

namespace qarvel {

namespace {

constexpr int kMaxAttempts = 1000;

int socketType(uint32_t flags) {
    if (flags & kSocketRaw) return SOCK_RAW;
    if (flags & kSocketDatagram) return SOCK_DGRAM;
    return SOCK_STREAM;
}

int socketProtocol(uint32_t flags) {
    if (flags & kSocketIcmp) return 1;
    if (flags & kSocketIgmp) return 2;
    return 0;
}

int bindAny(int fd, uint16_t port) {
    int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    local.sin_port = htons(port);
    return ::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local);
}

}  // namespace

int Connection::openSocket(const String& host, const String& service) {
    if (openCount > 0) disconnect();
    int portNumber = servicePort(service);
    sockaddr_in address{};
    address.sin_port = htons(static_cast<uint16_t>(portNumber));
    for (int attempt = 1; attempt <= kMaxAttempts; ++attempt) {
        resolveHost(host, &address);
        address.sin_port = htons(static_cast<uint16_t>(portNumber));
        int fd = ::socket(AF_INET, socketType(flags), socketProtocol(flags));
        if (fd < 0) return -lastWinsockError();
        handle_ = fd;
        if ((flags & kSocketDatagram) && (flags & (kSocketConnectedDatagram | kSocketBindOnly))) {
            if (bindAny(fd, static_cast<uint16_t>(portNumber)) != 0) {
                int error = lastWinsockError();
                std::fprintf(stderr, "*** bind(IPv4) to fd: %d, port: %d, failed: %d\n", fd,
                             portNumber, error);
                ::close(fd);
                handle_ = -1;
                return -error;
            }
            if (flags & kSocketConnectedDatagram) {
                resolveHost(host, &address);
                ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
            }
            break;
        }
        if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) break;
        int error = lastWinsockError();
        ::close(fd);
        handle_ = -1;
        if (error == kWsaAddressInUse && attempt < kMaxAttempts) continue;
        std::fprintf(stderr, "*** connect(IPv4) to '%s' fd %d failed: %d\n", host.c_str(), fd, error);
        return -error;
    }
    port = static_cast<uint16_t>(portNumber);
    openCount = 1;
    int mode = ::fcntl(handle_, F_GETFL, 0);
    if (mode >= 0)
        ::fcntl(handle_, F_SETFL,
                (flags & kSocketNonBlocking) ? (mode | O_NONBLOCK) : (mode & ~O_NONBLOCK));
    host_ = host;
    service_ = service;
    resetBuffer();
    return 1;
}

int Connection::open(const String& host, const String& service) {
    int result = openSocket(host, service);
    if (result < 1 || !implicitTls_ || (flags & kSocketDatagram)) return result;
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

int Connection::sendCommand(const char* format, ...) {
    va_list args;
    va_start(args, format);
    int result = vsendCommand(format, args);
    va_end(args);
    return result;
}

int Connection::command(const char* format, ...) {
    va_list args;
    va_start(args, format);
    int result = vsendCommand(format, args);
    va_end(args);
    if (result < 1) return result;
    return readReply();
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
    if (trace) echo(buffer.data(), length);
    int sent = send(buffer.data(), static_cast<int>(length));
    if (sent >= 1 && static_cast<size_t>(sent) < length) return 0;
    return sent;
}

void Connection::echo(const char* data, size_t length) {
    std::fwrite(data, 1, length, stdout);
    std::fflush(stdout);
}

}  // namespace qarvel
