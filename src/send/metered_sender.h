// The senders the entry point creates: a protocol class plus the progress meter file. The
// meter file holds only the latest whole percentage, rewritten at most once a second.
#pragma once

#include <ctime>

#include "base/string.h"

namespace qarvel {

class ProgressMeter {
public:
    void setFile(const String& name) { file_ = name; }
    const String& file() const { return file_; }
    // Writes the percentage unless no file is named or this second was already written.
    void write(int percent);

private:
    String file_;
    std::time_t lastWrite_ = 0;
};

template <class Session>
class MeteredSender : public Session {
public:
    explicit MeteredSender(const String& meterFile = String()) { meter.setFile(meterFile); }
    int reportProgress(int percent) override {
        meter.write(percent);
        return 0;
    }
    ProgressMeter meter;
};

} // namespace qarvel
