// The IMAP upload session.
#include "send/imap_upload_session.h"

#include <strings.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "base/text.h"
#include "base/base64.h"
#include "base/temp_file.h"
#include "net/sasl_answers.h"

namespace qarvel {

namespace {

// Untagged lines read before a tagged one; a server that sends more is broken.
constexpr int kUntaggedMax = 100000;
// The literal goes out in pieces of this size.
constexpr size_t kAppendPiece = 64 * 1024;

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
    core_ = ImapCore();
    appendUid_ = appendUidValidity_ = 0;
    return r;
}

bool ImapUploadSession::setFolder(const String& name) {
    if (name.empty()) return false;
    folder_ = name;
    return true;
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
        if (core_.tag() == kGreetingAwaited) {
            core_.setTag(0);
            if (locateNoCase(line, "[CAPABILITY ")) core_.readCapabilities(line);
            return strncasecmp(line, "* BYE", 5) == 0 ? kSessionRefused : kSessionOk;
        }
        if (line[0] == '*') {
            char text[256];
            if (sscanf(line, "* CAPABILITY %255[^\r\n]", text) == 1) core_.readCapabilities(line);
            continue;
        }
        if (line[0] == '+') return kSessionOk;  // a continuation, for the caller to judge
        appendUid_ = appendUidValidity_ = 0;
        if (const char* at = core_.capabilities().uidPlus ? strstr(line, "[APPENDUID") : nullptr)
            sscanf(at, "[%*s %lu %lu]", &appendUidValidity_, &appendUid_);
        if (locateNoCase(line, "[CAPABILITY ")) core_.readCapabilities(line);
        return core_.judge(line) == ImapCore::Status::kOk ? kSessionOk : kSessionClosed;
    }
    return kSessionRefused;
}

int ImapUploadSession::capability() { return command("%lu CAPABILITY\r\n", core_.nextTag()); }

int ImapUploadSession::connectSession(const String& host, const String& port, int level,
                                      const String& certificate) {
    namedHosts_ = host;
    namedPort_ = port.empty() ? String("143") : port;
    level_ = level;
    certificate_ = certificate;
    onNamedServer_ = true;
    return connectFollowing(host, namedPort_);
}

int ImapUploadSession::connectFollowing(String host, String port) {
    for (int hops = 0;; ++hops) {
        ImapCore::Referral referral;
        int r = connectOnce(host, port, referral);
        if (r == kReferred) onNamedServer_ = ImapCore::namesServer(namedHosts_, namedPort_, referral.host,
                                                                   referral.port.empty() ? port : referral.port);
        if (r != kReferred) return r;
        if (hops == ImapCore::kReferralHopsMax) {
            std::fprintf(stderr, "IMAP server referred the connection %d times, last to '%s'; given up\n",
                         hops + 1, referral.host.c_str());
            return kSessionRefused;
        }
        host = referral.host;
        if (!referral.port.empty()) port = referral.port;
    }
}

int ImapUploadSession::connectOnce(const String& host, const String& port, ImapCore::Referral& referral) {
    if (openCount > 0) disconnect();
    core_ = ImapCore();
    core_.setTag(kGreetingAwaited);
    int r = SenderSession::connectSession(host, port, level_, certificate_);
    if (r < 0) return r;
    if (r == 0 || core_.tag() == kGreetingAwaited) {
        if (openCount > 0) close();
        return kSessionRefused;
    }
    if (ImapCore::findReferral(replyLine(), referral)) {
        close();
        return kReferred;
    }
    core_.setTag(0);
    ImapCore::Capabilities& caps = core_.capabilities();
    if (!caps.known) {
        r = capability();
        if (r < 1) { close(); return r < 0 ? r : kSessionRefused; }
    }
    if (tls() && !ssl()) {
        // STARTTLS upgrades the session; a server that does not offer it never gets the
        // password in clear.
        if (!caps.startTls) {
            std::fprintf(stderr, "IMAP server does not offer STARTTLS\n");
            close();
            return kSessionRefused;
        }
        r = command("%lu STARTTLS\r\n", core_.nextTag());
        if (r < 1 || startTls(connectedHost()) < 1) {
            std::fprintf(stderr, "TLS negotiation with '%s' failed\n", connectedHost().c_str());
            close();
            return kSessionRefused;
        }
        caps = ImapCore::Capabilities();
        r = capability();
        if (r < 1) { close(); return r < 0 ? r : kSessionRefused; }
    }
    return kSessionOk;
}

int ImapUploadSession::authenticate(const String& user, const String& password) {
    String who = user;
    for (int hops = 0;; ++hops) {
        // After a referral to another server, the credentials stay with the one the user named.
        if (openCount > 0 && !onNamedServer_) {
            std::fprintf(stderr, "IMAP server '%s' is not one named ('%s'): no login sent to it\n",
                         connectedHost().c_str(), namedHosts_.c_str());
            return kSessionClosed;
        }
        ImapCore::Referral referral;
        int r = authenticateOnce(who, password, referral);
        if (r != kReferred) return r;
        if (hops == ImapCore::kReferralHopsMax) {
            std::fprintf(stderr, "IMAP server referred the login %d times, last to '%s'; given up\n",
                         hops + 1, referral.host.c_str());
            close();
            return kSessionClosed;
        }
        String folder = folder_;
        disconnect();
        folder_ = folder;
        const String port = referral.port.empty() ? String("143") : referral.port;
        onNamedServer_ = ImapCore::namesServer(namedHosts_, namedPort_, referral.host, port);
        r = connectFollowing(referral.host, port);
        if (r < 1) return r;
        if (!referral.user.empty()) who = referral.user;
    }
}

int ImapUploadSession::authenticateOnce(const String& user, const String& password,
                                        ImapCore::Referral& referral) {
    user_ = user;
    password_ = password;
    if (openCount < 1) return kSessionRefused;
    if ((tls() || ssl()) && !encrypted()) return kSessionRefused;  // never a password in clear
    ImapCore::Capabilities& caps = core_.capabilities();
    const bool authPlain = caps.authPlain, authLogin = caps.authLogin, authCramMd5 = caps.authCramMd5;
    caps.startTls = caps.uidPlus = caps.known = false;
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
        if (sendCommand("%lu AUTHENTICATE CRAM-MD5\r\n", core_.nextTag()) < 1 || !continuation()) return 0;
        String answer = saslCramMd5Answer(replyLine(), user, password);
        sent = sendSecret(answer, "%s\r\n", answer.c_str());
    } else if (authPlain) {
        if (sendCommand("%lu AUTHENTICATE PLAIN\r\n", core_.nextTag()) < 1 || !continuation()) return 0;
        String answer = saslPlainAnswer(user, password);
        sent = sendSecret(answer, "%s\r\n", answer.c_str());
    } else if (authLogin) {
        if (sendCommand("%lu AUTHENTICATE LOGIN\r\n", core_.nextTag()) < 1 || !continuation()) return 0;
        String answer = saslLoginAnswer(user);
        if (sendSecret(answer, "%s\r\n", answer.c_str()) < 1 || !continuation()) return 0;
        answer = saslLoginAnswer(password);
        sent = sendSecret(answer, "%s\r\n", answer.c_str());
    } else {
        String quoted = ImapCore::quotedLogin(password);
        sent = sendSecret(quoted, "%lu LOGIN %s %s\r\n", core_.nextTag(), ImapCore::quotedLogin(user).c_str(),
                          quoted.c_str());
    }
    if (sent < 1) return 0;
    int r = readReply();
    if (ImapCore::findReferral(replyLine(), referral)) return kReferred;
    if (r < 1) return r;
    if (!core_.capabilities().known) {
        int c = capability();
        if (c < 1) { close(); return c < 0 ? c : kSessionRefused; }
    }
    return r;
}

int ImapUploadSession::quit() {
    if (openCount < 1) return kSessionRefused;
    timeout = 30;
    return command("%lu LOGOUT\r\n", core_.nextTag());
}

template <class Write>
int ImapUploadSession::captureAndAppend(Write write) {
    if (openCount < 1) return kSessionRefused;
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
