// The POP3 and IMAP readers of build/qarvel against scripted servers that fail: a refused
// connection, resets in the middle of a reply and of a RETR or FETCH transfer, stalls ended by
// -tmo:, a megabyte without a line end, binary garbage, literal sizes that lie, a server that
// answers more than asked, keep-alive lines during IDLE, and a 50 MiB literal. Each run must end
// in bounded time with the driver's message and, under -strict, the exit status of the fault's
// cause, and with -rm no DELE or STORE may be sent for a message that was not received whole.
// (Attachments that cannot be written keep their message: tests/integration/test_receive.py,
// against the real Dovecot.)
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/run_program.h"
#include "support/scripted_server.h"
#include "support/strict_status.h"
#include "support/temp_folder.h"

namespace qarvel::test {
namespace {

using Script = std::vector<ScriptStep>;

std::vector<std::string> readArgs(int port, std::vector<std::string> more = {}) {
    std::vector<std::string> args = {"-host:127.0.0.1", "-port:" + std::to_string(port),
                                     "-user:reader", "-pass:secret"};
    args.insert(args.end(), more.begin(), more.end());
    return args;
}

std::string message(const std::string& subject, const std::string& body = "hello\r\n") {
    return "From: Sender <sender@example.test>\r\nTo: reader@example.test\r\nSubject: " + subject +
           "\r\nDate: Mon, 1 Jun 2026 10:00:00 +0000\r\n\r\n" + body;
}

// Greeting, USER, PASS, STAT and LIST of a healthy server holding the messages given, then
// the steps that follow.
Script loggedIn(const std::vector<std::string>& messages, const Script& then) {
    size_t total = 0;
    std::string listing = "+OK listing\r\n";
    for (size_t i = 0; i < messages.size(); ++i) {
        total += messages[i].size();
        listing += std::to_string(i + 1) + " " + std::to_string(messages[i].size()) + "\r\n";
    }
    Script s = {send("+OK ready\r\n"), expect("USER reader"), send("+OK\r\n"),
                expect("PASS secret"), send("+OK logged in\r\n"), expect("STAT"),
                send("+OK " + std::to_string(messages.size()) + " " + std::to_string(total) + "\r\n")};
    if (!messages.empty()) s.insert(s.end(), {expect("LIST"), send(listing + ".\r\n")});
    s.insert(s.end(), then.begin(), then.end());
    return s;
}

// IMAP: greeting, LOGIN, SELECT of two messages (no sizes are asked for: they come with each
// message), both FETCH sent at once and the first answered, then the steps that follow.
Script imapSelected(const std::string& one, const Script& then) {
    Script s = {send("* OK [CAPABILITY IMAP4rev1] hi\r\n"), expect("1 LOGIN \"reader\" \"secret\""),
                send("1 OK [CAPABILITY IMAP4rev1 UIDPLUS] in\r\n"), expect("2 SELECT \"INBOX\""),
                send("* 2 EXISTS\r\n2 OK [READ-WRITE] done\r\n"),
                expect("3 FETCH 1 (UID RFC822.SIZE FLAGS BODY[])"),
                expect("4 FETCH 2 (UID RFC822.SIZE FLAGS BODY[])"),
                send("* 1 FETCH (UID 7 RFC822.SIZE " + std::to_string(one.size()) + " BODY[] {" +
                     std::to_string(one.size()) + "}\r\n" + one + " FLAGS (\\Seen))\r\n3 OK\r\n")};
    s.insert(s.end(), then.begin(), then.end());
    return s;
}

TEST(ReceiveFaults, RefusedConnect) {
    int port = refusedPort();
    ProgramResult r = runQarvel(readArgs(port, {"-retries:1"}));
    EXPECT_EQ(r.exitCode, 1);
    // One line per attempt from the connection layer, one from the driver after the retry.
    const std::string attempt = "*** connect(IPv4) to '127.0.0.1' fd ";
    size_t first = r.err.find(attempt);
    ASSERT_EQ(first, 0u) << r.err;
    EXPECT_NE(r.err.find(attempt, first + 1), std::string::npos) << r.err;
    EXPECT_TRUE(r.err.ends_with("Could not connect to: 127.0.0.1:" + std::to_string(port) +
                                ", error= -10061 (connection refused)\n"))
        << r.err;
}

TEST(ReceiveFaults, BrokenServersEndInBoundedTimeAndKeepMail) {
    const std::string one = message("one"), two = message("two", std::string(5000, 'b') + "\r\n");
    const std::string long1 = message("one", std::string(3000, 'c') + "\r\n");
    const std::string garbage("\x00\xff\x80\x1b[2J garbage\r\n", 17);
    const std::string dirty = message("one", garbage + garbage + "\r\n");
    const std::string follows = "+OK message follows\r\n";
    enum Match { kExact, kStart, kEnd, kHas };
    struct Case {
        const char* name;
        Script script;
        std::vector<std::string> args;
        Match match;
        std::string err;  // "PORT" stands for the server's port
        int status;       // the exit status under -strict
        double minSeconds, maxSeconds;  // 0: no upper bound but the run's
        std::vector<std::string> sent = {}, notSent = {"DELE"};
        std::string out = "";
    };
    const std::string timedOut = "Could not connect to: 127.0.0.1:PORT, error= -10060 (timed out)\n";
    const std::string retrieveTimedOut = "Could not retrieve message (1/1), error= -10060 (timed out)\n";
    std::vector<Case> cases;
    // A reset halfway through the greeting is a failed connect, not a greeting of "+OK rea";
    // when the reset overtakes the connect, the connection layer reports it as well.
    cases.push_back({"reset in the greeting", {send("+OK rea"), reset()}, {}, kEnd,
                     "Could not connect to: 127.0.0.1:PORT, error= -10054 (connection reset by peer)\n", 75, 0, 0});
    Script stat = loggedIn({}, {});
    stat.back() = send("+OK 2 4");
    stat.push_back(reset());
    cases.push_back({"reset in the STAT reply", stat, {}, kStart, "Could not log in as 'reader' to: 127.0.0.1:PORT\n", 75, 0, 0});
    // With PIPELINING every RETR goes before the first reply, and the replies come in pieces
    // that end anywhere. The deletions of the round wait for the replies owed: a reset in the
    // second leaves both; an -ERR to the second of three deletes only the first (the third's
    // reply read and dropped before the DELE).
    const Script pipelining = {expect("CAPA"), send("+OK\r\nUIDL\r\nPIPELINING\r\n.\r\n"), expect("RETR 1"),
                               expect("RETR 2")};
    Script resetSecond = pipelining;
    resetSecond.insert(resetSecond.end(), {send(follows + one + "."), send("\r\n+O"), send("K\r\n" + two.substr(0, 3000)), stall(300), reset()});
    cases.push_back({"reset in the second of two pipelined RETR", loggedIn({one, two}, resetSecond), {"-rm", "-quiet"},
                     kHas, "Could not retrieve message (2/2), error= ", 75, 0, 5, {"RETR 2\r\n"}, {"DELE"}});
    Script refuseSecond = pipelining;
    refuseSecond.insert(refuseSecond.end(), {expect("RETR 3"), send(follows + one + ".\r"), send("\n-ERR gone\r"),
                                             send("\n" + follows + one.substr(0, 20)), send(one.substr(20) + ".\r\n"),
                                             expect("DELE 1"), send("+OK\r\n"), expect("QUIT"), send("+OK bye\r\n")});
    cases.push_back({"-ERR to the second of three pipelined RETR", loggedIn({one, two, one}, refuseSecond),
                     {"-rm", "-quiet"}, kExact, "Could not retrieve message (2/3), error= -1\n", 69, 0, 5,
                     {"DELE 1\r\nQUIT\r\n"}, {"DELE 2", "DELE 3"}});
    cases.push_back({"no greeting", {stall(15000)}, {"-tmo:2"}, kExact, timedOut, 75, 1.9, 3.5});
    // No answer to RETR at all, and a transfer that stops halfway: no DELE, and no QUIT
    // waits behind it.
    cases.push_back({"no answer to RETR", loggedIn({long1}, {expect("RETR 1"), send(""), stall(15000)}),
                     {"-tmo:2", "-rm"}, kExact, retrieveTimedOut, 75, 1.9, 3.5});
    cases.push_back({"RETR stops halfway",
                     loggedIn({long1}, {expect("RETR 1"), send(follows + long1.substr(0, 1500)), stall(15000)}),
                     {"-tmo:2", "-rm"}, kExact, retrieveTimedOut, 75, 1.9, 3.5});
    // A megabyte without a line end is read and dropped up to its end, which never comes:
    // ended by one time-out (not one per piece).
    cases.push_back({"greeting of a megabyte", {send("+OK "), sendBytes(1 << 20, "x"), stall(10000)}, {"-tmo:2"},
                     kExact, timedOut, 75, 1.9, 3.5});
    cases.push_back({"RETR answered by a megabyte, then closed",
                     loggedIn({one}, {expect("RETR 1"), send(follows), sendBytes(1 << 20, "y"), closeConnection()}),
                     {"-tmo:5", "-rm", "-quiet"}, kHas, "Could not retrieve message (1/1), error= ", 75, 0, 4});
    cases.push_back({"garbage greeting", {sendBytes(3000, garbage), stall(10000)}, {"-tmo:5"}, kExact,
                     "Could not connect to: 127.0.0.1:PORT, error= 0\n", 76, 0, 4});
    // Garbage inside a message is message data (read through to the final "."); garbage as
    // the reply to DELE is a failed deletion.
    cases.push_back({"garbage in the message and as the DELE reply",
                     loggedIn({dirty}, {expect("RETR 1"), send(follows + dirty + ".\r\n"), expect("DELE 1"),
                                        sendBytes(3000, garbage), stall(10000)}),
                     {"-tmo:5", "-rm"}, kExact, "Could not delete message, error= 0\n", 76, 0, 4, {"DELE 1\r\n"}, {}, "one\n"});
    // RETR 1 is answered with the message and then, unasked, a second one. Every later
    // command takes the next line as its reply: DELE 1 gets the extra "+OK message follows",
    // RETR 2 the extra message's first header line, which is no reply, so the run stops there.
    cases.push_back({"answers more than asked",
                     loggedIn({one, two}, {expect("CAPA"), send("-ERR\r\n"), expect("RETR 1"),
                                           send(follows + one + ".\r\n" + follows + two + ".\r\n"), stall(3000)}),
                     {"-rm", "-quiet", "-tmo:5"}, kExact, "Could not retrieve message (2/2), error= 0\n", 76, 0, 4,
                     {"DELE 1\r\n"}, {"DELE 2"}});
    // IMAP: the second FETCH fails; neither its STORE nor a CLOSE that would expunge is sent.
    const std::string head = "* 2 FETCH (UID 8 RFC822.SIZE 5000 BODY[] {" + std::to_string(two.size()) + "}\r\n";
    const std::vector<std::string> imap = {"-imap", "-tmo:5", "-rm", "-q"};
    const std::string imapFailed = "Could not retrieve message (2/2)";
    const std::vector<std::string> noStore = {"UID STORE 8", "CLOSE"};
    cases.push_back({"IMAP reset mid literal", imapSelected(one, {send(head + two.substr(0, 3000)), reset()}), imap,
                     kHas, imapFailed, 75, 0, 0, {}, noStore});
    cases.push_back({"IMAP closed mid literal",
                     imapSelected(one, {send(head + two.substr(0, 3000)), closeConnection()}), imap, kHas,
                     imapFailed, 75, 0, 0, {}, noStore});
    cases.push_back({"IMAP BYE instead of the message",
                     imapSelected(one, {send("* BYE going down\r\n"), closeConnection()}), imap, kHas, imapFailed,
                     75, 0, 0, {}, noStore});
    cases.push_back({"IMAP size that lies",
                     imapSelected(one, {send("* 2 FETCH (UID 8 BODY[] {999999}\r\n" + two + ")\r\n4 OK\r\n"),
                                        stall(8000)}),
                     imap, kHas, imapFailed, 75, 0, 0, {}, noStore});
    cases.push_back({"IMAP hostile size",
                     imapSelected(one, {send("* 2 FETCH (UID 8 BODY[] {4294967296}\r\n" + two), closeConnection()}),
                     imap, kHas, imapFailed, 75, 0, 0, {}, noStore});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedServer server(c.script);
        ASSERT_TRUE(server.listening());
        ProgramOptions options;
        options.timeLimitSeconds = 30;
        std::vector<std::string> args = c.args;
        args.push_back("-strict");
        ProgramResult r = runQarvel(readArgs(server.port(), args), options);
        const std::string sent = server.finish();
        EXPECT_FALSE(r.timedOut);
        EXPECT_EQ(r.exitCode, c.status) << r.err.substr(0, 300);
        std::string err = c.err;
        if (size_t at = err.find("PORT"); at != std::string::npos) err.replace(at, 4, server.portText());
        const bool matched = c.match == kExact   ? r.err == err
                             : c.match == kStart ? r.err.starts_with(err)
                             : c.match == kEnd   ? r.err.ends_with(err)
                                                 : r.err.find(err) != std::string::npos;
        EXPECT_TRUE(matched) << "stderr: " << r.err.substr(0, 300) << "\nwanted: " << err;
        EXPECT_GE(r.seconds, c.minSeconds);
        EXPECT_LT(r.seconds, c.maxSeconds > 0 ? c.maxSeconds : 30);
        for (const std::string& s : c.sent) EXPECT_NE(sent.find(s), std::string::npos) << s << " in " << sent;
        for (const std::string& s : c.notSent) EXPECT_EQ(sent.find(s), std::string::npos) << s << " in " << sent;
        EXPECT_NE(r.out.find(c.out), std::string::npos) << r.out;
        // The scripts of healthy dialogues that then break are met to their last step.
        if (c.script.size() > 4) {
            EXPECT_EQ(server.error(), "");
        }
    }
}

TEST(ReceiveFaults, KeepAlivesDoNotStretchAnIdleWait) {
    // Dovecot says "* OK Still here" to an idling client (every two minutes as packaged): -idle:1
    // still ends after a second, and the folder is read.
    const std::string one = message("one");
    ScriptedServer server({send("* OK [CAPABILITY IMAP4rev1 IDLE] hi\r\n"), expect("1 LOGIN"),
                           send("1 OK [CAPABILITY IMAP4rev1 IDLE] in\r\n"), expect("2 SELECT"),
                           send("* 1 EXISTS\r\n2 OK\r\n"), expect("3 IDLE"), send("+ idling\r\n"),
                           sendEveryUntil("* OK Still here\r\n", 300, "DONE"), send("3 OK done\r\n"),
                           expect("4 SELECT"), send("* 1 EXISTS\r\n4 OK\r\n"), expect("5 FETCH 1"),
                           send("* 1 FETCH (UID 3 BODY[] {" + std::to_string(one.size()) + "}\r\n" + one +
                                ")\r\n5 OK\r\n"),
                           expect("6 LOGOUT"), send("* BYE\r\n6 OK\r\n")});
    ASSERT_TRUE(server.listening());
    ProgramResult r = runQarvel(readArgs(server.port(), {"-imap", "-tmo:5", "-idle:1"}));
    EXPECT_EQ(server.error(), "");
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_LT(r.seconds, 4);
    EXPECT_NE(r.out.find("1. one"), std::string::npos) << r.out;
}

// Under -strict the exit status says why a read failed: a refused login, a server's "later"
// ([IN-USE], [UNAVAILABLE]), a folder that is not there, a missing user name.
TEST(ReceiveFaults, StrictExitStatusSaysWhy) {
    const Script pop3 = {send("+OK ready\r\n"), expect("USER reader"), send("+OK\r\n"), expect("PASS secret")};
    const Script imap = {send("* OK [CAPABILITY IMAP4rev1] hi\r\n"), expect("1 LOGIN")};
    auto then = [](Script script, const std::string& reply) {
        script.insert(script.end(), {send(reply), closeConnection()});
        return script;
    };
    expectStrictStatuses({
        {"POP3 login refused", then(pop3, "-ERR [AUTH] invalid password\r\n"), {}, 77},
        {"POP3 mailbox in use", then(pop3, "-ERR [IN-USE] locked by another session\r\n"), {}, 75},
        {"IMAP login refused", then(imap, "1 NO [AUTHENTICATIONFAILED] invalid credentials\r\n"), {"-imap"}, 77},
        {"IMAP login later", then(imap, "1 NO [UNAVAILABLE] try again later\r\n"), {"-imap"}, 75},
        {"IMAP folder not there",
         {imap[0], imap[1], send("1 OK [CAPABILITY IMAP4rev1] in\r\n"), expect("2 SELECT \"Nope\""),
          send("2 NO [NONEXISTENT] no such mailbox\r\n"), closeConnection()},
         {"-imap", "-mbox:Nope"}, 69},
        {"no user name", {}, {"-user:"}, 64},
    }, [](int port, const std::vector<std::string>& more) { return readArgs(port, more); });
}

TEST(ReceiveFaults, LargeImapLiteralIsExtractedWhole) {
    TempFolder folder;
    const size_t lines = (50u << 20) / 78;
    const std::string head = "From: s@example.test\r\nSubject: big\r\nMIME-Version: 1.0\r\n"
                             "Content-Type: multipart/mixed; boundary=\"B\"\r\n\r\n--B\r\n"
                             "Content-Type: text/plain\r\n\r\nsee\r\n--B\r\n"
                             "Content-Type: application/octet-stream; name=\"big.bin\"\r\n"
                             "Content-Transfer-Encoding: base64\r\n"
                             "Content-Disposition: attachment; filename=\"big.bin\"\r\n\r\n";
    const std::string tail = "--B--\r\n";
    const size_t size = head.size() + lines * 78 + tail.size();
    ScriptedServer server({send("* OK [CAPABILITY IMAP4rev1] hi\r\n"), expect("1 LOGIN"),
                           send("1 OK in\r\n* CAPABILITY IMAP4rev1\r\n"), expect("2 CAPABILITY"), send("2 OK\r\n"),
                           expect("3 SELECT"), send("* 1 EXISTS\r\n3 OK\r\n"), expect("4 FETCH 1 "),
                           send("* 1 FETCH (UID 3 BODY[] {" + std::to_string(size) + "}\r\n" + head),
                           sendBytes(lines * 78, std::string(76, 'A') + "\r\n"), send(tail + ")\r\n4 OK\r\n"),
                           expect("5 UID STORE 3 +FLAGS (\\Deleted)"), send("5 OK\r\n"), expect("6 CLOSE"),
                           send("6 OK\r\n"), expect("7 LOGOUT"), send("* BYE\r\n7 OK\r\n")});
    ASSERT_TRUE(server.listening());
    ProgramResult r = runQarvel(readArgs(server.port(), {"-imap", "-tmo:5", "-extract:" + folder.path, "-q", "-rm"}));
    server.finish();
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(server.error(), "");
    EXPECT_EQ(folder.read("big.bin").size(), lines * 57);
}

}  // namespace
}  // namespace qarvel::test
