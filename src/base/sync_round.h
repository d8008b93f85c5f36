// SyncRound: the outputs of a few messages made durable together, before anything counts on
// them being written (a deletion made final on the server, a record of what was delivered).
// Each new file is synced under its temporary name and only then given its name; each folder
// that gained a name is synced after that; each file that several messages append to
// (standard output, an mbox file, the harvest file) is synced once for the round. A message is
// written only when every output of it came through, and a new file of a message that did not
// is taken away again, so that nothing counts as delivered while the server still holds it.
// The fsyncs of a round run a few at a time, which lets the file system commit them together.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "base/staged_file.h"

namespace qarvel {

// A file that several messages append to.
class SharedOutput {
public:
    virtual ~SharedOutput() = default;
    // Writes what was appended so far through to the disk: 0, or the errno of the failure.
    virtual int sync() = 0;
    // Takes back what was appended since the last good sync, where nobody else's bytes can
    // have followed it; nothing by default.
    virtual void takeBack() {}
    // The file, for messages.
    virtual std::string describe() const = 0;
};

class SyncRound {
public:
    // Gives a synced file its name in its folder (commits it); false when that cannot be
    // done, the reason said on standard error.
    using Place = std::function<bool(StagedFile&)>;

    struct Outcome {
        bool durable = true;
        std::string reason;  // the first failure of an item that is not durable
    };

    // Starts the outputs of the next item (a message); returns its index in the round.
    size_t begin();
    // A new file of the current item, written whole and still under its temporary name.
    void addFile(StagedFile file, Place place);
    // The current item appended to a shared output (which outlives the round).
    void touch(SharedOutput& output);

    size_t items() const { return items_; }
    size_t files() const { return files_.size(); }
    // Whether there is anything to sync.
    bool empty() const { return files_.empty() && touched_.empty(); }

    // Syncs the files, names them, syncs their folders and the shared outputs, and takes
    // back what belongs to an item that did not come through. One outcome per item begun;
    // the round is empty afterwards.
    std::vector<Outcome> settle();

private:
    struct File {
        size_t item;
        StagedFile file;
        Place place;
        bool synced = false;
    };
    struct Touch {
        size_t item;
        SharedOutput* output;
    };
    void fail(std::vector<Outcome>& outcomes, size_t item, const std::string& reason) const;

    size_t items_ = 0;
    std::vector<File> files_;
    std::vector<Touch> touched_;
};

// Runs the jobs, up to width of them at a time on threads of their own (the calling thread
// among them), and returns when all have ended.
void runTogether(const std::vector<std::function<void()>>& jobs, size_t width = 4);

}  // namespace qarvel
