// Why a run failed, and the exit status each cause gives under -strict (the sysexits numbers
// that mail tools and cron set-ups share). Without -strict a failed run ends with 1, as always.
//
// The cause is noted where the failure is reported (the driver's stop message, a failed
// download or look-up), and the entry turns the last cause noted into the exit status. Only a
// failure that ends the run (or, under -strict, fails it) is noted: an attempt that a retry or
// the next host makes good is not.
#pragma once

#include <span>

namespace qarvel {

enum class Failure {
    kNone,           // nothing noted
    kUsage,          // the command line: an unknown option, a bad value, something left out
    kData,           // the message as given cannot be sent (a missing file, no recipient, ...)
    kHostNotFound,   // a host name (or a domain's mail route) that does not resolve
    kUnreachable,    // the server could not be reached: a refused connection, no route to it
    kUnavailable,    // the server's permanent refusal (5xx, -ERR, NO)
    kTemporary,      // a time-out, a lost connection, the server's "try later" (4xx)
    kProtocol,       // a reply that makes no sense here, a TLS handshake that failed
    kLogin,          // the server refused the login
    kConfiguration,  // the configuration file, a secret source or a certificate file
    kOther,          // anything else (a local file that could not be written, ...)
};

struct FailureStatus {
    Failure failure;
    int status;
    const char* meaning;  // one line for --help
};

// The table, in the order of the statuses (1 last).
std::span<const FailureStatus> failureStatuses();

// The exit status of a cause under -strict: 64 to 78, or 1.
int strictExitStatus(Failure failure);

// The run's record of its failure: noteFailure replaces what was noted before.
void noteFailure(Failure failure);
Failure notedFailure();
void clearFailure();

// The exit status of a run that ended with code: without -strict, or with nothing noted, the
// code itself (0, 1, or the message count of -xit); else the noted cause's status, even after
// a run that went on (-ns) or ended after the tools.
int runExitStatus(int code, bool strict);

// A driver's "failed" result, with the cause noted.
inline int failRun(Failure failure) {
    noteFailure(failure);
    return 1;
}

}  // namespace qarvel
