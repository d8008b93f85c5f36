// NntpSession: posts one article to a news server. The recipients become the Newsgroups line;
// AUTHINFO USER/PASS is sent when a user is given and again when the server answers a command
// with 480 (the command is then sent once more).
#pragma once

#include "send/sender_session.h"

namespace qarvel {

class NntpSession : public SenderSession {
public:
    NntpSession();

    // Port "119" when none is given ("563" with implicit TLS); STARTTLS after the greeting
    // when -tls is set.
    int connectSession(const String& host, const String& port, int level = 0,
                       const String& certificate = String()) override;
    int sendMessageToLists(const String& from, const String& replyTo, const StringList& to,
                           const String& subject, const char* body, size_t length,
                           const String& base, const StringList& cc, const StringList& bcc,
                           const String& errorsTo) override;
    int sendMessage(const String& from, const String& replyTo, const String& to,
                    const String& subject, const char* body, size_t length, const String& base,
                    const String& cc, const String& bcc, const String& errorsTo) override;
    int loadRecipientFile(const String& path) override;
    // The reply read by NNTP's codes, where 4xx is a refusal.
    Failure failureOf(int result) const override;
    // Keeps the credentials for a later demand and logs in: 1, or the first result below 1.
    int authenticate(const String& user, const String& password) override;
    // "X-no-archive: yes" first when asked for, then Message-ID and X-Mailer.
    int sendMessageId() override;
    // The single-line reply; a 480 to a command is answered by logging in with the kept
    // credentials and sending the command again.
    int readReply() override;

    void setNoArchive(int v) { noArchive_ = v; }
    int noArchive() const { return noArchive_; }

private:
    // AUTHINFO USER, and AUTHINFO PASS when the server asks for it (381).
    int login();
    // One AUTHINFO command and its judged single-line reply (never a second login).
    int loginCommand(const char* format, const String& value, bool secret);
    int startTlsIfAsked();
    // POST and its 340; a refusal is returned as it is.
    int post();
    // A group list that would break the Newsgroups line: -1 and a reply line that says why.
    int refuseGroups();

    String user_, password_;
    int noArchive_ = 0;
    bool inArticle_ = false;   // the command buffer holds header lines, not a command
    bool repeating_ = false;   // a repeated command is not repeated again
};

} // namespace qarvel
