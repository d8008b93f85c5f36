// Loading OpenSSL when the first TLS connection starts rather than at program start.
#pragma once

namespace qarvel {

// Loads libssl (and with it libcrypto) once; false after a message on standard error when it
// cannot be loaded.
bool openSslLoaded();

}  // namespace qarvel
