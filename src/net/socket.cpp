// Socket: the buffered socket with its time-out, line reading and TLS underneath.
#include "net/socket.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <vector>

#include "net/host_address.h"
#include "net/winsock_error.h"

namespace qarvel {

// The address family of an open descriptor (AF_INET when it cannot be read).
static int socketFamily(int fd) {
    sockaddr_storage local{};
    socklen_t size = sizeof local;
    if (fd < 0 || ::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &size) != 0) return AF_INET;
    return local.ss_family;
}

Socket::Socket(uint32_t modeFlags, char terminator)
    : terminator_(terminator), receiveBuffer_(std::make_unique_for_overwrite<char[]>(kReceiveBufferSize)) {
    flags_ = modeFlags & ~kSocketCleared;
    if (flags_ & (kSocketMulticast | kSocketConnectedDatagram)) flags_ |= kSocketDatagram;
}

Socket::~Socket() { close(); }

void Socket::resetBuffer() {
    bufferedCount_ = 0;
    readPosition_ = nullptr;
}

bool Socket::terminatorBuffered() const {
    return bufferedCount_ > 0 && std::memchr(readPosition_, terminator_, bufferedCount_) != nullptr;
}

int Socket::wait(int seconds, int microseconds, int mode) {
    if (openCount_ < 1) return -1;
    if (mode == 0 || (mode & kWaitReadable)) {
        if (terminatorBuffered()) return 1;
        if (tls_ && tls_->pending() > 0) return 1;
    }
    pollfd p{handle_, 0, 0};
    if (mode == 0 || (mode & kWaitReadable)) p.events |= POLLIN;
    if (mode & kWaitWritable) p.events |= POLLOUT;
    int ms = seconds < 0 ? -1 : seconds * 1000 + microseconds / 1000;
    int r;
    do {
        r = ::poll(&p, 1, ms);
    } while (r < 0 && errno == EINTR);
    if (r < 0) return -lastWinsockError();
    return r;
}

int Socket::waitReadable(int seconds, int microseconds) {
    return wait(seconds, microseconds, kWaitReadable);
}

int Socket::receiveSome(char* buffer, int length) {
    ++receiveCalls_;
    if (tls_) {
        int n = tls_->read(buffer, length);
        if (n > 0) bytesReceived_ += n;
        return n;
    }
    for (;;) {
        ssize_t n = ::recv(handle_, buffer, length, 0);
        if (n >= 0) {
            bytesReceived_ += n;
            return static_cast<int>(n);
        }
        if (errno == EINTR) continue;
        return -lastWinsockError();
    }
}

// With a time-out a plain socket is written without blocking: a peer that stops reading
// fills the buffers, the call reports would-block and send() waits for room at most the
// time-out, instead of blocking in the kernel for as long as the peer holds still.
int Socket::sendSome(const char* buffer, int length) {
    ++sendCalls_;
    if (tls_) return tls_->write(buffer, length);
    int mode = MSG_NOSIGNAL | (timeout_ != -1 ? MSG_DONTWAIT : 0);
    for (;;) {
        ssize_t n = ::send(handle_, buffer, length, mode);
        if (n >= 0) return static_cast<int>(n);
        if (errno != EINTR) return -lastWinsockError();
    }
}

// Whether a wait for input is needed before receiving: bytes inside the TLS layer are ready.
static bool mustWait(const Socket& s, int timeout, const TlsLayer* tls) {
    if (tls && tls->pending() > 0) return false;
    return (s.flags() & kSocketNonBlocking) || timeout != -1;
}

// One receive for read and readLine, after the wait for input that a time-out or non-blocking
// mode asks for. A plain blocking socket is first asked without blocking: while data streams
// in, that is one system call per buffer instead of a wait and a receive; only when nothing is
// there yet does it wait. *waitResult is 1, or the wait's result when it reported nothing
// ready (0 time-out, below 0 error; the receive was then not made).
int Socket::receiveWhenReady(char* buffer, int length, int* waitResult) {
    *waitResult = 1;
    if (!mustWait(*this, timeout_, tls_.get())) return receiveSome(buffer, length);
    if (!tls_ && !(flags_ & kSocketNonBlocking)) {
        for (;;) {
            ssize_t n = ::recv(handle_, buffer, length, MSG_DONTWAIT);
            if (n >= 0) {
                ++receiveCalls_;
                bytesReceived_ += n;
                return static_cast<int>(n);
            }
            if (errno == EINTR) continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK) break;
            ++receiveCalls_;
            return -lastWinsockError();
        }
    }
    int w = wait(timeout_, 0, kWaitReadable | kWaitError);
    if (w <= 0) {
        if (w == 0) timedOut_ = true;
        *waitResult = w;
        return 0;
    }
    return receiveSome(buffer, length);
}

int Socket::read(char* buffer, int length) {
    if (openCount_ < 1) return -kWsaNotConnected;
    if (length < 1) return 0;
    int delivered = 0;
    if (bufferedCount_ > 0) {
        int take = bufferedCount_ < length ? bufferedCount_ : length;
        std::memcpy(buffer, readPosition_, take);
        readPosition_ += take;
        bufferedCount_ -= take;
        delivered = take;
        if (delivered == length) return delivered;
        if (isDatagram()) return delivered;
    }
    while (delivered < length) {
        int wanted = length - delivered;
        bool direct = wanted >= kReceiveBufferSize;
        int w = 1;
        int n = receiveWhenReady(direct ? buffer + delivered : receiveBuffer_.get(), kReceiveBufferSize, &w);
        if (w < 0) return delivered ? delivered : w;
        if (w == 0) return delivered;
        if (direct) {
            if (n > 0) delivered += n;
        } else {
            if (n > 0) {
                int take = n < wanted ? n : wanted;
                std::memcpy(buffer + delivered, receiveBuffer_.get(), take);
                delivered += take;
                // What a datagram brought beyond the request is dropped: the next read is
                // the next datagram.
                bufferedCount_ = isDatagram() ? 0 : n - take;
                readPosition_ = receiveBuffer_.get() + take;
            }
        }
        if (n == 0) return delivered;
        if (n < 0) {
            if (n == -kWsaWouldBlock) return delivered;
            return delivered ? delivered : n;
        }
        if (isDatagram()) return delivered;
    }
    return delivered;
}

int Socket::readLine(char* buffer, int max) {
    if (openCount_ < 1) return -kWsaNotConnected;
    int count = 0;
    while (count < max) {
        if (bufferedCount_ == 0) {
            if (isDatagram() && count > 0) return count;
            int w = 1;
            int n = receiveWhenReady(receiveBuffer_.get(), kReceiveBufferSize, &w);
            if (w <= 0) return count;
            if (n == -kWsaWouldBlock) return count;
            // A reset in the middle of a line is an error, not a shorter line: the piece
            // read so far must not be judged as a reply.
            if (n < 0) return n;
            if (n == 0) return count ? count : -kWsaConnectionReset;
            bufferedCount_ = n;
            readPosition_ = receiveBuffer_.get();
        }
        // Copy up to the terminator in one step.
        int room = max - count;
        int span = bufferedCount_ < room ? bufferedCount_ : room;
        const char* end = static_cast<const char*>(std::memchr(readPosition_, terminator_, span));
        int take = end ? static_cast<int>(end - readPosition_) + 1 : span;
        std::memcpy(buffer + count, readPosition_, take);
        readPosition_ += take;
        bufferedCount_ -= take;
        count += take;
        if (end) {
            ++linesRead_;
            return count;
        }
    }
    return count;
}

int Socket::peekByte(char* out) {
    if (bufferedCount_ == 0) {
        int n = fill();
        if (n == -1) return -1;
        if (n <= 0) return n == 0 ? 0 : n;
    }
    *out = *readPosition_;
    return 1;
}

int Socket::peek(char* buffer, int length) {
    if (openCount_ < 1) return -kWsaNotConnected;
    int seen = bufferedCount_ < length ? bufferedCount_ : length;
    if (seen > 0) std::memcpy(buffer, readPosition_, seen);
    if (seen == length || tls_) return seen;
    if (mustWait(*this, timeout_, nullptr)) {
        int w = wait(timeout_, 0, kWaitReadable | kWaitError);
        if (w == 0) timedOut_ = true;
        if (w == 0) return -1;
        if (w < 0) return w;
    }
    ssize_t n = ::recv(handle_, buffer + seen, length - seen, MSG_PEEK);
    if (n == 0) return -kWsaConnectionReset;
    if (n < 0) return errno == EAGAIN ? seen : -lastWinsockError();
    return seen + static_cast<int>(n);
}

int Socket::fill() {
    if (openCount_ < 1) return -kWsaNotConnected;
    if (bufferedCount_ == 0) readPosition_ = receiveBuffer_.get();
    char* end = readPosition_ + bufferedCount_;
    int room = static_cast<int>(receiveBuffer_.get() + kReceiveBufferSize - end);
    if (room <= 0 && readPosition_ != receiveBuffer_.get()) {
        std::memmove(receiveBuffer_.get(), readPosition_, bufferedCount_);
        readPosition_ = receiveBuffer_.get();
        end = readPosition_ + bufferedCount_;
        room = kReceiveBufferSize - bufferedCount_;
    }
    if (room <= 0) return 0;
    if (mustWait(*this, timeout_, tls_.get())) {
        int w = wait(timeout_, 0, kWaitReadable | kWaitError);
        if (w == 0) timedOut_ = true;
        if (w == 0) return -1;
        if (w < 0) return w;
    }
    int n = receiveSome(end, room);
    if (n > 0) bufferedCount_ += n;
    return n;
}

int Socket::buffered() { return bufferedCount_; }

int Socket::send(const char* buffer, int length) {
    if (length < 1) return 0;
    if (openCount_ < 1) return -kWsaNotConnected;
    int total = 0;
    while (total < length) {
        int n = sendSome(buffer + total, length - total);
        if (n > 0) {
            total += n;
            bytesSentTotal_ += n;
            if (isDatagram()) return total;
            if (total == length) break;
        } else if (n < 0 && n != -kWsaWouldBlock && n != -kWsaInterrupted) {
            return n;
        }
        int w = wait(timeout_, 0, kWaitWritable | kWaitError);
        if (w == 0) timedOut_ = true;
        if (w <= 0) return -1;
    }
    return total;
}

int Socket::sendTo(const char* buffer, int length, const String& host, int toPort) {
    if (!(flags_ & kSocketDatagram) || (flags_ & kSocketConnectedDatagram)) return send(buffer, length);
    if (openCount_ < 1) return -kWsaNotConnected;
    std::vector<ResolvedAddress> addresses;
    int found = resolveAddresses(host, toPort, SOCK_DGRAM, addresses);
    if (found < 1) return found;
    // The socket has one family: the first address of that family is the one sent to.
    const int family = socketFamily(handle_);
    const ResolvedAddress* to = &addresses.front();
    for (const ResolvedAddress& a : addresses)
        if (a.family() == family) {
            to = &a;
            break;
        }
    ssize_t n = ::sendto(handle_, buffer, length, 0, reinterpret_cast<const sockaddr*>(&to->address), to->length);
    if (n < 0) return -lastWinsockError();
    bytesSentTotal_ += n;
    return static_cast<int>(n);
}

int Socket::close() {
    if (tls_) {
        if (openCount_ > 0) tls_->shutdown();
        tls_.reset();
    }
    for (int* h : {&secondHandle_, &handle_}) {
        if (*h >= 0 && openCount_ > 0) {
            ::shutdown(*h, SHUT_RDWR);
            ::close(*h);
            --openCount_;
        }
        *h = -1;
    }
    openCount_ = 0;
    resetBuffer();
    return 1;
}

int Socket::startTls(const String& host) {
    if (openCount_ < 1) return -1;
    if (tls_) return 1;
    if (bufferedCount_ > 0) {
        // Bytes after the server's go-ahead would be plaintext injected before the handshake.
        std::fprintf(stderr, "TLS: unexpected data before the handshake\n");
        return -1;
    }
    tls_ = TlsLayer::connect(handle_, host, tlsOptions_, timeout_);
    tlsFailed_ = !tls_;
    return tls_ ? 1 : -1;
}

String Socket::localName() {
    sockaddr_storage local{};
    socklen_t size = sizeof local;
    if (handle_ >= 0 && ::getsockname(handle_, reinterpret_cast<sockaddr*>(&local), &size) == 0) {
        char host[NI_MAXHOST];
        if (::getnameinfo(reinterpret_cast<sockaddr*>(&local), size, host, sizeof host, nullptr, 0,
                          NI_NAMEREQD) == 0)
            return host;
    }
    return localHostName();
}

String Socket::localAddressLiteral() {
    sockaddr_storage local{};
    socklen_t size = sizeof local;
    if (handle_ < 0 || ::getsockname(handle_, reinterpret_cast<sockaddr*>(&local), &size) != 0) return String();
    return addressLiteral(reinterpret_cast<sockaddr*>(&local), size);
}

void Socket::holdOutput(bool hold) {
    if (handle_ < 0) return;
    int on = hold ? 1 : 0;
    ::setsockopt(handle_, IPPROTO_TCP, TCP_CORK, &on, sizeof on);  // not a stream socket: no effect
}

int Socket::setMulticastOptions(int ttl, int loop) {
    if (!(flags_ & kSocketDatagram) || (flags_ & kSocketConnectedDatagram) || handle_ < 0) return -1;
    if (socketFamily(handle_) == AF_INET6) {
        ::setsockopt(handle_, IPPROTO_IPV6, IPV6_MULTICAST_LOOP, &loop, sizeof loop);
        return ::setsockopt(handle_, IPPROTO_IPV6, IPV6_MULTICAST_HOPS, &ttl, sizeof ttl);
    }
    unsigned char loopValue = static_cast<unsigned char>(loop);
    unsigned char ttlValue = static_cast<unsigned char>(ttl);
    ::setsockopt(handle_, IPPROTO_IP, IP_MULTICAST_LOOP, &loopValue, sizeof loopValue);
    return ::setsockopt(handle_, IPPROTO_IP, IP_MULTICAST_TTL, &ttlValue, sizeof ttlValue);
}

// The IPv6 interface named by an address of it ("::1"), its name ("lo") or its index; 0 (any)
// when nothing matches.
static unsigned ipv6InterfaceIndex(const String& text) {
    if (text.empty()) return 0;
    if (unsigned byName = ::if_nametoindex(text.c_str())) return byName;
    if (text[0] >= '1' && text[0] <= '9' && text.find(':') == String::npos)
        return static_cast<unsigned>(std::strtoul(text.c_str(), nullptr, 10));
    in6_addr wanted{};
    if (::inet_pton(AF_INET6, unbracketed(text.view()).c_str(), &wanted) != 1) return 0;
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0) return 0;
    unsigned index = 0;
    for (ifaddrs* i = list; i && !index; i = i->ifa_next)
        if (i->ifa_addr && i->ifa_addr->sa_family == AF_INET6 &&
            std::memcmp(&reinterpret_cast<sockaddr_in6*>(i->ifa_addr)->sin6_addr, &wanted, sizeof wanted) == 0)
            index = ::if_nametoindex(i->ifa_name);
    ::freeifaddrs(list);
    return index;
}

int Socket::joinGroup(const String& group, const String& service, const String& interfaceAddress) {
    (void)service;
    if (!(flags_ & kSocketDatagram) || handle_ < 0) return -1;
    std::vector<ResolvedAddress> addresses;
    if (resolveAddresses(group, 0, SOCK_DGRAM, addresses) < 1) return -1;
    const ResolvedAddress& g = addresses.front();
    if (g.family() == AF_INET6) {
        ipv6_mreq request{};
        request.ipv6mr_multiaddr = reinterpret_cast<const sockaddr_in6*>(&g.address)->sin6_addr;
        request.ipv6mr_interface = ipv6InterfaceIndex(interfaceAddress);
        // Announcements go out on the joined interface too.
        unsigned index = request.ipv6mr_interface;
        if (index) ::setsockopt(handle_, IPPROTO_IPV6, IPV6_MULTICAST_IF, &index, sizeof index);
        return ::setsockopt(handle_, IPPROTO_IPV6, IPV6_JOIN_GROUP, &request, sizeof request);
    }
    ip_mreq request{};
    request.imr_multiaddr = reinterpret_cast<const sockaddr_in*>(&g.address)->sin_addr;
    request.imr_interface.s_addr =
        interfaceAddress.empty() ? htonl(INADDR_ANY) : inet_addr(interfaceAddress.c_str());
    return ::setsockopt(handle_, IPPROTO_IP, IP_ADD_MEMBERSHIP, &request, sizeof request);
}

String localHostName() {
    char name[256];
    if (::gethostname(name, sizeof name) != 0) return "localhost";
    name[sizeof name - 1] = '\0';
    return name;
}

int servicePort(const String& name) {
    if (name.empty()) return 0;
    const std::string_view text = name.view();
    if (text.find_first_not_of("0123456789") == std::string_view::npos) {
        const long number = text.size() > 5 ? 0 : std::strtol(name.c_str(), nullptr, 10);
        return text.size() <= 5 && number <= 65535 ? static_cast<int>(number) : -1;
    }
    servent* entry = ::getservbyname(name.c_str(), "tcp");
    return entry ? ntohs(static_cast<uint16_t>(entry->s_port)) : -1;
}

}  // namespace qarvel
