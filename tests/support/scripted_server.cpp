#include "support/scripted_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

namespace qarvel::test {

namespace {

using Clock = std::chrono::steady_clock;

int remainingMs(Clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

void sendAll(int fd, const char* data, size_t length) {
    size_t done = 0;
    while (done < length) {
        ssize_t n = ::send(fd, data + done, length - done, MSG_NOSIGNAL);
        if (n <= 0) return;  // the client is gone; the script goes on to record that
        done += static_cast<size_t>(n);
    }
}

std::string printable(const std::string& text) {
    std::string out;
    for (char c : text.substr(0, 80)) out += (c >= 32 && c < 127) ? c : '.';
    return out;
}

ScriptStep step(ScriptStep::Kind kind, std::string text = {}, size_t count = 0, int ms = 0) {
    ScriptStep s{kind, std::move(text), count, ms, {}};
    return s;
}

}  // namespace

ScriptStep expect(std::string prefix) { return step(ScriptStep::Kind::kExpect, std::move(prefix)); }
ScriptStep expectUntil(std::string prefix) {
    return step(ScriptStep::Kind::kExpect, std::move(prefix), 1);
}
ScriptStep receive(size_t count) { return step(ScriptStep::Kind::kReceive, {}, count); }
ScriptStep send(std::string text) { return step(ScriptStep::Kind::kSend, std::move(text)); }
ScriptStep sendBytes(size_t count, std::string pattern) {
    return step(ScriptStep::Kind::kSendBytes, std::move(pattern), count);
}
ScriptStep closeConnection() { return step(ScriptStep::Kind::kClose); }
ScriptStep reset() { return step(ScriptStep::Kind::kReset); }
ScriptStep stall(int milliseconds) { return step(ScriptStep::Kind::kStall, {}, 0, milliseconds); }
ScriptStep acceptNext() { return step(ScriptStep::Kind::kAccept); }
ScriptStep hold(int milliseconds) { return step(ScriptStep::Kind::kHold, {}, 0, milliseconds); }
ScriptStep sendEveryUntil(std::string text, int milliseconds, std::string prefix) {
    ScriptStep s = step(ScriptStep::Kind::kRepeat, std::move(text), 0, milliseconds);
    s.until = std::move(prefix);
    return s;
}

ScriptedServer::ScriptedServer(std::vector<ScriptStep> script, ScriptedServerOptions options)
    : script_(std::move(script)), options_(std::move(options)) {
    const bool six = options_.address.find(':') != std::string::npos;  // an IPv6 address
    int fd = ::socket(six ? AF_INET6 : AF_INET, SOCK_STREAM, 0);
    if (fd < 0) return;
    int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (options_.receiveBuffer > 0)
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &options_.receiveBuffer, sizeof options_.receiveBuffer);
    sockaddr_storage a{};
    socklen_t n = six ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
    auto* a4 = reinterpret_cast<sockaddr_in*>(&a);
    auto* a6 = reinterpret_cast<sockaddr_in6*>(&a);
    a.ss_family = six ? AF_INET6 : AF_INET;
    if (six) a6->sin6_port = htons(static_cast<uint16_t>(options_.port));
    else a4->sin_port = htons(static_cast<uint16_t>(options_.port));
    if (::inet_pton(a.ss_family, options_.address.c_str(), six ? static_cast<void*>(&a6->sin6_addr) : &a4->sin_addr) != 1 ||
        ::bind(fd, reinterpret_cast<sockaddr*>(&a), n) != 0 || ::listen(fd, 4) != 0) {
        ::close(fd);
        return;
    }
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &n);
    port_ = ntohs(six ? a6->sin6_port : a4->sin_port);
    listener_ = fd;
    thread_ = std::thread([this] { serve(); });
}

ScriptedServer::~ScriptedServer() { finish(); }

std::string ScriptedServer::finish() {
    if (thread_.joinable()) thread_.join();
    std::lock_guard<std::mutex> hold(mutex_);
    return received_;
}

std::string ScriptedServer::error() {
    finish();
    return error_;
}

bool ScriptedServer::connected() {
    finish();
    return connected_;
}

int ScriptedServer::connections() {
    finish();
    return connections_;
}

int ScriptedServer::acceptClient() {
    pollfd p{listener_, POLLIN, 0};
    int c = -1;
    if (::poll(&p, 1, options_.acceptMilliseconds) > 0) c = ::accept(listener_, nullptr, nullptr);
    if (c >= 0) ++connections_;
    return c;
}

void ScriptedServer::serve() {
    int c = acceptClient();
    bool more = false;
    for (const ScriptStep& s : script_) more = more || s.kind == ScriptStep::Kind::kAccept;
    // Later connection attempts are refused rather than left waiting in the backlog.
    if (!more) ::close(listener_);
    if (c < 0) {
        error_ = "no client connected";
        if (more) ::close(listener_);
        return;
    }
    connected_ = true;
    int played = play(c);
    if (more) ::close(listener_);
    if (played == 0) {
        // The script is done: record what the client still sends until it closes.
        auto deadline = Clock::now() + std::chrono::milliseconds(options_.stepMilliseconds);
        while (!peerClosed_ && remainingMs(deadline) > 0) readMore(c, remainingMs(deadline));
        ::close(c);
    }
}

bool ScriptedServer::readMore(int fd, int milliseconds) {
    if (peerClosed_) return false;
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, milliseconds) <= 0) return false;
    char buffer[65536];
    ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
    if (n <= 0) {
        peerClosed_ = true;
        return false;
    }
    std::lock_guard<std::mutex> hold(mutex_);
    received_.append(buffer, static_cast<size_t>(n));
    return true;
}

bool ScriptedServer::takeLine(std::string& line) {
    std::lock_guard<std::mutex> hold(mutex_);
    size_t end = received_.find('\n', consumed_);
    if (end == std::string::npos) return false;
    line = received_.substr(consumed_, end + 1 - consumed_);
    consumed_ = end + 1;
    return true;
}

bool ScriptedServer::waitLine(int fd, std::string& line) {
    auto deadline = Clock::now() + std::chrono::milliseconds(options_.stepMilliseconds);
    for (;;) {
        if (takeLine(line)) return true;
        if (peerClosed_ || remainingMs(deadline) == 0) return false;
        readMore(fd, remainingMs(deadline));
    }
}

// Plays the steps; returns 0 when the connection is still open afterwards, 1 when a step
// closed it.
int ScriptedServer::play(int& fd) {
    for (size_t i = 0; i < script_.size(); ++i) {
        const ScriptStep& s = script_[i];
        const bool acceptFollows = i + 1 < script_.size() && script_[i + 1].kind == ScriptStep::Kind::kAccept;
        switch (s.kind) {
        case ScriptStep::Kind::kExpect: {
            std::string line;
            for (;;) {
                if (!waitLine(fd, line)) {
                    error_ = "no line starting with '" + s.text + "' arrived";
                    break;
                }
                if (strncasecmp(line.c_str(), s.text.c_str(), s.text.size()) == 0) break;
                if (s.count == 0) {
                    error_ = "expected '" + s.text + "', got '" + printable(line) + "'";
                    break;
                }
            }
            if (!error_.empty()) {
                ::close(fd);
                return 1;
            }
            break;
        }
        case ScriptStep::Kind::kReceive: {
            auto deadline = Clock::now() + std::chrono::milliseconds(options_.stepMilliseconds);
            for (;;) {
                {
                    std::lock_guard<std::mutex> hold(mutex_);
                    if (received_.size() - consumed_ >= s.count) {
                        consumed_ += s.count;
                        break;
                    }
                }
                if (peerClosed_ || remainingMs(deadline) == 0) {
                    error_ = "fewer than " + std::to_string(s.count) + " bytes arrived";
                    break;
                }
                readMore(fd, remainingMs(deadline));
            }
            break;
        }
        case ScriptStep::Kind::kSend:
            sendAll(fd, s.text.data(), s.text.size());
            break;
        case ScriptStep::Kind::kSendBytes: {
            std::string block;
            while (block.size() < 65536) block += s.text;
            for (size_t left = s.count; left > 0;) {
                size_t n = left < block.size() ? left : block.size();
                sendAll(fd, block.data(), n);
                left -= n;
            }
            break;
        }
        case ScriptStep::Kind::kClose:
            ::close(fd);
            fd = -1;
            if (!acceptFollows) return 1;
            break;
        case ScriptStep::Kind::kReset: {
            linger l{1, 0};
            ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
            ::close(fd);
            fd = -1;
            if (!acceptFollows) return 1;
            break;
        }
        case ScriptStep::Kind::kAccept: {
            if (fd >= 0) ::close(fd);
            fd = acceptClient();
            if (fd < 0) {
                error_ = "no further client connected";
                return 1;
            }
            std::lock_guard<std::mutex> hold(mutex_);
            consumed_ = received_.size();
            peerClosed_ = false;
            break;
        }
        case ScriptStep::Kind::kStall: {
            auto deadline = Clock::now() + std::chrono::milliseconds(s.milliseconds);
            while (!peerClosed_ && remainingMs(deadline) > 0) readMore(fd, remainingMs(deadline));
            break;
        }
        case ScriptStep::Kind::kRepeat: {
            auto deadline = Clock::now() + std::chrono::milliseconds(options_.stepMilliseconds);
            std::string line;
            while (!takeLine(line)) {
                if (peerClosed_ || remainingMs(deadline) == 0) break;
                sendAll(fd, s.text.data(), s.text.size());
                auto next = Clock::now() + std::chrono::milliseconds(s.milliseconds);
                while (!peerClosed_ && remainingMs(next) > 0 && readMore(fd, remainingMs(next))) {
                }
            }
            if (strncasecmp(line.c_str(), s.until.c_str(), s.until.size()) != 0 || line.empty()) {
                error_ = "no line starting with '" + s.until + "' came between the repeats";
                ::close(fd);
                return 1;
            }
            break;
        }
        case ScriptStep::Kind::kHold: {
            auto deadline = Clock::now() + std::chrono::milliseconds(s.milliseconds);
            while (remainingMs(deadline) > 0) {
                pollfd p{fd, POLLRDHUP, 0};
                if (::poll(&p, 1, remainingMs(deadline)) > 0 && (p.revents & (POLLRDHUP | POLLHUP | POLLERR)))
                    break;
            }
            break;
        }
        }
    }
    return 0;
}

int refusedPort() {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t n = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &n);
    ::close(fd);  // bound but never listening: the port is free again and refuses
    return ntohs(a.sin_port);
}

}  // namespace qarvel::test
