// The sending clients (SMTP, QMTP) of build/qarvel against scripted servers that fail: refused
// connections, resets in the middle of a reply and of the message data, stalls ended by -tmo:,
// a megabyte without a line end, binary garbage and servers that answer more than asked. Each
// run must end in bounded time with the driver's message and exit code 1 (or 0 when the fault
// leaves the dialogue intact).
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "net/winsock_error.h"
#include "support/run_program.h"
#include "support/scripted_server.h"
#include "support/temp_folder.h"

namespace qarvel::test {
namespace {

using Script = std::vector<ScriptStep>;

struct Protocol {
    const char* name;
    std::vector<std::string> extra;  // arguments that choose the client
};

// Named in test output instead of a byte dump.
void PrintTo(const Protocol& p, std::ostream* os) { *os << p.name; }

const Protocol kSmtp{"SMTP", {}};
const Protocol kQmtp{"QMTP", {"-qmtp"}};

std::vector<std::string> sendArgs(const Protocol& p, int port, std::vector<std::string> more = {}) {
    std::vector<std::string> args = {"-host:127.0.0.1", "-port:" + std::to_string(port),
                                     "-from:sender@example.test", "-to:reader@example.test",
                                     "-s:fault", "-msg:hello there"};
    args.insert(args.end(), p.extra.begin(), p.extra.end());
    args.insert(args.end(), more.begin(), more.end());
    return args;
}

// The dialogue of a healthy server up to (not including) the reply to the command named.
Script dialogueUpTo(const std::string& command) {
    Script s = {send("220 fault.test ready\r\n"), expect("HELO")};
    const char* steps[] = {"MAIL", "RCPT", "DATA"};
    for (const char* next : steps) {
        s.push_back(send("250 ok\r\n"));
        s.push_back(expect(next));
        if (command == next) return s;
    }
    s.push_back(send("354 go ahead\r\n"));
    return s;
}

ProgramResult run(const Protocol& p, ScriptedServer& server, std::vector<std::string> more = {}) {
    ProgramOptions options;
    options.timeLimitSeconds = 30;
    ProgramResult r = runQarvel(sendArgs(p, server.port(), std::move(more)), options);
    EXPECT_FALSE(r.timedOut) << p.name;
    return r;
}

// Runs the client against the server and checks that it failed with the message on standard
// error, within the time bounds.
ProgramResult runFailing(const Protocol& p, ScriptedServer& server, std::vector<std::string> more,
                         const std::string& message, double below, double atLeast = 0) {
    ProgramResult r = run(p, server, std::move(more));
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find(message), std::string::npos) << r.err;
    EXPECT_GE(r.seconds, atLeast);
    EXPECT_LT(r.seconds, below);
    return r;
}

std::string connectFailed(int port, int error) {
    return "Could not connect to server: 127.0.0.1:" + std::to_string(port) + ", error= " + describeError(error) + "\n";
}

class SendFaults : public ::testing::TestWithParam<Protocol> {};

TEST_P(SendFaults, RefusedConnectAndResetInTheMiddleOfAReply) {
    const Protocol& p = GetParam();
    int port = refusedPort();
    ProgramResult r = runQarvel(sendArgs(p, port, {"-retries:1"}));
    EXPECT_EQ(r.exitCode, 1);
    const std::string refused = connectFailed(port, -10061);
    size_t first = r.err.find(refused);
    ASSERT_NE(first, std::string::npos) << r.err;
    EXPECT_NE(r.err.find(refused, first + 1), std::string::npos) << "one retry: " << r.err;

    {  // Reset halfway through the greeting.
        ScriptedServer server({send("220-fault.test first line\r\n220 fault"), reset()});
        runFailing(p, server, {}, connectFailed(server.port(), -10054), 10);
    }
    {  // Reset halfway through the reply to MAIL FROM.
        Script s = dialogueUpTo("MAIL");
        s.push_back(send("250-sender fine"));
        s.push_back(reset());
        ScriptedServer server(s);
        runFailing(p, server, {}, "Could not send:  error= -10054 (connection reset by peer)\nStatus: \n", 10);
        EXPECT_EQ(server.error(), "");
    }
}

TEST_P(SendFaults, ResetAndStallInTheMiddleOfTheData) {
    const Protocol& p = GetParam();
    TempFolder folder;
    const std::string file = folder.put("big.bin", std::string(8 << 20, 'q'));
    {  // The server takes part of the message, then resets.
        Script s = dialogueUpTo("");
        s.push_back(receive(100000));
        s.push_back(reset());
        ScriptedServer server(s);
        ProgramResult r = runFailing(p, server, {"-a:" + file}, "Could not send:  error= -10054 (connection reset by peer)\n", 10);
        EXPECT_EQ(r.out.find("Sent "), std::string::npos);
    }
    {  // The server stops reading: the send waits for room until -tmo: ends it, and the
       // connection is dropped without a QUIT (it would only be more message data).
        Script s = dialogueUpTo("");
        s.push_back(receive(10000));
        s.push_back(hold(5000));
        ScriptedServerOptions small;
        small.receiveBuffer = 4096;
        ScriptedServer server(s, small);
        runFailing(p, server, {"-a:" + file, "-tmo:2"}, "Could not send:  error= -10060 (timed out)\n", 8, 1.9);
        EXPECT_EQ(server.finish().find("QUIT\r\n"), std::string::npos);
    }
}

TEST_P(SendFaults, StallEndsAtTheTimeout) {
    const Protocol& p = GetParam();
    {  // No greeting at all: the time-out closes the session, which counts as a failed connect.
        ScriptedServer server({stall(15000)});
        runFailing(p, server, {"-tmo:2"}, connectFailed(server.port(), -10060), 6, 1.9);
    }
    {  // No reply to the end of the data: the wait is the -tmo: value, and no QUIT follows.
        Script s = dialogueUpTo("");
        s.push_back(expectUntil("."));
        s.push_back(stall(15000));
        ScriptedServer server(s);
        runFailing(p, server, {"-tmo:1"}, "Could not send:  error= -10060 (timed out)\n", 5, 0.9);
        EXPECT_EQ(server.finish().find("QUIT"), std::string::npos);
    }
}

TEST_P(SendFaults, LongLinesAndGarbageEndTheDialogue) {
    const Protocol& p = GetParam();
    {  // A greeting of a megabyte without a line end: read in pieces, none of them a reply.
        ScriptedServer server({send("220 "), sendBytes(1 << 20, "x"), stall(10000)});
        runFailing(p, server, {"-tmo:5"}, connectFailed(server.port(), 0), 4);
    }
    {  // Binary garbage (NUL bytes and high bytes) as the reply to MAIL FROM.
        Script s = dialogueUpTo("MAIL");
        s.push_back(sendBytes(3000, std::string("\x00\xff\x80\x1b[2J garbage\r\n", 17)));
        s.push_back(stall(10000));
        ScriptedServer server(s);
        runFailing(p, server, {"-tmo:5"}, "Could not send:  error= 0\nStatus: ", 4);
    }
}

TEST_P(SendFaults, ServerThatAnswersMoreThanAsked) {
    const Protocol& p = GetParam();
    // Two unasked replies after the greeting and one after the final reply: every command
    // takes the next line as its reply, so the dialogue shifts but the message goes through
    // whole and the run ends at once.
    Script s = {send("220 fault.test\r\n250 unasked\r\n250 unasked\r\n")};
    Script rest = dialogueUpTo("");
    s.insert(s.end(), rest.begin() + 1, rest.end());
    s.push_back(expectUntil("."));
    s.push_back(send("250 queued\r\n250 unasked again\r\n"));
    s.push_back(expect("QUIT"));
    s.push_back(send("221 bye\r\n"));
    ScriptedServer server(s);
    ProgramResult r = run(p, server);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out.rfind("Sent ", 0), 0u) << r.out;
    EXPECT_NE(server.finish().find("hello there\r\n.\r\n"), std::string::npos);
    EXPECT_EQ(server.error(), "");
    EXPECT_LT(r.seconds, 5);
}

INSTANTIATE_TEST_SUITE_P(Clients, SendFaults, ::testing::Values(kSmtp, kQmtp),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace qarvel::test
