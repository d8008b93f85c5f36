// Exact SMTP and QMTP dialogues: greeting and EHLO/HELO fallback, extensions, AUTH bytes,
// envelopes, limits and 452/552 transactions, probe and skip-refused, faults.
#include "base/base64.h"
#include "base/string_list.h"
#include "send/smtp_session.h"

#include <gtest/gtest.h>

#include <string>

#include "send/addresses.h"
#include "send/qmtp_session.h"
#include "support/has_text.h"
#include "support/scripted_socket.h"
#include "support/text_lines.h"
#include "support/temp_folder.h"

namespace qarvel {
namespace {

using test::has;

using Peer = ScriptedSocket<SmtpSession>;

const char kEhloReply[] =
    "250-mx.test\r\n"
    "250-PIPELINING\r\n"
    "250-AUTH PLAIN LOGIN CRAM-MD5\r\n"
    "250-DSN\r\n"
    "250-ETRN\r\n"
    "250 8BITMIME\r\n";
// The greeting and the reply to HELO, or to EHLO with the extensions above.
const std::string kHelo = "220 x\r\n250 ok\r\n";
const std::string kEhlo = std::string("220 x\r\n") + kEhloReply;

// Gives the peer its replies and connects to host "h"; true when the greeting succeeded.
template <class Session>
bool start(ScriptedSocket<Session>& s, const std::string& replies, bool esmtp = false) {
    s.setEsmtp(esmtp ? 1 : 0);
    s.setReplies(replies);
    return s.connectSession("h", String()) == 1;
}

std::string afterGreeting(const std::string& commands) { return commands.substr(commands.find('\n') + 1); }

int sendSimple(SmtpSession& s, const String& to, const String& cc = String(), const String& bcc = String()) {
    static const char body[] = "hi\r\n";
    return s.sendMessage("Alice <a@example.org>", String(), to, "s", body, sizeof body - 1, String(), cc,
                         bcc, String());
}

TEST(SmtpSession, GreetingEhloExtensionsAndHeloFallback) {
    Peer s;
    s.setEsmtp(1);
    s.setReplies(std::string("220 mx.test ESMTP\r\n") + kEhloReply);
    ASSERT_EQ(s.connectSession("mx.test", String()), 1);
    EXPECT_EQ(s.opened, "mx.test:25 ");
    EXPECT_EQ(s.sent.rfind("EHLO ", 0), 0u);
    EXPECT_EQ(s.esmtpInUse(), 1);
    EXPECT_TRUE(s.extensions().authPlain && s.extensions().authLogin && s.extensions().authCramMd5);
    EXPECT_TRUE(s.extensions().dsn && s.extensions().etrn && s.extensions().eightBitMime);
    EXPECT_FALSE(s.extensions().startTls);

    // EHLO refused with 5xx: HELO with the same domain, ESMTP off.
    Peer old;
    old.setEsmtp(1);
    old.setReplies("220 old\r\n500 what\r\n250 ok\r\n");
    ASSERT_EQ(old.connectSession("old.test", "2525"), 1);
    std::string domain = old.sent.substr(5, old.sent.find("\r\n") - 5);
    EXPECT_EQ(old.sent, "EHLO " + domain + "\r\nHELO " + domain + "\r\n");
    EXPECT_EQ(old.esmtpInUse(), 0);
    EXPECT_EQ(old.opened, "old.test:2525 ");
    EXPECT_TRUE(has(domain, "."));  // a dotted name, "unknown" at worst

    // Without -esmtp the greeting is HELO, and AUTH is refused locally.
    Peer plain;
    ASSERT_TRUE(start(plain, kHelo));
    EXPECT_EQ(plain.sent.rfind("HELO ", 0), 0u);
    EXPECT_EQ(plain.authenticate("u", "p"), 0);
    EXPECT_STREQ(plain.replyLine(), "ESMTP not enabled\n");

    // A greeting that is binary garbage, then nothing, and a reply of endless continuation
    // lines: the connect fails, no hang. A 5000-byte reply line arrives in pieces and
    // overflows nothing.
    Peer garbage, endless, longLine;
    EXPECT_FALSE(start(garbage, std::string("\x01\xff\xfe garbage\r\n", 12), true));
    std::string continued = "220 x\r\n";
    for (int i = 0; i < 2000; ++i) continued += "250-X\r\n";
    EXPECT_FALSE(start(endless, continued, true));
    longLine.setReplies("220 " + std::string(5000, 'x') + "\r\n250 ok\r\n");
    EXPECT_GE(longLine.connectSession("l", String()), 0);
}

// Credentials past one base64 line, and traced ones (the exchanges: receive/sasl_login_test).
TEST(SmtpSession, LongAndTracedCredentials) {
    // A credential longer than one base64 line still goes out as one line.
    Peer longPlain;
    ASSERT_TRUE(start(longPlain, kEhlo + "334 \r\n235 ok\r\n" + kEhloReply, true));
    ASSERT_EQ(longPlain.authenticate(std::string(40, 'u').c_str(), std::string(40, 'p').c_str()), 1);
    std::string expected = base64Encode(std::string(1, '\0') + std::string(40, 'u') + '\0' +
                                        std::string(40, 'p')).str();
    EXPECT_TRUE(has(longPlain.sent, "AUTH PLAIN\r\n" + expected + "\r\nEHLO "));

    // Traced, both answers show as "***"; the peer still gets them.
    Peer traced;
    traced.setTraceLevel(2);
    ASSERT_TRUE(start(traced, "220 x\r\n250-x\r\n250 AUTH LOGIN\r\n334 VXNlcm5hbWU6\r\n235 ok\r\n250 x\r\n", true));
    testing::internal::CaptureStdout();
    ASSERT_EQ(traced.authenticate("test", "secret"), 1);
    std::string trace = testing::internal::GetCapturedStdout();
    EXPECT_TRUE(has(trace, "AUTH LOGIN ***\r\n334 VXNlcm5hbWU6\r\n***\r\n235 ok"));
    EXPECT_FALSE(has(trace, "c2VjcmV0"));
    EXPECT_TRUE(has(traced.sent, "AUTH LOGIN dGVzdA==\r\nc2VjcmV0\r\n"));
}

TEST(SmtpSession, EnvelopeDsnAndEightBit) {
    Peer s;
    s.style().eightBit = true;
    ASSERT_TRUE(start(s, kEhlo + "250 ok\r\n250 ok\r\n250 ok\r\n354 go\r\n250 queued\r\n", true));
    ASSERT_EQ(sendSimple(s, "Bob <b@x.test>, c@y.test (Carl, the second)"), 1);
    EXPECT_EQ(afterGreeting(s.commandsOnly()),
              "MAIL FROM:<a@example.org> BODY=8BITMIME\n"
              "RCPT TO:<b@x.test> NOTIFY=DELAY,FAILURE ORCPT=rfc822;b@x.test\n"
              "RCPT TO:<c@y.test> NOTIFY=DELAY,FAILURE ORCPT=rfc822;c@y.test\n"
              "DATA\n");
    EXPECT_TRUE(has(s.sent, "\r\nhi\r\n\r\n.\r\n"));

    // With the return-receipt flag SUCCESS is asked for too; the errors-to address wins.
    Peer r;
    r.style().returnReceipt = true;
    ASSERT_TRUE(start(r, kEhlo + "250 ok\r\n250 ok\r\n354 go\r\n250 queued\r\n", true));
    ASSERT_EQ(r.sendMessage("a@x", "r@x", "b@x", "s", "x", 1, String(), String(), String(), "e@x"), 1);
    EXPECT_TRUE(has(r.sent, "MAIL FROM:<e@x>\r\nRCPT TO:<b@x> NOTIFY=DELAY,SUCCESS,FAILURE ORCPT=rfc822;b@x\r\n"));
}

TEST(SmtpSession, PipelinedEnvelopeForOneRecipient) {
    // A server that offers PIPELINING gets RSET, MAIL, RCPT and DATA of a one-recipient
    // message as one group: no reply is read until DATA has gone out.
    Peer s;
    ASSERT_TRUE(start(s, kEhlo + "250 ok\r\n250 ok\r\n354 go\r\n250 queued\r\n" +
                             "250 reset\r\n250 ok\r\n250 ok\r\n354 go\r\n250 queued\r\n", true));
    size_t greeted = s.sentAtRead.size();
    ASSERT_EQ(sendSimple(s, "b@x.test"), 1);
    ASSERT_EQ(sendSimple(s, "c@x.test"), 1);
    EXPECT_EQ(afterGreeting(s.commandsOnly()),
              "MAIL FROM:<a@example.org>\nRCPT TO:<b@x.test> NOTIFY=DELAY,FAILURE ORCPT=rfc822;b@x.test\nDATA\n"
              "RSET\nMAIL FROM:<a@example.org>\nRCPT TO:<c@x.test> NOTIFY=DELAY,FAILURE ORCPT=rfc822;c@x.test\nDATA\n");
    std::string first = s.sent.substr(0, s.sentAtRead[greeted]);
    EXPECT_TRUE(first.ends_with("\r\nDATA\r\n")) << first;
    std::string second = s.sent.substr(0, s.sentAtRead[greeted + 4]);
    EXPECT_TRUE(second.ends_with("RSET\r\nMAIL FROM:<a@example.org>\r\nRCPT TO:<c@x.test> NOTIFY=DELAY,FAILURE ORCPT=rfc822;c@x.test\r\nDATA\r\n")) << second;

    // Refusals keep the reply of the command that failed, as one by one, and every reply of
    // the group is read, so the session stays in step for QUIT.
    struct Case {
        const char* replies;  // to MAIL, RCPT and DATA
        int skipRefused;
        const char* reported;
    } cases[] = {
        {"550 sender refused\r\n503 no sender\r\n503 no recipients\r\n", 0, "550 sender refused\r\n"},
        {"250 ok\r\n550 no such user\r\n554 no valid recipients\r\n", 0, "550 no such user\r\n"},
        // Nobody accepted: DATA's refusal is read, the transaction ends with RSET, and the
        // recipient's own refusal is the one reported.
        {"250 ok\r\n550 no such user\r\n554 no valid recipients\r\n250 reset\r\n", 1, "550 no such user\n"},
        {"250 ok\r\n452 too many\r\n554 no valid recipients\r\n250 reset\r\n", 0, "452 too many\n"},
    };
    for (const Case& c : cases) {
        Peer p;
        p.setSkipRefused(c.skipRefused);
        ASSERT_TRUE(start(p, kEhlo + c.replies + "221 bye\r\n", true));
        EXPECT_EQ(sendSimple(p, "b@x.test"), -1) << c.replies;
        EXPECT_STREQ(p.replyLine(), c.reported);
        EXPECT_EQ(p.quit(), 1) << "QUIT read its own reply";
    }

    // After RSET the group has one reply more: a second transaction that is refused, and one
    // that passes, each leave QUIT its own 221.
    for (bool refused : {true, false}) {
        Peer p;
        ASSERT_TRUE(start(p, kEhlo + "250 ok\r\n250 ok\r\n354 go\r\n250 queued\r\n250 reset\r\n250 sender ok\r\n" +
                                 (refused ? "550 no such user\r\n554 no valid recipients\r\n"
                                          : "250 rcpt ok\r\n354 go\r\n250 queued\r\n") +
                                 "221 bye\r\n", true));
        ASSERT_EQ(sendSimple(p, "b@x.test"), 1);
        EXPECT_EQ(sendSimple(p, "c@x.test"), refused ? -1 : 1);
        if (refused) {
            EXPECT_STREQ(p.replyLine(), "550 no such user\r\n");
        }
        EXPECT_EQ(p.quit(), 1);
        EXPECT_STREQ(p.replyLine(), "221 bye\r\n") << (refused ? "refused" : "passed");
    }
}

TEST(SmtpSession, PromisedEnvelopeGoesWithTheFinalDot) {
    // The envelope the run promises leaves in the same write as the final "." of the message
    // before; the next sendMessage reads its replies; a refused data end fails that message only.
    const std::string group = "250 reset\r\n250 ok\r\n250 ok\r\n354 go\r\n";
    Peer s;
    ASSERT_TRUE(start(s, kEhlo + "250 ok\r\n250 ok\r\n354 go\r\n250 queued\r\n" + group + "554 rejected\r\n" +
                             group + "250 queued\r\n221 bye\r\n", true));
    int promised = 2;
    s.setNextEnvelope([&](Envelope& next) {
        if (promised-- <= 0) return false;
        next = Envelope{"Alice <a@example.org>", String(), "b@x.test", String(), String(), String()};
        return true;
    });
    const size_t greeted = s.sentAtRead.size();
    EXPECT_EQ(sendSimple(s, "b@x.test"), 1);
    const std::string atFirstEnd = s.sent.substr(0, s.sentAtRead[greeted + 3]);
    EXPECT_TRUE(atFirstEnd.ends_with("\r\n.\r\nRSET\r\nMAIL FROM:<a@example.org>\r\n"
                                     "RCPT TO:<b@x.test> NOTIFY=DELAY,FAILURE ORCPT=rfc822;b@x.test\r\nDATA\r\n"))
        << atFirstEnd;
    EXPECT_EQ(sendSimple(s, "b@x.test"), -1);
    EXPECT_STREQ(s.replyLine(), "554 rejected\r\n");
    EXPECT_EQ(sendSimple(s, "b@x.test"), 1);
    EXPECT_EQ(s.quit(), 1);
    EXPECT_EQ(test::countOf(s.commandsOnly(), "MAIL FROM"), 3u);

    // A promise not kept: the replies are read. With its DATA taken the connection is closed
    // (anything sent now would be message data), also when another envelope comes instead;
    // with DATA refused the session goes on to QUIT.
    struct Case {
        const char* replies;  // to the promised RSET, MAIL, RCPT and DATA
        bool another;         // a message with another envelope follows
    } cases[] = {{"250 reset\r\n250 ok\r\n250 ok\r\n354 go\r\n", false},
                 {"250 reset\r\n250 ok\r\n250 ok\r\n354 go\r\n", true},
                 {"250 reset\r\n250 ok\r\n550 no user\r\n554 no valid recipients\r\n221 bye\r\n", false}};
    for (const Case& c : cases) {
        Peer p;
        ASSERT_TRUE(start(p, kEhlo + "250 ok\r\n250 ok\r\n354 go\r\n250 queued\r\n" + c.replies, true));
        p.setNextEnvelope([](Envelope& next) {
            next.from = "a@x.test";
            next.to = "c@x.test";
            return true;
        });
        EXPECT_EQ(sendSimple(p, "b@x.test"), 1);
        p.setNextEnvelope(nullptr);
        const bool taken = std::string(c.replies).ends_with("354 go\r\n");
        if (c.another) EXPECT_LT(sendSimple(p, "d@x.test"), 1);
        else EXPECT_EQ(p.quit(), taken ? 0 : 1) << c.replies;
        EXPECT_EQ(p.sent.find("QUIT") == std::string::npos, taken) << c.replies;
        EXPECT_FALSE(has(p.sent, "d@x.test"));
    }
}

TEST(SmtpSession, PipelinedRecipientsAndLimitReplies) {
    // Many recipients: MAIL and every RCPT go as one group; DATA waits for their verdicts,
    // since a refused recipient ends the transaction ...
    Peer s;
    ASSERT_TRUE(start(s, kEhlo + "250 ok\r\n250 ok\r\n250 ok\r\n250 ok\r\n354 go\r\n250 queued\r\n", true));
    size_t greeted = s.sentAtRead.size();
    ASSERT_EQ(sendSimple(s, "r1@x, r2@x", "r3@x"), 1);
    EXPECT_TRUE(s.sent.substr(0, s.sentAtRead[greeted]).ends_with("RCPT TO:<r3@x> NOTIFY=DELAY,FAILURE ORCPT=rfc822;r3@x\r\n"));
    EXPECT_EQ(s.sentAtRead[greeted + 3], s.sentAtRead[greeted]) << "no command between the group's replies";
    EXPECT_TRUE(s.sent.substr(0, s.sentAtRead[greeted + 4]).ends_with("\r\nDATA\r\n"));

    Peer refused;
    ASSERT_TRUE(start(refused, kEhlo + "250 ok\r\n250 ok\r\n550 no such user\r\n250 ok\r\n221 bye\r\n", true));
    EXPECT_EQ(sendSimple(refused, "r1@x, r2@x, r3@x"), -1);
    EXPECT_STREQ(refused.replyLine(), "550 no such user\r\n");
    EXPECT_FALSE(has(refused.sent, "DATA"));
    EXPECT_EQ(refused.quit(), 1);
    EXPECT_STREQ(refused.replyLine(), "221 bye\r\n");

    // ... unless refusals are skipped (the list server): then DATA joins the group. A server
    // that takes two recipients per message answers 452 to the rest: they go into the next
    // transactions, which are no larger than the server took, and a refused one is passed over.
    Peer list;
    list.setSkipRefused(1);
    ASSERT_TRUE(start(list, std::string("220 x\r\n250-x\r\n250 PIPELINING\r\n") +
                                "250 ok\r\n250 ok\r\n550 unknown\r\n250 ok\r\n452 too many\r\n452 too many\r\n"
                                "452 too many\r\n354 go\r\n250 queued\r\n"
                                "250 reset\r\n250 ok\r\n250 ok\r\n250 ok\r\n354 go\r\n250 queued\r\n"
                                "250 reset\r\n250 ok\r\n250 ok\r\n354 go\r\n250 queued\r\n221 bye\r\n",
                      true));
    greeted = list.sentAtRead.size();
    ASSERT_EQ(sendSimple(list, String(), String(), "r1@x,r2@x,r3@x,r4@x,r5@x,r6@x"), 1);
    EXPECT_EQ(afterGreeting(list.commandsOnly()),
              "MAIL FROM:<a@example.org>\nRCPT TO:<r1@x>\nRCPT TO:<r2@x>\nRCPT TO:<r3@x>\nRCPT TO:<r4@x>\n"
              "RCPT TO:<r5@x>\nRCPT TO:<r6@x>\nDATA\n"
              "RSET\nMAIL FROM:<a@example.org>\nRCPT TO:<r4@x>\nRCPT TO:<r5@x>\nDATA\n"
              "RSET\nMAIL FROM:<a@example.org>\nRCPT TO:<r6@x>\nDATA\n");
    EXPECT_TRUE(list.sent.substr(0, list.sentAtRead[greeted]).ends_with("RCPT TO:<r6@x>\r\nDATA\r\n"));
    EXPECT_EQ(list.quit(), 1);
    EXPECT_STREQ(list.replyLine(), "221 bye\r\n");
}

// No transaction sends message data unless the server accepted a recipient: it ends with RSET,
// or with the lone "." when the server answered a pipelined DATA with 354 anyway, and the
// refusals are named in the verdicts.
TEST(SmtpSession, NoDataWithoutAnAcceptedRecipient) {
    struct Case {
        const char* name;
        bool pipelining, skipRefused, lists;
        const char* to;
        std::string replies;  // after the greeting
        const char* commands;  // after the greeting
        const char* reported;
        size_t refused;
    } cases[] = {
        {"every recipient refused, skipped", false, true, false, "r1@x,r2@x",
         "250 ok\r\n550 no r1\r\n550 no r2\r\n250 reset\r\n",
         "MAIL FROM:<a@example.org>\nRCPT TO:<r1@x>\nRCPT TO:<r2@x>\nRSET\n", "550 no r2\n", 2},
        {"pipelined, every one refused, 354 anyway", true, true, false, "r1@x,r2@x",
         "250 ok\r\n550 no r1\r\n550 no r2\r\n354 go\r\n250 queued nothing\r\n",
         "MAIL FROM:<a@example.org>\nRCPT TO:<r1@x> NOTIFY=DELAY,FAILURE ORCPT=rfc822;r1@x\n"
         "RCPT TO:<r2@x> NOTIFY=DELAY,FAILURE ORCPT=rfc822;r2@x\nDATA\n", "550 no r2\n", 2},
        {"pipelined, the one recipient refused, 354 anyway", true, false, false, "b@x",
         "250 ok\r\n550 no such user\r\n354 go\r\n250 queued nothing\r\n",
         "MAIL FROM:<a@example.org>\nRCPT TO:<b@x> NOTIFY=DELAY,FAILURE ORCPT=rfc822;b@x\nDATA\n",
         "550 no such user\r\n", 1},
        {"no recipient at all", false, false, false, "", "250 ok\r\n250 reset\r\n",
         "MAIL FROM:<a@example.org>\nRSET\n", "the message names no recipient\n", 0},
        {"lists, every one refused, skipped", false, true, true, "r1@x,r2@x",
         "250 ok\r\n550 no r1\r\n550 no r2\r\n250 reset\r\n",
         "MAIL FROM:<a@example.org>\nRCPT TO:<r1@x>\nRCPT TO:<r2@x>\nRSET\n", "550 no r2\n", 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Peer p;
        p.setSkipRefused(c.skipRefused);
        ASSERT_TRUE(start(p, (c.pipelining ? kEhlo : kHelo) + c.replies + "221 bye\r\n", c.pipelining));
        int result;
        if (c.lists) {
            StringList to, none;
            for (const String& r : splitRecipientText(c.to)) to.add(r);
            result = p.sendMessageToLists("a@example.org", String(), to, "s", "hi\r\n", 4, String(), none, none,
                                          String());
        } else {
            result = sendSimple(p, c.to);
        }
        EXPECT_EQ(result, -1);
        EXPECT_FALSE(has(p.sent, "hi\r\n"));
        EXPECT_EQ(afterGreeting(p.commandsOnly()), c.commands);
        if (c.pipelining) {
            EXPECT_TRUE(p.sent.ends_with("\r\nDATA\r\n.\r\n")) << p.sent;
        }
        EXPECT_STREQ(p.replyLine(), c.reported);
        EXPECT_EQ(p.recipientVerdicts().refused.size(), c.refused);
        EXPECT_TRUE(p.recipientVerdicts().delivered.empty());
        EXPECT_EQ(p.quit(), 1) << "the session stays in step";
    }
}

TEST(SmtpSession, RecipientLimitAnd452Transactions) {
    // Limit 2, five recipients: three transactions, the second and third after RSET.
    Peer s;
    s.style().recipientLimit = 2;
    std::string replies = kHelo;
    for (int t = 0; t < 3; ++t) {
        if (t) replies += "250 reset\r\n";
        replies += "250 ok\r\n250 ok\r\n";
        if (t < 2) replies += "250 ok\r\n";
        replies += "354 go\r\n250 queued\r\n";
    }
    ASSERT_TRUE(start(s, replies));
    ASSERT_EQ(sendSimple(s, "r1@x,r2@x,r3@x", "r4@x", "r5@x"), 1);
    EXPECT_EQ(afterGreeting(s.commandsOnly()),
              "MAIL FROM:<a@example.org>\nRCPT TO:<r1@x>\nRCPT TO:<r2@x>\nDATA\n"
              "RSET\nMAIL FROM:<a@example.org>\nRCPT TO:<r3@x>\nRCPT TO:<r4@x>\nDATA\n"
              "RSET\nMAIL FROM:<a@example.org>\nRCPT TO:<r5@x>\nDATA\n");

    // 452 after two recipients: that one and the rest go in a second transaction; a 452 to
    // the first recipient of a transaction passes it over, so every transaction moves on.
    Peer full;
    ASSERT_TRUE(start(full, kHelo + "250 ok\r\n250 ok\r\n250 ok\r\n452 too many\r\n354 go\r\n250 queued\r\n"
                                    "250 reset\r\n250 ok\r\n452 full\r\n250 reset\r\n"));
    ASSERT_EQ(sendSimple(full, "r1@x,r2@x,r3@x,r4@x"), -1);
    EXPECT_EQ(afterGreeting(full.commandsOnly()),
              "MAIL FROM:<a@example.org>\nRCPT TO:<r1@x>\nRCPT TO:<r2@x>\nRCPT TO:<r3@x>\nDATA\n"
              "RSET\nMAIL FROM:<a@example.org>\nRCPT TO:<r3@x>\nRSET\n");
    EXPECT_STREQ(full.replyLine(), "452 full\n");
    // The verdicts say who has the message and who was refused, with the server's words.
    const RecipientVerdicts& verdicts = full.recipientVerdicts();
    EXPECT_EQ(verdicts.delivered, (std::vector<String>{"r1@x", "r2@x"}));
    ASSERT_EQ(verdicts.refused.size(), 1u);
    EXPECT_EQ(verdicts.refused[0].first, "r3@x");
    EXPECT_EQ(verdicts.refused[0].second, "452 full");

    // The same with lists: the recipient refused with 452 opens the next transaction.
    Peer lists;
    ASSERT_TRUE(start(lists, kHelo + "250 ok\r\n250 ok\r\n452 too many\r\n354 go\r\n250 queued\r\n250 reset\r\n"
                                     "250 ok\r\n250 ok\r\n250 ok\r\n354 go\r\n250 queued\r\n250 reset\r\n"));
    StringList to, none;
    for (const char* r : {"r1@x", "r2@x", "r3@x"}) to.add(r);
    ASSERT_EQ(lists.sendMessageToLists("a@example.org", String(), to, "s", "x\r\n", 3, String(), none, none,
                                       String()),
              1);
    EXPECT_EQ(afterGreeting(lists.commandsOnly()),
              "MAIL FROM:<a@example.org>\nRCPT TO:<r1@x>\nRCPT TO:<r2@x>\nDATA\nRSET\n"
              "MAIL FROM:<a@example.org>\nRCPT TO:<r2@x>\nRCPT TO:<r3@x>\nDATA\nRSET\n");

    // Probe: no DATA, the verdict of the last RCPT.
    Peer probe;
    probe.setProbe(1);
    ASSERT_TRUE(start(probe, kHelo + "250 ok\r\n550 unknown\r\n"));
    EXPECT_EQ(sendSimple(probe, "who@x"), -1);
    EXPECT_FALSE(has(probe.sent, "DATA"));
}

TEST(SmtpSession, ExtraRecipientFileAndEtrn) {
    test::TempFolder folder;
    Peer s;
    EXPECT_EQ(s.loadRecipientFile(folder.put("rcpt.txt", "# comment\n\nextra1@x   \r\n\r\nextra2@x\n" +
                                                             std::string(400, 'y') + "\nlast@x")),
              0);
    ASSERT_EQ(s.extraRecipients().size(), 4u);
    EXPECT_EQ(s.extraRecipients()[0], "extra1@x");
    EXPECT_EQ(s.extraRecipients()[2].length(), 255u);
    EXPECT_EQ(s.loadRecipientFile("/nonexistent/qarvel"), 0);

    // ETRN offered: SendFaults.EtrnOnlyBySmtp. Not offered:
    Peer none;
    ASSERT_TRUE(start(none, kHelo));
    EXPECT_EQ(none.requestQueueRun("example.test"), -1);
}

TEST(SmtpSession, FaultsMidDialogue) {
    const std::string untilData = kHelo + "250 ok\r\n250 ok\r\n354 go\r\n";
    // The server drops the connection in the middle of the message data.
    Peer s;
    ASSERT_TRUE(start(s, untilData));
    s.closeAfterBytes = s.sent.size() + 60;
    std::string body(100000, 'z');
    EXPECT_LT(s.sendMessage("a@x", String(), "b@x", "s", body.data(), body.size(), String(), String(),
                            String(), String()),
              0);

    // The server closes after DATA without a verdict: 0 (closed), not success.
    Peer silent;
    ASSERT_TRUE(start(silent, untilData));
    EXPECT_LT(sendSimple(silent, "b@x"), 1);

    // Refused message: -1 with the reply kept.
    Peer bounced;
    ASSERT_TRUE(start(bounced, untilData + "554 rejected\r\n"));
    EXPECT_EQ(sendSimple(bounced, "b@x"), -1);
    EXPECT_STREQ(bounced.replyLine(), "554 rejected\r\n");

    // A host list: the refused first entry is passed, the second opens.
    Peer list;
    list.setReplies(kHelo);
    ASSERT_EQ(list.connectSession("mx1, mx2:2526", "25"), 1);
    EXPECT_EQ(list.opened, "mx1:25 ");
    Peer star;
    star.openResult = -10061;
    EXPECT_EQ(star.connectSession("*", "25"), -10061);
    EXPECT_EQ(star.opened, "localhost:25 127.0.0.1:25 ");

    // A reconnect sets the command buffer up again at the configured size: a recipient too
    // long for it is still not sent.
    Peer again;
    again.setConnectionOptions({.bufferSize = 100});
    ASSERT_TRUE(start(again, kHelo + "221 bye\r\n"));
    again.disconnect();
    ASSERT_TRUE(start(again, kHelo + "250 ok\r\n"));
    EXPECT_EQ(again.bufferSize(), 100u);
    const std::string longRecipient = std::string(120, 'r') + "@x.test";
    EXPECT_EQ(sendSimple(again, longRecipient.c_str()), -1);
    EXPECT_FALSE(has(again.sent, longRecipient));
}

TEST(QmtpSession, PlainDialogue) {
    ScriptedSocket<QmtpSession> q;
    q.style().recipientLimit = 1;
    ASSERT_TRUE(start(q, "220 x\r\n250 hi\r\n250 ok\r\n250 ok\r\n354 go\r\n250 queued\r\n"
                         "250 ok\r\n250 ok\r\n354 go\r\n250 queued\r\n", true));
    EXPECT_EQ(q.opened, "h:209 ");
    EXPECT_EQ(q.sent.rfind("HELO ", 0), 0u);
    EXPECT_EQ(q.authenticate("u", "p"), 0);
    ASSERT_EQ(sendSimple(q, "r1@x,r2@x"), 1);
    // No RSET between the transactions of one message, no extension parameters.
    EXPECT_EQ(afterGreeting(q.commandsOnly()),
              "MAIL FROM:<a@example.org>\nRCPT TO:<r1@x>\nDATA\n"
              "MAIL FROM:<a@example.org>\nRCPT TO:<r2@x>\nDATA\n");
}

} // namespace
} // namespace qarvel
