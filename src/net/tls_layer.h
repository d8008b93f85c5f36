// The encryption under a Socket. A Socket that has a TlsLayer reads and writes through it, so no
// protocol class knows whether its connection is encrypted: implicit TLS starts it right after
// connecting, STARTTLS/STLS start it on an open connection after the server agreed.
#pragma once

#include <memory>

#include "base/string.h"

namespace qarvel {

// How a TLS client checks its peer and presents itself.
struct TlsOptions {
    String caFile;             // trust this bundle instead of the system store
    String certificateFile;    // client certificate (PEM); its key may be in the same file
    String keyFile;            // the client key when it is not in the certificate file
    bool insecure = false;     // skip verification of the server's certificate (warned about)
    int traceLevel = 0;        // 1 or more: report protocol, cipher and peer subject

    bool operator==(const TlsOptions&) const = default;
};

class TlsLayer {
public:
    ~TlsLayer();
    TlsLayer(const TlsLayer&) = delete;
    TlsLayer& operator=(const TlsLayer&) = delete;

    // Runs the client handshake on the connected descriptor fd, checking the certificate against
    // hostName. timeoutSeconds < 0 waits without limit. Returns the layer, or null after writing
    // the reason to standard error.
    static std::unique_ptr<TlsLayer> connect(int fd, const String& hostName,
                                             const TlsOptions& options, int timeoutSeconds);

    // Reads up to length bytes: the count, 0 when the peer closed, a negative Winsock error.
    int read(char* buffer, int length);
    // Writes all bytes: the count, or a negative Winsock error.
    int write(const char* buffer, int length);
    // Bytes already decrypted and waiting inside the layer.
    int pending() const;
    // Sends the closing alert (best effort).
    void shutdown();

    String protocol() const;
    String cipher() const;
    String peerSubject() const;

private:
    TlsLayer() = default;
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace qarvel
