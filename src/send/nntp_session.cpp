// NntpSession: greeting, STARTTLS, AUTHINFO, POST and the article through the header writer.
#include "send/nntp_session.h"

#include <cstdio>
#include <cstring>

#include "base/string_list.h"
#include "net/failure_cause.h"

namespace qarvel {

namespace {

bool replyCodeIs(const char* reply, const char* code) { return std::strncmp(reply, code, 3) == 0; }

// A line break inside a value would end the command or the header line early and let the
// rest pass as a command of its own.
bool holdsLineBreak(const String& value) {
    return value.view().find_first_of("\r\n") != std::string_view::npos;
}

bool listHoldsLineBreak(const StringList& list) {
    for (const String& entry : list)
        if (holdsLineBreak(entry)) return true;
    return false;
}

String joinEntries(const StringList& list) {
    String joined;
    for (const String& entry : list) {
        if (!joined.empty()) joined += ",";
        joined += entry;
    }
    return joined;
}

} // namespace

NntpSession::NntpSession() { setNews(1); }

int NntpSession::connectSession(const String& host, const String& port, int level,
                                const String& certificate) {
    if (isOpen()) disconnect();
    String service = !port.empty() ? port : ssl() ? String("563") : String("119");
    int result = SenderSession::connectSession(host, service, level, certificate);
    if (result < 1) return result;
    return startTlsIfAsked();
}

int NntpSession::startTlsIfAsked() {
    if (!tls() || ssl()) return kSessionOk;
    // The password least of all may travel in clear: a refusal ends the session.
    return upgradeWithStartTls("382");
}

int NntpSession::loginCommand(const char* format, const String& value, bool secret) {
    int sent = sendSecret(secret ? value : String(), format, value.c_str());
    if (sent < 1) return sent;
    return SenderSession::readReply();
}

int NntpSession::login() {
    if (holdsLineBreak(user_) || holdsLineBreak(password_)) {
        setReplyLine("the user name or password holds a line break\n");
        return kSessionRefused;
    }
    int result = loginCommand("AUTHINFO USER %s\r\n", user_, false);
    if (result < 1) return result;
    // A server that knows the user without a password answers 281 at once.
    if (!replyCodeIs(replyLine(), "381")) return kSessionOk;
    result = loginCommand("AUTHINFO PASS %s\r\n", password_, true);
    return result < 1 ? result : kSessionOk;
}

int NntpSession::authenticate(const String& user, const String& password) {
    user_ = user;
    password_ = password;
    if ((tls() || ssl()) && !encrypted()) {
        setReplyLine("TLS was asked for but the connection is not encrypted\n");
        return kSessionClosed;
    }
    return login();
}

int NntpSession::readReply() {
    int result = SenderSession::readReply();
    if (result >= 0 || !replyCodeIs(replyLine(), "480") || inArticle_ || repeating_ ||
        user_.empty() || password_.empty())
        return result;
    // The command that drew the demand is sent again after the login, once.
    // (without its line end: the loop would blank a line break that comes in an argument).
    std::string again(commandBuffer());
    while (!again.empty() && (again.back() == '\n' || again.back() == '\r')) again.pop_back();
    repeating_ = true;
    result = login();
    if (result > 0) result = command("%s\r\n", again.c_str());
    repeating_ = false;
    return result;
}

int NntpSession::post() { return command("POST\r\n"); }

int NntpSession::refuseGroups() {
    // Refused before POST: once the server waits for an article, nothing can take it back.
    setReplyLine("a newsgroup name holds a line break\n");
    return kSessionRefused;
}

int NntpSession::sendMessage(const String& from, const String& replyTo, const String& to,
                             const String& subject, const char* body, size_t length,
                             const String& base, const String& cc, const String& bcc,
                             const String& errorsTo) {
    if (holdsLineBreak(to) || holdsLineBreak(cc)) return refuseGroups();
    int result = post();
    if (result < 1) return result;
    inArticle_ = true;
    result = SenderSession::sendMessage(from, replyTo, to, subject, body, length, base, cc, bcc,
                                        errorsTo);
    inArticle_ = false;
    return result;
}

int NntpSession::sendMessageToLists(const String& from, const String& replyTo,
                                    const StringList& to, const String& subject,
                                    const char* body, size_t length, const String& base,
                                    const StringList& cc, const StringList& bcc,
                                    const String& errorsTo) {
    if (listHoldsLineBreak(to) || listHoldsLineBreak(cc)) return refuseGroups();
    int result = post();
    if (result < 1) return result;
    inArticle_ = true;
    result = SenderSession::sendMessage(from, replyTo, joinEntries(to), subject, body, length,
                                        base, joinEntries(cc), joinEntries(bcc), errorsTo);
    inArticle_ = false;
    return result;
}

int NntpSession::loadRecipientFile(const String&) { return 0; }

int NntpSession::sendMessageId() {
    if (noArchive_) {
        int r = writeHeader("X-no-archive: yes\r\n");
        if (r < 1) return r;
    }
    return SenderSession::sendMessageId();
}

Failure NntpSession::failureOf(int result) const {
    return sessionFailure(*this, result, replyLine(), ReplyCodes::kNews);
}

} // namespace qarvel
