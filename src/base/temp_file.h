// TempFile: the one maker of temporary files and folders (mkstemp, mkdtemp); a file is
// removed when its object goes away unless it was moved into place or kept.
#pragma once

#include <cstdio>
#include <string>
#include <sys/types.h>

#include "base/string.h"

namespace qarvel {

class TempFile {
public:
    TempFile() = default;
    // A new file "<folder>/<stem>XXXXXX" (folder "" means "/tmp"), mode 0600. valid() is false
    // when it could not be made (errno says why).
    TempFile(const String& folder, const char* stem);
    // A new file "<path>.XXXXXX" in the folder of path, for a file that replaces path once it
    // is whole (moveTo).
    static TempFile beside(const String& path);
    ~TempFile();
    TempFile(TempFile&& other) noexcept;
    TempFile& operator=(TempFile&& other) noexcept;
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;

    bool valid() const { return !path_.empty(); }
    const std::string& path() const { return path_; }
    // The open descriptor (-1 once closed or turned into a stream).
    int fd() const { return fd_; }
    // The file as a stream: the open descriptor turned into one, or the file opened again by
    // its path after close(). Null on a failure. The object closes it.
    FILE* stream(const char* mode);
    // Hands the stream's buffered bytes to the file, so that the path reads them all.
    bool flushed() const { return !stream_ || std::fflush(stream_) == 0; }
    // Flushes the stream and writes the file through to the disk.
    bool sync();
    // Flushes and closes the descriptor or stream; the file stays. False when a write or the
    // close failed; true when nothing was open.
    bool close();
    // Sets the permission bits (the file is made 0600).
    void setMode(mode_t mode);
    // The bits of the file at path; false (and nothing changed) when there is none.
    bool setModeOf(const String& path);
    // The bits any new file gets: 0666 less the umask.
    static mode_t newFileMode();
    // Closes the file and renames it to path; from then on it is kept. False (the file still
    // removed later) when the close or the rename failed.
    bool moveTo(const String& path);
    // Takes the name away now: the open file lives on until it is closed, whatever happens.
    void removeName();

private:
    explicit TempFile(std::string pattern);
    void drop();

    int fd_ = -1;
    FILE* stream_ = nullptr;
    std::string path_;
};

// A new folder "<folder>/<stem>XXXXXX" (mode 0700); "" when it could not be made. The caller
// removes it.
std::string makeTempFolder(const String& folder, const char* stem);

}  // namespace qarvel
