// The POP3 reader.
#include "receive/pop3_reader.h"

#include <cstdio>
#include <cstring>
#include <strings.h>

#include "net/sasl_answers.h"

#include "base/md5.h"

namespace qarvel {

namespace {

// Listing lines and status lines are read with at most this many characters.
constexpr int kListLineMax = 511;
// The time stamp between "<" and ">" is kept up to this length.
constexpr size_t kTimeStampMax = 255;
// QUIT waits this long for its reply.
constexpr int kQuitTimeout = 30;
// The size table holds at most this many entries (the count comes from the server).
constexpr int kMessagesMax = 1000000;

} // namespace

String apopDigest(const String& timeStamp, const String& password) {
    String secret = timeStamp + password;
    return md5Hex(secret);
}

Pop3Reader::Pop3Reader() { sizeTrust_ = 0; }

Pop3Reader::~Pop3Reader() {
    if (connected()) close();
}

int Pop3Reader::readReply() {
    int r = readReplyLine();
    if (r < 1) {
        Connection::close();
        return r;
    }
    if (reply_[0] == '-') return kReaderFailed;
    if (reply_[0] == '+') return kReaderOk;
    return kReaderNotDone;
}

int Pop3Reader::open(const String& host, const String& port, const char* certificate, int level) {
    if (connected()) close();
    timeStamp_ = String();
    capabilities_ = Capabilities();
    int result = MailboxReader::open(host, port, certificate, level);
    if (result < 0) return result;
    int r;
    for (;;) {
        r = readReply();
        if (r < 0) return r;
        if (r > 0) break;
        // Lines that answer a pre-command come before the greeting.
        if (preCommand_.empty() || !connected()) return r;
    }
    const char* open = strchr(reply_.data(), '<');
    if (open) {
        const char* close = strchr(open + 1, '>');
        size_t length = close ? static_cast<size_t>(close - open - 1) : 0;
        if (close && length > 0) {
            if (length > kTimeStampMax) length = kTimeStampMax;
            timeStamp_ = String("<") + String(open + 1, length) + ">";
        }
    }
    if (tls() && !ssl()) {
        // STLS upgrades the session; a server that refuses it must not get the password.
        int stls = command("STLS\r\n");
        if (stls < 1) {
            fprintf(stderr, "POP3 server does not offer STLS: %s", lastReply());
            if (connected()) close();
            return stls < 0 ? stls : kReaderFailed;
        }
        int tls = startTls(host);
        if (tls < 1) {
            fprintf(stderr, "TLS negotiation with '%s' failed\n", host.c_str());
            Connection::close();
            return tls < 0 ? tls : kReaderFailed;
        }
    }
    return r;
}

int Pop3Reader::askCapabilities() {
    if (capabilities_.asked) return kReaderOk;
    capabilities_ = Capabilities();
    capabilities_.asked = true;
    int r = command("CAPA\r\n");
    if (r < 1) return r < 0 && !connected() ? r : kReaderNotDone;
    capabilities_.listed = true;
    r = readListing([this](const char* line) {
        char copy[kListLineMax + 1];
        std::snprintf(copy, sizeof copy, "%s", line);
        char* words = copy;
        const char* first = strtok(words, " \r\n");
        if (!first) return;
        if (strcasecmp(first, "PIPELINING") == 0) capabilities_.pipelining = true;
        if (strcasecmp(first, "SASL") != 0) return;
        for (char* word = strtok(nullptr, " \r\n"); word; word = strtok(nullptr, " \r\n")) {
            if (strcasecmp(word, "XOAUTH2") == 0) capabilities_.xoauth2 = true;
            if (strcasecmp(word, "OAUTHBEARER") == 0) capabilities_.oauthBearer = true;
        }
    });
    return r < 1 ? r : kReaderOk;
}

int Pop3Reader::bearerLogin(const String& user, const String& token) {
    if (!encrypted()) {
        setReply("An OAuth2 token is never sent without TLS\n");
        return kReaderFailed;
    }
    // The mechanisms offered are on the SASL line of CAPA; a server without CAPA is tried
    // with the mechanism asked for.
    int r = askCapabilities();
    if (r < 0 || !connected()) return r < 0 ? r : kReaderFailed;
    bool xoauth2 = capabilities_.listed ? capabilities_.xoauth2 : loginMechanism() == LoginMechanism::kXoauth2;
    bool oauthBearer = capabilities_.listed ? capabilities_.oauthBearer : !xoauth2;
    const LoginMechanism mechanism = chooseBearer(loginMechanism(), xoauth2, oauthBearer);
    if (mechanism == LoginMechanism::kPassword) {
        setReply("POP3 server offers neither XOAUTH2 nor OAUTHBEARER\n");
        return kReaderFailed;
    }
    const String answer = saslBearerAnswer(mechanism, user, token, connectedHost(), connectedService());
    // A command line holds at most 255 octets; a longer answer follows the server's "+ ".
    if (answer.length() + std::strlen(saslName(mechanism)) + 7 <= 255) {
        r = commandSecret(answer, "AUTH %s %s\r\n", saslName(mechanism), answer.c_str());
    } else {
        r = command("AUTH %s\r\n", saslName(mechanism));
        if (r > 0 && std::strncmp(reply_.data(), "+OK", 3) != 0) r = commandSecret(answer, "%s\r\n", answer.c_str());
    }
    // The error challenge ("+ " and the server's reasons) is answered, and the verdict that
    // follows is the result.
    if (r > 0 && std::strncmp(reply_.data(), "+OK", 3) != 0) r = command("%s\r\n", saslBearerErrorAnswer(mechanism));
    if (r > 0 && std::strncmp(reply_.data(), "+OK", 3) != 0) r = kReaderFailed;
    if (r < 1 && connected() && reply_[0] != '-') setReply("POP3 server ended the OAuth2 login without a verdict\n");
    return r;
}

int Pop3Reader::login(const String& user, const String& password) {
    if (!connected()) return kReaderFailed;
    if ((tls() || ssl()) && !encrypted()) return kReaderFailed;  // never a password in clear
    bool apopDone = false;
    if (loginMechanism() != LoginMechanism::kPassword) {
        int r = bearerLogin(user, password);
        if (r < 1) return r;
        apopDone = true;
    } else if (!timeStamp_.empty() && apop_) {
        String digest = apopDigest(timeStamp_, password);
        int r = commandSecret(digest, "APOP %s %s\r\n", user.c_str(), digest.c_str());
        if (!connected()) return r < 1 ? r : kReaderFailed;
        apopDone = r > 0;  // a refused APOP falls back to USER and PASS
    }
    if (!apopDone) {
        int r = command("USER %s\r\n", user.c_str());
        if (r < 1) return r;
        r = commandSecret(password, "PASS %s\r\n", password.c_str());
        if (r < 1) return r;
    }
    loggedIn_ = 1;
    int r = command("STAT\r\n");
    if (r < 1) return r;
    int count = 0;
    if (sscanf(reply_.data(), "%*s %d", &count) != 1 || count < 0) count = 0;
    if (count > kMessagesMax) count = kMessagesMax;
    count_ = count;
    if (count_ == 0) return r;
    sizes_.assign(static_cast<size_t>(count_), 0);
    r = command("LIST\r\n");
    if (r < 1) return r;
    currentSize_ = 0;
    return readListing([this](const char* line) {
        if (line[0] == '+') return;
        int number = 0;
        long size = 0;
        if (sscanf(line, "%d %ld", &number, &size) == 2) {
            if (number >= 1 && number <= count_) sizes_[static_cast<size_t>(number - 1)] = static_cast<int32_t>(size);
            if (size > 0) currentSize_ += static_cast<uint64_t>(size);
        }
    });
}

int Pop3Reader::readListing(const std::function<void(const char*)>& take) {
    char line[kListLineMax + 1];
    for (;;) {
        int n = readLine(line, kListLineMax);
        if (n < 1) {
            Connection::close();
            return n;
        }
        line[n] = '\0';
        if (traceLevel_) echo(line, static_cast<size_t>(n));
        if (line[0] == '.') return n;
        take(line);
    }
}

int Pop3Reader::messageSize(int n) {
    if (n < 1 || n > count_ || static_cast<size_t>(n) > sizes_.size()) return 0;
    return sizes_[static_cast<size_t>(n - 1)];
}

int Pop3Reader::retrieve(int n) {
    if (n < 1 || n > count_ || !connected()) return kReaderFailed;
    // RETR goes ahead of the replies only where CAPA says PIPELINING (RFC 2449); asked once,
    // when there is a next message to send it for.
    if (planned(n) && askCapabilities() < 0) return kReaderFailed;
    const bool top = headerOnly_ == 1;
    auto send = [this, top](int k, unsigned long&) {
        return top ? sendCommand("TOP %d 1\r\n", k) : sendCommand("RETR %d\r\n", k);
    };
    unsigned long tag = 0;
    int r = retrievalInTurn(n, send, capabilities_.pipelining ? kRetrievalWindow : 1, tag);
    if (r < 1) return r;
    r = readReply();
    if (r < 1) return r;
    int32_t size = static_cast<size_t>(n) <= sizes_.size() ? sizes_[static_cast<size_t>(n - 1)] : 0;
    r = parseMessage(size > 0 ? static_cast<uint64_t>(size) : 0);
    if (r >= 1) lastRetrieved_ = n;
    return r;
}

int Pop3Reader::discardReply(unsigned long) {
    int r = readReply();
    if (!connected()) return r < 0 ? r : kReaderFailed;
    if (r != kReaderOk) return kReaderOk;  // "-ERR": the whole reply
    // The message up to its "." line, which counts only at the start of a line.
    char line[kListLineMax + 1];
    for (bool lineStart = true;;) {
        int got = readLine(line, kListLineMax);
        if (got < 1) {
            Connection::close();
            return got < 0 ? got : kReaderFailed;
        }
        if (lineStart && line[0] == '.' &&
            ((got == 2 && line[1] == '\n') || (got == 3 && line[1] == '\r' && line[2] == '\n')))
            return kReaderOk;
        lineStart = line[got - 1] == '\n';
    }
}

int Pop3Reader::deleteMessage(int n) {
    if (n < 1 || n > count_ || !connected()) return kReaderFailed;
    return command("DELE %d\r\n", n);
}

int Pop3Reader::listUniqueIds() {
    uids_.assign(static_cast<size_t>(count_), String());
    if (count_ == 0) return kReaderOk;
    int r = command("UIDL\r\n");
    if (r < 1) return r < 0 && connected() ? kReaderNotDone : r;
    r = readListing([this](const char* line) {
        int number = 0;
        char uid[kListLineMax + 1];
        // An id is 1 to 70 printable characters (RFC 1939).
        if (sscanf(line, "%d %511[!-~]", &number, uid) == 2 && number >= 1 && number <= count_ && strlen(uid) <= 70)
            uids_[static_cast<size_t>(number - 1)] = uid;
    });
    return r < 1 ? r : kReaderOk;
}

String Pop3Reader::uniqueId(int n) {
    return n >= 1 && static_cast<size_t>(n) <= uids_.size() ? uids_[static_cast<size_t>(n - 1)] : String();
}

int Pop3Reader::reset() {
    if (!connected()) return kReaderFailed;
    return command("RSET\r\n");
}

int Pop3Reader::close() {
    if (connected() && !keepOpen_) {
        setTimeout(kQuitTimeout);
        command("QUIT\r\n");
    }
    std::vector<int32_t>().swap(sizes_);
    std::vector<String>().swap(uids_);
    timeStamp_ = String();
    return MailboxReader::close();
}

} // namespace qarvel
