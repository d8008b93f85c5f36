// MaildirDelivery: messages into a Maildir through tmp/ and new/.
#include "receive/maildir_delivery.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include "base/paths.h"
#include "receive/part_data.h"

namespace qarvel {

String maildirUniqueName() {
    static unsigned deliveries = 0;
    struct timeval now {};
    gettimeofday(&now, nullptr);
    char host[256] = "localhost";
    if (gethostname(host, sizeof host - 1) != 0 || !host[0]) strcpy(host, "localhost");
    host[sizeof host - 1] = '\0';
    std::string safeHost;
    for (const char* p = host; *p; ++p) {
        if (*p == '/') safeHost += "\\057";
        else if (*p == ':') safeHost += "\\072";
        else safeHost += *p;
    }
    char name[400];
    snprintf(name, sizeof name, "%lld.M%06ldP%dQ%u.%s", static_cast<long long>(now.tv_sec),
             static_cast<long>(now.tv_usec), static_cast<int>(getpid()), ++deliveries, safeHost.c_str());
    return name;
}

namespace {

constexpr size_t kBlock = 64 * 1024;

// The folder at path, made when it is missing; a new folder's entry is synced in its parent,
// so that it is still there after a crash.
std::shared_ptr<const FolderHandle> folderMade(const String& path) {
    if (::mkdir(path.c_str(), 0700) == 0) {
        auto above = FolderHandle::open(folderOf(path));
        if (!above || ::fsync(above->fd()) != 0) return nullptr;
    } else if (errno != EEXIST) {
        return nullptr;
    }
    return FolderHandle::open(path);
}

} // namespace

bool MaildirDelivery::open(const String& path) {
    path_ = path;
    std::shared_ptr<const FolderHandle> top = folderMade(path);
    std::shared_ptr<const FolderHandle> cur = top ? folderMade(joinPath(path, "cur")) : nullptr;
    tmp_ = cur ? folderMade(joinPath(path, "tmp")) : nullptr;
    new_ = tmp_ ? folderMade(joinPath(path, "new")) : nullptr;
    if (new_) return true;
    fprintf(stderr, "Could not open the Maildir '%s': %s\n", path.c_str(), strerror(errno));
    return false;
}

bool MaildirDelivery::begin() {
    abandon();
    buffer_.reserve(kBlock + kBlock / 4);
    if (!file_.create(tmp_, 0600)) {
        fprintf(stderr, "Could not create a file in '%s': %s\n", joinPath(path_, "tmp").c_str(), strerror(errno));
        return false;
    }
    active_ = true;
    pendingCr_ = false;
    return true;
}

bool MaildirDelivery::flush() {
    bool ok = writeConverted(file_, buffer_.data(), buffer_.size(), true, pendingCr_);
    buffer_.clear();
    return ok;
}

void MaildirDelivery::write(const char* data, size_t length) {
    if (!active_) return;
    // The bytes come a line at a time.
    buffer_.append(data, length);
    if (buffer_.size() >= kBlock) flush();
}

bool MaildirDelivery::end(SyncRound& round, int messageNumber) {
    if (!active_) return false;
    active_ = false;
    flush();
    if (pendingCr_) file_.write("\r", 1);
    if (file_.error()) {
        fprintf(stderr, "Could not write message #%d to the Maildir '%s': %s\n", messageNumber, path_.c_str(),
                strerror(file_.error()));
        file_.discard();
        return false;
    }
    round.addFile(std::move(file_), [folder = new_, path = path_](StagedFile& file) {
        // The unique name is free but for a clock that went back: a few tries settle that.
        for (int attempt = 0; attempt < 10; ++attempt) {
            if (file.commit(maildirUniqueName(), folder)) return true;
            if (errno != EEXIST) break;
        }
        fprintf(stderr, "Could not name a message in '%s': %s\n", joinPath(path, "new").c_str(), strerror(errno));
        return false;
    });
    file_ = StagedFile();
    return true;
}

void MaildirDelivery::abandon() {
    active_ = false;
    buffer_.clear();
    file_.discard();
}

}  // namespace qarvel
