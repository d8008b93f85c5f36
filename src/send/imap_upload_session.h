// ImapUploadSession: stores a composed message into a folder of an IMAP server with APPEND
// instead of mailing it. The send driver drives it like any sender (connect, authenticate,
// send, quit). APPEND needs the message's length before its first byte, so the writer's output
// is captured first, into a temporary file (memory stays flat whatever the attachments weigh),
// then sent as one literal.
#pragma once

#include <cstdint>
#include <cstdio>

#include "net/imap_core.h"
#include "send/sender_session.h"

namespace qarvel {

class ImapUploadSession : public SenderSession {
public:
    ImapUploadSession();
    ~ImapUploadSession() override;

    // While a message is captured, bytes go to the capture file instead of the socket.
    int send(const char* buffer, int length) override;
    int disconnect() override;
    int connectSession(const String& host, const String& port, int level = 0,
                       const String& certificate = String()) override;
    int sendMessageToLists(const String& from, const String& replyTo, const StringList& to,
                           const String& subject, const char* body, size_t length,
                           const String& base, const StringList& cc, const StringList& bcc,
                           const String& errorsTo) override;
    int sendMessage(const String& from, const String& replyTo, const String& to,
                    const String& subject, const char* body, size_t length, const String& base,
                    const String& cc, const String& bcc, const String& errorsTo) override;
    int authenticate(const String& user, const String& password) override;
    int quit() override;
    // Reads to the tagged line: 1 when it carries this command's tag and OK, else 0; below 0
    // when the connection failed.
    int readReply() override;

    // A non-empty name becomes the target folder; returns whether it was non-empty.
    bool setFolder(const String& name);
    const String& folder() const { return folder_; }
    void setCramMd5(int v) { cramMd5_ = v; }
    void setWorkingFolder(const String& folder) { workingFolder_ = folder; }
    // What the server reported for the last stored message (UIDPLUS), 0 when nothing.
    unsigned long appendUid() const { return appendUid_; }
    unsigned long appendUidValidity() const { return appendUidValidity_; }
    unsigned long tag() const { return core_.tag(); }

private:
    static constexpr unsigned long kGreetingAwaited = ~0ul;

    // Captures the writer's output for one message, then APPENDs it.
    template <class Write>
    int captureAndAppend(Write write);
    int appendCaptured(std::FILE* in, uint64_t length);
    int capability();
    // What a connect or login step returns when the server referred it to another server.
    static constexpr int kReferred = 2;
    // One connection: greeting and capabilities; kReferred when the greeting refers elsewhere.
    int connectOnce(const String& host, const String& port, ImapCore::Referral& referral);
    // Connects, following greeting referrals (at most ImapCore::kReferralHopsMax).
    int connectFollowing(String host, String port);
    int authenticateOnce(const String& user, const String& password, ImapCore::Referral& referral);

    String folder_ = "INBOX";
    String user_, password_, workingFolder_ = "/tmp";
    ImapCore core_;
    // The servers the user named (the connect list and its port): only they get credentials.
    String namedHosts_, namedPort_, certificate_;
    bool onNamedServer_ = true;  // false once a referral led to another server
    int level_ = 0;
    std::FILE* capture_ = nullptr;
    int cramMd5_ = 0;
    unsigned long appendUid_ = 0, appendUidValidity_ = 0;
};

} // namespace qarvel
