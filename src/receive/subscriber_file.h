// The files a mailing list keeps beside each other: the subscriber file (one address a line)
// and the progress file of a distribution that did not finish.
//
// The subscriber file is never left half-written and never loses a change to a second run
// working at the same time: every change happens under an exclusive lock (flock on
// "<file>.lock"), over the file as it is at that moment, and the new list goes to a temporary
// file in the same folder that is flushed to disk and then renamed over the old one.
#pragma once

#include <cstdio>
#include <functional>
#include <string>
#include <unordered_set>
#include <vector>

#include "base/string.h"

namespace qarvel {

// The position of address in the list (compared as addresses, case ignored), or -1.
long findAddress(const std::vector<String>& list, const String& address);

class SubscriberFile {
public:
    explicit SubscriberFile(String path) : path_(std::move(path)) {}

    // Reads the list as it is now: addresses separated by line ends or commas; blank lines
    // and lines that begin with "#" are skipped. A missing file is an empty list. Returns 1,
    // or -1 (with a message) when the file exists but cannot be read.
    int read(std::vector<String>& list) const;

    // Runs change over the current list under the lock; when change returns true the list is
    // written back. Returns 1 when written, 0 when nothing changed, -1 after a message on
    // standard error (the old file is then untouched).
    int update(const std::function<bool(std::vector<String>&)>& change);

    const String& path() const { return path_; }

private:
    int write(const std::vector<String>& list) const;

    String path_;
};

// Reads the subscriber file one address at a time, so a distribution holds one transaction's
// addresses whatever the size of the list. It reads the file as it was when opened: a change
// renamed over it meanwhile is for the next contribution.
class SubscriberStream {
public:
    explicit SubscriberStream(const String& path);
    ~SubscriberStream();
    SubscriberStream(const SubscriberStream&) = delete;
    SubscriberStream& operator=(const SubscriberStream&) = delete;

    // The next address: 1, or 0 at the end (a missing file is empty), or -1 after a message
    // on standard error when the file cannot be read.
    int next(String& address);

private:
    String path_;
    FILE* file_ = nullptr;
    int error_ = 0;  // errno of a failed open, 0 when open or missing
    std::vector<String> line_;  // the entries of the line in hand (a line may hold several)
    size_t taken_ = 0;
};

// Which subscribers one contribution has reached, kept in "<subscriber file>.progress" so that
// a distribution cut off half-way goes on where it stopped: the first line names the
// contribution, every further line is an address that has it.
class DistributionProgress {
public:
    DistributionProgress(const String& subscriberFile, String contribution);

    // Loads the addresses reached so far (none when the file names another contribution).
    void load();
    // True for an address the file held when it was loaded.
    bool reached(const String& address) const;
    // Adds addresses that the server has accepted, on disk before returning (not to the
    // loaded set: the distribution meets each address once). False when the file cannot
    // be written.
    bool add(const std::vector<String>& addresses);
    // The contribution went to everyone: the file goes.
    void finish();

    const String& path() const { return path_; }

private:
    String path_;
    String contribution_;
    std::unordered_set<std::string> reached_;
    bool started_ = false;  // the file holds this contribution's first line
};

} // namespace qarvel
