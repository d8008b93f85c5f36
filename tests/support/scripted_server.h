// ScriptedServer: a TCP server on a loopback address that plays a fixed script against the
// first client that connects, in a thread of its own. The script is a list of steps: wait for a
// line with a given start, wait for a number of bytes, send text, send a long run of bytes,
// close, reset (SO_LINGER 0, so the client sees a connection reset), stall. Every wait is
// bounded; a step that is not met ends the script and is reported by error(). Everything the
// client sent is recorded. The destructor (or finish) joins the thread.
#pragma once

#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace qarvel::test {

struct ScriptStep {
    enum class Kind { kExpect, kReceive, kSend, kSendBytes, kClose, kReset, kStall, kHold, kAccept, kRepeat };
    Kind kind;
    std::string text;   // kExpect: the line start (case ignored); kSend, kRepeat: the text; kSendBytes: the pattern
    size_t count = 0;   // kReceive: bytes; kSendBytes: total bytes
    int milliseconds = 0;  // kStall, kHold; kRepeat: the interval
    std::string until;     // kRepeat: the start of the client's line that ends it
};

// Waits for the next line (up to and including LF) and checks that it begins with prefix.
ScriptStep expect(std::string prefix);
// Waits until the client's lines up to one that begins with prefix have arrived (the lines
// before it are recorded, not checked): for message data ending in ".".
ScriptStep expectUntil(std::string prefix);
// Waits until count more bytes have arrived (or the client closed).
ScriptStep receive(size_t count);
ScriptStep send(std::string text);
// Sends count bytes made by repeating pattern (for replies of a megabyte without a line end).
ScriptStep sendBytes(size_t count, std::string pattern);
// Closes the connection in order (FIN).
ScriptStep closeConnection();
// Resets the connection: SO_LINGER with a zero time, then close.
ScriptStep reset();
// Closes the connection (when a step has not) and takes the next client; its steps see only
// what it sends. Without this step a second client is refused.
ScriptStep acceptNext();
// Says nothing for the time given while still reading what the client sends; ends early when
// the client closes.
ScriptStep stall(int milliseconds);
// Sends text every interval (a keep-alive line) until the client's next line, which must begin
// with prefix, arrives; bounded as a wait step.
ScriptStep sendEveryUntil(std::string text, int milliseconds, std::string prefix);
// Neither reads nor writes for the time given (the client's sends fill the buffers and block);
// ends early when the client closes.
ScriptStep hold(int milliseconds);

struct ScriptedServerOptions {
    std::string address = "127.0.0.1";
    int port = 0;                  // 0: a free port
    int acceptMilliseconds = 20000;  // how long to wait for the client
    int stepMilliseconds = 20000;    // how long each wait step may take
    int receiveBuffer = 0;         // SO_RCVBUF of the listener (0: the system's)
};

class ScriptedServer {
public:
    explicit ScriptedServer(std::vector<ScriptStep> script, ScriptedServerOptions options = {});
    ~ScriptedServer();
    ScriptedServer(const ScriptedServer&) = delete;
    ScriptedServer& operator=(const ScriptedServer&) = delete;

    // False when the listener could not be set up (the address or port was taken).
    bool listening() const { return listener_ >= 0; }
    int port() const { return port_; }
    std::string portText() const { return std::to_string(port_); }

    // Waits for the script to end; returns everything the client sent.
    std::string finish();
    // What went wrong with the script, empty when every step was met (valid after finish).
    std::string error();
    // Whether a client connected at all (valid after finish).
    bool connected();
    // How many clients were taken (valid after finish).
    int connections();

private:
    void serve();
    int acceptClient();
    int play(int& fd);
    bool readMore(int fd, int milliseconds);
    bool waitLine(int fd, std::string& line);
    bool takeLine(std::string& line);

    std::vector<ScriptStep> script_;
    ScriptedServerOptions options_;
    int listener_ = -1;
    int port_ = 0;
    std::mutex mutex_;
    std::string received_;  // everything that arrived
    size_t consumed_ = 0;   // how much of it the steps have looked at
    bool peerClosed_ = false;
    bool connected_ = false;
    int connections_ = 0;
    std::string error_;
    std::thread thread_;
};

// A loopback port on which nothing listens (connecting is refused).
int refusedPort();

}  // namespace qarvel::test
