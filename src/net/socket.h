// Socket: one network socket with a 64 KiB receive buffer, a time-out in seconds, line
// reading and byte counters. Every protocol class reaches the network through it (by way of
// Connection). Results: above 0 success, 0 closed or timed out with nothing read, below 0 a
// negated Winsock error number (see net/winsock_error.h).
//
// When a TLS layer is active (implicit TLS after connecting, or startTls on an open
// connection) every read and write goes through it; callers cannot tell the difference.
#pragma once

#include <cstdint>
#include <memory>

#include "base/string.h"
#include "net/tls_layer.h"

namespace qarvel {

// Mode bits fixed at construction.
constexpr uint32_t kSocketNonBlocking = 0x1;
constexpr uint32_t kSocketCleared = 0x2;
constexpr uint32_t kSocketDatagram = 0x10;
constexpr uint32_t kSocketMulticast = 0x20;
constexpr uint32_t kSocketRaw = 0x40;
constexpr uint32_t kSocketIcmp = 0x100;
constexpr uint32_t kSocketIgmp = 0x200;
constexpr uint32_t kSocketConnectedDatagram = 0x400;
constexpr uint32_t kSocketBindOnly = 0x2000;

// Wait modes.
constexpr int kWaitReadable = 1;
constexpr int kWaitWritable = 2;
constexpr int kWaitError = 4;

// The most one receive takes. A read size only: nothing on the wire depends on it, and a
// datagram longer than a read is cut as the system cuts it.
constexpr int kReceiveBufferSize = 64 * 1024;

class Socket {
public:
    explicit Socket(uint32_t flags = 0, char terminator = '\n');
    virtual ~Socket();
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;

    virtual int waitReadable(int seconds, int microseconds);
    // Up to length bytes: the count, 0 at end of stream or time-out with nothing read.
    virtual int read(char* buffer, int length);
    // Bytes up to and including the terminator, at most max (not NUL-terminated).
    virtual int readLine(char* buffer, int max);
    // The next byte without consuming it: 1, 0 at end of stream, -1 on time-out.
    virtual int peekByte(char* out);
    // Copies buffered bytes (and what is waiting) without consuming them.
    virtual int peek(char* buffer, int length);
    // Sends all bytes: the count, 0 for length < 1, -1 on a write time-out.
    virtual int send(const char* buffer, int length);
    virtual int sendTo(const char* buffer, int length, const String& host, int port);
    virtual int close();
    virtual int buffered();
    // The received bytes not yet read, without receiving more: a view of the buffer, valid
    // until the next read (0 when it is empty). consume takes n of them, as a read would.
    virtual size_t bufferedView(const char** data) {
        *data = readPosition_;
        return bufferedCount_ > 0 ? static_cast<size_t>(bufferedCount_) : 0;
    }
    virtual void consume(size_t n) {
        readPosition_ += n;
        bufferedCount_ -= static_cast<int>(n);
    }
    // Receives into the free part of the buffer: the count, 0 at end of stream.
    virtual int fill();

    // While held, small sends are gathered into full packets and go out when released: a
    // group of pipelined commands leaves as one segment instead of waiting on each other.
    void holdOutput(bool hold);

    // select-like wait: above 0 ready, 0 time-out, below 0 error; seconds < 0 waits forever.
    int wait(int seconds, int microseconds, int mode);
    // Host name of the local end (reverse look-up), else the local host name.
    String localName();
    // The local address as an SMTP address literal ("[127.0.0.1]", "[IPv6:::1]"); empty when
    // the socket is not open.
    String localAddressLiteral();
    int setMulticastOptions(int ttl, int loop);
    int joinGroup(const String& group, const String& service, const String& interfaceAddress);

    // TLS: options used by implicit TLS and startTls.
    void setTlsOptions(const TlsOptions& options) { tlsOptions_ = options; }
    const TlsOptions& tlsOptions() const { return tlsOptions_; }
    // Starts TLS on the open connection (after the server agreed to STARTTLS or STLS),
    // checking the certificate against host. 1 on success, -1 after a message on stderr.
    int startTls(const String& host);
    bool encrypted() const { return tls_ != nullptr; }

    // The result a failure line reports: a failure that came from a time-out (connect, read or
    // write) is -10060, whatever the operation returned; others stay as they are.
    int failureCode(int result) const { return (result < 1 && timedOut_) ? -10060 : result; }
    // The TLS handshake failed since the last open (a certificate not trusted, no common
    // protocol): a failure that trying again later does not mend.
    bool tlsFailed() const { return tlsFailed_; }

    uint64_t bytesReceived() const { return bytesReceived_; }
    uint64_t bytesSentTotal() const { return bytesSentTotal_; }

    bool isOpen() const { return openCount_ > 0; }
    // Seconds each wait takes at most; -1 waits without limit.
    int timeout() const { return timeout_; }
    void setTimeout(int seconds) { timeout_ = seconds; }
    uint32_t flags() const { return flags_; }

protected:
    // The descriptor was connected or bound (Connection::open); a test socket marks itself.
    void markOpen(bool open = true) { openCount_ = open ? 1 : 0; }
    // One receive from the descriptor or the TLS layer: count, 0 closed, negated error.
    int receiveSome(char* buffer, int length);
    // receiveSome after the wait for input that the time-out or mode asks for (socket.cpp).
    int receiveWhenReady(char* buffer, int length, int* waitResult);
    // One send call: count, or negated error (kWsaWouldBlock and kWsaInterrupted included).
    int sendSome(const char* buffer, int length);
    bool isDatagram() const { return (flags_ & (kSocketDatagram | kSocketRaw)) != 0; }
    bool terminatorBuffered() const;
    void resetBuffer();

    int handle_ = -1;
    int secondHandle_ = -1;
    bool timedOut_ = false;  // a wait ran out since the last open
    bool tlsFailed_ = false;  // a handshake failed since the last open
    int bufferedCount_ = 0;
    char* readPosition_ = nullptr;
    char terminator_;
    uint64_t bytesReceived_ = 0, bytesSentTotal_ = 0;
    uint32_t receiveCalls_ = 0, linesRead_ = 0, sendCalls_ = 0;
    std::unique_ptr<char[]> receiveBuffer_;
    TlsOptions tlsOptions_;
    std::unique_ptr<TlsLayer> tls_;

private:
    uint32_t flags_ = 0;
    int openCount_ = 0;
    int timeout_ = -1;
};

// The local host name, "localhost" when it cannot be read.
String localHostName();
// The port of a service: its number (digits only, at most 65535; 0 is any port), else the tcp
// service of that name; 0 for an empty name, -1 for anything else (a negative number, one past
// 65535, an unknown name).
int servicePort(const String& name);

}  // namespace qarvel
