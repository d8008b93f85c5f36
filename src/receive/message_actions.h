// What the receive driver does with a retrieved message besides showing it: the -exec:
// command over a temporary file, the harvest file and writing the extracted parts.
#pragma once

#include <cstdio>
#include <string>

#include "base/string.h"
#include "base/sync_round.h"
#include "receive/receive_options.h"

namespace qarvel {

class MailboxReader;

// Results of the actions: above 0 done, 0 not done, below 0 failed.
constexpr int kActionOk = 1;
constexpr int kActionSkipped = 0;
constexpr int kActionFailed = -1;      // nothing was written or sent: keep the message
constexpr int kActionCommandFailed = -2;  // the -exec: command ran and exited non-zero

// The text in single quotes for /bin/sh, each "'" written as '\''.
std::string shellQuoted(const std::string& text);

// Writes the decoded body to a temporary file in the working folder and runs
// "command < 'file'" through /bin/sh (the path quoted: the working folder may hold blanks or
// shell characters). The file is removed once the command has ended.
// Returns kActionOk, kActionFailed when the file could not be written or the command not
// started, or kActionCommandFailed when the command exited non-zero (its status in *status).
int runExecCommand(const String& command, const String& workingFolder, const char* body,
                   size_t length, int messageNumber, int* status = nullptr);

// The harvest file, opened once per run for appending.
class HarvestFile : public SharedOutput {
public:
    HarvestFile() = default;
    ~HarvestFile() override;
    HarvestFile(const HarvestFile&) = delete;
    HarvestFile& operator=(const HarvestFile&) = delete;
    // Opens (creating) the file; false with a message on stderr when that fails.
    bool open(const String& path);
    bool isOpen() const { return file_ != nullptr; }
    // Appends the address and a line end, unless it is empty or "[unknown]". Whether
    // something was appended (a failed write shows at the next sync).
    bool add(const String& address);

    int sync() override;
    std::string describe() const override { return path_.str(); }

private:
    FILE* file_ = nullptr;
    String path_;
    int error_ = 0;
};

// Whether an action the run was asked for needs the whole message in the reader, rather than
// its text passing through on the way to standard output: a raw message that is only shown
// streams unless one does. Each per-message action says so in one row of the table behind it.
bool needsWholeMessage(const ReceiveOptions& options);

// Writes every extracted part of the message retrieved last into the folder. Text parts
// (media type text/... or message/rfc822, or every part with textMode) are written in text
// mode. Returns kActionOk when every part was written whole, else kActionFailed (the writer
// has said why on stderr); the remaining parts are still tried. Parts the parser could not
// keep (past its limit on the number of parts) count as not written. With a round, each file
// is named only once the round has made it durable.
int extractParts(MailboxReader& reader, const ReceiveOptions& options, SyncRound* round = nullptr);

} // namespace qarvel
