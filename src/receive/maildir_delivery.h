// MaildirDelivery: each message retrieved, whole and as it was received, into a Maildir (the
// folder form that Dovecot, mutt and the qmail family read): the message is written into a
// new file of tmp/, synced, and only then given its unique name in new/, so that a reader
// never finds a half-written message there, even after a crash. Line ends are stored as LF.
#pragma once

#include <memory>
#include <string>

#include "base/staged_file.h"
#include "base/string.h"
#include "base/sync_round.h"

namespace qarvel {

class MaildirDelivery {
public:
    // Opens the Maildir, making the folder and its tmp/, new/ and cur/ where they are missing
    // (each new folder's entry synced at once). False, with a message on standard error, when
    // that cannot be done.
    bool open(const String& path);
    const String& path() const { return path_; }

    // Starts the file of the next message in tmp/. False (the reason said) when it cannot be
    // made.
    bool begin();
    // The message's bytes as they arrive; a failure is kept for end().
    void write(const char* data, size_t length);
    // The message is whole: its file goes to the round, which syncs it and names it in new/.
    // False, with a message on standard error, when it was not written whole (nothing stays).
    bool end(SyncRound& round, int messageNumber);
    // The message did not arrive whole: its file goes.
    void abandon();
    bool active() const { return active_; }

private:
    String path_;
    std::shared_ptr<const FolderHandle> tmp_, new_;
    bool flush();

    StagedFile file_;
    std::string buffer_;  // the bytes on their way to the file, written in large blocks
    bool active_ = false;
    bool pendingCr_ = false;
};

// A name for a new Maildir entry that no other delivery shares: the time in seconds, then
// "M" and the microseconds, "P" and the process number, "Q" and a count of the run's
// deliveries, then the host name ("/" written "\057" and ":" "\072", as the convention asks).
String maildirUniqueName();

}  // namespace qarvel
