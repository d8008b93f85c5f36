// LineSource: where the message parser reads a message from. A mailbox reader hands over its
// own connection (socket or file) through this interface; StreamLineSource reads a C stream.
// The operations behave as the socket's: readLine returns the bytes up to and including the
// line feed, at most max, and 0 or less at the end of the input or on failure.
#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>

namespace qarvel {

class LineSource {
public:
    virtual ~LineSource() = default;
    // The buffer holds max+1 bytes; the line is NUL-terminated when there is room.
    virtual int readLine(char* buffer, int max) = 0;
    // The next byte without consuming it: 1, or 0 or less at the end or on failure.
    virtual int peekByte(char* out) = 0;
    virtual int read(char* buffer, int length) = 0;
    // The bytes the source has read ahead and not yet handed out, without reading more: a
    // view of its own buffer, valid until the next call. 0 when nothing is buffered (or the
    // source keeps no buffer); the caller then reads a line.
    virtual size_t bufferedView(const char** data) {
        *data = nullptr;
        return 0;
    }
    // Takes n bytes of what bufferedView showed, as if they had been read.
    virtual void consume(size_t) {}
};

// A buffered LineSource over a stream opened for binary reading (not owned).
class StreamLineSource : public LineSource {
public:
    explicit StreamLineSource(FILE* stream = nullptr) { reset(stream); }
    void reset(FILE* stream) {
        stream_ = stream;
        position_ = filled_ = 0;
    }
    FILE* stream() const { return stream_; }
    int readLine(char* buffer, int max) override;
    int peekByte(char* out) override;
    int read(char* buffer, int length) override;
    size_t bufferedView(const char** data) override {
        *data = buffer_.data() + position_;
        return filled_ - position_;
    }
    void consume(size_t n) override { position_ += n; }

private:
    static constexpr size_t kBufferSize = 64 * 1024;
    bool refill();

    FILE* stream_ = nullptr;
    std::vector<char> buffer_;  // sized on the first read: a run that reads no file pays nothing
    size_t position_ = 0;
    size_t filled_ = 0;
};

} // namespace qarvel
