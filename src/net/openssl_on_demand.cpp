// OpenSSL loaded on first use: the TLS layer's calls (and the version report's) into libssl and libcrypto land on the
// stand-ins below, and the first of them loads the library, so that a run that never starts
// TLS does not map and relocate it at start-up.
//
// Each stand-in has the library function's own name and signature (the OpenSSL headers are
// included, so a signature that differs from the library's does not compile) and forwards to
// the function of that name in the loaded library. TlsLayer::connect calls openSslLoaded()
// before anything else, so the stand-ins never run without the library.
#include "net/openssl_on_demand.h"

#include <dlfcn.h>
#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <cstdio>
#include <cstdlib>

#ifndef QARVEL_LIBSSL
#define QARVEL_LIBSSL "libssl.so.3"
#endif

namespace qarvel {

namespace {

// libssl brings libcrypto in as its dependency; dlsym on its handle finds both.
void* library() {
    static void* handle = ::dlopen(QARVEL_LIBSSL, RTLD_NOW | RTLD_LOCAL);
    return handle;
}

void* function(const char* name) {
    void* address = library() ? ::dlsym(library(), name) : nullptr;
    if (!address) {
        // Only when the installed library lacks a function it was built against.
        std::fprintf(stderr, "TLS: %s not found in %s\n", name, QARVEL_LIBSSL);
        std::abort();
    }
    return address;
}

}  // namespace

bool openSslLoaded() {
    if (library()) return true;
    const char* why = ::dlerror();
    std::fprintf(stderr, "TLS: could not load %s: %s\n", QARVEL_LIBSSL, why ? why : "not found");
    return false;
}

}  // namespace qarvel

using BioCreate = int (*)(BIO*);
using BioCtrl = long (*)(BIO*, int, long, void*);
using BioPuts = int (*)(BIO*, const char*);
using BioRead = int (*)(BIO*, char*, int);
using BioWrite = int (*)(BIO*, const char*, int);

// One line per function: result, name, parameters, arguments.
#define QARVEL_OPENSSL_FUNCTIONS(F)                                                              \
    F(const char*, OpenSSL_version, (int type), (type))                                          \
    F(const unsigned char*, ASN1_STRING_get0_data, (const ASN1_STRING* x), (x))                  \
    F(int, ASN1_STRING_length, (const ASN1_STRING* x), (x))                                      \
    F(int, ASN1_TIME_print, (BIO* b, const ASN1_TIME* t), (b, t))                                \
    F(void, BIO_clear_flags, (BIO* b, int flags), (b, flags))                                    \
    F(void, BIO_set_flags, (BIO* b, int flags), (b, flags))                                      \
    F(long, BIO_ctrl, (BIO* b, int cmd, long larg, void* parg), (b, cmd, larg, parg))            \
    F(long, BIO_int_ctrl, (BIO* b, int cmd, long larg, int iarg), (b, cmd, larg, iarg))          \
    F(int, BIO_free, (BIO* b), (b))                                                              \
    F(BioCreate, BIO_meth_get_create, (const BIO_METHOD* m), (m))                                \
    F(BioCtrl, BIO_meth_get_ctrl, (const BIO_METHOD* m), (m))                                    \
    F(BioCreate, BIO_meth_get_destroy, (const BIO_METHOD* m), (m))                               \
    F(BioPuts, BIO_meth_get_puts, (const BIO_METHOD* m), (m))                                    \
    F(BioRead, BIO_meth_get_read, (const BIO_METHOD* m), (m))                                    \
    F(BIO_METHOD*, BIO_meth_new, (int type, const char* name), (type, name))                     \
    F(int, BIO_meth_set_create, (BIO_METHOD* m, BioCreate f), (m, f))                            \
    F(int, BIO_meth_set_ctrl, (BIO_METHOD* m, BioCtrl f), (m, f))                                \
    F(int, BIO_meth_set_destroy, (BIO_METHOD* m, BioCreate f), (m, f))                           \
    F(int, BIO_meth_set_puts, (BIO_METHOD* m, BioPuts f), (m, f))                                \
    F(int, BIO_meth_set_read, (BIO_METHOD* m, BioRead f), (m, f))                                \
    F(int, BIO_meth_set_write, (BIO_METHOD* m, BioWrite f), (m, f))                              \
    F(BIO*, BIO_new, (const BIO_METHOD* m), (m))                                                 \
    F(const BIO_METHOD*, BIO_s_mem, (void), ())                                                  \
    F(const BIO_METHOD*, BIO_s_socket, (void), ())                                               \
    F(int, BIO_sock_should_retry, (int i), (i))                                                  \
    F(void, ERR_clear_error, (void), ())                                                         \
    F(void, ERR_error_string_n, (unsigned long e, char* text, size_t n), (e, text, n))           \
    F(unsigned long, ERR_get_error, (void), ())                                                  \
    F(unsigned long, ERR_peek_error, (void), ())                                                 \
    F(void, GENERAL_NAMES_free, (GENERAL_NAMES* names), (names))                                 \
    F(int, OPENSSL_sk_num, (const OPENSSL_STACK* s), (s))                                        \
    F(void*, OPENSSL_sk_value, (const OPENSSL_STACK* s, int i), (s, i))                          \
    F(const char*, SSL_CIPHER_get_name, (const SSL_CIPHER* c), (c))                              \
    F(long, SSL_CTX_ctrl, (SSL_CTX* c, int cmd, long larg, void* parg), (c, cmd, larg, parg))    \
    F(void, SSL_CTX_free, (SSL_CTX* c), (c))                                                     \
    F(int, SSL_CTX_load_verify_locations, (SSL_CTX* c, const char* f, const char* d), (c, f, d)) \
    F(SSL_CTX*, SSL_CTX_new, (const SSL_METHOD* m), (m))                                         \
    F(int, SSL_CTX_set_default_verify_paths, (SSL_CTX* c), (c))                                  \
    F(void, SSL_CTX_set_verify, (SSL_CTX* c, int mode, SSL_verify_cb f), (c, mode, f))           \
    F(int, SSL_CTX_use_PrivateKey_file, (SSL_CTX* c, const char* f, int type), (c, f, type))     \
    F(int, SSL_CTX_use_certificate_chain_file, (SSL_CTX* c, const char* f), (c, f))              \
    F(int, SSL_connect, (SSL* s), (s))                                                           \
    F(long, SSL_ctrl, (SSL* s, int cmd, long larg, void* parg), (s, cmd, larg, parg))            \
    F(void, SSL_free, (SSL* s), (s))                                                             \
    F(X509_VERIFY_PARAM*, SSL_get0_param, (SSL* s), (s))                                         \
    F(X509*, SSL_get0_peer_certificate, (const SSL* s), (s))                                     \
    F(const SSL_CIPHER*, SSL_get_current_cipher, (const SSL* s), (s))                            \
    F(int, SSL_get_error, (const SSL* s, int r), (s, r))                                         \
    F(void*, SSL_get_ex_data, (const SSL* s, int i), (s, i))                                     \
    F(int, SSL_get_ex_data_X509_STORE_CTX_idx, (void), ())                                       \
    F(long, SSL_get_verify_result, (const SSL* s), (s))                                          \
    F(const char*, SSL_get_version, (const SSL* s), (s))                                         \
    F(SSL*, SSL_new, (SSL_CTX* c), (c))                                                          \
    F(int, SSL_pending, (const SSL* s), (s))                                                     \
    F(int, SSL_read, (SSL* s, void* b, int n), (s, b, n))                                        \
    F(void, SSL_set_bio, (SSL* s, BIO* r, BIO* w), (s, r, w))                                    \
    F(int, SSL_set_ex_data, (SSL* s, int i, void* d), (s, i, d))                                 \
    F(int, SSL_shutdown, (SSL* s), (s))                                                          \
    F(int, SSL_write, (SSL* s, const void* b, int n), (s, b, n))                                 \
    F(const SSL_METHOD*, TLS_client_method, (void), ())                                          \
    F(char*, X509_NAME_oneline, (const X509_NAME* a, char* b, int n), (a, b, n))                 \
    F(X509*, X509_STORE_CTX_get_current_cert, (const X509_STORE_CTX* c), (c))                    \
    F(int, X509_STORE_CTX_get_error, (const X509_STORE_CTX* c), (c))                             \
    F(void*, X509_STORE_CTX_get_ex_data, (const X509_STORE_CTX* c, int i), (c, i))               \
    F(int, X509_VERIFY_PARAM_set1_host, (X509_VERIFY_PARAM* p, const char* n, size_t l), (p, n, l)) \
    F(int, X509_VERIFY_PARAM_set1_ip_asc, (X509_VERIFY_PARAM* p, const char* a), (p, a))         \
    F(const ASN1_TIME*, X509_get0_notAfter, (const X509* x), (x))                                \
    F(const ASN1_TIME*, X509_get0_notBefore, (const X509* x), (x))                               \
    F(void*, X509_get_ext_d2i, (const X509* x, int nid, int* crit, int* idx), (x, nid, crit, idx)) \
    F(X509_NAME*, X509_get_issuer_name, (const X509* x), (x))                                    \
    F(X509_NAME*, X509_get_subject_name, (const X509* x), (x))                                   \
    F(const char*, X509_verify_cert_error_string, (long n), (n))

#define QARVEL_FORWARD(result, name, parameters, arguments)                                  \
    extern "C" result name parameters {                                                      \
        static const auto real = reinterpret_cast<decltype(&name)>(qarvel::function(#name)); \
        return real arguments;                                                               \
    }
QARVEL_OPENSSL_FUNCTIONS(QARVEL_FORWARD)
