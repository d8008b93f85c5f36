// A scripted plain-text server on a free loopback port, for exact dialogues and faults: it
// greets, answers each line it receives through a callback, and records every byte that
// arrived. After an answer marked `raw` it stops reading lines (the client is expected to start
// TLS) and only records what comes, until the client closes or two seconds pass.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace qarvel::test {

struct LineAnswer {
    LineAnswer() = default;
    LineAnswer(std::string t, bool r = false, bool c = false, std::string after = {})
        : text(std::move(t)), raw(r), close(c), afterRaw(std::move(after)) {}
    std::string text;      // sent as it is (CR LF included by the caller)
    bool raw = false;      // from now on only record
    bool close = false;    // close right after sending text
    std::string afterRaw;  // sent once when the first bytes arrive in raw mode
};

class LineServer {
public:
    LineServer(std::string greeting, std::function<LineAnswer(const std::string&)> answer)
        : greeting_(std::move(greeting)), answer_(std::move(answer)) {
        listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a);
        socklen_t n = sizeof a;
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &n);
        port = ntohs(a.sin_port);
        ::listen(listener_, 1);
        thread_ = std::thread([this] { serve(); });
    }
    ~LineServer() {
        if (thread_.joinable()) thread_.join();
        ::close(listener_);
    }
    LineServer(const LineServer&) = delete;
    LineServer& operator=(const LineServer&) = delete;

    // Everything received so far (complete once the session ended).
    std::string received() {
        std::lock_guard<std::mutex> hold(mutex_);
        return received_;
    }
    // Waits for the session to end, then returns everything received.
    std::string finish() {
        if (thread_.joinable()) thread_.join();
        return received_;
    }
    std::string portText() const { return std::to_string(port); }

    int port = 0;

private:
    static void sendAll(int fd, const std::string& text) {
        size_t done = 0;
        while (done < text.size()) {
            ssize_t w = ::send(fd, text.data() + done, text.size() - done, MSG_NOSIGNAL);
            if (w <= 0) return;
            done += static_cast<size_t>(w);
        }
    }

    void serve() {
        pollfd p{listener_, POLLIN, 0};
        if (::poll(&p, 1, 10000) <= 0) return;
        int c = ::accept(listener_, nullptr, nullptr);
        if (c < 0) return;
        sendAll(c, greeting_);
        bool raw = false;
        std::string pending, afterRaw;
        for (;;) {
            pollfd q{c, POLLIN, 0};
            if (::poll(&q, 1, raw ? 2000 : 10000) <= 0) break;
            char buffer[4096];
            ssize_t n = ::recv(c, buffer, sizeof buffer, 0);
            if (n <= 0) break;
            {
                std::lock_guard<std::mutex> hold(mutex_);
                received_.append(buffer, static_cast<size_t>(n));
            }
            if (raw) {
                sendAll(c, afterRaw);
                afterRaw.clear();
                continue;
            }
            pending.append(buffer, static_cast<size_t>(n));
            size_t end;
            bool closed = false;
            while (!raw && (end = pending.find('\n')) != std::string::npos) {
                std::string line = pending.substr(0, end + 1);
                pending.erase(0, end + 1);
                LineAnswer a = answer_(line);
                sendAll(c, a.text);
                raw = a.raw;
                afterRaw = a.afterRaw;
                if (a.close) closed = true;
                if (closed) break;
            }
            if (closed) break;
        }
        ::close(c);
    }

    std::string greeting_;
    std::function<LineAnswer(const std::string&)> answer_;
    int listener_ = -1;
    std::mutex mutex_;
    std::string received_;
    std::thread thread_;
};

}  // namespace qarvel::test
