// ByteSink: where the streaming codecs write their output (a string in memory, a file, the
// data path of a sender).
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

namespace qarvel {

class ByteSink {
public:
    virtual ~ByteSink() = default;
    virtual void write(const char* bytes, size_t count) = 0;
};

class StringSink : public ByteSink {
public:
    void write(const char* bytes, size_t count) override { text.append(bytes, count); }
    std::string text;
};

// Writes to a FILE; remembers whether any write came back short.
class FileSink : public ByteSink {
public:
    explicit FileSink(std::FILE* file) : file_(file) {}
    void write(const char* bytes, size_t count) override {
        if (count && std::fwrite(bytes, 1, count, file_) != count) failed_ = true;
    }
    bool failed() const { return failed_; }

private:
    std::FILE* file_;
    bool failed_ = false;
};

}  // namespace qarvel
