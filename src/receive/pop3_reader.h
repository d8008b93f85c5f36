// Pop3Reader: the mailbox reader that speaks POP3 (greeting, USER/PASS or APOP, STAT, LIST,
// RETR or TOP, DELE, RSET, QUIT). Replies are judged by their first character only: "+" is
// positive, "-" negative, anything else neither. With the TLS choice the session is upgraded
// by STLS right after the greeting (the socket does the TLS work).
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "receive/mailbox_reader.h"

namespace qarvel {

class Pop3Reader : public MailboxReader {
public:
    Pop3Reader();
    ~Pop3Reader() override;

    using MailboxReader::open;

    // Sends QUIT (waiting at most 30 s) when connected, then closes.
    int close() override;
    // Connects and reads the greeting: 1 for "+", -1 for "-", 0 otherwise, <0 on failure.
    int open(const String& host, const String& port, const char* certificate,
             int level) override;
    int login(const String& user, const String& password) override;
    int deleteMessage(int n) override;
    int retrieve(int n) override;
    int messageSize(int n) override;
    int readReply() override;
    // UIDL: the server's id of every message.
    int listUniqueIds() override;
    String uniqueId(int n) override;
    // RSET: unmarks the messages marked for deletion in this session.
    int reset();

    // The APOP time stamp of the greeting ("<...>"), or empty.
    const String& timeStamp() const { return timeStamp_; }
    uint64_t totalSize() const { return currentSize_; }

private:
    // Reads the lines of a multi-line reply up to its "." (each at most 511 characters, echoed
    // when tracing) and hands each to take. The length of the "." line, or the failed read
    // (the connection then closed).
    int readListing(const std::function<void(const char*)>& take);
    // Reads and drops the reply to a RETR or TOP sent ahead.
    int discardReply(unsigned long tag) override;
    // CAPA, once a session (after STLS, if any): 1 with what it lists kept (a server without
    // CAPA lists nothing: 0), else the failed read.
    int askCapabilities();
    // AUTH with the bearer token (XOAUTH2 or OAUTHBEARER, as the server's CAPA offers).
    int bearerLogin(const String& user, const String& token);

    struct Capabilities {
        bool asked = false, listed = false;
        bool pipelining = false, xoauth2 = false, oauthBearer = false;
    };

    String timeStamp_;
    Capabilities capabilities_;
    std::vector<int32_t> sizes_;
    std::vector<String> uids_;
};

// The APOP digest: 32 lower-case hex digits of MD5(timeStamp + password).
String apopDigest(const String& timeStamp, const String& password);

} // namespace qarvel
