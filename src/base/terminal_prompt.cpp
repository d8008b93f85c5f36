// The terminal prompt with echo off (termios), and the signal handlers that put the terminal's
// mode back when the process ends while it waits.
#include "base/terminal_prompt.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>

namespace qarvel {

namespace {

// The signals that end (or stop) a process waiting at the prompt.
constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGTSTP};

// What a signal handler needs to put the terminal back: only plain data, set before the
// handlers are in place.
int savedFd = -1;
termios savedMode;

void restoreAndRaise(int signal) {
    tcsetattr(savedFd, TCSANOW, &savedMode);
    // SA_RESETHAND made the action the default again: the signal does what it would have done.
    raise(signal);
}

// Echo off for the life of the object, and back on however the process leaves the prompt.
class EchoOff {
public:
    explicit EchoOff(int fd) : fd_(fd) {
        if (tcgetattr(fd, &mode_) != 0) return;
        savedFd = fd;
        savedMode = mode_;
        struct sigaction action {};
        action.sa_handler = restoreAndRaise;
        action.sa_flags = SA_RESETHAND;
        sigemptyset(&action.sa_mask);
        for (size_t i = 0; i < sizeof kSignals / sizeof kSignals[0]; ++i) sigaction(kSignals[i], &action, &previous_[i]);
        termios quiet = mode_;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHOE | ECHOK | ECHONL);
        active_ = tcsetattr(fd, TCSAFLUSH, &quiet) == 0;
    }
    ~EchoOff() {
        if (savedFd < 0) return;
        tcsetattr(fd_, TCSANOW, &mode_);
        for (size_t i = 0; i < sizeof kSignals / sizeof kSignals[0]; ++i) sigaction(kSignals[i], &previous_[i], nullptr);
        savedFd = -1;
    }
    EchoOff(const EchoOff&) = delete;
    EchoOff& operator=(const EchoOff&) = delete;
    bool active() const { return active_; }

private:
    int fd_;
    termios mode_{};
    struct sigaction previous_[sizeof kSignals / sizeof kSignals[0]] {};
    bool active_ = false;
};

void writeAll(int fd, const char* text) {
    size_t left = std::strlen(text);
    while (left > 0) {
        const ssize_t n = write(fd, text, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        text += n;
        left -= static_cast<size_t>(n);
    }
}

// One line from fd, up to its line end; what goes past 255 characters is read and dropped.
bool readLine(int fd, String& line) {
    char buffer[256];
    size_t length = 0;
    bool any = false;
    for (;;) {
        char c;
        const ssize_t n = read(fd, &c, 1);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        any = true;
        if (c == '\n') break;
        if (c != '\r' && length < sizeof buffer - 1) buffer[length++] = c;
    }
    line = String(buffer, length);
    return any;
}

} // namespace

bool askSecretOnTerminal(const char* prompt, String& secret) {
    if (isatty(STDIN_FILENO) != 1) return false;
    // The controlling terminal, so that the prompt never lands in a listing that standard
    // output or standard error goes to; without one, standard input and standard error.
    const int tty = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
    const int in = tty >= 0 ? tty : STDIN_FILENO, out = tty >= 0 ? tty : STDERR_FILENO;
    bool read;
    {
        EchoOff echoOff(in);
        writeAll(out, prompt);
        read = readLine(in, secret);
        // The line end the user typed was not echoed either.
        writeAll(out, "\n");
    }
    if (tty >= 0) close(tty);
    return read;
}

} // namespace qarvel
