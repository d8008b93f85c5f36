// build/qarvel in IMAP mode against scripted servers that fail in the middle of a FETCH: a
// reset, a BYE, a literal size that lies and a hostile one, and a 50 MiB literal. With -rm no
// STORE may be sent for a message that was not received whole and written.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/run_program.h"
#include "support/scripted_server.h"
#include "support/temp_folder.h"

namespace qarvel::test {
namespace {

using Script = std::vector<ScriptStep>;

std::string message(const std::string& subject, const std::string& body = "hello\r\n") {
    return "From: sender@example.test\r\nTo: reader@example.test\r\nSubject: " + subject +
           "\r\n\r\n" + body;
}

// Greeting, LOGIN, SELECT of two messages (no sizes are asked for: they come with each
// message), the first message and its deletion.
Script selected(const std::string& one) {
    return {send("* OK [CAPABILITY IMAP4rev1] hi\r\n"), expect("1 LOGIN \"reader\" \"secret\""),
            send("1 OK [CAPABILITY IMAP4rev1 UIDPLUS] in\r\n"), expect("2 SELECT \"INBOX\""),
            send("* 2 EXISTS\r\n2 OK [READ-WRITE] done\r\n"),
            expect("3 FETCH 1 (UID RFC822.SIZE FLAGS BODY[])"),
            send("* 1 FETCH (UID 7 RFC822.SIZE " + std::to_string(one.size()) + " BODY[] {" +
                 std::to_string(one.size()) + "}\r\n" + one + " FLAGS (\\Seen))\r\n3 OK\r\n"),
            expect("4 UID STORE 7 +FLAGS (\\Deleted)"), send("4 OK\r\n"),
            expect("5 FETCH 2 (UID RFC822.SIZE FLAGS BODY[])")};
}

ProgramResult run(ScriptedServer& server, std::vector<std::string> more) {
    std::vector<std::string> args = {"-imap", "-host:127.0.0.1", "-port:" + server.portText(),
                                     "-user:reader", "-pass:secret", "-tmo:5"};
    args.insert(args.end(), more.begin(), more.end());
    ProgramOptions options;
    options.timeLimitSeconds = 60;
    ProgramResult r = runQarvel(args, options);
    EXPECT_FALSE(r.timedOut);
    return r;
}

TEST(ImapFaults, NothingIsDeletedUnlessWritten) {
    const std::string one = message("one"), two = message("two", std::string(5000, 'b') + "\r\n");
    const std::string head = "* 2 FETCH (UID 8 RFC822.SIZE 5000 BODY[] {" + std::to_string(two.size()) + "}\r\n";
    struct Case {
        const char* name;
        std::vector<ScriptStep> ending;
    } cases[] = {
        {"reset mid literal", {send(head + two.substr(0, 3000)), reset()}},
        {"closed mid literal", {send(head + two.substr(0, 3000)), closeConnection()}},
        {"BYE instead of the message", {send("* BYE going down\r\n"), closeConnection()}},
        {"size that lies", {send("* 2 FETCH (UID 8 BODY[] {999999}\r\n" + two + ")\r\n5 OK\r\n"), stall(8000)}},
        {"hostile size", {send("* 2 FETCH (UID 8 BODY[] {4294967296}\r\n" + two), closeConnection()}},
    };
    for (Case& c : cases) {
        SCOPED_TRACE(c.name);
        Script s = selected(one);
        s.insert(s.end(), c.ending.begin(), c.ending.end());
        ScriptedServer server(s);
        ASSERT_TRUE(server.listening());
        ProgramResult r = run(server, {"-rm", "-q"});
        std::string sent = server.finish();
        EXPECT_EQ(r.exitCode, 1) << r.err;
        EXPECT_NE(r.err.find("Could not retrieve message (2/2)"), std::string::npos) << r.err;
        EXPECT_EQ(sent.find("UID STORE 8"), std::string::npos) << sent;
        EXPECT_EQ(sent.find("CLOSE"), std::string::npos) << sent;  // nothing expunged either
        EXPECT_EQ(server.error(), "");
    }
}

TEST(ImapFaults, LargeLiteralIsExtractedWhole) {
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
    Script s = {send("* OK [CAPABILITY IMAP4rev1] hi\r\n"), expect("1 LOGIN"), send("1 OK in\r\n* CAPABILITY IMAP4rev1\r\n"),
                expect("2 CAPABILITY"), send("2 OK\r\n"), expect("3 SELECT"), send("* 1 EXISTS\r\n3 OK\r\n"),
                expect("4 FETCH 1 "), send("* 1 FETCH (UID 3 BODY[] {" + std::to_string(size) + "}\r\n" + head),
                sendBytes(lines * 78, std::string(76, 'A') + "\r\n"), send(tail + ")\r\n4 OK\r\n"),
                expect("5 UID STORE 3 +FLAGS (\\Deleted)"), send("5 OK\r\n"), expect("6 CLOSE"),
                send("6 OK\r\n"), expect("7 LOGOUT"), send("* BYE\r\n7 OK\r\n")};
    ScriptedServer server(s);
    ASSERT_TRUE(server.listening());
    ProgramResult r = run(server, {"-extract:" + folder.path, "-q", "-rm"});
    server.finish();
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(server.error(), "");
    EXPECT_EQ(folder.read("big.bin").size(), lines * 57);
}

} // namespace
} // namespace qarvel::test
