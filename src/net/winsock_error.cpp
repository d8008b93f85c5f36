// The errno and resolver tables behind the Winsock numbers, and their words.
#include "net/winsock_error.h"

#include <netdb.h>

#include <cerrno>

namespace qarvel {

namespace {

struct ErrorEntry {
    int posix;      // errno value; 0 for numbers only the resolver gives
    int winsock;
    const char* words;
};

// Several errno values share a Winsock number; the first entry of a number gives its words.
constexpr ErrorEntry kErrorTable[] = {
    {EINTR, kWsaInterrupted, "interrupted"},
    {EBADF, 10009, "bad socket"},
    {EACCES, 10013, "permission denied"},
    {EFAULT, 10014, "bad address"},
    {EINVAL, 10022, "invalid argument"},
    {EMFILE, 10024, "too many open sockets"},
    {EAGAIN, kWsaWouldBlock, "would block"},
    {EINPROGRESS, 10036, "in progress"},
    {EALREADY, 10037, "already in progress"},
    {ENOTSOCK, 10038, "not a socket"},
    {EDESTADDRREQ, 10039, "destination address required"},
    {EMSGSIZE, 10040, "message too long"},
    {EPROTOTYPE, 10041, "wrong protocol type"},
    {ENOPROTOOPT, 10042, "bad protocol option"},
    {EPROTONOSUPPORT, 10043, "protocol not supported"},
    {EOPNOTSUPP, 10045, "operation not supported"},
    {EAFNOSUPPORT, 10047, "address family not supported"},
    {EADDRINUSE, kWsaAddressInUse, "address in use"},
    {EADDRNOTAVAIL, 10049, "address not available"},
    {ENETDOWN, 10050, "network down"},
    {ENETUNREACH, kWsaNetworkUnreachable, "network unreachable"},
    {ENETRESET, 10052, "network reset"},
    {ECONNABORTED, kWsaConnectionAborted, "connection aborted"},
    {ECONNRESET, kWsaConnectionReset, "connection reset by peer"},
    {EPIPE, kWsaConnectionReset, nullptr},
    {ENOBUFS, 10055, "no buffer space"},
    {EISCONN, 10056, "already connected"},
    {ENOTCONN, kWsaNotConnected, "not connected"},
    {ESHUTDOWN, 10058, "connection shut down"},
    {ETIMEDOUT, kWsaTimedOut, "timed out"},
    {ECONNREFUSED, kWsaConnectionRefused, "connection refused"},
    {EHOSTDOWN, 10064, "host down"},
    {EHOSTUNREACH, kWsaHostUnreachable, "host unreachable"},
    {0, kWsaHostNotFound, "host not found"},
    {0, kWsaTryAgain, "name server failure, try again"},
    {0, kWsaNoRecovery, "name server refused"},
    {0, kWsaNoData, "no address for that name"},
};

struct ResolverEntry {
    int eai;
    int winsock;
};

constexpr ResolverEntry kResolverTable[] = {
    {EAI_NONAME, kWsaHostNotFound},
#ifdef EAI_NODATA
    {EAI_NODATA, kWsaNoData},
#endif
#ifdef EAI_ADDRFAMILY
    {EAI_ADDRFAMILY, kWsaNoData},
#endif
    {EAI_AGAIN, kWsaTryAgain},
    {EAI_FAIL, kWsaNoRecovery},
    {EAI_FAMILY, 10047},
    {EAI_SERVICE, 10109},
    {EAI_MEMORY, 10055},
};

}  // namespace

int winsockError(int posixErrno) {
    for (const ErrorEntry& entry : kErrorTable)
        if (entry.posix != 0 && entry.posix == posixErrno) return entry.winsock;
    return kWsaConnectionAborted;
}

int lastWinsockError() { return winsockError(errno); }

int resolverError(int eaiCode) {
    if (eaiCode == EAI_SYSTEM) return lastWinsockError();
    for (const ResolverEntry& entry : kResolverTable)
        if (entry.eai == eaiCode) return entry.winsock;
    return kWsaHostNotFound;
}

std::string describeError(int result) {
    std::string text = std::to_string(result);
    int number = result < 0 ? -result : result;
    for (const ErrorEntry& entry : kErrorTable)
        if (entry.winsock == number && entry.words) return text + " (" + entry.words + ")";
    return text;
}

}  // namespace qarvel
