// ImapCore: what both IMAP clients (the mailbox reader and the upload session) know of the
// protocol: the tag counter, the capability words, the judging of a tagged status line, the
// referral response code, and quoting of command arguments.
#pragma once

#include "base/string.h"

namespace qarvel {

class ImapCore {
public:
    // A referral is followed this many times in one connect or login, then the client gives up:
    // a server that refers back to itself must not make the client reconnect without end.
    static constexpr int kReferralHopsMax = 5;
    // Untagged lines read while a tagged line (or a continuation) is awaited; a server that
    // sends more is broken.
    static constexpr int kUntaggedMax = 100000;

    struct Capabilities {
        bool startTls = false, uidPlus = false, sort = false, acl = false, userLogout = false;
        bool idle = false, authLogin = false, authPlain = false, authCramMd5 = false;
        bool authXoauth2 = false, authOauthBearer = false, saslIr = false;
        bool known = false;
    };

    // Where a "[REFERRAL IMAP://user@host[:port]/...]" response code points.
    struct Referral {
        String user, host, port;  // port: empty when the URL names none
    };

    // How a status line answers the command of the current tag.
    enum class Status { kOk, kRefused, kOtherTag };

    unsigned long tag() const { return tag_; }
    unsigned long nextTag() {
        awaited_ = 0;
        return ++tag_;
    }
    // The tag whose tagged line is read next: the current one, unless commands were sent
    // ahead of their replies and an earlier one is awaited (await; 0 goes back to the current).
    unsigned long awaited() const { return awaited_ ? awaited_ : tag_; }
    void await(unsigned long tag) { awaited_ = tag; }

    Capabilities& capabilities() { return caps_; }
    const Capabilities& capabilities() const { return caps_; }
    // Sets every capability flag from a CAPABILITY response or a "[CAPABILITY ...]" response
    // code; the words are matched with a leading space and case ignored.
    void readCapabilities(const char* line);

    // "tag status ...": OK under the awaited tag, another status under it, or another tag (a
    // continuation line or an untagged line is another tag too). `tagSeen` gets the tag read.
    Status judge(const char* line, unsigned long* tagSeen = nullptr) const;

    // The target of the referral code in line; false when the line carries none (or names no
    // host after "user@").
    static bool findReferral(const char* line, Referral& out);
    // Whether host:port is one of the servers of hostList ("a,b:port", the connect list the
    // user gave, with port as its default): credentials go to no other server.
    static bool namesServer(const String& hostList, const String& port, const String& host,
                            const String& targetPort);

    // A quoted string for a command argument (backslashes and double quotes escaped).
    static String quoted(const String& text);
    // A login argument: a double quote dropped from its first and last position, then quoted.
    static String quotedLogin(const String& text);
    // A double quote dropped from the first and the last position.
    static String stripQuotes(const String& text);

private:
    unsigned long tag_ = 0;
    unsigned long awaited_ = 0;
    Capabilities caps_;
};

// The number after a word somewhere in text ("UID 17"), or fallback.
unsigned long imapNumberAfter(const char* text, const char* word, unsigned long fallback);

} // namespace qarvel
