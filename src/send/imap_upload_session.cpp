// The IMAP upload session.
#include "send/imap_upload_session.h"

#include <strings.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "base/base64.h"
#include "receive/imap_reader.h"

namespace qarvel {

namespace {

// Untagged lines read before a tagged one; a server that sends more is broken.
constexpr int kUntaggedMax = 100000;
// The literal goes out in pieces of this size.
constexpr size_t kAppendPiece = 64 * 1024;

bool containsNoCase(const char* text, const char* word) {
    size_t n = strlen(word);
    for (const char* p = text; *p; ++p)
        if (strncasecmp(p, word, n) == 0) return true;
    return false;
}

} // namespace

ImapUploadSession::ImapUploadSession() {
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
    user_ = password_ = String();
    tag_ = 0;
    startTls_ = uidPlus_ = known_ = authLogin_ = authPlain_ = authCramMd5_ = 0;
    appendUid_ = appendUidValidity_ = 0;
    return r;
}

bool ImapUploadSession::setFolder(const String& name) {
    if (name.empty()) return false;
    folder_ = name;
    return true;
}

void ImapUploadSession::readCapabilities(const char* line) {
    startTls_ = strstr(line, "STARTTLS") != nullptr;
    uidPlus_ = strstr(line, "UIDPLUS") != nullptr;
    authLogin_ = containsNoCase(line, " AUTH=LOGIN");
    authPlain_ = containsNoCase(line, " AUTH=PLAIN");
    authCramMd5_ = containsNoCase(line, " AUTH=CRAM-MD5");
    known_ = 1;
}

int ImapUploadSession::readReply() {
    for (int lines = 0; lines < kUntaggedMax; ++lines) {
        int r = SenderSession::readReply();
        const char* line = replyLine();
        if (line[0] == '\0') return r < 0 ? r : kSessionRefused;  // the read failed
        size_t length = strlen(line);
        if (line[length - 1] != '\n') {
            // The rest of an over-long line is read and dropped.
            int pieces = 0;
            do {
                r = SenderSession::readReply();
                if (replyLine()[0] == '\0') return r < 0 ? r : kSessionRefused;
            } while (replyLine()[strlen(replyLine()) - 1] != '\n' && ++pieces < 1000000);
            line = replyLine();
            length = strlen(line);
        }
        if (tag_ == kGreetingAwaited) {
            tag_ = 0;
            if (containsNoCase(line, "[CAPABILITY ")) readCapabilities(line);
            return strncasecmp(line, "* BYE", 5) == 0 ? kSessionRefused : kSessionOk;
        }
        if (line[0] == '*') {
            char text[256];
            if (sscanf(line, "* CAPABILITY %255[^\r\n]", text) == 1) readCapabilities(line);
            continue;
        }
        if (line[0] == '+') return kSessionOk;  // a continuation, for the caller to judge
        unsigned long tag = 0;
        char status[32] = "";
        int scanned = sscanf(line, "%lu %31s", &tag, status);
        appendUid_ = appendUidValidity_ = 0;
        if (const char* at = uidPlus_ ? strstr(line, "[APPENDUID") : nullptr)
            sscanf(at, "[%*s %lu %lu]", &appendUidValidity_, &appendUid_);
        if (containsNoCase(line, "[CAPABILITY ")) readCapabilities(line);
        if (scanned < 2 || tag != tag_) return kSessionClosed;
        return strcasecmp(status, "OK") == 0 ? kSessionOk : kSessionClosed;
    }
    return kSessionRefused;
}

int ImapUploadSession::capability() { return command("%lu CAPABILITY\r\n", ++tag_); }

int ImapUploadSession::connectSession(const String& host, const String& port, int level,
                                      const String& certificate) {
    if (openCount > 0) disconnect();
    tag_ = kGreetingAwaited;
    startTls_ = uidPlus_ = known_ = authLogin_ = authPlain_ = authCramMd5_ = 0;
    int r = SenderSession::connectSession(host, port.empty() ? String("143") : port, level, certificate);
    if (r < 0) return r;
    if (r == 0 || tag_ == kGreetingAwaited) {
        if (openCount > 0) close();
        return kSessionRefused;
    }
    if (containsNoCase(replyLine(), "[REFERRAL ")) {
        char referred[256] = "";
        if (sscanf(replyLine(), "%*s %*s [REFERRAL IMAP://%*[^@]@%255[^/]", referred) == 1 && referred[0]) {
            close();
            return connectSession(String(referred), port, level, certificate);
        }
    }
    tag_ = 0;
    if (!known_) {
        r = capability();
        if (r < 1) { close(); return r < 0 ? r : kSessionRefused; }
    }
    if (tls() && !ssl()) {
        // STARTTLS upgrades the session; a server that does not offer it never gets the
        // password in clear.
        if (!startTls_) {
            std::fprintf(stderr, "IMAP server does not offer STARTTLS\n");
            close();
            return kSessionRefused;
        }
        r = command("%lu STARTTLS\r\n", ++tag_);
        if (r < 1 || startTls(connectedHost()) < 1) {
            std::fprintf(stderr, "TLS negotiation with '%s' failed\n", connectedHost().c_str());
            close();
            return kSessionRefused;
        }
        known_ = 0;
        r = capability();
        if (r < 1) { close(); return r < 0 ? r : kSessionRefused; }
    }
    return kSessionOk;
}

int ImapUploadSession::authenticate(const String& user, const String& password) {
    user_ = user;
    password_ = password;
    if (openCount < 1) return kSessionRefused;
    if ((tls() || ssl()) && !encrypted()) return kSessionRefused;  // never a password in clear
    const int authPlain = authPlain_, authLogin = authLogin_, authCramMd5 = authCramMd5_;
    startTls_ = uidPlus_ = known_ = 0;
    // Each exchange reads the server's continuation before it answers; a failed read closes.
    auto continuation = [this]() {
        int r = SenderSession::readReply();
        if (replyLine()[0] == '\0' || replyLine()[0] != '+') {
            close();
            return 0;
        }
        return r < 0 ? 0 : 1;
    };
    int sent;
    if (authCramMd5 && cramMd5_) {
        if (sendCommand("%lu AUTHENTICATE CRAM-MD5\r\n", ++tag_) < 1 || !continuation()) return 0;
        sent = sendCommand("%s\r\n", imapCramMd5Answer(replyLine(), user, password).c_str());
    } else if (authPlain) {
        if (sendCommand("%lu AUTHENTICATE PLAIN\r\n", ++tag_) < 1 || !continuation()) return 0;
        sent = sendCommand("%s\r\n", imapPlainAnswer(user, password).c_str());
    } else if (authLogin) {
        if (sendCommand("%lu AUTHENTICATE LOGIN\r\n", ++tag_) < 1 || !continuation()) return 0;
        if (sendCommand("%s\r\n", base64Encode(user).c_str()) < 1 || !continuation()) return 0;
        sent = sendCommand("%s\r\n", base64Encode(password).c_str());
    } else {
        sent = sendCommand("%lu LOGIN %s %s\r\n", ++tag_, imapQuotedLogin(user).c_str(),
                           imapQuotedLogin(password).c_str());
    }
    if (sent < 1) return 0;
    int r = readReply();
    if (containsNoCase(replyLine(), "[REFERRAL ")) {
        char referredUser[256] = "", referredHost[256] = "";
        sscanf(replyLine(), "%*s %*s [REFERRAL IMAP://%255[^;@]", referredUser);
        sscanf(replyLine(), "%*s %*s [REFERRAL IMAP://%*[^@]@%255[^/]", referredHost);
        String folder = folder_;
        disconnect();
        folder_ = folder;
        r = connectSession(String(referredHost), String("143"));
        if (r < 1) return r;
        return authenticate(String(referredUser), password);
    }
    if (r < 1) return r;
    if (!known_) {
        int c = capability();
        if (c < 1) { close(); return c < 0 ? c : kSessionRefused; }
    }
    return r;
}

int ImapUploadSession::quit() {
    if (openCount < 1) return kSessionRefused;
    timeout = 30;
    return command("%lu LOGOUT\r\n", ++tag_);
}

template <class Write>
int ImapUploadSession::captureAndAppend(Write write) {
    if (openCount < 1) return kSessionRefused;
    std::string path = workingFolder_.str() + "/qarvel-append-XXXXXX";
    int fd = mkstemp(path.data());
    if (fd < 0) {
        std::fprintf(stderr, "Could not make a temporary file in %s\n", workingFolder_.c_str());
        return kSessionRefused;
    }
    unlink(path.c_str());  // gone when closed, whatever happens
    capture_ = fdopen(fd, "w+b");
    if (!capture_) {
        ::close(fd);
        return kSessionRefused;
    }
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
    std::fclose(captured);
    return r;
}

int ImapUploadSession::appendCaptured(std::FILE* in, uint64_t length) {
    int r = sendCommand("%lu APPEND %s (\\Seen) {%llu}\r\n", ++tag_, imapQuoted(folder_).c_str(),
                        static_cast<unsigned long long>(length));
    if (r < 1) return r;
    for (int lines = 0;; ++lines) {
        r = SenderSession::readReply();
        if (replyLine()[0] == '\0') return r < 0 ? r : kSessionRefused;
        if (replyLine()[0] != '*' || lines > kUntaggedMax) break;
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

} // namespace qarvel
