// ImapReader: the mailbox reader that speaks IMAP4rev1. Every command carries a tag (a counter
// written as a decimal number); untagged responses ("* ...") are digested as they arrive, in the
// middle of any command, and the tagged line judges the command. Literals ("{n}") are read
// exactly: a message literal streams into the parser, any other literal is kept (bounded) with
// its response, and a size announced by the server never drives an allocation.
//
// Besides the reader operations it offers what only IMAP has: retrieval by UID, single body
// parts, the body structure, IDLE and the access-control commands.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/string.h"
#include "base/string_list.h"
#include "net/imap_core.h"
#include "net/imap_dialogue.h"
#include "receive/body_structure.h"
#include "receive/imap_message_table.h"
#include "receive/mailbox_reader.h"
#include "receive/part_decoder.h"

namespace qarvel {

// Limits of the reader.
constexpr size_t kImapResponseSize = 65536;            // one response line (literals inlined)
constexpr size_t kImapLiteralKeepMax = 1u << 20;       // bytes kept of one non-message literal
constexpr size_t kImapLiteralsPerResponseMax = 1000;   // literals in one response
constexpr int kImapMessagesMax = 10000000;             // messages of one folder

class ImapReader : public MailboxReader, private ImapDialogue::Client {
public:
    ImapReader();
    ~ImapReader() override;

    using MailboxReader::open;

    // --- reader operations ---
    int close() override;
    int open(const String& host, const String& port, const char* certificate, int level) override;
    int login(const String& user, const String& password) override;
    Failure failureOf(int result) const override;  // the tagged reply
    int deleteMessage(int n) override;
    int undeleteMessage(int n) override;
    int closeMailbox() override;
    int retrieve(int n) override;
    int sort(const String& criteria, const String& key) override;
    int search(const String& criteria) override;
    int messageSize(int n) override;
    int unseenCount() override { return static_cast<int>(unseen_); }
    int recentCount() override { return static_cast<int>(recent_); }
    int uidValidity() override { return static_cast<int>(uidValidity_); }
    int uidNext() override { return static_cast<int>(uidNext_); }
    unsigned uidOf(int n) override;
    unsigned orderedUid(int n) override;
    int currentUid() override { return static_cast<int>(currentUid_); }
    String currentFlags() override { return flags_; }
    int listFolders(const String& pattern, int subscribedOnly) override;
    int createFolder(const String& name) override;
    int subscribeFolder(const String& name) override;
    int unsubscribeFolder(const String& name) override;
    int renameFolder(const String& oldName, const String& newName) override;
    int copyMessage(int n, const String& folder, int deleteAfter) override;
    int deleteFolder(const String& name) override;
    int nextFolderName(String& name) override;
    int selectFolder(const String& name, int readOnly) override;
    int fetchSizes(int first, int last) override;
    int readReply() override;
    // The UIDs (fetched with the sizes when they are not known yet).
    int listUniqueIds() override;
    String uniqueId(int n) override;

    // --- IMAP only ---
    // Reads and digests one response (with its literals). 1, or the failed read.
    int readResponse() override;
    int logout(bool useUserLogout);
    int fetchStructure(int n);
    int retrievePart(int n, const String& section, const String& encoding, unsigned long offset,
                     unsigned long length);
    int retrievePartByUid(unsigned uid, const String& section, const String& encoding,
                          unsigned long offset, unsigned long length);
    int deleteByUid(unsigned uid);
    int undeleteByUid(unsigned uid);
    int copyByUid(unsigned uid, const String& folder, int deleteAfter);
    int moveByUid(unsigned uid, const String& folder) { return copyByUid(uid, folder, 1); }
    int idle();
    int idleWait(int seconds);
    int idleEnd();
    // Ends the IDLE command on the server (DONE) and reads its tagged reply.
    int idleDone();
    int setAcl(const String& folder, const String& identifier, const String& rights);
    int deleteAcl(const String& folder, const String& identifier);
    int getAcl(const String& folder, StringList& identifiers, StringList& rights);
    int listRights(const String& folder, const String& identifier, String& required,
                   StringList& optional);
    int myRights(const String& folder, String& rights);

    // --- state ---
    void setPurge(int v) { purge_ = v; }
    bool ordered() const { return ordered_; }
    const std::vector<BodyPart>& bodyParts() const { return parts_; }
    const String& bodyStructure() const { return structure_; }
    const String& selectedFolder() const { return selected_; }
    const String& alertText() const { return alert_; }
    const String& byeText() const { return bye_; }
    unsigned long tag() const { return core_.tag(); }
    // The literals of the last response, in order (each cut at kImapLiteralKeepMax).
    const std::vector<std::string>& literals() const { return literals_; }
    // The text of the last response, literals that were inlined as quoted strings.
    const char* response() const { return reply_.empty() ? "" : reply_.data(); }

    const ImapCore::Capabilities& capabilities() const { return core_.capabilities(); }

protected:
    // Every command clears the alert before it is sent.
    int vsendCommand(const char* format, va_list args) override;
    // The responses up to the tagged line of a command sent ahead, read and dropped.
    int discardReply(unsigned long tag) override;

private:
    unsigned long nextTag() { return core_.nextTag(); }
    // --- what the connect and login dialogue asks of the reader ---
    int openAndGreet(const String& host, const String& port) override;
    const char* responseLine() const override { return lastReply(); }
    void setResponseLine(const char* text) override { setReply(text); }
    int judgeTagged() override;
    // Whether the response read last is the tagged line of a retrieval whose message came in
    // already (owed_): then it is passed over.
    bool passOwed();
    // One physical line appended at `at` of the response buffer; the length of the whole
    // text, or the failed read.
    int readPhysical(size_t at);
    // Reads the literals that end the text so far (and the lines that follow them).
    int finishResponse(size_t length);
    // The literal size announced at the end of the text, or -1.
    static long long literalAtEnd(const char* text, size_t length);
    // Digests the untagged response in the buffer (a tagged line is left alone).
    void digest();
    // A LIST or LSUB line: its folder into both folder lists. False for another line.
    bool digestFolder(const char* line);
    // The numbers of a SORT or SEARCH response: the ordered UIDs and the message count.
    void digestOrder(const char* numbers);
    // "* n EXISTS", RECENT, EXPUNGE and FETCH (sizes and UIDs).
    void digestNumbered(const char* line);
    // Reads responses until the untagged FETCH of number n (or uid, when byUid), then
    // streams its literal into the parser (part: body-part mode) and reads to the tagged line.
    enum class FetchKind { kMessage, kPart, kStructure };
    int readFetch(unsigned long wanted, bool byUid, const char* failText, FetchKind kind);
    // Reads responses until the answer to the FETCH (digesting the others on the way): 1 with
    // its first line (length bytes) in the response buffer, a structure's read whole.
    int awaitFetchAnswer(unsigned long wanted, bool byUid, const char* failText, FetchKind kind,
                         size_t& length);
    // Whether line answers the FETCH: a FETCH of the wanted number (or UID) with the body
    // (or the structure). The answer for another message is reported on standard output.
    bool answersFetch(const char* line, size_t length, unsigned long wanted, bool byUid, FetchKind kind) const;
    // The UID, the size and the flags that text names: a size replaces the one known, a UID or
    // flags fill only what is still missing (servers may send them after the literal).
    void takeFetchItems(const char* text, unsigned long& size);
    // A fetch that lost its dialogue: the reason and the result on standard output, then the
    // connection closed. Returns result.
    int fetchFailed(const char* text, int result);
    // Decodes the literal of n bytes into the part sink.
    int streamPart(unsigned long long n);
    // Reads the literal of n bytes that ends the current line into the parser.
    int parseLiteral(unsigned long long n);
    // Reads (and drops) n bytes; 1, or the failed read.
    int skipBytes(unsigned long long n);
    void resetMessageArrays();
    int aclCommand();

    std::vector<BodyPart> parts_;
    ImapMessageTable table_;          // sizes and UIDs as the server told them
    std::vector<uint32_t> orderedUids_;  // the results of the last SORT or SEARCH
    uint32_t uidValidity_ = 0, currentUid_ = 0, uidNext_ = 0, recent_ = 0, unseen_ = 0;
    int loggedOut_ = 1;
    ImapDialogue dialogue_;
    ImapCore& core_;  // the dialogue's
    std::string certificate_;
    bool hasCertificate_ = false;
    int level_ = 0;
    bool idling_ = false;
    bool ordered_ = false;
    bool expectExists_ = false;
    bool loggingOut_ = false;
    bool alerted_ = false;
    StringList kept_;       // the folder list from which the working list is refilled
    String selected_, flags_, structure_, alert_, bye_;
    int purge_ = 0;
    std::vector<std::string> literals_;
    // The tags of retrievals sent ahead whose message was read but whose tagged line was not:
    // a server may answer the next FETCH before it ends this one.
    std::vector<unsigned long> owed_;
    PartEncoding partEncoding_ = PartEncoding::kNone;
    std::vector<std::vector<std::string>> aclLines_;
};

} // namespace qarvel
