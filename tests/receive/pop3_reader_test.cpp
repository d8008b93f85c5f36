// The POP3 reader against scripted dialogues: greeting and APOP stamp, login variants, the
// size table, RETR/TOP, replies judged by their first character, and broken servers.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "receive/pop3_reader.h"
#include "support/scripted_socket.h"

namespace qarvel {
namespace {

using Pop3 = ScriptedSocket<Pop3Reader>;

TEST(Pop3Reader, ApopLoginItsFallbackRefusalsAndGreetings) {
    // The example of RFC 1939.
    EXPECT_EQ(apopDigest("<1896.697170952@dbc.mtview.ca.us>", "tanstaaf"),
              "c4c9334bac560ecc979e58001b3e22fb");
    Pop3 pop("+OK POP3 server ready <1896.697170952@dbc.mtview.ca.us>\r\n"
             "+OK maildrop has 2 messages\r\n"
             "+OK 2 320\r\n"
             "+OK scan listing\r\n1 120\r\n2 200\r\n3 999\r\n.\r\n");
    pop.setApop(1);
    ASSERT_EQ(pop.open("h", "110", nullptr, 0), 1);
    EXPECT_EQ(pop.timeStamp(), "<1896.697170952@dbc.mtview.ca.us>");
    EXPECT_GT(pop.login("mrose", "tanstaaf"), 0);
    EXPECT_EQ(pop.sent, "APOP mrose c4c9334bac560ecc979e58001b3e22fb\r\nSTAT\r\nLIST\r\n");
    EXPECT_EQ(pop.messageCount(), 2);
    EXPECT_EQ(pop.messageSize(1), 120);
    EXPECT_EQ(pop.messageSize(2), 200);
    EXPECT_EQ(pop.messageSize(3), 0);
    EXPECT_EQ(pop.totalSize(), 1319u);  // a number above the count still adds to the total

    // A refused APOP falls back to USER and PASS; an empty mailbox sends no LIST.
    Pop3 fallback("+OK ready <a@b>\r\n-ERR no APOP\r\n+OK\r\n+OK\r\n+OK 0 0\r\n");
    fallback.setApop(1);
    ASSERT_EQ(fallback.open("h", "110", nullptr, 0), 1);
    EXPECT_EQ(fallback.login("u", "p"), 1);
    EXPECT_EQ(fallback.messageCount(), 0);
    EXPECT_EQ(fallback.sent.substr(fallback.sent.find("USER")), "USER u\r\nPASS p\r\nSTAT\r\n");

    Pop3 noStamp("+OK ready\r\n+OK\r\n-ERR [AUTH] Authentication failed.\r\n");
    noStamp.setApop(1);
    ASSERT_EQ(noStamp.open("h", "110", nullptr, 0), 1);
    EXPECT_TRUE(noStamp.timeStamp().empty());
    EXPECT_EQ(noStamp.login("u", "bad"), -1);
    EXPECT_EQ(noStamp.sent, "USER u\r\nPASS bad\r\n");  // no APOP without a stamp
    EXPECT_TRUE(noStamp.connected());

    // Traced, APOP's digest and the password show as "***", one with a line break (sent as a
    // blank) too.
    Pop3 traced("+OK ready <a@b>\r\n-ERR no APOP\r\n+OK\r\n-ERR no\r\n");
    traced.setApop(1);
    ASSERT_EQ(traced.open("h", "110", nullptr, 0), 1);
    traced.setTraceLevel(2);
    testing::internal::CaptureStdout();
    EXPECT_EQ(traced.login("u", "pa\nss"), -1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "APOP u ***\r\n-ERR no APOP\r\nUSER u\r\n+OK\r\nPASS ***\r\n-ERR no\r\n");
    EXPECT_NE(traced.sent.find("PASS pa ss\r\n"), std::string::npos);
    traced.setTraceLevel(0);

    // Greetings: neither "+" nor "-", a refusal, no connection, a stamp cut to 255 characters.
    Pop3 odd("* hello\r\n");
    EXPECT_EQ(odd.open("h", "110", nullptr, 0), 0);
    Pop3 refused("-ERR go away\r\n");
    EXPECT_EQ(refused.open("h", "110", nullptr, 0), -1);
    Pop3 unreachable;
    unreachable.openResult = -10061;
    EXPECT_EQ(unreachable.open("h", "110", nullptr, 0), -10061);
    std::string stamp(300, 's');
    Pop3 longStamp("+OK <" + stamp + ">\r\n");
    ASSERT_EQ(longStamp.open("h", "110", nullptr, 0), 1);
    EXPECT_EQ(longStamp.timeStamp(), "<" + stamp.substr(0, 255) + ">");
}

std::string loggedIn(const std::string& count, const std::string& list) {
    return "+OK ready\r\n+OK\r\n+OK\r\n+OK " + count + " 100\r\n+OK\r\n" + list + ".\r\n";
}

// A reader opened and logged in over a script that goes on with `rest`.
std::unique_ptr<Pop3> ready(const std::string& list, const std::string& rest) {
    auto pop = std::make_unique<Pop3>(loggedIn("1", list) + rest);
    EXPECT_GT(pop->open("h", "110", nullptr, 0), 0);
    EXPECT_GT(pop->login("u", "p"), 0);
    return pop;
}

TEST(Pop3Reader, RetrieveTopDeleteQuit) {
    Pop3 pop(loggedIn("2", "1 50\r\n2 60\r\n") +
             "+OK\r\nSubject: one\r\n\r\n..dotted\r\nline\r\n.\r\n"
             "+OK\r\nSubject: two\r\nTo: x\r\n\r\nfirst\r\n.\r\n"
             "+OK deleted\r\n-ERR no such message\r\n+OK\r\n+OK bye\r\n");
    ASSERT_EQ(pop.open("h", "110", nullptr, 0), 1);
    ASSERT_GT(pop.login("u", "p"), 0);
    pop.sent.clear();
    ASSERT_EQ(pop.retrieve(1), 1);
    EXPECT_EQ(pop.subject(), "one");
    EXPECT_STREQ(pop.body(), ".dotted\r\nline\r\n");
    EXPECT_EQ(pop.lastRetrieved(), 1);
    ASSERT_EQ(pop.retrieveHeader(2), 1);
    EXPECT_EQ(pop.to(), "x");
    EXPECT_EQ(pop.headerOnly(), 0);
    EXPECT_EQ(pop.deleteMessage(1), 1);
    EXPECT_EQ(pop.deleteMessage(2), -1);
    EXPECT_EQ(pop.deleteMessage(3), -1);  // out of range: nothing sent
    EXPECT_EQ(pop.retrieve(0), -1);
    EXPECT_EQ(pop.reset(), 1);
    EXPECT_EQ(pop.currentFlags(), "\\Seen");
    pop.close();
    EXPECT_EQ(pop.sent, "RETR 1\r\nTOP 2 1\r\nDELE 1\r\nDELE 2\r\nRSET\r\nQUIT\r\n");
    EXPECT_FALSE(pop.connected());
    EXPECT_EQ(pop.subject(), "[no subject]");  // close clears the message
}

TEST(Pop3Reader, BrokenServers) {
    // A connection dropped in the middle of RETR: the parse fails and the reader disconnects.
    auto dropped = ready("1 500\r\n", "+OK\r\nSubject: cut\r\n\r\npartial line");
    EXPECT_EQ(dropped->retrieve(1), 0);
    EXPECT_FALSE(dropped->connected());
    EXPECT_EQ(dropped->subject(), "cut");  // what was parsed stays
    // A message without the final "." line.
    EXPECT_EQ(ready("1 20\r\n", "+OK\r\nSubject: s\r\n\r\nbody\r\n")->retrieve(1), 0);
    // A body line of 100 000 bytes arrives whole.
    std::string longLine(100000, 'L');
    auto longPop = ready("1 100100\r\n", "+OK\r\nSubject: l\r\n\r\n" + longLine + "\r\n.\r\n");
    ASSERT_EQ(longPop->retrieve(1), 1);
    EXPECT_EQ(std::string(longPop->body()), longLine + "\r\n");
    // -ERR to RETR, a reply without "+", a listing cut short, an over-long reply line.
    auto refusing = ready("1 5\r\n", "-ERR locked\r\nOK but no plus\r\n");
    EXPECT_EQ(refusing->retrieve(1), -1);
    EXPECT_EQ(refusing->retrieve(1), 0);
    Pop3 cutList("+OK\r\n+OK\r\n+OK\r\n+OK 3 9\r\n+OK\r\n1 3\r\n");
    ASSERT_GT(cutList.open("h", "110", nullptr, 0), 0);
    EXPECT_LT(cutList.login("u", "p"), 1);
    EXPECT_FALSE(cutList.connected());
    Pop3 longReply("+OK " + std::string(5000, 'x') + "\r\n+OK\r\n");
    ASSERT_EQ(longReply.open("h", "110", nullptr, 0), 1);
    EXPECT_EQ(longReply.command("NOOP\r\n"), 1);  // the rest of the long line was dropped
    // A STAT count from the wire is capped, not trusted for an allocation.
    Pop3 huge("+OK\r\n+OK\r\n+OK\r\n+OK 2147483647 1\r\n-ERR\r\n");
    ASSERT_GT(huge.open("h", "110", nullptr, 0), 0);
    EXPECT_EQ(huge.login("u", "p"), -1);
}

} // namespace
} // namespace qarvel
