// Connection: a Socket that opens a connection (or a datagram binding) to a host and a service.
// Every protocol class derives from it. With implicit TLS on, a successful open is followed at
// once by the TLS handshake, so the protocol on top sees only plaintext.
//
// The command loop of the line protocols lives here once: sendCommand formats a command and
// sends it, command also reads the reply. Each protocol family supplies vsendCommand (its own
// command buffer and trace rule, then sendFormatted) and readReply (how a reply is judged).
//
// Pipelining is written here once too: a run that knows which commands come next sends a few
// of them ahead of their replies (sendInTurn), and any other command first reads and drops the
// replies still owed (discardAhead), so that every reply meets the command it answers.
#pragma once

#include <cstdarg>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "net/connection_options.h"
#include "net/sasl_answers.h"
#include "net/socket.h"

namespace qarvel {

class Connection : public Socket {
public:
    explicit Connection(uint32_t flags = 0, char terminator = '\n') : Socket(flags, terminator) {}

    // Connect and hand the peer data in the same step; what the peer answers is buffered.
    virtual int openWithData(const String& host, const String& service, const char* data,
                             int length);
    // Connect or bind: 1 on success, the negated Winsock error on failure.
    virtual int open(const String& host, const String& service);
    // Ends the session; here it only closes. Session classes override it.
    virtual int disconnect() { return close(); }

    // Time-out, the two forms of TLS and their options, set once by the run with its trace
    // level (-v:; above 1 the dialogue is echoed). A session class takes the options of its
    // own as well (a sender its firewall text and command buffer size).
    virtual void setConnectionOptions(const ConnectionOptions& options, int verbose = 0);
    // The trace alone, for a step that runs without it.
    void setTraceLevel(int level) { traceLevel_ = level; }
    int traceLevel() const { return traceLevel_; }
    // TLS right after every successful open (-ssl).
    bool ssl() const { return options_.ssl; }
    // STARTTLS (STLS) after the greeting, done by the protocol class (-tls).
    bool tls() const { return options_.tls; }
    // The options the run set (the retries, the level and the certificate of a session).
    const ConnectionOptions& connectionOptions() const { return options_; }

    // The one retry loop of every session: runs attempt (one open of the session, which
    // returns its result) until it succeeds or the retries are spent (-1: the -retries: of the
    // connection options). After each failure, failed (when given) reports it and what the
    // attempt left open is dropped. Returns the last result.
    int connectWithRetries(const std::function<int()>& attempt,
                           const std::function<void(int result)>& failed = nullptr, int retries = -1);

    // How the session logs in (a password by default, or an OAuth2 bearer token).
    void setLoginMechanism(LoginMechanism mechanism) { loginMechanism_ = mechanism; }
    LoginMechanism loginMechanism() const { return loginMechanism_; }

    const String& connectedHost() const { return host_; }
    const String& connectedService() const { return service_; }

    // --- the command loop ---
    // Formats a command and sends it whole. Returns the send result (below 1 on failure).
    int sendCommand(const char* format, ...) __attribute__((format(printf, 2, 3)));
    // sendCommand, then readReply; a failed send is returned as it is.
    int command(const char* format, ...) __attribute__((format(printf, 2, 3)));
    // The same for a command that carries a credential: wherever `secret` stands in the
    // command, the trace shows "***" (the peer gets the command as it is).
    int sendSecret(const String& secret, const char* format, ...) __attribute__((format(printf, 3, 4)));
    int commandSecret(const String& secret, const char* format, ...) __attribute__((format(printf, 3, 4)));
    // Reads and judges the peer's reply. Here: -1, as a bare connection has no dialogue.
    virtual int readReply() { return -1; }

    // --- commands sent ahead of their replies ---
    // Sends the command for one key (a message number): 1, else the failed send; `tag` gets
    // what the reply will be known by (an IMAP tag; 0 where replies are known by their order).
    using SendFor = std::function<int(int key, unsigned long& tag)>;
    // The key whose command follows key's, or 0 when none is known.
    using NextKey = std::function<int(int key)>;
    // Makes the reply to key's command the next one to read: it was sent ahead, or it is sent
    // now (the replies owed before it read and dropped first). Then commands for the keys that
    // `next` names are sent ahead until `window` commands are unanswered, this one included
    // (a window of 1: lockstep). `tag` gets the tag of key's command. 1, else the failure.
    int sendInTurn(int key, const SendFor& send, const NextKey& next, size_t window, unsigned long& tag);
    // The commands sent ahead whose replies have not been read.
    size_t commandsAhead() const { return ahead_.size(); }
    // Reads and drops the reply of every command sent ahead: 1, else the failed read (the
    // connection is then closed and nothing is owed).
    int discardAhead();

protected:
    // Formats and sends one command. Here: -1, as a bare connection has no command buffer.
    virtual int vsendCommand(const char*, va_list) { return -1; }
    // Reads and drops one whole reply to a command sent ahead (tag as its send gave it): 1
    // when it was read, whatever it said; else the failed read. Here: -1.
    virtual int discardReply(unsigned long) { return -1; }
    // Forgets the commands sent ahead (the connection they went on is gone).
    void forgetAhead() { ahead_.clear(); }
    // Formats a command into `buffer`, echoes it to standard output when `trace` is set (the
    // credential of sendSecret/commandSecret as "***") and sends it. A CR or LF that an argument brings becomes a blank: only the format ends lines.
    // Returns the send result; -1 when the command cannot be formatted or does not fit the
    // buffer (nothing is sent), 0 when the peer took only a part of it.
    int sendFormatted(std::vector<char>& buffer, bool trace, const char* format, va_list args);
    // Trace output: the bytes on standard output, flushed at once.
    static void echo(const char* data, size_t length);

    int traceLevel_ = 0;

private:
    int vsendSecret(const String& secret, const char* format, va_list args);
    // vsendCommand after the replies owed to the commands sent ahead (outside sendInTurn).
    int vsendInOrder(const char* format, va_list args);

    struct Ahead {
        int key;
        unsigned long tag;
    };
    int openSocket(const String& host, const String& service);

    String host_, service_;
    ConnectionOptions options_;
    std::string traceSecret_;  // the credential of the command being sent, hidden in the trace
    LoginMechanism loginMechanism_ = LoginMechanism::kPassword;
    std::deque<Ahead> ahead_;  // sent ahead, oldest first
    bool sendingAhead_ = false;
};

}  // namespace qarvel
