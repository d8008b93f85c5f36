// Connection: a Socket that opens a connection (or a datagram binding) to a host and a service.
// Every protocol class derives from it. With implicit TLS on, a successful open is followed at
// once by the TLS handshake, so the protocol on top sees only plaintext.
#pragma once

#include "net/socket.h"

namespace qarvel {

class Connection : public Socket {
public:
    explicit Connection(uint32_t flags = 0, char terminator = '\n') : Socket(flags, terminator) {}

    // Connect and hand the peer data in the same step; what the peer answers is buffered.
    virtual int openWithData(const String& host, const String& service, const char* data,
                             int length);
    // Connect or bind: 1 on success, the negated Winsock error on failure.
    virtual int open(const String& host, const String& service);
    // Ends the session; here it only closes. Session classes override it.
    virtual int disconnect() { return close(); }

    // Start TLS right after every successful open (-ssl).
    void setImplicitTls(bool on) { implicitTls_ = on; }
    bool implicitTls() const { return implicitTls_; }

    const String& connectedHost() const { return host_; }
    const String& connectedService() const { return service_; }

private:
    int openSocket(const String& host, const String& service);

    String host_, service_;
    bool implicitTls_ = false;
};

}  // namespace qarvel
