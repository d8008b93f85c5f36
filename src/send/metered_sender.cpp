// The progress meter file written while a message body is sent.
#include "send/metered_sender.h"

#include <cstdio>

namespace qarvel {

void ProgressMeter::write(int percent) {
    if (file_.empty()) return;
    std::time_t now = std::time(nullptr);
    if (now == lastWrite_) return;
    if (FILE* f = std::fopen(file_.c_str(), "w")) {
        std::fprintf(f, "%d\n", percent);
        std::fclose(f);
    }
    lastWrite_ = now;
}

} // namespace qarvel
