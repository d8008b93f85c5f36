// Error numbers as the rest of the program sees them. Results of network operations keep the
// classic Winsock numbering (a reset connection is 10054, a refused connect 10061, a name that
// does not resolve 11001) so that the messages and codes users rely on stay the same on every
// platform. This is the one place that turns a POSIX errno or a resolver error into such a
// number, and a number into the words a failure line prints after it.
#pragma once

#include <string>

namespace qarvel {

constexpr int kWsaInterrupted = 10004;
constexpr int kWsaInvalidArgument = 10022;
constexpr int kWsaWouldBlock = 10035;
constexpr int kWsaAddressInUse = 10048;
constexpr int kWsaNetworkUnreachable = 10051;
constexpr int kWsaConnectionAborted = 10053;
constexpr int kWsaConnectionReset = 10054;
constexpr int kWsaNotConnected = 10057;
constexpr int kWsaTimedOut = 10060;
constexpr int kWsaConnectionRefused = 10061;
constexpr int kWsaHostUnreachable = 10065;
constexpr int kWsaHostNotFound = 11001;
constexpr int kWsaTryAgain = 11002;
constexpr int kWsaNoRecovery = 11003;
constexpr int kWsaNoData = 11004;

// The Winsock number for an errno value (positive); unknown values map to 10053.
int winsockError(int posixErrno);

// The Winsock number for the calling thread's current errno.
int lastWinsockError();

// The Winsock number for a getaddrinfo result (EAI_*); EAI_SYSTEM reads errno.
int resolverError(int eaiCode);

// A failure result as a failure line prints it: the number, then the reason in words when the
// number is a Winsock one ("-11001 (host not found)"); 0 and -1 stay bare numbers.
std::string describeError(int result);

}  // namespace qarvel
