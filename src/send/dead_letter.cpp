// dead.letter: the message appended in mbox form, durable before the caller is told.
#include "send/dead_letter.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "base/paths.h"
#include "send/batch_file.h"

namespace qarvel {

namespace {

// A line that a mailbox reader would take for the start of the next message, with any
// number of ">" before it (the ">From " quoting that can be undone).
bool readsAsSeparator(std::string_view line) {
    size_t i = 0;
    while (i < line.size() && line[i] == '>') ++i;
    return line.compare(i, 5, "From ") == 0;
}

class MailboxAppender {
public:
    explicit MailboxAppender(int fd) : fd_(fd) {}
    bool put(std::string_view text) {
        buffer_.append(text);
        return buffer_.size() < kBlock || flush();
    }
    bool flush() {
        size_t done = 0;
        while (done < buffer_.size()) {
            ssize_t n = ::write(fd_, buffer_.data() + done, buffer_.size() - done);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return false;
            done += static_cast<size_t>(n);
        }
        buffer_.clear();
        return true;
    }

private:
    static constexpr size_t kBlock = 64 * 1024;
    int fd_;
    std::string buffer_;
};

std::string separatorLine(const String& sender, std::time_t now) {
    struct tm t;
    localtime_r(&now, &t);
    char date[64];
    std::strftime(date, sizeof date, "%a %b %e %H:%M:%S %Y", &t);
    return "From " + (sender.empty() ? std::string("MAILER-DAEMON") : sender.str()) + " " + date + "\n";
}

bool copyMessage(std::FILE* spool, MailboxAppender& out) {
    BatchText text(std::vector<std::FILE*>{spool});
    std::string_view piece;
    bool lineEnds, lineStart = true;
    while (text.takePiece(piece, lineEnds)) {
        if (lineStart) {
            if (!piece.empty() && piece.front() == '.') piece.remove_prefix(1);
            if (readsAsSeparator(piece) && !out.put(">")) return false;
        }
        if (!out.put(piece) || (lineEnds && !out.put("\n"))) return false;
        lineStart = lineEnds;
    }
    return !text.failed() && out.put("\n") && out.flush();
}

} // namespace

String deadLetterPath() {
    const char* home = std::getenv("HOME");
    if (!home || !*home) {
        struct passwd* account = getpwuid(getuid());
        home = account && account->pw_dir ? account->pw_dir : "/";
    }
    std::string path = home;
    if (path.empty() || path.back() != '/') path += '/';
    return String(path + "dead.letter");
}

bool appendDeadLetter(const String& path, const std::string& spoolPath, const String& sender, std::time_t now,
                      std::string& error) {
    auto fail = [&](const char* what) {
        error = std::string(what) + " " + path.str() + ": " + std::strerror(errno);
        return false;
    };
    std::FILE* spool = std::fopen(spoolPath.c_str(), "rb");
    if (!spool) return fail("could not read the message for");
    struct stat before;
    const bool existed = ::lstat(path.c_str(), &before) == 0;
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        std::fclose(spool);
        return fail("could not open");
    }
    struct stat st;
    bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    if (!ok) errno = EINVAL;
    ok = ok && ::flock(fd, LOCK_EX) == 0;
    const off_t start = ok ? ::lseek(fd, 0, SEEK_END) : 0;
    MailboxAppender out(fd);
    ok = ok && out.put(separatorLine(sender, now)) && copyMessage(spool, out) && ::fsync(fd) == 0;
    const int saved = errno;
    if (!ok && start >= 0 && ::ftruncate(fd, start) == 0) ::fsync(fd);
    std::fclose(spool);
    ::close(fd);
    errno = saved;
    if (!ok) return fail("could not append the message to");
    // A mailbox that is new is durable once its folder holds its name.
    if (!existed) {
        const String name = pathDirectory(path);
        const int folder = ::open(name.empty() ? "." : name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (folder >= 0) {
            ::fsync(folder);
            ::close(folder);
        }
    }
    return true;
}

} // namespace qarvel
