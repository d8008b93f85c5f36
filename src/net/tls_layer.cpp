// TlsLayer: the OpenSSL encryption under a Socket.
#include "net/tls_layer.h"

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstdio>

#include "net/host_address.h"
#include "net/openssl_on_demand.h"
#include "net/winsock_error.h"

namespace qarvel {

struct TlsLayer::State {
    SSL_CTX* context = nullptr;
    SSL* ssl = nullptr;
    int fd = -1;
    int timeoutSeconds = -1;
    // What the verification said about the first certificate it refused.
    String refusedDetail;
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

// The socket BIO writes with write(2), which raises SIGPIPE when the peer has gone; this
// method set is the socket BIO with its write replaced by send(MSG_NOSIGNAL), so a closed
// peer shows up as an error result like on a plain connection.
int sendNoSignal(BIO* bio, const char* data, int length) {
    int fd = -1;
    BIO_get_fd(bio, &fd);
    BIO_clear_retry_flags(bio);
    ssize_t n;
    do {
        n = ::send(fd, data, static_cast<size_t>(length), MSG_NOSIGNAL);
    } while (n < 0 && errno == EINTR);
    if (n < 0 && BIO_sock_should_retry(-1)) BIO_set_retry_write(bio);
    return static_cast<int>(n);
}

const BIO_METHOD* socketMethod() {
    static BIO_METHOD* method = [] {
        const BIO_METHOD* base = BIO_s_socket();
        BIO_METHOD* m = BIO_meth_new(BIO_TYPE_SOCKET, "socket without SIGPIPE");
        BIO_meth_set_write(m, sendNoSignal);
        BIO_meth_set_read(m, BIO_meth_get_read(base));
        BIO_meth_set_puts(m, BIO_meth_get_puts(base));
        BIO_meth_set_ctrl(m, BIO_meth_get_ctrl(base));
        BIO_meth_set_create(m, BIO_meth_get_create(base));
        BIO_meth_set_destroy(m, BIO_meth_get_destroy(base));
        return m;
    }();
    return method;
}

String nameText(const X509_NAME* name) {
    char text[512];
    X509_NAME_oneline(name, text, sizeof text);
    return text;
}

String timeText(const ASN1_TIME* when) {
    BIO* out = BIO_new(BIO_s_mem());
    ASN1_TIME_print(out, when);
    char* data = nullptr;
    long length = BIO_get_mem_data(out, &data);
    String text(data, static_cast<size_t>(length));
    BIO_free(out);
    return text;
}

// The names a certificate is good for: its DNS and IP alternative names, else its subject.
String certificateNames(X509* certificate) {
    String names;
    auto* list = static_cast<GENERAL_NAMES*>(
        X509_get_ext_d2i(certificate, NID_subject_alt_name, nullptr, nullptr));
    for (int i = 0; list && i < sk_GENERAL_NAME_num(list); ++i) {
        const GENERAL_NAME* name = sk_GENERAL_NAME_value(list, i);
        String one;
        if (name->type == GEN_DNS) {
            one = String(reinterpret_cast<const char*>(ASN1_STRING_get0_data(name->d.dNSName)),
                         static_cast<size_t>(ASN1_STRING_length(name->d.dNSName)));
        } else if (name->type == GEN_IPADD && ASN1_STRING_length(name->d.iPAddress) == 4) {
            const unsigned char* a = ASN1_STRING_get0_data(name->d.iPAddress);
            char text[16];
            std::snprintf(text, sizeof text, "%u.%u.%u.%u", a[0], a[1], a[2], a[3]);
            one = text;
        }
        if (one.empty()) continue;
        if (!names.empty()) names += ", ";
        names += one;
    }
    GENERAL_NAMES_free(list);
    return names.empty() ? nameText(X509_get_subject_name(certificate)) : names;
}

// Keeps a readable account of the first refusal: which certificate and why it is not good.
int noteRefusal(int ok, X509_STORE_CTX* store) {
    if (ok) return ok;
    auto* ssl = static_cast<SSL*>(
        X509_STORE_CTX_get_ex_data(store, SSL_get_ex_data_X509_STORE_CTX_idx()));
    auto* state = ssl ? static_cast<String*>(SSL_get_app_data(ssl)) : nullptr;
    X509* certificate = X509_STORE_CTX_get_current_cert(store);
    if (!state || !state->empty() || !certificate) return ok;
    String subject = nameText(X509_get_subject_name(certificate));
    switch (X509_STORE_CTX_get_error(store)) {
        case X509_V_ERR_CERT_HAS_EXPIRED:
            *state = subject + " expired on " + timeText(X509_get0_notAfter(certificate));
            break;
        case X509_V_ERR_CERT_NOT_YET_VALID:
            *state = subject + " is not valid before " + timeText(X509_get0_notBefore(certificate));
            break;
        case X509_V_ERR_HOSTNAME_MISMATCH:
        case X509_V_ERR_IP_ADDRESS_MISMATCH:
            *state = "the certificate is for " + certificateNames(certificate);
            break;
        case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
        case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
        case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
        case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
        case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
            *state = "issuer " + nameText(X509_get_issuer_name(certificate)) +
                     " is not trusted; name the file of its CA with -cafile:";
            break;
        default:
            *state = subject;
    }
    return ok;
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

std::unique_ptr<TlsLayer> TlsLayer::connect(int fd, const String& namedHost,
                                            const TlsOptions& options, int timeoutSeconds) {
    // The certificate names the host itself: an address without its brackets ("[::1]") and
    // without its zone ("fe80::1%eth0").
    String hostName = unbracketed(namedHost.view());
    if (size_t zone = hostName.find('%'); zone != String::npos && looksLikeAddress(String(hostName, 0, zone)))
        hostName = String(hostName, 0, zone);
    if (!openSslLoaded()) return nullptr;
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
        SSL_CTX_set_verify(s.context, SSL_VERIFY_PEER, noteRefusal);
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
    BIO* bio = s.ssl ? BIO_new(socketMethod()) : nullptr;
    if (!bio) {
        printOpenSslErrors("session");
        return nullptr;
    }
    BIO_set_fd(bio, fd, BIO_NOCLOSE);
    SSL_set_bio(s.ssl, bio, bio);
    SSL_set_app_data(s.ssl, &s.refusedDetail);
    s.timeoutSeconds = timeoutSeconds;
    // OpenSSL calls stay non-blocking, so every wait goes through waitFor and its time-out.
    int mode = ::fcntl(fd, F_GETFL, 0);
    if (mode >= 0) ::fcntl(fd, F_SETFL, mode | O_NONBLOCK);
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
        if (e == SSL_ERROR_WANT_READ || e == SSL_ERROR_WANT_WRITE) {
            if (waitFor(fd, e, timeoutSeconds)) continue;
            std::fprintf(stderr, "TLS: handshake with '%s' timed out\n", hostName.c_str());
            return nullptr;
        }
        long verify = SSL_get_verify_result(s.ssl);
        if (!options.insecure && verify != X509_V_OK) {
            std::fprintf(stderr, "TLS: certificate of '%s' not accepted: %s", hostName.c_str(),
                         X509_verify_cert_error_string(verify));
            if (!s.refusedDetail.empty()) std::fprintf(stderr, " (%s)", s.refusedDetail.c_str());
            std::fputc('\n', stderr);
            ERR_clear_error();
        } else if (ERR_peek_error() == 0 ||
                   ERR_GET_REASON(ERR_peek_error()) == SSL_R_UNEXPECTED_EOF_WHILE_READING) {
            ERR_clear_error();
            std::fprintf(stderr, "TLS: handshake with '%s' failed: the connection was closed\n",
                         hostName.c_str());
        } else {
            printOpenSslErrors("handshake");
        }
        return nullptr;
    }
    if (options.traceLevel > 0) {
        std::printf("TLS: %s, cipher %s, peer %s, %s\n", layer->protocol().c_str(),
                    layer->cipher().c_str(), layer->peerSubject().c_str(),
                    options.insecure ? "not verified" : "verified");
        std::fflush(stdout);
    }
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
            if (waitFor(state_->fd, e, state_->timeoutSeconds)) continue;
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
        if (e == SSL_ERROR_WANT_READ || e == SSL_ERROR_WANT_WRITE) {
            if (waitFor(state_->fd, e, state_->timeoutSeconds)) continue;
            return -kWsaTimedOut;
        }
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
    X509* peer = SSL_get0_peer_certificate(state_->ssl);
    return peer ? nameText(X509_get_subject_name(peer)) : String("(none)");
}

}  // namespace qarvel
