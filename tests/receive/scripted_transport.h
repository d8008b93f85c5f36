// ScriptedTransport: a reader whose connection is an in-memory script. What the server would
// send is given up front; everything the reader sends is recorded. The reading operations
// behave as the socket's do: pieces up to max bytes, 0 (closed) once the script runs out.
#pragma once

#include <algorithm>
#include <cstring>
#include <string>

#include "base/string.h"

namespace qarvel {

template <class Reader>
class ScriptedTransport : public Reader {
public:
    using Reader::open;
    explicit ScriptedTransport(std::string script = std::string()) : script_(std::move(script)) {}

    void setScript(std::string script) { script_ = std::move(script); position_ = 0; }
    const std::string& sent() const { return sent_; }
    void clearSent() { sent_.clear(); }
    // When set, opening the connection fails with this (negative) result.
    void failConnect(int result) { connectResult_ = result; }

    int open(const String&, const String&) override {
        if (connectResult_ < 1) return connectResult_;
        this->openCount = 1;
        return 1;
    }
    int read(char* buffer, int length) override {
        if (this->openCount < 1) return -1;
        size_t n = std::min(static_cast<size_t>(std::max(length, 0)), script_.size() - position_);
        memcpy(buffer, script_.data() + position_, n);
        position_ += n;
        return static_cast<int>(n);
    }
    int readLine(char* buffer, int max) override {
        if (this->openCount < 1) return -1;
        if (position_ >= script_.size()) return 0;
        size_t limit = std::min(static_cast<size_t>(std::max(max, 0)), script_.size() - position_);
        const char* start = script_.data() + position_;
        const char* lf = static_cast<const char*>(memchr(start, '\n', limit));
        size_t n = lf ? static_cast<size_t>(lf - start) + 1 : limit;
        memcpy(buffer, start, n);
        position_ += n;
        return static_cast<int>(n);
    }
    int peekByte(char* out) override {
        if (this->openCount < 1) return -1;
        if (position_ >= script_.size()) return 0;
        *out = script_[position_];
        return 1;
    }
    int send(const char* data, int length) override {
        if (this->openCount < 1) return -1;
        sent_.append(data, static_cast<size_t>(std::max(length, 0)));
        return length;
    }

private:
    std::string script_;
    size_t position_ = 0;
    std::string sent_;
    int connectResult_ = 1;
};

} // namespace qarvel
