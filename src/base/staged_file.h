// StagedFile: a new file written under a temporary name in the folder it belongs to, and given
// its final name there only once it is whole, so that nothing half-written is ever found under
// that name. FolderHandle: the folder, held open, so that every file is made and named inside
// it whatever happens to its path meanwhile.
#pragma once

#include <cstddef>
#include <memory>
#include <sys/types.h>

#include "base/string.h"

namespace qarvel {

class FolderHandle {
public:
    // Opens the folder ("" is the working folder). Null, with errno set, when it cannot be
    // opened as a folder.
    static std::shared_ptr<const FolderHandle> open(const String& path);
    ~FolderHandle();
    FolderHandle(const FolderHandle&) = delete;
    FolderHandle& operator=(const FolderHandle&) = delete;

    int fd() const { return fd_; }
    const String& path() const { return path_; }

private:
    FolderHandle(int fd, const String& path) : fd_(fd), path_(path) {}
    int fd_;
    String path_;
};

class StagedFile {
public:
    StagedFile() = default;
    // Removes the temporary name unless the file was committed.
    ~StagedFile();
    StagedFile(StagedFile&& other) noexcept;
    StagedFile& operator=(StagedFile&& other) noexcept;
    StagedFile(const StagedFile&) = delete;
    StagedFile& operator=(const StagedFile&) = delete;

    // Creates the file under a new name ".qarvel-XXXXXXXX" in the folder (exclusively, never
    // through a link), with mode less the umask. False, with errno set, when it cannot be made.
    bool create(std::shared_ptr<const FolderHandle> folder, mode_t mode = 0644);
    bool valid() const { return !tempName_.empty() || committed_; }
    // Writes all bytes with write(2), straight from the caller's buffer. False on a failed or
    // short write (a full disk, a size limit); the file then takes no more bytes and error()
    // keeps the reason.
    bool write(const char* data, size_t length);
    // Ends the writing and closes the descriptor; the temporary name stays until commit. This
    // is where a file that must survive a crash before it counts as written is synced, ahead
    // of the close. False (error() set) when a write or the close failed.
    bool close();
    // Gives the closed file its final name in its folder, never replacing an entry of that
    // name: false with errno EEXIST when the name is taken, or with the error of the rename.
    // For the new entry itself to survive a crash, the folder is synced after this.
    bool commit(const String& name);
    // The same into another folder of the same file system (a Maildir's new/ from its tmp/);
    // the file then belongs to that folder.
    bool commit(const String& name, std::shared_ptr<const FolderHandle> into);
    // The same, but an entry of that name is replaced (the caller has judged it).
    bool commitReplacing(const String& name);
    // Writes the file through to the disk, so that it survives a crash: an fsync of the open
    // descriptor, or once closed of the file opened again by its temporary name (the kernel
    // reports a failed write-back to the first fsync after it, whichever descriptor asks).
    // False (error() set) when it fails: the bytes may never reach the disk.
    bool sync();
    // Takes a commit back: the entry it made is removed (a file that could not be made
    // durable must not stay where it counts as delivered).
    bool withdraw();
    // Removes the file now; nothing stays under any name.
    void discard();

    bool committed() const { return committed_; }
    // The errno of the first failed write or close; 0 when there was none.
    int error() const { return error_; }
    const FolderHandle* folder() const { return folder_.get(); }
    // The temporary name while the file has one ("" after commit or discard).
    const String& tempName() const { return tempName_; }
    // The name commit gave it ("" before).
    const String& name() const { return name_; }

private:
    std::shared_ptr<const FolderHandle> folder_;
    String tempName_;
    String name_;
    int fd_ = -1;
    int error_ = 0;
    bool committed_ = false;
};

}  // namespace qarvel
