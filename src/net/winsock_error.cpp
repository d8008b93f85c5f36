#include "net/winsock_error.h"

#include <cerrno>

namespace qarvel {

namespace {

struct ErrorPair {
    int posix;
    int winsock;
};

constexpr ErrorPair kErrorTable[] = {
    {EINTR, kWsaInterrupted},
    {EBADF, 10009},
    {EACCES, 10013},
    {EFAULT, 10014},
    {EINVAL, 10022},
    {EMFILE, 10024},
    {EAGAIN, kWsaWouldBlock},
    {EINPROGRESS, 10036},
    {EALREADY, 10037},
    {ENOTSOCK, 10038},
    {EDESTADDRREQ, 10039},
    {EMSGSIZE, 10040},
    {EPROTOTYPE, 10041},
    {ENOPROTOOPT, 10042},
    {EPROTONOSUPPORT, 10043},
    {EOPNOTSUPP, 10045},
    {EAFNOSUPPORT, 10047},
    {EADDRINUSE, kWsaAddressInUse},
    {EADDRNOTAVAIL, 10049},
    {ENETDOWN, 10050},
    {ENETUNREACH, kWsaNetworkUnreachable},
    {ENETRESET, 10052},
    {ECONNABORTED, kWsaConnectionAborted},
    {ECONNRESET, kWsaConnectionReset},
    {EPIPE, kWsaConnectionReset},
    {ENOBUFS, 10055},
    {EISCONN, 10056},
    {ENOTCONN, kWsaNotConnected},
    {ESHUTDOWN, 10058},
    {ETIMEDOUT, kWsaTimedOut},
    {ECONNREFUSED, kWsaConnectionRefused},
    {EHOSTDOWN, 10064},
    {EHOSTUNREACH, kWsaHostUnreachable},
};

}  // namespace

int winsockError(int posixErrno) {
    for (const ErrorPair& pair : kErrorTable)
        if (pair.posix == posixErrno) return pair.winsock;
    return kWsaConnectionAborted;
}

int lastWinsockError() { return winsockError(errno); }

}  // namespace qarvel
