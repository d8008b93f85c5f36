// A sender whose socket is replaced by a script: replies are queued text, everything the
// sender sends is recorded. Lets the tests check exact dialogues and inject faults (a peer
// that closes after a number of bytes, garbage replies) without timing.
#pragma once

#include <string>
#include <vector>

#include "base/string.h"

namespace qarvel {

template <class Session>
class ScriptedPeer : public Session {
public:
    // Replies the peer gives, in order (whole text, lines ended by CR LF).
    std::string replies;
    // Everything the session sent.
    std::string sent;
    // After this many bytes sent, the peer is gone: sends fail with a reset (-10054).
    size_t closeAfterBytes = static_cast<size_t>(-1);
    std::string openedHost, openedPort;
    int openResult = 1;
    // How much had been sent when each reply line was read: shows which commands went out
    // before their replies were waited for (pipelining).
    std::vector<size_t> sentAtRead;

    int open(const String& host, const String& service) override {
        openedHost += host.str() + ":" + service.str() + " ";
        if (openResult < 1) return openResult;
        this->openCount = 1;
        return 1;
    }
    int send(const char* data, int length) override {
        if (this->openCount < 1) return -10057;
        if (sent.size() + static_cast<size_t>(length) > closeAfterBytes) {
            sent.append(data, closeAfterBytes - sent.size());
            return -10054;
        }
        sent.append(data, static_cast<size_t>(length));
        return length;
    }
    int readLine(char* buffer, int max) override {
        sentAtRead.push_back(sent.size());
        if (replies.empty()) return 0;  // the peer closed
        size_t n = replies.find('\n');
        n = n == std::string::npos ? replies.size() : n + 1;
        if (n > static_cast<size_t>(max)) n = static_cast<size_t>(max);
        replies.copy(buffer, n);
        replies.erase(0, n);
        return static_cast<int>(n);
    }
    int close() override {
        this->openCount = 0;
        return 1;
    }
    // The commands sent (lines outside the message data are what the tests compare).
    std::string commandsOnly() const {
        std::string out;
        size_t pos = 0;
        bool inData = false;
        while (pos < sent.size()) {
            size_t end = sent.find("\r\n", pos);
            if (end == std::string::npos) end = sent.size();
            std::string line = sent.substr(pos, end - pos);
            if (inData) {
                if (line == ".") inData = false;
            } else {
                out += line + "\n";
                if (line == "DATA") inData = true;
            }
            pos = end + 2;
        }
        return out;
    }
};

} // namespace qarvel
