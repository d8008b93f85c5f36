#include "net/tls_layer.h"

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <poll.h>

#include <cerrno>
#include <cstdio>

#include "net/winsock_error.h"

namespace qarvel {

struct TlsLayer::State {
    SSL_CTX* context = nullptr;
    SSL* ssl = nullptr;
    int fd = -1;
    ~State() {
        if (ssl) SSL_free(ssl);
        if (context) SSL_CTX_free(context);
    }
};

namespace {

void printOpenSslErrors(const char* what) {
    unsigned long code = ERR_get_error();
    char text[256];
    if (code == 0) {
        std::fprintf(stderr, "TLS: %s failed\n", what);
        return;
    }
    while (code != 0) {
        ERR_error_string_n(code, text, sizeof text);
        std::fprintf(stderr, "TLS: %s failed: %s\n", what, text);
        code = ERR_get_error();
    }
}

// Waits for the descriptor to become ready for what OpenSSL asked; false on time-out or error.
bool waitFor(int fd, int sslError, int timeoutSeconds) {
    pollfd p{fd, static_cast<short>(sslError == SSL_ERROR_WANT_WRITE ? POLLOUT : POLLIN), 0};
    int ms = timeoutSeconds < 0 ? -1 : timeoutSeconds * 1000;
    int r;
    do {
        r = ::poll(&p, 1, ms);
    } while (r < 0 && errno == EINTR);
    return r > 0;
}

bool looksLikeAddress(const String& host) {
    for (size_t i = 0; i < host.length(); ++i) {
        char c = host[i];
        if (!((c >= '0' && c <= '9') || c == '.' || c == ':')) return false;
    }
    return !host.empty();
}

}  // namespace

TlsLayer::~TlsLayer() = default;

std::unique_ptr<TlsLayer> TlsLayer::connect(int fd, const String& hostName,
                                            const TlsOptions& options, int timeoutSeconds) {
    std::unique_ptr<TlsLayer> layer(new TlsLayer);
    layer->state_ = std::make_unique<State>();
    State& s = *layer->state_;
    s.fd = fd;
    s.context = SSL_CTX_new(TLS_client_method());
    if (!s.context) {
        printOpenSslErrors("context");
        return nullptr;
    }
    SSL_CTX_set_min_proto_version(s.context, TLS1_2_VERSION);
    if (options.insecure) {
        std::fprintf(stderr, "Warning: TLS certificate verification is off (-insecure)\n");
        SSL_CTX_set_verify(s.context, SSL_VERIFY_NONE, nullptr);
    } else {
        SSL_CTX_set_verify(s.context, SSL_VERIFY_PEER, nullptr);
        int loaded = options.caFile.empty()
                         ? SSL_CTX_set_default_verify_paths(s.context)
                         : SSL_CTX_load_verify_locations(s.context, options.caFile.c_str(), nullptr);
        if (loaded != 1) {
            printOpenSslErrors("loading the trusted certificates");
            return nullptr;
        }
    }
    if (!options.certificateFile.empty()) {
        const String& key = options.keyFile.empty() ? options.certificateFile : options.keyFile;
        if (SSL_CTX_use_certificate_chain_file(s.context, options.certificateFile.c_str()) != 1 ||
            SSL_CTX_use_PrivateKey_file(s.context, key.c_str(), SSL_FILETYPE_PEM) != 1) {
            printOpenSslErrors("loading the client certificate");
            return nullptr;
        }
    }
    s.ssl = SSL_new(s.context);
    if (!s.ssl || SSL_set_fd(s.ssl, fd) != 1) {
        printOpenSslErrors("session");
        return nullptr;
    }
    if (!hostName.empty()) {
        if (!looksLikeAddress(hostName)) SSL_set_tlsext_host_name(s.ssl, hostName.c_str());
        if (!options.insecure) {
            X509_VERIFY_PARAM* param = SSL_get0_param(s.ssl);
            if (looksLikeAddress(hostName))
                X509_VERIFY_PARAM_set1_ip_asc(param, hostName.c_str());
            else
                X509_VERIFY_PARAM_set1_host(param, hostName.c_str(), 0);
        }
    }
    for (;;) {
        int r = SSL_connect(s.ssl);
        if (r == 1) break;
        int e = SSL_get_error(s.ssl, r);
        if ((e == SSL_ERROR_WANT_READ || e == SSL_ERROR_WANT_WRITE) &&
            waitFor(fd, e, timeoutSeconds))
            continue;
        long verify = SSL_get_verify_result(s.ssl);
        if (verify != X509_V_OK)
            std::fprintf(stderr, "TLS: certificate of '%s' not accepted: %s\n", hostName.c_str(),
                         X509_verify_cert_error_string(verify));
        else
            printOpenSslErrors("handshake");
        return nullptr;
    }
    if (options.traceLevel > 0)
        std::printf("TLS: %s, cipher %s, peer %s\n", layer->protocol().c_str(),
                    layer->cipher().c_str(), layer->peerSubject().c_str());
    return layer;
}

int TlsLayer::read(char* buffer, int length) {
    if (length < 1) return 0;
    for (;;) {
        int r = SSL_read(state_->ssl, buffer, length);
        if (r > 0) return r;
        int e = SSL_get_error(state_->ssl, r);
        if (e == SSL_ERROR_ZERO_RETURN) return 0;
        if (e == SSL_ERROR_WANT_READ || e == SSL_ERROR_WANT_WRITE) {
            if (waitFor(state_->fd, e, -1)) continue;
            return -kWsaTimedOut;
        }
        if (e == SSL_ERROR_SYSCALL && errno == 0) return 0;  // closed without an alert
        ERR_clear_error();
        return -kWsaConnectionReset;
    }
}

int TlsLayer::write(const char* buffer, int length) {
    int done = 0;
    while (done < length) {
        int r = SSL_write(state_->ssl, buffer + done, length - done);
        if (r > 0) {
            done += r;
            continue;
        }
        int e = SSL_get_error(state_->ssl, r);
        if ((e == SSL_ERROR_WANT_READ || e == SSL_ERROR_WANT_WRITE) && waitFor(state_->fd, e, -1))
            continue;
        ERR_clear_error();
        return -kWsaConnectionReset;
    }
    return done;
}

int TlsLayer::pending() const { return SSL_pending(state_->ssl); }

void TlsLayer::shutdown() {
    SSL_shutdown(state_->ssl);
    ERR_clear_error();
}

String TlsLayer::protocol() const { return SSL_get_version(state_->ssl); }

String TlsLayer::cipher() const { return SSL_get_cipher_name(state_->ssl); }

String TlsLayer::peerSubject() const {
    X509* peer = SSL_get1_peer_certificate(state_->ssl);
    if (!peer) return "(none)";
    char text[512];
    X509_NAME_oneline(X509_get_subject_name(peer), text, sizeof text);
    X509_free(peer);
    return text;
}

}  // namespace qarvel
