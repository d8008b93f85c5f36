// The IMAP4 reader's session: connecting (with referrals), logging in and out, folders, flags,
// copies and the order of a SORT or SEARCH.
#include "receive/imap_reader.h"

#include <strings.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/text.h"
#include "net/sasl_answers.h"

namespace qarvel {

namespace {

// LOGOUT waits this long for its reply.
constexpr int kLogoutTimeout = 30;

} // namespace

// ---------------------------------------------------------------- connection

ImapReader::ImapReader() { dotStuffed_ = 0; }

ImapReader::~ImapReader() {
    if (connected()) close();
}

int ImapReader::vsendCommand(const char* format, va_list args) {
    alerted_ = false;
    alert_ = String();
    return MailboxReader::vsendCommand(format, args);
}

void ImapReader::resetMessageArrays() {
    table_.clear();
    std::vector<uint32_t>().swap(orderedUids_);
}

int ImapReader::close() {
    if (connected() && !keepOpen_) logout(false);
    resetMessageArrays();
    literals_.clear();
    parts_.clear();
    ordered_ = false;
    idling_ = false;
    return MailboxReader::close();
}

int ImapReader::open(const String& host, const String& port, const char* certificate, int level) {
    namedHost_ = host;
    namedPort_ = port;
    hasCertificate_ = certificate != nullptr;
    certificate_ = certificate ? certificate : "";
    level_ = level;
    return connectFollowing(host, port);
}

int ImapReader::connectFollowing(String host, String port) {
    for (int hops = 0;; ++hops) {
        ImapCore::Referral referral;
        int r = connectOnce(host, port, referral);
        if (r != kReferred) return r;
        if (hops == ImapCore::kReferralHopsMax) {
            fprintf(stderr, "IMAP server referred the connection %d times, last to '%s'; given up\n",
                    hops + 1, referral.host.c_str());
            return kReaderFailed;
        }
        host = referral.host;
        if (!referral.port.empty()) port = referral.port;
    }
}

int ImapReader::connectOnce(const String& host, const String& port, ImapCore::Referral& referral) {
    if (connected()) close();
    core_ = ImapCore();
    int result = MailboxReader::open(host, port, hasCertificate_ ? certificate_.c_str() : nullptr, level_);
    if (result < 0) return result;
    reply_.assign(kImapResponseSize, '\0');
    count_ = 0;
    recent_ = unseen_ = 0;
    currentSize_ = 0;
    idling_ = false;
    ordered_ = false;
    resetMessageArrays();
    alerted_ = false;
    alert_ = bye_ = selected_ = String();
    loggedOut_ = 1;
    int r = readResponse();
    if (r < 1) return r;
    if (ImapCore::findReferral(reply_.data(), referral)) {
        Connection::close();
        return kReferred;
    }
    ImapCore::Capabilities& caps = core_.capabilities();
    if (strncasecmp(reply_.data(), "* BYE", 5) == 0) {
        fprintf(stderr, "IMAP server refused the connection: %s", reply_.data() + 2);
        Connection::close();
        return kReaderFailed;
    }
    if (!caps.known) {
        r = capability();
        if (r < 0) { Connection::close(); return r; }
    }
    if (tls() && !ssl()) {
        // STARTTLS upgrades the session; a server that does not offer it never gets the
        // password in clear.
        if (!caps.startTls) {
            fprintf(stderr, "IMAP server does not offer STARTTLS\n");
            Connection::close();
            return kReaderFailed;
        }
        r = command("%lu STARTTLS\r\n", nextTag());
        if (r < 1) {
            fprintf(stderr, "IMAP server refused STARTTLS: %s", lastReply());
            Connection::close();
            return r < 0 ? r : kReaderFailed;
        }
        if (startTls(host) < 1) {
            fprintf(stderr, "TLS negotiation with '%s' failed\n", host.c_str());
            Connection::close();
            return kReaderFailed;
        }
        // What the server offered before TLS is not trusted after it.
        caps = ImapCore::Capabilities();
        r = capability();
        if (r < 0) { Connection::close(); return r; }
    }
    return r;
}

int ImapReader::capability() { return command("%lu CAPABILITY\r\n", nextTag()); }

// ---------------------------------------------------------------- login

int ImapReader::authenticateExchange(const String& user, const String& password) {
    auto readContinuation = [this]() {
        int r = readPhysical(0);
        if (r < 1) Connection::close();
        return r;
    };
    const ImapCore::Capabilities& caps = core_.capabilities();
    if (loginMechanism() != LoginMechanism::kPassword) return bearerExchange(user, password);
    if (caps.authCramMd5 && apop_) {
        if (sendCommand("%lu AUTHENTICATE CRAM-MD5\r\n", nextTag()) < 1) return 0;
        if (readContinuation() < 1) return 0;
        String answer = saslCramMd5Answer(reply_.data(), user, password);
        return sendSecret(answer, "%s\r\n", answer.c_str()) < 1 ? 0 : 1;
    }
    if (caps.authPlain) {
        if (sendCommand("%lu AUTHENTICATE PLAIN\r\n", nextTag()) < 1) return 0;
        if (readContinuation() < 1) return 0;
        String answer = saslPlainAnswer(user, password);
        return sendSecret(answer, "%s\r\n", answer.c_str()) < 1 ? 0 : 1;
    }
    if (caps.authLogin) {
        if (sendCommand("%lu AUTHENTICATE LOGIN\r\n", nextTag()) < 1) return 0;
        if (readContinuation() < 1) return 0;
        String answer = saslLoginAnswer(user);
        if (sendSecret(answer, "%s\r\n", answer.c_str()) < 1) return 0;
        if (readContinuation() < 1) return 0;
        answer = saslLoginAnswer(password);
        return sendSecret(answer, "%s\r\n", answer.c_str()) < 1 ? 0 : 1;
    }
    String quoted = ImapCore::quotedLogin(password);
    return sendSecret(quoted, "%lu LOGIN %s %s\r\n", nextTag(), ImapCore::quotedLogin(user).c_str(),
                      quoted.c_str()) < 1 ? 0 : 1;
}

int ImapReader::bearerExchange(const String& user, const String& token) {
    const ImapCore::Capabilities& caps = core_.capabilities();
    const LoginMechanism mechanism = chooseBearer(loginMechanism(), caps.authXoauth2, caps.authOauthBearer);
    if (mechanism == LoginMechanism::kPassword) {
        setReply("IMAP server offers neither AUTH=XOAUTH2 nor AUTH=OAUTHBEARER\n");
        return 0;
    }
    if (!encrypted()) {
        setReply("An OAuth2 token is never sent without TLS\n");
        return 0;
    }
    const String answer = saslBearerAnswer(mechanism, user, token, namedHost_, namedPort_);
    if (caps.saslIr) {
        if (sendSecret(answer, "%lu AUTHENTICATE %s %s\r\n", nextTag(), saslName(mechanism), answer.c_str()) < 1)
            return 0;
    } else {
        if (sendCommand("%lu AUTHENTICATE %s\r\n", nextTag(), saslName(mechanism)) < 1) return 0;
        if (readPhysical(0) < 1) {
            Connection::close();
            return 0;
        }
        if (sendSecret(answer, "%s\r\n", answer.c_str()) < 1) return 0;
    }
    // The verdict, or first the error challenge ("+ " and the server's reasons), which is
    // answered so that the server ends the exchange with its verdict.
    do {
        if (readResponse() < 1) return 0;
    } while (reply_[0] == '*');
    if (reply_[0] != '+') return kVerdictRead;
    return sendCommand("%s\r\n", saslBearerErrorAnswer(mechanism)) < 1 ? 0 : 1;
}

int ImapReader::login(const String& user, const String& password) {
    String who = user;
    for (int hops = 0;; ++hops) {
        // After a referral to another server, the credentials stay with the one the user named.
        if (connected() && !ImapCore::namesServer(namedHost_, namedPort_, connectHost_, connectPort_)) {
            fprintf(stderr, "IMAP server '%s:%s' is not the one named ('%s:%s'): no login sent to it\n",
                    connectHost_.c_str(), connectPort_.c_str(), namedHost_.c_str(), namedPort_.c_str());
            loggedIn_ = 0;
            return kReaderFailed;
        }
        ImapCore::Referral referral;
        int r = loginOnce(who, password, referral);
        if (r != kReferred) return r;
        if (hops == ImapCore::kReferralHopsMax) {
            fprintf(stderr, "IMAP server referred the login %d times, last to '%s'; given up\n", hops + 1,
                    referral.host.c_str());
            close();
            return kReaderFailed;
        }
        close();
        r = connectFollowing(referral.host, referral.port.empty() ? String("143") : referral.port);
        if (r < 1) return r;
        if (!referral.user.empty()) who = referral.user;
    }
}

int ImapReader::loginOnce(const String& user, const String& password, ImapCore::Referral& referral) {
    ImapCore::Capabilities& caps = core_.capabilities();
    caps.startTls = caps.uidPlus = caps.sort = caps.acl = caps.idle = caps.userLogout = false;
    alerted_ = false;
    alert_ = String();
    caps.known = false;
    loggedIn_ = 0;
    if (!connected()) return kReaderFailed;
    if ((tls() || ssl()) && !encrypted()) return kReaderFailed;  // never a password in clear
    const int sent = authenticateExchange(user, password);
    if (sent < 1) return 0;
    count_ = 0;
    recent_ = unseen_ = 0;
    currentSize_ = 0;
    resetMessageArrays();
    int r = sent == kVerdictRead ? judgeTagged() : readReply();
    if (ImapCore::findReferral(reply_.data(), referral)) return kReferred;
    if (r < 1) return r;
    // The login reply may carry the capabilities of the session as a response code.
    if (locateNoCase(reply_.data(), "[CAPABILITY ")) core_.readCapabilities(reply_.data());
    if (!caps.known) {
        r = capability();
        if (r < 0) { Connection::close(); return r; }
    }
    loggedIn_ = 1;
    loggedOut_ = 0;
    user_ = user;
    password_ = password;
    return kReaderOk;
}

int ImapReader::logout(bool useUserLogout) {
    loggedIn_ = 0;
    if (!connected()) return kReaderFailed;
    alerted_ = false;
    alert_ = String();
    timeout = std::min(timeout > 0 ? timeout : kLogoutTimeout, kLogoutTimeout);
    loggingOut_ = true;
    int r = kReaderOk;
    if (purge_ && !loggedOut_ && !selected_.empty()) r = command("%lu CLOSE\r\n", nextTag());
    if (!loggedOut_) {
        if (useUserLogout && core_.capabilities().userLogout) r = command("%lu USERLOGOUT\r\n", nextTag());
        else r = command("%lu LOGOUT\r\n", nextTag());
        loggedOut_ = 1;
    }
    loggingOut_ = false;
    return r;
}

// ---------------------------------------------------------------- folders

int ImapReader::selectFolder(const String& name, int readOnly) {
    if (!connected()) return kReaderFailed;
    resetMessageArrays();
    currentSize_ = 0;
    uidNext_ = unseen_ = recent_ = 0;
    ordered_ = false;
    count_ = 0;
    expectExists_ = true;
    int r = command("%lu %s %s\r\n", nextTag(), readOnly ? "EXAMINE" : "SELECT",
                    ImapCore::quoted(name).c_str());
    expectExists_ = false;
    if (r < 0) return r;
    selected_ = name;
    return kReaderOk;
}

int ImapReader::fetchSizes(int first, int last) {
    if (!connected()) return kReaderFailed;
    if (count_ == 0) return kReaderNotDone;
    if (last == 0) last = count_;
    return command("%lu FETCH %lu:%lu (UID RFC822.SIZE)\r\n", nextTag(),
                   static_cast<unsigned long>(first), static_cast<unsigned long>(last));
}

int ImapReader::listFolders(const String& pattern, int subscribedOnly) {
    if (!connected()) return kReaderFailed;
    folders_.clear();
    kept_.clear();
    return command("%lu %s \"\" %s\r\n", nextTag(), subscribedOnly ? "LSUB" : "LIST",
                   ImapCore::quoted(pattern.empty() ? String("*") : pattern).c_str());
}

int ImapReader::nextFolderName(String& name) {
    if (folders_.takeHead(name)) return kReaderOk;
    name = String();
    for (const String& folder : kept_) folders_.add(folder);
    return kReaderNotDone;
}

int ImapReader::createFolder(const String& name) {
    if (!connected()) return kReaderFailed;
    return command("%lu CREATE %s\r\n", nextTag(), ImapCore::quoted(name).c_str());
}

int ImapReader::deleteFolder(const String& name) {
    if (!connected()) return kReaderFailed;
    return command("%lu DELETE %s\r\n", nextTag(), ImapCore::quoted(name).c_str());
}

int ImapReader::subscribeFolder(const String& name) {
    if (!connected()) return kReaderFailed;
    return command("%lu SUBSCRIBE %s\r\n", nextTag(), ImapCore::quoted(name).c_str());
}

int ImapReader::unsubscribeFolder(const String& name) {
    if (!connected()) return kReaderFailed;
    return command("%lu UNSUBSCRIBE %s\r\n", nextTag(), ImapCore::quoted(name).c_str());
}

int ImapReader::renameFolder(const String& oldName, const String& newName) {
    if (!connected()) return kReaderFailed;
    return command("%lu RENAME %s %s\r\n", nextTag(), ImapCore::quoted(oldName).c_str(),
                   ImapCore::quoted(newName).c_str());
}

int ImapReader::closeMailbox() {
    if (!connected()) return kReaderFailed;
    return command("%lu CLOSE\r\n", nextTag());
}

// ---------------------------------------------------------------- flags, copies, order

int ImapReader::deleteMessage(int n) {
    if (!connected() || n < 1 || n > count_) return kReaderFailed;
    return command("%lu STORE %d +FLAGS (\\Deleted)\r\n", nextTag(), n);
}

int ImapReader::undeleteMessage(int n) {
    if (!connected() || n < 1 || n > count_) return kReaderFailed;
    return command("%lu STORE %d -FLAGS (\\Deleted)\r\n", nextTag(), n);
}

int ImapReader::deleteByUid(unsigned uid) {
    if (!connected()) return kReaderFailed;
    return command("%lu UID STORE %lu +FLAGS (\\Deleted)\r\n", nextTag(), static_cast<unsigned long>(uid));
}

int ImapReader::undeleteByUid(unsigned uid) {
    if (!connected()) return kReaderFailed;
    return command("%lu UID STORE %lu -FLAGS (\\Deleted)\r\n", nextTag(), static_cast<unsigned long>(uid));
}

int ImapReader::copyMessage(int n, const String& folder, int deleteAfter) {
    if (!connected() || n < 1 || n > count_) return kReaderFailed;
    int r = command("%lu COPY %d %s\r\n", nextTag(), n, ImapCore::quoted(folder).c_str());
    if (r < 1 || !deleteAfter) return r;
    return command("%lu STORE %d +FLAGS (\\Deleted)\r\n", nextTag(), n);
}

int ImapReader::copyByUid(unsigned uid, const String& folder, int deleteAfter) {
    if (!connected()) return kReaderFailed;
    int r = command("%lu UID COPY %lu %s\r\n", nextTag(), static_cast<unsigned long>(uid),
                    ImapCore::quoted(folder).c_str());
    if (r < 1 || !deleteAfter) return r;
    return deleteByUid(uid);
}

int ImapReader::sort(const String& criteria, const String& key) {
    if (!connected()) return kReaderFailed;
    if (!core_.capabilities().sort || ordered_) return kReaderNotDone;
    int old = count_;
    count_ = 0;
    int r = command("%lu UID SORT (%s) US-ASCII %s\r\n", nextTag(),
                    criteria.empty() ? "ARRIVAL" : criteria.c_str(), key.empty() ? "ALL" : key.c_str());
    if (r < 1) { if (count_ == 0) count_ = old; return r; }
    ordered_ = true;
    return kReaderOk;
}

int ImapReader::search(const String& criteria) {
    if (!connected()) return kReaderFailed;
    if (ordered_) return kReaderNotDone;
    int old = count_;
    count_ = 0;
    int r = command("%lu UID SEARCH %s\r\n", nextTag(), criteria.empty() ? "ALL" : criteria.c_str());
    if (r < 1) { if (count_ == 0) count_ = old; return r; }
    ordered_ = true;
    return kReaderOk;
}

int ImapReader::messageSize(int n) {
    if (n < 1 || n > count_ || ordered_) return 0;
    return static_cast<int>(table_.size(static_cast<uint32_t>(n)));
}

unsigned ImapReader::uidOf(int n) {
    if (n < 1 || n > count_) return 0;
    return table_.uid(static_cast<uint32_t>(n));
}

unsigned ImapReader::orderedUid(int n) {
    if (n < 1 || n > count_) return 0;
    if (ordered_) return static_cast<size_t>(n) <= orderedUids_.size() ? orderedUids_[static_cast<size_t>(n - 1)] : 0;
    return uidOf(n);
}

} // namespace qarvel
