// ProgressLine: the self-updating line on a terminal's standard error for a long transfer.
#include "base/progress_line.h"

#include <unistd.h>

#include <cstdio>

namespace qarvel {
namespace {

bool gAllowed = false;

std::string amount(double bytes) {
    static const char* const kUnits[] = {"B", "KiB", "MiB", "GiB", "TiB"};
    int unit = 0;
    while (bytes >= 1024 && unit < 4) {
        bytes /= 1024;
        ++unit;
    }
    char text[32];
    if (unit == 0) std::snprintf(text, sizeof text, "%.0f B", bytes);
    else std::snprintf(text, sizeof text, "%.1f %s", bytes, kUnits[unit]);
    return text;
}

} // namespace

void ProgressLine::allow(bool quietRun) { gAllowed = !quietRun && isatty(2) == 1; }

ProgressLine::~ProgressLine() { finish(); }

void ProgressLine::begin(int64_t total) {
    finish();
    total_ = total;
    done_ = 0;
    start_ = lastDraw_ = Clock::now();
}

void ProgressLine::add(int64_t bytes) {
    if (done_ == 0 && total_ < 0) start_ = lastDraw_ = Clock::now();
    done_ += bytes;
    if (!gAllowed) return;
    const Clock::time_point now = Clock::now();
    if (now - start_ < std::chrono::seconds(1) || now - lastDraw_ < std::chrono::milliseconds(200)) return;
    lastDraw_ = now;
    const double seconds = std::chrono::duration<double>(now - start_).count();
    std::fprintf(stderr, "\r%s\033[K", text(what_, done_, total_, seconds).c_str());
    std::fflush(stderr);
    drawn_ = true;
}

void ProgressLine::finish() {
    if (drawn_) {
        std::fputs("\r\033[K", stderr);
        std::fflush(stderr);
    }
    drawn_ = false;
    done_ = 0;
    total_ = -1;
}

std::string ProgressLine::text(const char* what, int64_t done, int64_t total, double seconds) {
    std::string line = std::string(what) + ": " + amount(static_cast<double>(done));
    if (total > 0) {
        line += " of " + amount(static_cast<double>(total));
        line += " (" + std::to_string(done >= total ? 100 : done * 100 / total) + "%)";
    }
    if (seconds > 0) line += ", " + amount(static_cast<double>(done) / seconds) + "/s";
    return line;
}

} // namespace qarvel
