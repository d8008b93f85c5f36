// Test peers for the TLS layer: the certificates of scripts/servers/tls.sh (made once per build
// folder, under a lock so parallel test processes share them) and `openssl s_server` started
// on a free loopback port, stopped when the object goes.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

namespace qarvel::test {

// The folder holding ca.crt, server.*, wrong.*, expired.*, untrusted.*, client.*; empty when
// the script failed.
inline std::string certificateFolder() {
    static const std::string folder = [] {
        std::string binary = QARVEL_BINARY;
        std::string dir = binary.substr(0, binary.rfind('/')) + "/test-state";
        std::string mkdir = "mkdir -p '" + dir + "'";
        if (std::system(mkdir.c_str()) != 0) return std::string();
        int lock = ::open((dir + "/tls.lock").c_str(), O_CREAT | O_RDWR, 0644);
        if (lock < 0) return std::string();
        ::flock(lock, LOCK_EX);
        std::string command = std::string("bash '") + QARVEL_SOURCE_DIR +
                              "/scripts/servers/tls.sh' start '" + dir + "'";
        int rc = std::system(command.c_str());
        ::flock(lock, LOCK_UN);
        ::close(lock);
        return rc == 0 ? dir + "/tls" : std::string();
    }();
    return folder;
}

inline std::string certificate(const std::string& name) { return certificateFolder() + "/" + name; }

// `openssl s_server -rev` (sends every line back reversed) with the named certificate (NAME.crt,
// NAME.key), plus extra arguments. port is 0 when it did not start within ten seconds.
class OpensslServer {
public:
    explicit OpensslServer(const std::string& name, std::vector<std::string> extra = {}) {
        std::vector<std::string> args = {"openssl", "s_server", "-accept", "127.0.0.1:0",
                                          "-cert", certificate(name + ".crt"),
                                          "-key", certificate(name + ".key"), "-rev"};
        args.insert(args.end(), extra.begin(), extra.end());
        int out[2];
        if (::pipe(out) != 0) return;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(out[1], 1);
            ::dup2(out[1], 2);
            int null = ::open("/dev/null", O_RDONLY);
            ::dup2(null, 0);
            ::close(out[0]);
            std::vector<char*> argv;
            for (auto& a : args) argv.push_back(a.data());
            argv.push_back(nullptr);
            ::execvp("openssl", argv.data());
            ::_exit(127);
        }
        ::close(out[1]);
        output_ = out[0];
        // "ACCEPT 127.0.0.1:PORT" tells the port once it listens.
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (port == 0 && std::chrono::steady_clock::now() < deadline) {
            if (!readSome(200)) continue;
            size_t at = log.find("ACCEPT 127.0.0.1:");
            size_t end = at == std::string::npos ? at : log.find('\n', at);
            if (end != std::string::npos) port = std::atoi(log.c_str() + at + 17);
        }
    }
    ~OpensslServer() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            ::waitpid(pid_, nullptr, 0);
        }
        if (output_ >= 0) ::close(output_);
    }
    OpensslServer(const OpensslServer&) = delete;
    OpensslServer& operator=(const OpensslServer&) = delete;

    // Collects what the server printed for up to ms milliseconds, until text appears.
    bool waitFor(const std::string& text, int ms) {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (log.find(text) == std::string::npos) {
            if (std::chrono::steady_clock::now() >= deadline) return false;
            readSome(100);
        }
        return true;
    }
    std::string portText() const { return std::to_string(port); }

    int port = 0;
    std::string log;

private:
    bool readSome(int ms) {
        pollfd p{output_, POLLIN, 0};
        if (::poll(&p, 1, ms) <= 0) return false;
        char buffer[4096];
        ssize_t n = ::read(output_, buffer, sizeof buffer);
        if (n <= 0) return false;
        log.append(buffer, static_cast<size_t>(n));
        return true;
    }

    pid_t pid_ = -1;
    int output_ = -1;
};

}  // namespace qarvel::test
