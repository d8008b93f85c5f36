// MboxFile: the messages retrieved appended to an mbox file (-mboxfile:), as mutt and Dovecot
// keep one: each message after a "From " line, every line of it that begins with "From "
// (after any number of ">") quoted with one more ">", line ends as LF, and an empty line after
// it. A message goes into a spool file as it arrives and is appended whole under both locks
// those readers take, the dot-lock file FILE.lock and then an fcntl lock, so a reader never
// sees part of a message and no other writer's message lands inside one. An append that fails
// is cut off again before the locks go.
#pragma once

#include <string>
#include <sys/types.h>

#include "base/string.h"
#include "base/sync_round.h"
#include "base/temp_file.h"

namespace qarvel {

// The text of a message as an mbox file holds it: CR LF made LF and "From " lines quoted,
// fed in pieces of any size (a line may span pieces).
class MboxText {
public:
    void reset();
    // Appends the converted bytes of the piece to out.
    void feed(const char* data, size_t length, std::string& out);
    // Appends what is still held, and the line end and the empty line that end a message.
    void finish(std::string& out);

private:
    void quote(const char* data, size_t length, std::string& out);

    bool lineStart_ = true;
    bool pendingCr_ = false;
    char last_ = '\n';
    std::string held_;  // the start of a line until it shows whether it is a "From " line
    std::string lf_;    // a piece with its line ends made LF
};

class MboxFile : public SharedOutput {
public:
    ~MboxFile() override;
    // Opens the file for appending (made, mode 0600, when missing; a file that is not a
    // regular file is refused) and a spool file in spoolFolder. False, with a message on
    // standard error, when either fails.
    bool open(const String& path, const String& spoolFolder);
    const String& path() const { return path_; }

    // The next message's bytes go to the spool.
    void begin();
    void write(const char* data, size_t length);
    // Appends the spooled message after its "From " line (the address of sender). False,
    // with a message on standard error, when it could not be appended whole; the file is
    // then as it was.
    bool end(const String& sender, int messageNumber);

    // --- SharedOutput ---
    int sync() override;
    // Cuts off the messages appended since the last good sync, when the file still ends
    // with them (no other writer appended after them).
    void takeBack() override;
    std::string describe() const override { return path_.str(); }

private:
    bool spoolOut(std::string& buffer);
    bool append(const String& sender, off_t& start, off_t& end);

    String path_;
    int fd_ = -1;
    TempFile spool_;
    MboxText text_;
    std::string buffer_;
    int spoolError_ = 0;
    bool newFile_ = false;    // made by this run: its folder entry is synced once
    off_t roundStart_ = -1;   // where the first append since the last sync began
    off_t lastEnd_ = 0;       // where the last append ended
    bool contiguous_ = true;  // the appends since the last sync follow one another
};

}  // namespace qarvel
