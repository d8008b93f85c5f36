// The buffered stream line source.
#include "receive/line_source.h"

#include <algorithm>
#include <cstring>

namespace qarvel {

bool StreamLineSource::refill() {
    if (!stream_) return false;
    if (position_ < filled_) return true;
    position_ = 0;
    if (buffer_.empty()) buffer_.resize(kBufferSize);
    filled_ = fread(buffer_.data(), 1, buffer_.size(), stream_);
    return filled_ > 0;
}

int StreamLineSource::read(char* out, int length) {
    if (!stream_ || length < 1) return 0;
    size_t done = 0;
    while (done < static_cast<size_t>(length) && refill()) {
        size_t take = std::min(static_cast<size_t>(length) - done, filled_ - position_);
        memcpy(out + done, buffer_.data() + position_, take);
        position_ += take;
        done += take;
    }
    return static_cast<int>(done);
}

int StreamLineSource::readLine(char* out, int max) {
    if (!stream_ || max < 1) return 0;
    size_t done = 0;
    while (done < static_cast<size_t>(max) && refill()) {
        size_t avail = std::min(static_cast<size_t>(max) - done, filled_ - position_);
        const char* start = buffer_.data() + position_;
        const char* lf = static_cast<const char*>(memchr(start, '\n', avail));
        size_t take = lf ? static_cast<size_t>(lf - start) + 1 : avail;
        memcpy(out + done, start, take);
        position_ += take;
        done += take;
        if (lf) break;
    }
    out[done] = '\0';
    return static_cast<int>(done);
}

int StreamLineSource::peekByte(char* out) {
    if (!refill()) return 0;
    *out = buffer_[position_];
    return 1;
}

} // namespace qarvel
