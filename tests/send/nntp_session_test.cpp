// Exact NNTP posting dialogues: the ports, AUTHINFO up front and on a 480 demand, the article
// with its Newsgroups and X-no-archive lines and dot-stuffing, and the refusals.
#include "send/nntp_session.h"

#include <gtest/gtest.h>

#include <string>

#include "base/string_list.h"
#include "support/has_text.h"
#include "support/scripted_socket.h"

namespace qarvel {
namespace {

using test::has;

using Peer = ScriptedSocket<NntpSession>;

// The lines the client sent outside the article (which runs from its Newsgroups line to its
// lone ".").
std::string commands(const std::string& sent) {
    std::string out;
    bool inArticle = false;
    size_t pos = 0;
    while (pos < sent.size()) {
        size_t end = sent.find("\r\n", pos);
        if (end == std::string::npos) end = sent.size();
        std::string line = sent.substr(pos, end - pos);
        if (line.rfind("Newsgroups: ", 0) == 0) inArticle = true;
        if (!inArticle) out += line + "\n";
        if (line == ".") inArticle = false;
        pos = end + 2;
    }
    return out;
}

int post(NntpSession& s, const char* body = "hello\r\n") {
    return s.sendMessage("Alice <a@example.org>", String(), "test.one, test.two", "s", body,
                         std::char_traits<char>::length(body), String(), String(), String(),
                         String());
}

TEST(NntpSession, PortsAndGreeting) {
    const struct { bool ssl; const char* port; const char* greeting; int result; const char* opened; } cases[] = {
        {false, "", "200 news.test ready\r\n", 1, "news.test:119 "},
        {true, "", "200 ready\r\n", 1, "news.test:563 "},
        {false, "10119", "201 ready, no posting\r\n", 1, "news.test:10119 "},
        {false, "", "502 service permanently unavailable\r\n", -1, "news.test:119 "},
    };
    for (const auto& c : cases) {
        Peer s;
        s.setConnectionOptions({.ssl = c.ssl});
        s.setReplies(c.greeting);
        EXPECT_EQ(s.connectSession("news.test", c.port), c.result) << c.greeting;
        EXPECT_EQ(s.opened, c.opened);
    }
}

// One dialogue: the server's replies after the greeting, the credentials given to authenticate
// (none: no explicit login), the results, and the commands the client sent.
struct Dialogue {
    const char* name;
    const char* user;
    const char* password;
    std::string replies;
    int loginResult;  // ignored without a user
    int postResult;
    std::string sent;
    const char* lastReply;
};

void PrintTo(const Dialogue& d, std::ostream* os) { *os << d.name; }

class NntpDialogue : public ::testing::TestWithParam<Dialogue> {};

TEST_P(NntpDialogue, CommandsAndResults) {
    const Dialogue& d = GetParam();
    Peer s;
    s.setReplies("200 news.test ready\r\n" + d.replies);
    ASSERT_EQ(s.connectSession("news.test", String()), 1);
    if (d.user) {
        EXPECT_EQ(s.authenticate(d.user, d.password), d.loginResult);
    }
    if (!d.user || d.loginResult > 0) {
        EXPECT_EQ(post(s), d.postResult);
    }
    EXPECT_EQ(commands(s.sent), d.sent);
    EXPECT_EQ(std::string(s.replyLine()).substr(0, 3), d.lastReply);
}

const std::string kArticleTaken = "340 send article\r\n240 article received\r\n";

INSTANTIATE_TEST_SUITE_P(
    Nntp, NntpDialogue,
    ::testing::Values(
        Dialogue{"NoLogin", nullptr, nullptr, kArticleTaken, 0, 1, "POST\n", "240"},
        Dialogue{"UserAndPassword", "test", "secret", "381 password\r\n281 ok\r\n" + kArticleTaken,
                 1, 1, "AUTHINFO USER test\nAUTHINFO PASS secret\nPOST\n", "240"},
        Dialogue{"UserAloneSuffices", "test", "secret", "281 ok\r\n" + kArticleTaken, 1, 1,
                 "AUTHINFO USER test\nPOST\n", "240"},
        // The demand on POST: login with the kept credentials, then POST once more. The
        // refusals without a demand are in send_faults_test.cpp, with the program's messages.
        Dialogue{"DemandAnswered", "test", "secret",
                 "281 ok\r\n480 authentication required\r\n381 password\r\n281 ok\r\n" + kArticleTaken,
                 1, 1, "AUTHINFO USER test\nPOST\nAUTHINFO USER test\nAUTHINFO PASS secret\nPOST\n",
                 "240"},
        Dialogue{"DemandRepeatedIsNotAnsweredTwice", "test", "secret",
                 "281 ok\r\n480 again\r\n281 ok\r\n480 still\r\n", 1, -1,
                 "AUTHINFO USER test\nPOST\nAUTHINFO USER test\nPOST\n", "480"},
        Dialogue{"DemandThenRefusedLogin", "test", "secret",
                 "281 ok\r\n480 again\r\n381 password\r\n481 expired\r\n", 1, -1,
                 "AUTHINFO USER test\nPOST\nAUTHINFO USER test\nAUTHINFO PASS secret\n", "481"},
        // A 480 to the article itself cannot be answered by sending a command again.
        Dialogue{"DemandAfterTheArticle", "test", "secret",
                 "281 ok\r\n340 go\r\n480 too late\r\n", 1, -1, "AUTHINFO USER test\nPOST\n", "480"},
        Dialogue{"DropAfterPost", nullptr, nullptr, "340 go\r\n", 0, 0, "POST\n", ""}),
    [](const auto& info) { return std::string(info.param.name); });

// A peer that greets and takes one article.
void connectTaking(Peer& s) {
    s.setReplies("200 ready\r\n" + kArticleTaken);
    ASSERT_EQ(s.connectSession("news.test", String()), 1);
}

TEST(NntpSession, ArticleLines) {
    Peer s;
    s.setNoArchive(1);
    s.style().mimeLevel = 1;
    s.style().quotedPrintable = 0;
    connectTaking(s);
    ASSERT_EQ(post(s, "first\r\n.\r\n..two\r\n.\r\nlast\r\n"), 1);
    const std::string& a = s.sent;
    // One Newsgroups line with both groups, no To line, the archive line right before X-Mailer.
    EXPECT_EQ(a.rfind("POST\r\nNewsgroups: test.one,test.two\r\nFrom: Alice <a@example.org>\r\n", 0), 0u) << a;
    EXPECT_FALSE(has(a, "To:"));
    EXPECT_TRUE(has(a, "MIME-Version: 1.0\r\nX-no-archive: yes\r\nX-Mailer: "));
    // Lines that begin with a full stop are doubled; only the last "." ends the article.
    EXPECT_TRUE(has(a, "\r\n\r\nfirst\r\n..\r\n...two\r\n..\r\nlast\r\n\r\n.\r\n"));
    EXPECT_EQ(a.size() - a.rfind("\r\n.\r\n"), 5u);

    // Without the flag there is no archive line; lists are joined into one Newsgroups line.
    Peer lists;
    connectTaking(lists);
    StringList to, cc, bcc;
    to.add("test.one");
    to.add("test.two");
    cc.add("test.three");
    ASSERT_EQ(lists.sendMessageToLists("a@example.org", String(), to, "s", "x\r\n", 3, String(), cc,
                                       bcc, String()),
              1);
    EXPECT_EQ(lists.sent.rfind("POST\r\nNewsgroups: test.one,test.two,test.three\r\n", 0), 0u) << lists.sent;
    EXPECT_FALSE(has(lists.sent, "X-no-archive"));
    EXPECT_TRUE(has(a, "Content-Transfer-Encoding: 7bit\r\n"));

    // The body goes out as it is, so its label says what it holds: 8bit beyond ASCII.
    Peer eight;
    eight.style().quotedPrintable = 0;
    connectTaking(eight);
    ASSERT_EQ(post(eight, "Gr\xc3\xbc\xc3\x9f" "e\r\n"), 1);
    EXPECT_TRUE(has(eight.sent, "Content-Transfer-Encoding: 8bit\r\n"));
}

TEST(NntpSession, LineBreaksInValuesSendNothing) {
    Peer s;
    connectTaking(s);
    // A group list or a credential with CR or LF would smuggle a command of its own.
    EXPECT_EQ(s.sendMessage("a@x", String(), "test.one\r\nQUIT", "s", "x", 1, String(), String(),
                            String(), String()),
              -1);
    EXPECT_STREQ(s.replyLine(), "a newsgroup name holds a line break\n");
    StringList to, cc, bcc;
    to.add("ok.group");
    cc.add("bad\ngroup");
    EXPECT_EQ(s.sendMessageToLists("a@x", String(), to, "s", "x", 1, String(), cc, bcc, String()), -1);
    EXPECT_EQ(s.authenticate("test\r\nPOST", "secret"), -1);
    EXPECT_EQ(s.authenticate("test", "se\ncret"), -1);
    EXPECT_EQ(s.sent, "");
    // The session is still usable.
    EXPECT_EQ(post(s), 1);
}

TEST(NntpSession, StartTlsRefusedClosesBeforeAnyCredential) {
    for (const char* refusal : {"502 not here\r\n", "580 cannot start\r\n", "200 what\r\n"}) {
        Peer s;
        s.setConnectionOptions({.tls = true});
        s.setReplies(std::string("200 ready\r\n") + refusal);
        testing::internal::CaptureStderr();
        EXPECT_EQ(s.connectSession("news.test", String()), -1) << refusal;
        std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(err, std::string("STARTTLS refused by the server: ") + refusal);
        EXPECT_EQ(s.sent, "STARTTLS\r\n");
        EXPECT_FALSE(s.isOpen());
        // A later login is refused locally: the connection was never encrypted.
        EXPECT_EQ(s.authenticate("test", "secret"), 0);
        EXPECT_EQ(s.sent, "STARTTLS\r\n");
    }
}

}  // namespace
}  // namespace qarvel
