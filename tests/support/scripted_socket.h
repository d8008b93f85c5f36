// ScriptedSocket: a protocol class whose socket is an in-memory script. What the peer says is
// given up front (or added on the way); everything the class sends is recorded. Reads behave as
// the socket's do: pieces up to max bytes, 0 (the peer closed) once the script runs out. Faults
// without timing: a refused connect, a peer gone after a number of bytes sent.
#pragma once

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "base/string.h"

namespace qarvel {

template <class Base>
class ScriptedSocket : public Base {
public:
    using Base::open;
    explicit ScriptedSocket(std::string replies = std::string()) : replies_(std::move(replies)) {}

    // Replaces what the peer has still to say.
    void setReplies(std::string replies) { replies_ = std::move(replies); position_ = 0; }
    void addReplies(const std::string& more) { replies_ += more; }

    std::string sent;                 // everything sent
    std::string opened;               // "host:port " for every open
    int openResult = 1;               // below 1: opening fails with it
    size_t closeAfterBytes = static_cast<size_t>(-1);  // then sends fail with a reset (-10054)
    // How much had been sent when each line was read: shows which commands went out before
    // their replies were waited for (pipelining).
    std::vector<size_t> sentAtRead;

    int open(const String& host, const String& service) override {
        opened += host.str() + ":" + service.str() + " ";
        if (openResult < 1) return openResult;
        this->markOpen();
        return 1;
    }
    int read(char* buffer, int length) override {
        if (!this->isOpen()) return -10057;
        size_t n = std::min(static_cast<size_t>(std::max(length, 0)), replies_.size() - position_);
        memcpy(buffer, replies_.data() + position_, n);
        position_ += n;
        return static_cast<int>(n);
    }
    int readLine(char* buffer, int max) override {
        sentAtRead.push_back(sent.size());
        if (!this->isOpen()) return -10057;
        size_t limit = std::min(static_cast<size_t>(std::max(max, 0)), replies_.size() - position_);
        const char* start = replies_.data() + position_;
        const char* lf = static_cast<const char*>(memchr(start, '\n', limit));
        size_t n = lf ? static_cast<size_t>(lf - start) + 1 : limit;
        memcpy(buffer, start, n);
        position_ += n;
        return static_cast<int>(n);
    }
    int peekByte(char* out) override {
        if (!this->isOpen()) return -10057;
        if (position_ >= replies_.size()) return 0;
        *out = replies_[position_];
        return 1;
    }
    // What a socket would hold in its buffer: the script up to the next multiple of
    // viewBlock bytes, so that readers meet views that end anywhere in a line.
    size_t bufferedView(const char** data) override {
        *data = replies_.data() + position_;
        if (!this->isOpen() || viewBlock == 0) return 0;
        return std::min(replies_.size(), (position_ / viewBlock + 1) * viewBlock) - position_;
    }
    void consume(size_t n) override { position_ += n; }
    size_t viewBlock = 4096;  // 0: no view (every read goes line by line)
    int send(const char* data, int length) override {
        if (!this->isOpen()) return -10057;
        size_t n = static_cast<size_t>(std::max(length, 0));
        if (sent.size() + n > closeAfterBytes) {
            sent.append(data, closeAfterBytes - sent.size());
            return -10054;
        }
        sent.append(data, n);
        return length;
    }

    // The SMTP commands sent, one a line, without the message data between DATA and ".".
    std::string commandsOnly() const {
        std::string out;
        bool inData = false;
        for (size_t pos = 0; pos < sent.size();) {
            size_t end = std::min(sent.find("\r\n", pos), sent.size());
            std::string line = sent.substr(pos, end - pos);
            if (!inData) out += line + "\n";
            inData = inData ? line != "." : line == "DATA";
            pos = end + 2;
        }
        return out;
    }

private:
    std::string replies_;
    size_t position_ = 0;
};

}  // namespace qarvel
