// The IMAP connect, referral and login dialogue of both IMAP clients.
#include "net/imap_dialogue.h"

#include <strings.h>

#include <cstdio>
#include <cstring>

#include "base/text.h"
#include "net/connection.h"
#include "net/sasl_answers.h"

namespace qarvel {

namespace {

constexpr int kRefused = -1;
// A login referral that names no port points to the IMAP port.
const char* const kImapPort = "143";

// Whether one more referral may be followed after `hops` of them; says why not.
bool mayFollow(int hops, const char* step, const ImapCore::Referral& referral) {
    if (hops < ImapCore::kReferralHopsMax) return true;
    std::fprintf(stderr, "IMAP server referred the %s %d times, last to '%s'; given up\n", step, hops + 1,
                 referral.host.c_str());
    return false;
}

} // namespace

void ImapDialogue::drop() { connection_.Socket::close(); }

void ImapDialogue::referTo(const ImapCore::Referral& referral, const String& port) {
    host_ = referral.host;
    port_ = referral.port.empty() ? port : referral.port;
    onNamedServer_ = ImapCore::namesServer(namedHosts_, namedPort_, host_, port_);
}

// ---------------------------------------------------------------- connecting

int ImapDialogue::connect(const String& hosts, const String& port) {
    namedHosts_ = host_ = hosts;
    namedPort_ = port_ = port;
    onNamedServer_ = true;
    return connectFollowing();
}

int ImapDialogue::connectFollowing() {
    for (int hops = 0;; ++hops) {
        ImapCore::Referral referral;
        int r = connectOnce(referral);
        if (r != kReferred) return r;
        if (!mayFollow(hops, "connection", referral)) return kRefused;
        referTo(referral, port_);
    }
}

int ImapDialogue::connectOnce(ImapCore::Referral& referral) {
    core_ = ImapCore();
    int r = client_.openAndGreet(host_, port_);
    if (r < 1) return r;
    const char* greeting = client_.responseLine();
    // A server that sends the client elsewhere may say so with BYE: the referral comes first.
    if (ImapCore::findReferral(greeting, referral)) {
        drop();
        return kReferred;
    }
    if (strncasecmp(greeting, "* BYE", 5) == 0) {
        std::fprintf(stderr, "IMAP server refused the connection: %.*s\n",
                     static_cast<int>(strcspn(greeting + 2, "\r\n")), greeting + 2);
        drop();
        return kRefused;
    }
    if (locateNoCase(greeting, "[CAPABILITY ")) core_.readCapabilities(greeting);
    r = askCapabilities();
    if (r < 1 || !connection_.tls() || connection_.ssl()) return r;
    return startTls();
}

int ImapDialogue::askCapabilities() {
    if (core_.capabilities().known) return 1;
    int r = connection_.command("%lu CAPABILITY\r\n", core_.nextTag());
    if (r < 1) {
        drop();
        return r < 0 ? r : kRefused;
    }
    return 1;
}

int ImapDialogue::startTls() {
    // STARTTLS upgrades the session; a server that does not offer it never gets the password
    // in clear.
    if (!core_.capabilities().startTls) {
        std::fprintf(stderr, "IMAP server does not offer STARTTLS\n");
        drop();
        return kRefused;
    }
    int r = connection_.command("%lu STARTTLS\r\n", core_.nextTag());
    if (r < 1) {
        std::fprintf(stderr, "IMAP server refused STARTTLS: %s", client_.responseLine());
        drop();
        return r < 0 ? r : kRefused;
    }
    if (connection_.startTls(connection_.connectedHost()) < 1) {
        std::fprintf(stderr, "TLS negotiation with '%s' failed\n", connection_.connectedHost().c_str());
        drop();
        return kRefused;
    }
    // What the server offered before TLS is not trusted after it.
    core_.capabilities() = ImapCore::Capabilities();
    return askCapabilities();
}

// ---------------------------------------------------------------- logging in

int ImapDialogue::login(const String& user, const String& password, bool allowCramMd5) {
    String who = user;
    for (int hops = 0;; ++hops) {
        if (!onNamedServer_) {
            std::fprintf(stderr, "IMAP server '%s:%s' is not one named ('%s:%s'): no login sent to it\n",
                         host_.c_str(), port_.c_str(), namedHosts_.c_str(), namedPort_.c_str());
            return kRefused;
        }
        ImapCore::Referral referral;
        int r = loginOnce(who, password, allowCramMd5, referral);
        if (r != kReferred) return r;
        drop();
        if (!mayFollow(hops, "login", referral)) return kRefused;
        referTo(referral, kImapPort);
        r = connectFollowing();
        if (r < 1) return r;
        if (!referral.user.empty()) who = referral.user;
    }
}

int ImapDialogue::loginOnce(const String& user, const String& password, bool allowCramMd5,
                            ImapCore::Referral& referral) {
    if (!connection_.isOpen()) return kRefused;
    if ((connection_.tls() || connection_.ssl()) && !connection_.encrypted()) return kRefused;  // never in clear
    // What the server offers after the login comes with the reply or is asked again.
    const ImapCore::Capabilities offered = core_.capabilities();
    core_.capabilities().known = false;
    const int sent = sendLogin(user, password, allowCramMd5, offered);
    if (sent < 1) return 0;
    int r = sent == kVerdictRead ? client_.judgeTagged() : connection_.readReply();
    const char* reply = client_.responseLine();
    if (ImapCore::findReferral(reply, referral)) return kReferred;
    if (r < 1) return r;
    if (locateNoCase(reply, "[CAPABILITY ")) core_.readCapabilities(reply);
    return askCapabilities();
}

int ImapDialogue::sendLogin(const String& user, const String& password, bool allowCramMd5,
                            const ImapCore::Capabilities& offered) {
    if (connection_.loginMechanism() != LoginMechanism::kPassword) return sendBearer(user, password, offered);
    int r;
    if (offered.authCramMd5 && allowCramMd5) {
        r = beginAuthenticate("CRAM-MD5");
        return r == 1 ? answer(saslCramMd5Answer(client_.responseLine(), user, password)) : r;
    }
    if (offered.authPlain) {
        r = beginAuthenticate("PLAIN");
        return r == 1 ? answer(saslPlainAnswer(user, password)) : r;
    }
    if (offered.authLogin) {
        r = beginAuthenticate("LOGIN");
        if (r == 1) r = answer(saslLoginAnswer(user));
        if (r == 1) r = awaitContinuation();
        return r == 1 ? answer(saslLoginAnswer(password)) : r;
    }
    const String quoted = ImapCore::quotedLogin(password);
    return connection_.sendSecret(quoted, "%lu LOGIN %s %s\r\n", core_.nextTag(),
                                  ImapCore::quotedLogin(user).c_str(), quoted.c_str()) < 1 ? 0 : 1;
}

int ImapDialogue::sendBearer(const String& user, const String& token, const ImapCore::Capabilities& offered) {
    const LoginMechanism mechanism = chooseBearer(connection_.loginMechanism(), offered.authXoauth2,
                                                  offered.authOauthBearer);
    if (mechanism == LoginMechanism::kPassword) {
        client_.setResponseLine("IMAP server offers neither AUTH=XOAUTH2 nor AUTH=OAUTHBEARER\n");
        return 0;
    }
    if (!connection_.encrypted()) {
        client_.setResponseLine("An OAuth2 token is never sent without TLS\n");
        return 0;
    }
    const String text = saslBearerAnswer(mechanism, user, token, connection_.connectedHost(),
                                         connection_.connectedService());
    int r = 1;
    if (offered.saslIr) {
        if (connection_.sendSecret(text, "%lu AUTHENTICATE %s %s\r\n", core_.nextTag(), saslName(mechanism),
                                   text.c_str()) < 1)
            return 0;
    } else {
        r = beginAuthenticate(saslName(mechanism));
        if (r == 1) r = answer(text);
        if (r != 1) return r;
    }
    // The verdict, or first the error challenge ("+ " and the server's reasons), which is
    // answered so that the server ends the exchange with its verdict.
    r = awaitContinuation();
    if (r != 1) return r;
    return connection_.sendCommand("%s\r\n", saslBearerErrorAnswer(mechanism)) < 1 ? 0 : 1;
}

int ImapDialogue::beginAuthenticate(const char* mechanism) {
    if (connection_.sendCommand("%lu AUTHENTICATE %s\r\n", core_.nextTag(), mechanism) < 1) return 0;
    return awaitContinuation();
}

int ImapDialogue::awaitContinuation() {
    for (int lines = 0; lines < ImapCore::kUntaggedMax; ++lines) {
        if (client_.readResponse() < 1) break;
        const char* line = client_.responseLine();
        if (line[0] == '+') return 1;
        if (line[0] != '*') return kVerdictRead;
    }
    drop();
    return 0;
}

int ImapDialogue::answer(const String& text) {
    return connection_.sendSecret(text, "%s\r\n", text.c_str()) < 1 ? 0 : 1;
}

} // namespace qarvel
