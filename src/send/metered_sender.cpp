// The progress meter file written while a message body is sent.
#include "send/metered_sender.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>

namespace qarvel {

void ProgressMeter::write(int percent) {
    if (file_.empty()) return;
    std::time_t now = std::time(nullptr);
    if (now == lastWrite_) return;
    lastWrite_ = now;
    // The name may come from a shared folder: a link is never followed, and only a regular
    // file is emptied and written (never a device, a FIFO or a link's target).
    const int fd = open(file_.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0644);
    if (fd < 0) return;
    struct stat st;
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && ftruncate(fd, 0) == 0) {
        const std::string text = std::to_string(percent) + "\n";
        const ssize_t written = ::write(fd, text.data(), text.size());
        (void)written;
    }
    close(fd);
}

} // namespace qarvel
