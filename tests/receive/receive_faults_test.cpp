// The POP3 reader of build/qarvel against scripted servers that fail: a refused connection,
// resets in the middle of a reply and of a RETR transfer, stalls ended by -tmo:, a megabyte
// without a line end, binary garbage and a server that answers more than asked. Each run must
// end in bounded time with the driver's message and exit code, and with -rm no DELE may be
// sent for a message that was not received whole or whose attachments were not written.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "support/run_program.h"
#include "support/scripted_server.h"
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

ProgramResult run(ScriptedServer& server, std::vector<std::string> more = {}) {
    ProgramOptions options;
    options.timeLimitSeconds = 30;
    ProgramResult r = runQarvel(readArgs(server.port(), std::move(more)), options);
    EXPECT_FALSE(r.timedOut);
    return r;
}

std::string message(const std::string& subject, const std::string& body = "hello\r\n") {
    return "From: Sender <sender@example.test>\r\nTo: reader@example.test\r\nSubject: " + subject +
           "\r\nDate: Mon, 1 Jun 2026 10:00:00 +0000\r\n\r\n" + body;
}

// A message with one attachment of the given size (base64 lines of 76 characters of "AAAA").
std::string withAttachment(const std::string& subject, const std::string& file, size_t bytes) {
    std::string encoded;
    for (size_t done = 0; done < bytes; done += 57) encoded += std::string(76, 'A') + "\r\n";
    return "From: sender@example.test\r\nTo: reader@example.test\r\nSubject: " + subject +
           "\r\nMIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=\"B\"\r\n\r\n"
           "--B\r\nContent-Type: text/plain\r\n\r\nsee the file\r\n"
           "--B\r\nContent-Type: application/octet-stream; name=\"" + file + "\"\r\n"
           "Content-Transfer-Encoding: base64\r\n"
           "Content-Disposition: attachment; filename=\"" + file + "\"\r\n\r\n" +
           encoded + "--B--\r\n";
}

// Greeting, USER, PASS, STAT and LIST of a healthy server holding the messages given.
Script loggedIn(const std::vector<std::string>& messages) {
    size_t total = 0;
    std::string listing = "+OK listing\r\n";
    for (size_t i = 0; i < messages.size(); ++i) {
        total += messages[i].size();
        listing += std::to_string(i + 1) + " " + std::to_string(messages[i].size()) + "\r\n";
    }
    listing += ".\r\n";
    Script s = {send("+OK ready\r\n"), expect("USER reader"), send("+OK\r\n"),
                expect("PASS secret"), send("+OK logged in\r\n"), expect("STAT"),
                send("+OK " + std::to_string(messages.size()) + " " + std::to_string(total) + "\r\n")};
    if (!messages.empty()) {
        s.push_back(expect("LIST"));
        s.push_back(send(listing));
    }
    return s;
}

// RETR n answered with the whole message, then DELE n accepted, or QUIT (no DELE) answered.
void retrieveAndDelete(Script& s, int n, const std::string& text) {
    s.insert(s.end(), {expect("RETR " + std::to_string(n)), send("+OK message follows\r\n" + text + ".\r\n"),
                       expect("DELE " + std::to_string(n)), send("+OK deleted\r\n")});
}
void retrieveAndQuit(Script& s, int n, const std::string& text) {
    s.insert(s.end(), {expect("RETR " + std::to_string(n)), send("+OK message follows\r\n" + text + ".\r\n"),
                       expect("QUIT"), send("+OK bye\r\n")});
}

bool has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }
bool endsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}


TEST(ReceiveFaults, RefusedConnectAndResets) {
    int port = refusedPort();
    ProgramResult r = runQarvel(readArgs(port, {"-retries:1"}));
    EXPECT_EQ(r.exitCode, 1);
    // One line per attempt from the connection layer, one from the driver after the retry.
    const std::string attempt = "*** connect(IPv4) to '127.0.0.1' fd ";
    size_t first = r.err.find(attempt);
    ASSERT_EQ(first, 0u) << r.err;
    EXPECT_NE(r.err.find(attempt, first + 1), std::string::npos) << r.err;
    EXPECT_TRUE(endsWith(r.err, "Could not connect to: 127.0.0.1:" + std::to_string(port) + ", error= -10061 (connection refused)\n"))
        << r.err;

    {  // Reset halfway through the greeting: a failed connect, not a greeting of "+OK rea".
        ScriptedServer server({send("+OK rea"), reset()});
        ProgramResult r = run(server);
        EXPECT_EQ(r.exitCode, 1);
        // When the reset overtakes the connect, the connection layer reports it as well.
        EXPECT_TRUE(endsWith(r.err, "Could not connect to: 127.0.0.1:" + server.portText() + ", error= -10054 (connection reset by peer)\n"))
            << r.err;
    }
    {  // Reset halfway through the STAT reply.
        Script s = loggedIn({});
        s.back() = send("+OK 2 4");
        s.push_back(reset());
        ScriptedServer server(s);
        ProgramResult r = run(server);
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_EQ(r.err.rfind("Could not log in as 'reader' to: 127.0.0.1:" + server.portText() + "\n", 0), 0u)
            << r.err;
        EXPECT_EQ(server.error(), "");
    }
    {  // Reset in the middle of the second RETR: the first message is deleted, the second not.
        const std::string one = message("one"), two = message("two", std::string(5000, 'b') + "\r\n");
        Script s = loggedIn({one, two});
        retrieveAndDelete(s, 1, one);
        s.insert(s.end(), {expect("RETR 2"), send("+OK message follows\r\n" + two.substr(0, 3000)), reset()});
        ScriptedServer server(s);
        ProgramResult r = run(server, {"-rm", "-quiet"});
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_TRUE(has(r.err, "Could not retrieve message (2/2), error= ")) << r.err;
        EXPECT_FALSE(has(server.finish(), "DELE 2"));
        EXPECT_EQ(server.error(), "");
        EXPECT_LT(r.seconds, 5);
    }
}

TEST(ReceiveFaults, StallsEndAtTheTimeout) {
    {  // No greeting at all.
        ScriptedServer server({stall(15000)});
        ProgramResult r = run(server, {"-tmo:2"});
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_EQ(r.err, "Could not connect to: 127.0.0.1:" + server.portText() + ", error= -10060 (timed out)\n");
        EXPECT_GE(r.seconds, 1.9);
        EXPECT_LT(r.seconds, 3.5);
    }
    // No answer to RETR at all, and a transfer that stops halfway through the message: the
    // message is not deleted and no QUIT waits behind it.
    const std::string one = message("one", std::string(3000, 'c') + "\r\n");
    for (const std::string& answered : {std::string(), "+OK message follows\r\n" + one.substr(0, 1500)}) {
        Script s = loggedIn({one});
        s.insert(s.end(), {expect("RETR 1"), send(answered), stall(15000)});
        ScriptedServer server(s);
        ProgramResult r = run(server, {"-tmo:2", "-rm"});
        EXPECT_EQ(r.exitCode, 1) << answered.size();
        EXPECT_EQ(r.err, "Could not retrieve message (1/1), error= -10060 (timed out)\n");
        EXPECT_GE(r.seconds, 1.9);
        EXPECT_LT(r.seconds, 3.5);
        EXPECT_FALSE(has(server.finish(), "DELE"));
    }
}

TEST(ReceiveFaults, LongLinesAndGarbage) {
    {  // A greeting of a megabyte without a line end is read and dropped up to its end,
       // which never comes: no greeting, ended by one time-out (not one per piece).
        ScriptedServer server({send("+OK "), sendBytes(1 << 20, "x"), stall(10000)});
        ProgramResult r = run(server, {"-tmo:2"});
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_EQ(r.err, "Could not connect to: 127.0.0.1:" + server.portText() + ", error= -10060 (timed out)\n");
        EXPECT_GE(r.seconds, 1.9);
        EXPECT_LT(r.seconds, 3.5);
    }
    {  // RETR answered by a megabyte without a line end, then the end of the connection.
        const std::string one = message("one");
        Script s = loggedIn({one});
        s.insert(s.end(), {expect("RETR 1"), send("+OK message follows\r\n"), sendBytes(1 << 20, "y"), closeConnection()});
        ScriptedServer server(s);
        ProgramResult r = run(server, {"-tmo:5", "-rm", "-quiet"});
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_TRUE(has(r.err, "Could not retrieve message (1/1), error= ")) << r.err.substr(0, 200);
        EXPECT_FALSE(has(server.finish(), "DELE"));
        EXPECT_LT(r.seconds, 4);
    }
    const std::string garbage("\x00\xff\x80\x1b[2J garbage\r\n", 17);
    {  // Binary garbage as the greeting.
        ScriptedServer server({sendBytes(3000, garbage), stall(10000)});
        ProgramResult r = run(server, {"-tmo:5"});
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_EQ(r.err, "Could not connect to: 127.0.0.1:" + server.portText() + ", error= 0\n");
        EXPECT_LT(r.seconds, 4);
    }
    {  // Binary garbage inside a message is message data (read through to the final "."),
       // garbage as the reply to DELE is a failed deletion.
        const std::string one = message("one", garbage + garbage + "\r\n");
        Script s = loggedIn({one});
        s.insert(s.end(), {expect("RETR 1"), send("+OK message follows\r\n" + one + ".\r\n"), expect("DELE 1"),
                           sendBytes(3000, garbage), stall(10000)});
        ScriptedServer server(s);
        ProgramResult r = run(server, {"-tmo:5", "-rm"});
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_TRUE(has(r.out, "one\n")) << r.out;
        EXPECT_EQ(r.err, "Could not delete message, error= 0\n");
        EXPECT_EQ(server.error(), "");
        EXPECT_LT(r.seconds, 4);
    }
}

TEST(ReceiveFaults, ServerThatAnswersMoreThanAsked) {
    // RETR 1 is answered with the message and then, unasked, a second one. Every later
    // command takes the next line as its reply: DELE 1 gets the extra "+OK message follows",
    // RETR 2 gets the extra message's first header line, which is no reply, so the run stops
    // there and message 2 is not deleted.
    const std::string one = message("one"), two = message("two");
    Script s = loggedIn({one, two});
    s.insert(s.end(), {expect("RETR 1"),
                       send("+OK message follows\r\n" + one + ".\r\n+OK message follows\r\n" + two + ".\r\n"),
                       stall(3000)});
    ScriptedServer server(s);
    ProgramResult r = run(server, {"-rm", "-quiet", "-tmo:5"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "Could not retrieve message (2/2), error= 0\n");
    const std::string sent = server.finish();
    EXPECT_TRUE(has(sent, "DELE 1\r\n")) << sent;
    EXPECT_FALSE(has(sent, "DELE 2")) << sent;
    EXPECT_LT(r.seconds, 4);
}

TEST(ReceiveFaults, NoDeleUnlessTheAttachmentsWereWritten) {
    TempFolder folder;
    const std::string out = folder.path + "/out";
    ::mkdir(out.c_str(), 0700);
    // The second attachment does not fit under a file-size limit of 64 KiB (a full disk):
    // the first message is deleted, the second stays on the server and the run ends with 1.
    const std::string one = withAttachment("small", "small.bin", 2000);
    const std::string two = withAttachment("large", "large.bin", 200000);
    Script s = loggedIn({one, two});
    retrieveAndDelete(s, 1, one);
    retrieveAndQuit(s, 2, two);
    ScriptedServer server(s);
    std::vector<std::string> args = {"-c", "trap '' XFSZ; ulimit -f 128; exec \"$0\" \"$@\"", qarvelBinary()};
    for (const std::string& a : readArgs(server.port(), {"-rm", "-quiet", "-extract:" + out}))
        args.push_back(a);
    ProgramOptions options;
    options.timeLimitSeconds = 30;
    ProgramResult r = runProgram("/bin/sh", args, options);
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 1) << r.err;
    EXPECT_TRUE(has(r.err, "message #2")) << r.err;
    const std::string sent = server.finish();
    EXPECT_TRUE(has(sent, "DELE 1\r\n")) << sent;
    EXPECT_FALSE(has(sent, "DELE 2")) << sent;
    EXPECT_EQ(server.error(), "");
    struct stat st;
    EXPECT_EQ(::stat((out + "/small.bin").c_str(), &st), 0);
    EXPECT_NE(::stat((out + "/large.bin").c_str(), &st), 0) << "a partial file is left";

    // An extraction folder that is not there: nothing is deleted.
    Script again = loggedIn({one});
    retrieveAndQuit(again, 1, one);
    ScriptedServer missing(again);
    r = run(missing, {"-rm", "-quiet", "-extract:" + folder.path + "/missing"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(has(r.err, "message #1")) << r.err;
    EXPECT_FALSE(has(missing.finish(), "DELE"));
    EXPECT_EQ(missing.error(), "");
}

}  // namespace
}  // namespace qarvel::test
