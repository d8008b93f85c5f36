// The IMAP upload session against scripted servers: the APPEND dialogue with the literal's
// length equal to the bytes that follow (dots left as they are), and a refused APPEND that must
// not send the message. Its connect and login are those of the reader (imap_dialogue_test.cpp
// in tests/receive).
#include <gtest/gtest.h>

#include <string>

#include "send/imap_upload_session.h"
#include "support/has_text.h"
#include "support/scripted_server.h"

namespace qarvel {
namespace {

using test::has;

using test::ScriptedServer;

const char kBody[] = "first\r\n.\r\n..two\r\nlast\r\n";

int upload(ImapUploadSession& session, ScriptedServer& server) {
    int r = session.connectSession("127.0.0.1", String(server.portText()));
    if (r < 1) return r;
    r = session.authenticate("u", "p\"w");
    if (r < 1) return r;
    session.setFolder("Sent Items");
    return session.sendMessage("me@example.test", "", "you@example.test", "Hi", kBody,
                               sizeof kBody - 1, "", "", "", "");
}

TEST(ImapUploadSession, AppendsTheMessageAsOneLiteral) {
    ScriptedServer server({test::send("* OK [CAPABILITY IMAP4rev1 UIDPLUS AUTH=PLAIN] hi\r\n"),
                           test::expect("1 AUTHENTICATE PLAIN"), test::send("+ \r\n"),
                           test::expect("AHUAcCJ3"), test::send("1 OK [CAPABILITY IMAP4rev1 UIDPLUS] in\r\n"),
                           test::expect("2 APPEND \"Sent Items\" (\\Seen) {"), test::send("+ go\r\n"),
                           test::expectUntil("last"), test::expect("\r\n"), test::expect("\r\n"),
                           test::send("* 3 EXISTS\r\n2 OK [APPENDUID 77 12] done\r\n"),
                           test::expect("3 LOGOUT"), test::send("* BYE\r\n3 OK\r\n")});
    ASSERT_TRUE(server.listening());
    ImapUploadSession session;
    EXPECT_EQ(upload(session, server), 1);
    EXPECT_EQ(session.appendUidValidity(), 77u);
    EXPECT_EQ(session.appendUid(), 12u);
    EXPECT_EQ(session.quit(), 1);
    session.close();
    std::string sent = server.finish();
    EXPECT_EQ(server.error(), "") << sent;

    // The announced length is exactly the bytes between the command line and the final CRLF.
    size_t command = sent.find("2 APPEND");
    ASSERT_NE(command, std::string::npos);
    size_t open = sent.find('{', command);
    unsigned long length = std::stoul(sent.substr(open + 1));
    size_t start = sent.find("\r\n", command) + 2;
    size_t end = sent.find("3 LOGOUT");
    ASSERT_EQ(end - start, length + 2);
    std::string literal = sent.substr(start, length);
    EXPECT_TRUE(has(literal, "\r\n\r\nfirst\r\n=2E\r\n=2E.two\r\nlast\r\n"));
    EXPECT_TRUE(has(literal, "Subject: Hi\r\n"));
    EXPECT_EQ(literal.substr(literal.size() - 2), "\r\n");

    // After the session the folder is INBOX again.
    session.disconnect();
    EXPECT_EQ(session.folder(), "INBOX");
}

TEST(ImapUploadSession, ARefusedAppendSendsNoMessage) {
    ScriptedServer server({test::send("* OK hi\r\n"), test::expect("1 CAPABILITY"),
                           test::send("* CAPABILITY IMAP4rev1\r\n1 OK\r\n"), test::expect("2 LOGIN \"u\" \"p\\\"w\""),
                           test::send("2 OK\r\n* CAPABILITY IMAP4rev1\r\n"), test::expect("3 CAPABILITY"),
                           test::send("3 OK\r\n"), test::expect("4 APPEND"),
                           test::send("4 NO [TRYCREATE] no such folder\r\n")});
    ASSERT_TRUE(server.listening());
    ImapUploadSession session;
    testing::internal::CaptureStderr();
    EXPECT_LT(upload(session, server), 1);
    EXPECT_NE(testing::internal::GetCapturedStderr().find("refused APPEND: 4 NO [TRYCREATE]"), std::string::npos);
    session.close();
    std::string sent = server.finish();
    EXPECT_FALSE(has(sent, "Subject:"));
    EXPECT_EQ(server.error(), "");
}

} // namespace
} // namespace qarvel
