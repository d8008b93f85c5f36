// ImapDialogue: the steps both IMAP clients (the mailbox reader and the upload session) take
// before their own commands, written once: connect and read the greeting (a referral followed a
// few times, a BYE refused), ask the capabilities, upgrade with STARTTLS when TLS was asked for,
// and log in by the best method the server offers (CRAM-MD5 where allowed, PLAIN, LOGIN, the
// LOGIN command, or an OAuth2 bearer token), following a login referral too.
//
// Credentials go only to a server the user named: once a referral led to another host or
// port, no login is sent. A password never goes out in clear when TLS was asked for.
//
// The client keeps what differs: how it opens a connection, how it reads a response (the
// reader with its literals into a large buffer, the upload session line by line) and how it
// judges a tagged line.
#pragma once

#include "base/string.h"
#include "net/imap_core.h"

namespace qarvel {

class Connection;

class ImapDialogue {
public:
    // What the dialogue asks of the client it serves.
    class Client {
    public:
        // Ends an earlier session, opens a connection to host:port and reads the greeting: 1
        // with the greeting as the response line, else below 1.
        virtual int openAndGreet(const String& host, const String& port) = 0;
        // Reads one response (an untagged one digested as the client digests it): 1, else
        // below 1 (the read failed).
        virtual int readResponse() = 0;
        // The response read last (with its line end), or the reason set below.
        virtual const char* responseLine() const = 0;
        // A reason of the client's own in place of the response line.
        virtual void setResponseLine(const char* text) = 0;
        // The verdict on the tagged line read last: 1 for OK under the current tag.
        virtual int judgeTagged() = 0;

    protected:
        ~Client() = default;
    };

    // `connection` is the client itself, as a connection: the dialogue sends its commands and
    // starts TLS on it.
    ImapDialogue(Connection& connection, Client& client) : connection_(connection), client_(client) {}

    ImapCore& core() { return core_; }
    const ImapCore& core() const { return core_; }

    // Connects to the servers the user named ("a,b:port", port the default), following
    // greeting referrals: 1 once a login may follow, else below 1 (closed).
    int connect(const String& hosts, const String& port);
    // Logs in, following login referrals (allowCramMd5: CRAM-MD5 may be used when offered):
    // 1, else below 1 (a refused login gives the client's verdict).
    int login(const String& user, const String& password, bool allowCramMd5);

private:
    // What a step returns when the server referred it elsewhere; what a login exchange
    // returns when it has read the server's verdict already.
    static constexpr int kReferred = 2;
    static constexpr int kVerdictRead = 3;

    // Connects to host_:port_ and follows greeting referrals.
    int connectFollowing();
    // One connection: greeting, capabilities, STARTTLS. kReferred with the referral's target.
    int connectOnce(ImapCore::Referral& referral);
    // One login; kReferred when the reply refers elsewhere.
    int loginOnce(const String& user, const String& password, bool allowCramMd5,
                  ImapCore::Referral& referral);
    // Sends the login: 1 when the verdict is still to be read, kVerdictRead when the server
    // gave it already, 0 when the login could not be sent (or the connection was lost).
    int sendLogin(const String& user, const String& password, bool allowCramMd5,
                  const ImapCore::Capabilities& offered);
    int sendBearer(const String& user, const String& token, const ImapCore::Capabilities& offered);
    // "AUTHENTICATE name", then awaitContinuation.
    int beginAuthenticate(const char* mechanism);
    // Reads past untagged responses to the server's continuation: 1, kVerdictRead when the
    // tagged verdict came instead, 0 when the read failed.
    int awaitContinuation();
    // One line of a SASL exchange that carries a credential: 1, or 0 when the send failed.
    int answer(const String& text);
    int askCapabilities();
    int startTls();
    // Moves to the server a referral names (its port, else `port`).
    void referTo(const ImapCore::Referral& referral, const String& port);
    // Closes the connection without a word: nothing more may be said on it.
    void drop();

    Connection& connection_;
    Client& client_;
    ImapCore core_;
    String namedHosts_, namedPort_;  // what the user named: only these get credentials
    String host_, port_;             // the server of the current connection
    bool onNamedServer_ = true;
};

} // namespace qarvel
