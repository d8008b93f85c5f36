// The connect, referral and login dialogue that both IMAP clients share, each row run against
// the reader and the upload session alike: the login method by capability, the capabilities
// after the login, a BYE greeting, STARTTLS asked for, referrals followed a few times, and no
// credentials for a server the user did not name.
#include <gtest/gtest.h>

#include <string>

#include "receive/imap_reader.h"
#include "send/imap_upload_session.h"
#include "support/scripted_socket.h"

namespace qarvel {
namespace {

struct Outcome {
    bool connected = false, loggedIn = false;
    std::string sent, opened, errors;
};

// Connects to h:143 and logs in, on the reader or on the upload session.
Outcome run(bool upload, const std::string& script, const ConnectionOptions& options, bool cramMd5, const char* user,
            const char* password) {
    Outcome o;
    testing::internal::CaptureStderr();
    if (upload) {
        ScriptedSocket<ImapUploadSession> s(script);
        s.setConnectionOptions(options);
        s.setCramMd5(cramMd5);
        o.connected = s.connectSession("h", "143") == 1;
        o.loggedIn = s.authenticate(user, password) == 1;
        o.sent = s.sent;
        o.opened = s.opened;
    } else {
        ScriptedSocket<ImapReader> r(script);
        r.setConnectionOptions(options);
        r.setApop(cramMd5);
        o.connected = r.open("h", "143", nullptr, 0) == 1;
        o.loggedIn = r.login(user, password) == 1;
        EXPECT_EQ(r.loggedIn() == 1, o.loggedIn);
        o.sent = r.sent;
        o.opened = r.opened;
    }
    o.errors = testing::internal::GetCapturedStderr();
    return o;
}

std::string repeated(const std::string& text, int times) {
    std::string out;
    while (times-- > 0) out += text;
    return out;
}

TEST(ImapDialogue, BothClientsConnectAndLogInAlike) {
    const std::string ready = "* OK [CAPABILITY IMAP4rev1] hi\r\n";
    const std::string loggedIn = "1 OK in\r\n* CAPABILITY IMAP4rev1\r\n2 OK\r\n";
    const std::string login = "1 LOGIN \"u\" \"p\"\r\n2 CAPABILITY\r\n";
    const std::string toSelf = "* OK [REFERRAL IMAP://u@h:143/] elsewhere\r\n";
    const std::string loginToSelf = "1 NO [REFERRAL IMAP://v@h/] elsewhere\r\n";
    struct Case {
        const char* name;
        std::string script;
        bool connected, loggedIn;
        std::string sent;
        std::string opened = "h:143 ";
        const char* errors = "";  // found on standard error
        ConnectionOptions options{};
        bool cramMd5 = false;
        const char* user = "u";
        const char* password = "p";
    } cases[] = {
        // A quote and a backslash inside the credentials survive; surrounding quotes go.
        {"LOGIN command", ready + loggedIn, true, true, "1 LOGIN \"u\\\\x\" \"p\\\"w\"\r\n2 CAPABILITY\r\n",
         "h:143 ", "", {}, false, "u\\x", "\"p\"w\""},
        {"PLAIN before LOGIN", "* OK [CAPABILITY IMAP4rev1 AUTH=PLAIN AUTH=LOGIN] hi\r\n+ \r\n" + loggedIn, true,
         true, "1 AUTHENTICATE PLAIN\r\nAHVceABwInc=\r\n2 CAPABILITY\r\n", "h:143 ", "", {}, false, "u\\x", "p\"w"},
        {"AUTH=LOGIN", "* OK [CAPABILITY IMAP4rev1 AUTH=LOGIN] hi\r\n+ VXNlcm5hbWU6\r\n+ UGFzc3dvcmQ6\r\n" + loggedIn,
         true, true, "1 AUTHENTICATE LOGIN\r\ndVx4\r\ncCJ3\r\n2 CAPABILITY\r\n", "h:143 ", "", {}, false, "u\\x",
         "p\"w"},
        {"CRAM-MD5 only when allowed", "* OK [CAPABILITY IMAP4rev1 AUTH=CRAM-MD5 AUTH=PLAIN] hi\r\n+ \r\n" + loggedIn,
         true, true, "1 AUTHENTICATE PLAIN\r\nAHUAcA==\r\n2 CAPABILITY\r\n"},
        // The challenge and the answer of RFC 2195.
        {"CRAM-MD5 allowed",
         "* OK [CAPABILITY IMAP4rev1 AUTH=CRAM-MD5 AUTH=PLAIN] hi\r\n"
         "+ PDE4OTYuNjk3MTcwOTUyQHBvc3RvZmZpY2UucmVzdG9uLm1jaS5uZXQ+\r\n" + loggedIn,
         true, true, "1 AUTHENTICATE CRAM-MD5\r\ndGltIGI5MTNhNjAyYzdlZGE3YTQ5NWI0ZTZlNzMzNGQzODkw\r\n2 CAPABILITY\r\n",
         "h:143 ", "", {}, true, "tim", "tanstaaftanstaaf"},
        {"capabilities asked; login refused", "* OK hi\r\n* CAPABILITY IMAP4rev1\r\n1 OK\r\n2 NO [AUTHENTICATIONFAILED] bad\r\n",
         true, false, "1 CAPABILITY\r\n2 LOGIN \"u\" \"p\"\r\n"},
        {"a refusal in place of the continuation", "* OK [CAPABILITY IMAP4rev1 AUTH=PLAIN] hi\r\n1 NO not now\r\n+ \r\n", true,
         false, "1 AUTHENTICATE PLAIN\r\n"},
        {"capabilities in the login reply", ready + "1 OK [CAPABILITY IMAP4rev1 UIDPLUS] in\r\n", true, true,
         "1 LOGIN \"u\" \"p\"\r\n"},
        {"BYE greeting", "* BYE too busy\r\n" + ready + loggedIn, false, false, "", "h:143 ",
         "refused the connection: BYE too busy\n"},
        // TLS asked for, in either form: no credentials in clear, whatever the server says.
        {"STARTTLS not offered", "* OK [CAPABILITY IMAP4rev1 AUTH=PLAIN] hi\r\n" + loggedIn, false, false, "",
         "h:143 ", "does not offer STARTTLS", {.tls = true}},
        {"STARTTLS refused", "* OK [CAPABILITY IMAP4rev1 STARTTLS] hi\r\n1 BAD no\r\n" + loggedIn, false, false,
         "1 STARTTLS\r\n", "h:143 ", "refused STARTTLS: 1 BAD no", {.tls = true}},
        {"TLS asked for but not there", ready + loggedIn, true, false, "", "h:143 ", "", {.ssl = true}},
        // A server that refers back to itself: five hops are followed, the sixth is refused.
        {"greeting referrals, five", repeated(toSelf, 5) + ready + loggedIn, true, true, login, repeated("h:143 ", 6)},
        {"greeting referrals, six", repeated(toSelf, 6) + ready + loggedIn, false, false, "", repeated("h:143 ", 6),
         "referred the connection 6 times, last to 'h'"},
        {"login referrals, six", ready + repeated(loginToSelf + ready, 6), true, false,
         "1 LOGIN \"u\" \"p\"\r\n" + repeated("1 LOGIN \"v\" \"p\"\r\n", 5), repeated("h:143 ", 6),
         "referred the login 6 times"},
        // A login referral goes to port 143 unless it names one, with the user it names.
        {"login referral to the named server", ready + loginToSelf + ready + loggedIn, true, true,
         "1 LOGIN \"u\" \"p\"\r\n1 LOGIN \"v\" \"p\"\r\n2 CAPABILITY\r\n", "h:143 h:143 "},
        // A referral to another host or port gets no login.
        {"greeting to another host", "* BYE [REFERRAL IMAP://u@other/] go\r\n" + ready + loggedIn, true, false, "",
         "h:143 other:143 ", "no login sent"},
        {"greeting to another port", "* OK [REFERRAL IMAP://u@h:144/] go\r\n" + ready + loggedIn, true, false, "",
         "h:143 h:144 ", "'h:144' is not one named ('h:143'): no login sent"},
        {"login to another host", ready + "1 NO [REFERRAL IMAP://v@other:143/] go\r\n" + ready + loggedIn, true, false,
         "1 LOGIN \"u\" \"p\"\r\n", "h:143 other:143 ", "no login sent"},
    };
    for (const Case& c : cases) {
        for (bool upload : {false, true}) {
            SCOPED_TRACE(std::string(c.name) + (upload ? " (upload session)" : " (reader)"));
            Outcome o = run(upload, c.script, c.options, c.cramMd5, c.user, c.password);
            EXPECT_EQ(o.connected, c.connected);
            EXPECT_EQ(o.loggedIn, c.loggedIn);
            EXPECT_EQ(o.sent, c.sent);
            EXPECT_EQ(o.opened, c.opened);
            EXPECT_NE(o.errors.find(c.errors), std::string::npos) << o.errors;
        }
    }
}

} // namespace
} // namespace qarvel
