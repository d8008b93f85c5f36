// The IMAP upload session.
#include "send/imap_upload_session.h"

#include <strings.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "base/text.h"
#include "base/temp_file.h"
#include "net/failure_cause.h"

namespace qarvel {

namespace {

// The literal goes out in pieces of this size.
constexpr size_t kAppendPiece = 64 * 1024;

} // namespace

ImapUploadSession::ImapUploadSession() : dialogue_(*this, *this), core_(dialogue_.core()) {
    setNoTerminator(1);
    setDotStuffing(0);  // a literal is sent as it is: no line of it can end it early
}

ImapUploadSession::~ImapUploadSession() {
    if (capture_) std::fclose(capture_);
}

int ImapUploadSession::send(const char* buffer, int length) {
    if (!capture_) return SenderSession::send(buffer, length);
    if (length < 1) return 0;
    size_t written = std::fwrite(buffer, 1, static_cast<size_t>(length), capture_);
    return written == static_cast<size_t>(length) ? length : -1;
}

int ImapUploadSession::disconnect() {
    int r = SenderSession::disconnect();
    folder_ = "INBOX";
    core_ = ImapCore();
    appendUid_ = appendUidValidity_ = 0;
    return r;
}

bool ImapUploadSession::setFolder(const String& name) {
    if (name.empty()) return false;
    folder_ = name;
    return true;
}

int ImapUploadSession::readResponse() {
    int r = SenderSession::readReply();
    if (replyLine()[0] == '\0') return r < 0 ? r : kSessionRefused;  // the read failed
    if (replyLine()[strlen(replyLine()) - 1] != '\n') {
        // The rest of an over-long line is read and dropped.
        int pieces = 0;
        do {
            r = SenderSession::readReply();
            if (replyLine()[0] == '\0') return r < 0 ? r : kSessionRefused;
        } while (replyLine()[strlen(replyLine()) - 1] != '\n' && ++pieces < 1000000);
    }
    char text[256];
    if (sscanf(replyLine(), "* CAPABILITY %255[^\r\n]", text) == 1) core_.readCapabilities(replyLine());
    return kSessionOk;
}

int ImapUploadSession::judgeTagged() {
    const char* line = replyLine();
    appendUid_ = appendUidValidity_ = 0;
    if (const char* at = core_.capabilities().uidPlus ? strstr(line, "[APPENDUID") : nullptr)
        sscanf(at, "[%*s %lu %lu]", &appendUidValidity_, &appendUid_);
    return core_.judge(line) == ImapCore::Status::kOk ? kSessionOk : kSessionClosed;
}

int ImapUploadSession::readReply() {
    // The greeting is one line, for the dialogue to judge.
    if (greetingAwaited_) {
        greetingAwaited_ = false;
        return readResponse();
    }
    for (int lines = 0; lines < ImapCore::kUntaggedMax; ++lines) {
        int r = readResponse();
        if (r < 1) return r;
        if (replyLine()[0] != '*') return judgeTagged();
    }
    return kSessionRefused;
}

int ImapUploadSession::connectSession(const String& host, const String& port, int level,
                                      const String& certificate) {
    level_ = level;
    certificate_ = certificate;
    return dialogue_.connect(host, port.empty() ? String("143") : port);
}

int ImapUploadSession::openAndGreet(const String& host, const String& port) {
    if (isOpen()) disconnect();
    greetingAwaited_ = true;
    int r = SenderSession::connectSession(host, port, level_, certificate_);
    greetingAwaited_ = false;
    return r;
}

int ImapUploadSession::authenticate(const String& user, const String& password) {
    return dialogue_.login(user, password, cramMd5_ != 0);
}

int ImapUploadSession::quit() {
    if (!isOpen()) return kSessionRefused;
    setTimeout(30);
    return command("%lu LOGOUT\r\n", core_.nextTag());
}

template <class Write>
int ImapUploadSession::captureAndAppend(Write write) {
    if (!isOpen()) return kSessionRefused;
    TempFile temp(workingFolder_, "qarvel-append-");
    if (!temp.valid()) {
        std::fprintf(stderr, "Could not make a temporary file in %s\n", workingFolder_.c_str());
        return kSessionRefused;
    }
    temp.removeName();  // gone when closed, whatever happens
    capture_ = temp.stream("w+b");
    if (!capture_) return kSessionRefused;
    int r = write();
    if (r >= 1) r = std::fflush(capture_) == 0 ? kSessionOk : kSessionRefused;
    long long length = r >= 1 ? static_cast<long long>(std::ftell(capture_)) : -1;
    std::FILE* captured = capture_;
    capture_ = nullptr;  // from here on, send reaches the socket again
    if (r >= 1 && length >= 0 && std::fseek(captured, 0, SEEK_SET) == 0) {
        r = appendCaptured(captured, static_cast<uint64_t>(length));
    } else if (r >= 1) {
        r = kSessionRefused;
    }
    return r;
}

int ImapUploadSession::appendCaptured(std::FILE* in, uint64_t length) {
    int r = sendCommand("%lu APPEND %s (\\Seen) {%llu}\r\n", core_.nextTag(), ImapCore::quoted(folder_).c_str(),
                        static_cast<unsigned long long>(length));
    if (r < 1) return r;
    for (int lines = 0; lines < ImapCore::kUntaggedMax; ++lines) {
        r = readResponse();
        if (r < 1) return r;
        if (replyLine()[0] != '*') break;
    }
    if (replyLine()[0] != '+') {
        // A refusal came instead of the continuation: the message must not follow, as the
        // server would read its lines as commands.
        std::fprintf(stderr, "IMAP server refused APPEND: %s", replyLine());
        return kSessionClosed;
    }
    std::string piece(kAppendPiece, '\0');
    uint64_t left = length;
    while (left > 0) {
        size_t want = left < kAppendPiece ? static_cast<size_t>(left) : kAppendPiece;
        size_t got = std::fread(piece.data(), 1, want, in);
        if (got == 0) return kSessionRefused;
        int sent = send(piece.data(), static_cast<int>(got));
        if (sent < 1 || static_cast<size_t>(sent) < got) {
            close();
            return sent < 1 ? sent : kSessionClosed;
        }
        left -= got;
    }
    if (send("\r\n", 2) < 2) {
        close();
        return kSessionClosed;
    }
    return readReply();
}

int ImapUploadSession::sendMessage(const String& from, const String& replyTo, const String& to,
                                   const String& subject, const char* body, size_t length,
                                   const String& base, const String& cc, const String& bcc,
                                   const String& errorsTo) {
    return captureAndAppend([&]() {
        return SenderSession::sendMessage(from, replyTo, to, subject, body, length, base, cc, bcc, errorsTo);
    });
}

int ImapUploadSession::sendMessageToLists(const String& from, const String& replyTo,
                                          const StringList& to, const String& subject,
                                          const char* body, size_t length, const String& base,
                                          const StringList& cc, const StringList& bcc,
                                          const String& errorsTo) {
    return captureAndAppend([&]() {
        return SenderSession::sendMessageToLists(from, replyTo, to, subject, body, length, base, cc, bcc,
                                                 errorsTo);
    });
}

Failure ImapUploadSession::failureOf(int result) const {
    return sessionFailure(*this, result, replyLine(), ReplyCodes::kImap);
}

} // namespace qarvel
