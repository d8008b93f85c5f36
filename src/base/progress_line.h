// ProgressLine: the self-updating line on a terminal's standard error for a long transfer.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace qarvel {

// One transfer (a message sent or read, a download). The line appears only when the run allows
// it (allow(true): standard error is a terminal and -q was not given) and the transfer has
// taken longer than a second; it is redrawn at most five times a second and cleared at the end.
class ProgressLine {
public:
    // The run's choice, made once after the command line; off by default.
    static void allow(bool quietRun);

    explicit ProgressLine(const char* what) : what_(what) {}
    ~ProgressLine();
    ProgressLine(const ProgressLine&) = delete;
    ProgressLine& operator=(const ProgressLine&) = delete;

    // A new transfer of total bytes (below 0: not known); add counts bytes as they move.
    void begin(int64_t total);
    void add(int64_t bytes);
    // Clears the line, if one was drawn.
    void finish();

    // The line's text: "Sending: 1.5 MiB of 4.0 MiB (37%), 750.0 KiB/s".
    static std::string text(const char* what, int64_t done, int64_t total, double seconds);

private:
    using Clock = std::chrono::steady_clock;
    const char* what_;
    int64_t total_ = -1, done_ = 0;
    Clock::time_point start_, lastDraw_;
    bool drawn_ = false;
};

} // namespace qarvel
