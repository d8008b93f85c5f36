// The table of failure causes and their exit statuses, and the run's record of its failure.
#include "base/run_failure.h"

namespace qarvel {

namespace {

const FailureStatus kStatuses[] = {
    {Failure::kUsage, 64, "usage: an unknown option, a bad or missing value, no sender, recipient or user"},
    {Failure::kData, 65, "bad message data: a missing attachment or file, a -t message without recipients"},
    {Failure::kHostNotFound, 68, "host not found, or a domain without mail route"},
    {Failure::kUnreachable, 69, "unavailable: a refused connection, no route to the server"},
    {Failure::kUnavailable, 69, "unavailable: the server's permanent refusal (5xx, -ERR, NO)"},
    {Failure::kTemporary, 75, "temporary failure: a time-out, a lost connection, a 4xx reply; try again later"},
    {Failure::kProtocol, 76, "protocol error: a reply that makes no sense, a failed TLS handshake"},
    {Failure::kLogin, 77, "the login was refused"},
    {Failure::kConfiguration, 78, "configuration: a file missing, unreadable, refused or with an unknown key"},
    {Failure::kOther, 1, "anything else"},
};

Failure noted = Failure::kNone;

}  // namespace

std::span<const FailureStatus> failureStatuses() { return kStatuses; }

int strictExitStatus(Failure failure) {
    for (const FailureStatus& row : kStatuses)
        if (row.failure == failure) return row.status;
    return 1;
}

int runExitStatus(int code, bool strict) {
    if (!strict || noted == Failure::kNone) return code;
    return strictExitStatus(noted);
}

void noteFailure(Failure failure) { noted = failure; }
Failure notedFailure() { return noted; }
void clearFailure() { noted = Failure::kNone; }

}  // namespace qarvel
