// ImapUploadSession: stores a composed message into a folder of an IMAP server with APPEND
// instead of mailing it. The send driver drives it like any sender (connect, authenticate,
// send, quit). APPEND needs the message's length before its first byte, so the writer's output
// is captured first, into a temporary file (memory stays flat whatever the attachments weigh),
// then sent as one literal.
#pragma once

#include <cstdint>
#include <cstdio>

#include "net/imap_core.h"
#include "net/imap_dialogue.h"
#include "send/sender_session.h"

namespace qarvel {

class ImapUploadSession : public SenderSession, private ImapDialogue::Client {
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
    Failure failureOf(int result) const override;  // the tagged reply
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
    // --- what the connect and login dialogue asks of the session ---
    int openAndGreet(const String& host, const String& port) override;
    // One reply line (an over-long one read to its end); CAPABILITY lines are digested.
    int readResponse() override;
    const char* responseLine() const override { return replyLine(); }
    void setResponseLine(const char* text) override { setReplyLine(text); }
    // The APPENDUID of the line and its verdict: 1 for OK under the current tag, else 0.
    int judgeTagged() override;

    // Captures the writer's output for one message, then APPENDs it.
    template <class Write>
    int captureAndAppend(Write write);
    int appendCaptured(std::FILE* in, uint64_t length);

    String folder_ = "INBOX";
    String workingFolder_ = "/tmp";
    ImapDialogue dialogue_;
    ImapCore& core_;  // the dialogue's
    String certificate_;
    int level_ = 0;
    bool greetingAwaited_ = false;
    std::FILE* capture_ = nullptr;
    int cramMd5_ = 0;
    unsigned long appendUid_ = 0, appendUidValidity_ = 0;
};

} // namespace qarvel
