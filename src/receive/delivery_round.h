// DeliveryRound: the messages of a retrieval run between being written and counting as
// delivered. Every output a message goes to (attachments, the -maildir: and -mboxfile:
// targets, standard output when it is a regular file, the -harvest: file) registers with the
// round's SyncRound; the round settles every few messages, before the reader closes, and
// whenever it has nothing to sync. Only then does a message that came through whole get what
// makes its delivery final, in order: its line in the -seen: file, then its deletion or move
// on the server. A message whose outputs did not all reach the disk stays where it is.
#pragma once

#include <ctime>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "base/string.h"
#include "base/sync_round.h"
#include "receive/maildir_delivery.h"
#include "receive/mbox_file.h"
#include "receive/receive_options.h"
#include "receive/seen_file.h"

namespace qarvel {

class MailboxReader;

// One message of the round.
struct InFlight {
    int n = 0;
    unsigned uid = 0;    // IMAP: the UID it was fetched by, for the final step
    String seenId;       // its id for the -seen: file ("" when there is none)
    bool whole = false;  // everything asked for reached its place (it may be recorded and deleted)
    bool remove = false, move = false;  // what makes it final once it is durable
};

// A round settles once it holds this many messages or files, or is this old.
constexpr size_t kRoundMessages = 32;
constexpr size_t kRoundFiles = 256;
constexpr time_t kRoundSeconds = 2;

class DeliveryRound {
public:
    explicit DeliveryRound(const ReceiveOptions& options) : o_(options) {}
    // Opens the targets and the -seen: file of the run (the reader logged in, its folder
    // chosen, count its messages). False, the reason said, when one cannot be used.
    bool open(MailboxReader& reader, int count);
    // Whether a deletion waits for the outputs to be durable (-rm, -move:, -seen:): then
    // shared outputs and extracted files go through the round.
    bool durable() const { return durable_; }
    // The round's outputs while they must be made durable, else none.
    SyncRound* durableOutputs() { return durable_ ? &outputs_ : nullptr; }
    SyncRound& outputs() { return outputs_; }

    // Whether message n was delivered by an earlier run (-seen:).
    bool seenBefore(MailboxReader& reader, int n) const;
    // Message n starts; with copies, its bytes as received go to the -maildir: and -mboxfile:
    // targets (through copy()).
    void begin(MailboxReader& reader, int n, bool copies);
    InFlight& current() { return inFlight_.back(); }
    // The messages of the round.
    size_t messages() const { return inFlight_.size(); }
    void copy(const char* data, size_t length);
    // The message arrived whole: the copies are handed on. False, the reason said, when one
    // could not be written (nothing of it stays).
    bool deliver(MailboxReader& reader);
    // The message did not arrive whole: its copies go.
    void abandon();
    // Standard output took part of the current message (synced when it is a regular file).
    void touchStandardOutput();

    // Whether the round should settle now: it is large or old enough, or has nothing to sync.
    bool due() const;
    // Whether settling sends anything to the server (a message of the round is to be deleted
    // or moved).
    bool finalSteps() const;
    // Makes the round durable, records what came through whole in the -seen: file and calls
    // finish for each such message in order (its deletion or move), stopping at the first
    // that fails. False when a message did not come through or a step failed (each said).
    bool settle(const std::function<bool(const InFlight&)>& finish);

private:
    const ReceiveOptions& o_;
    bool durable_ = false;
    SyncRound outputs_;
    std::vector<InFlight> inFlight_;
    time_t started_ = 0;
    bool copying_ = false;  // the current message's bytes go to the targets
    std::optional<MaildirDelivery> maildir_;
    std::unique_ptr<MboxFile> mbox_;
    std::optional<SeenFile> seen_;
    std::unique_ptr<SharedOutput> stdout_;  // when standard output is a regular file
};

}  // namespace qarvel
