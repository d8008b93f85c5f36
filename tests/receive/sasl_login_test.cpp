// SASL logins as exact dialogues on SMTP, POP3 and IMAP: SMTP's PLAIN and LOGIN, and OAuth2's
// initial response, the server's error challenge answered (an empty line for XOAUTH2, ^A for
// OAUTHBEARER), the refusal reported, and no token at all on a connection without TLS.
#include <gtest/gtest.h>

#include <string>

#include "base/base64.h"
#include "net/tls_peer.h"
#include "receive/imap_reader.h"
#include "receive/pop3_reader.h"
#include "send/smtp_session.h"
#include "support/scripted_socket.h"

namespace qarvel {
namespace {

// A scripted socket under a real TLS connection (to `openssl s_server`), so that the protocol
// class sees an encrypted connection; the dialogue itself still comes from the script. Without
// a server the connection stays in clear.
template <class Base>
class Secured : public ScriptedSocket<Base> {
public:
    using ScriptedSocket<Base>::open;
    Secured(test::OpensslServer* server, std::string replies)
        : ScriptedSocket<Base>(std::move(replies)), server_(server) {}
    int open(const String& host, const String& service) override {
        int r = ScriptedSocket<Base>::open(host, service);
        if (r < 1 || !server_) return r;
        TlsOptions options;
        options.caFile = test::certificate("ca.crt");
        this->setTlsOptions(options);
        this->setTimeout(5);
        this->markOpen(false);
        if (Connection::open(host, service) < 1) return -1;
        return this->startTls(host);
    }

private:
    test::OpensslServer* server_;
};

std::string b64(const std::string& text) { return base64Encode(text.data(), text.size(), 0).str(); }

enum class Protocol { kSmtp, kPop3, kImap };

struct Outcome {
    int result;
    std::string sent, reply;
};

// Connects to localhost:port (the greeting and capabilities come first in the script) and logs
// in as "a,b=c" with the token "tok": the result, what was sent after the greeting, the last reply.
Outcome login(Protocol protocol, LoginMechanism mechanism, test::OpensslServer* server, const std::string& port,
              const std::string& script) {
    testing::internal::CaptureStderr();
    Outcome o{};
    if (protocol == Protocol::kSmtp) {
        Secured<SmtpSession> s(server, script);
        s.setEsmtp(1);
        s.setLoginMechanism(mechanism);
        if (s.connectSession("localhost", port.c_str()) == 1) o.result = s.authenticate("a,b=c", "tok");
        // What follows the first EHLO, the local name of a later one left out.
        std::string sent = s.sent.substr(s.sent.find("\r\n") + 2);
        size_t ehlo = sent.find("EHLO ");
        if (ehlo != std::string::npos) sent.erase(ehlo + 4, sent.find("\r\n", ehlo) - ehlo - 4);
        o = {o.result, sent, s.replyLine()};
    } else if (protocol == Protocol::kPop3) {
        Secured<Pop3Reader> pop(server, script);
        pop.setLoginMechanism(mechanism);
        if (pop.open("localhost", port.c_str(), nullptr, 0) == 1) o.result = pop.login("a,b=c", "tok");
        o = {o.result, pop.sent, pop.lastReply()};
    } else {
        Secured<ImapReader> imap(server, script);
        imap.setLoginMechanism(mechanism);
        if (imap.open("localhost", port.c_str(), nullptr, 0) == 1) o.result = imap.login("a,b=c", "tok");
        o = {o.result, imap.sent, imap.lastReply()};
    }
    testing::internal::GetCapturedStderr();
    return o;
}

TEST(SaslLogin, ExactDialogues) {
    ASSERT_FALSE(test::certificateFolder().empty()) << "scripts/servers/tls.sh failed";
    test::OpensslServer server("server");
    ASSERT_NE(server.port, 0);
    const std::string port = server.portText();
    const std::string plain = b64(std::string("\0a,b=c\0tok", 10));
    const std::string xoauth2 = b64("user=a,b=c\x01" "auth=Bearer tok\x01\x01");
    const std::string bearer = b64("n,a=a=2Cb=3Dc,\x01host=localhost\x01port=" + port + "\x01" "auth=Bearer tok\x01\x01");
    const std::string challenge = "eyJzdGF0dXMiOiJpbnZhbGlkX3Rva2VuIiwic2NoZW1lcyI6ImJlYXJlciIsInNjb3BlIjoibWFpbCJ9";
    const std::string smtp = "220 mx ESMTP\r\n250-mx\r\n250 AUTH PLAIN XOAUTH2 OAUTHBEARER\r\n";
    const std::string capa = "+OK ready\r\n+OK\r\nUSER\r\nSASL PLAIN XOAUTH2 OAUTHBEARER\r\n.\r\n";
    const std::string imap = "* OK [CAPABILITY IMAP4rev1 SASL-IR AUTH=XOAUTH2 AUTH=OAUTHBEARER] ready\r\n";
    using M = LoginMechanism;
    struct {
        const char* what;
        Protocol protocol;
        M mechanism;
        bool tls;
        std::string script, sent, reply;
        int result;
    } rows[] = {
        {"SMTP PLAIN", Protocol::kSmtp, M::kPassword, false, smtp + "334 \r\n235 ok\r\n250 mx\r\n",
         "AUTH PLAIN\r\n" + plain + "\r\nEHLO\r\n", "250 mx\r\n", 1},
        {"SMTP only LOGIN: the user name rides on AUTH", Protocol::kSmtp, M::kPassword, false,
         "220 mx\r\n250-mx\r\n250 AUTH LOGIN\r\n334 UGFzc3dvcmQ6\r\n235 ok\r\n250 mx\r\n",
         "AUTH LOGIN " + b64("a,b=c") + "\r\n" + b64("tok") + "\r\nEHLO\r\n", "250 mx\r\n", 1},
        {"SMTP PLAIN refused, then LOGIN", Protocol::kSmtp, M::kPassword, false,
         "220 mx\r\n250-mx\r\n250 AUTH LOGIN PLAIN\r\n334 \r\n535 no\r\n535 no user\r\n",
         "AUTH PLAIN\r\n" + plain + "\r\nAUTH LOGIN " + b64("a,b=c") + "\r\n", "535 no user\r\n", -1},
        {"SMTP only PLAIN, refused", Protocol::kSmtp, M::kPassword, false, "220 mx\r\n250 AUTH PLAIN\r\n334 \r\n535 no\r\n",
         "AUTH PLAIN\r\n" + plain + "\r\n", "535 no\r\n", 0},
        {"SMTP XOAUTH2 challenged", Protocol::kSmtp, M::kXoauth2, true,
         smtp + "334 " + challenge + "\r\n535 5.7.8 token refused\r\n",
         "AUTH XOAUTH2 " + xoauth2 + "\r\n\r\n", "535 5.7.8 token refused\r\n", 0},
        {"SMTP OAUTHBEARER challenged", Protocol::kSmtp, M::kOauthBearer, true,
         smtp + "334 " + challenge + "\r\n535 5.7.8 token refused\r\n",
         "AUTH OAUTHBEARER " + bearer + "\r\nAQ==\r\n", "535 5.7.8 token refused\r\n", 0},
        {"SMTP only XOAUTH2 offered", Protocol::kSmtp, M::kOauthBearer, true,
         "220 mx ESMTP\r\n250-mx\r\n250 AUTH XOAUTH2\r\n235 2.7.0 accepted\r\n250-mx\r\n250 AUTH XOAUTH2\r\n",
         "AUTH XOAUTH2 " + xoauth2 + "\r\nEHLO\r\n", "250 AUTH XOAUTH2\r\n", 1},
        {"POP3 XOAUTH2 challenged", Protocol::kPop3, M::kXoauth2, true,
         capa + "+ " + challenge + "\r\n-ERR [AUTH] token refused\r\n",
         "CAPA\r\nAUTH XOAUTH2 " + xoauth2 + "\r\n\r\n", "-ERR [AUTH] token refused\r\n", -1},
        {"POP3 OAUTHBEARER challenged", Protocol::kPop3, M::kOauthBearer, true,
         capa + "+ " + challenge + "\r\n-ERR [AUTH] token refused\r\n",
         "CAPA\r\nAUTH OAUTHBEARER " + bearer + "\r\nAQ==\r\n", "-ERR [AUTH] token refused\r\n", -1},
        {"IMAP XOAUTH2 with SASL-IR challenged", Protocol::kImap, M::kXoauth2, true,
         imap + "+ " + challenge + "\r\n1 NO [AUTHENTICATIONFAILED] token refused\r\n",
         "1 AUTHENTICATE XOAUTH2 " + xoauth2 + "\r\n\r\n", "1 NO [AUTHENTICATIONFAILED] token refused\r\n", -1},
        {"IMAP only OAUTHBEARER offered, no SASL-IR", Protocol::kImap, M::kXoauth2, true,
         "* OK [CAPABILITY IMAP4rev1 AUTH=OAUTHBEARER] ready\r\n+ \r\n+ " + challenge +
             "\r\n1 NO [AUTHENTICATIONFAILED] token refused\r\n",
         "1 AUTHENTICATE OAUTHBEARER\r\n" + bearer + "\r\nAQ==\r\n",
         "1 NO [AUTHENTICATIONFAILED] token refused\r\n", -1},
        {"POP3 neither offered", Protocol::kPop3, M::kXoauth2, true, "+OK ready\r\n+OK\r\nSASL PLAIN\r\n.\r\n",
         "CAPA\r\n", "POP3 server offers neither XOAUTH2 nor OAUTHBEARER\n", -1},
        // A token is never sent in clear, whatever the server offers.
        {"SMTP in clear", Protocol::kSmtp, M::kXoauth2, false, smtp, "",
         "An OAuth2 token is never sent without TLS\n", 0},
        {"POP3 in clear", Protocol::kPop3, M::kOauthBearer, false, capa, "",
         "An OAuth2 token is never sent without TLS\n", -1},
        {"IMAP in clear", Protocol::kImap, M::kXoauth2, false, imap, "",
         "An OAuth2 token is never sent without TLS\n", 0},
    };
    for (const auto& row : rows) {
        Outcome o = login(row.protocol, row.mechanism, row.tls ? &server : nullptr, port, row.script);
        EXPECT_EQ(o.sent, row.sent) << row.what;
        EXPECT_EQ(o.reply, row.reply) << row.what;
        EXPECT_EQ(o.result, row.result) << row.what;
    }
}

}  // namespace
}  // namespace qarvel
