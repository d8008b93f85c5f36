// The sending clients (SMTP, QMTP, NNTP) of build/qarvel against scripted servers that refuse or
// fail: resets in the middle of a reply and of the message data, stalls ended by -tmo:, a
// megabyte without a line end, binary garbage, servers that answer more than asked, and the news
// server's refusals. Each run must end in bounded time with the driver's message and, under
// -strict, the exit status of the fault's cause (or 0 when the fault leaves the dialogue
// intact). (A refused connection, tried once more: tests/integration/test_send.py; a name that
// does not resolve, refused and silent servers for every protocol:
// tests/integration/test_connect_errors.py.)
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "net/winsock_error.h"
#include "support/has_text.h"
#include "support/run_program.h"
#include "support/scripted_server.h"
#include "support/strict_status.h"
#include "support/temp_folder.h"

namespace qarvel::test {
namespace {

using Script = std::vector<ScriptStep>;

const std::vector<std::string> kSmtp = {}, kQmtp = {"-qmtp"};

std::vector<std::string> sendArgs(const std::vector<std::string>& protocol, int port,
                                  const std::vector<std::string>& more = {}) {
    std::vector<std::string> args = {"-host:127.0.0.1", "-port:" + std::to_string(port),
                                     "-from:sender@example.test", "-to:reader@example.test",
                                     "-s:fault", "-msg:hello there"};
    args.insert(args.end(), protocol.begin(), protocol.end());
    args.insert(args.end(), more.begin(), more.end());
    return args;
}

std::vector<std::string> newsArgs(int port, const std::vector<std::string>& more = {}) {
    std::vector<std::string> args = {"-news", "-host:127.0.0.1", "-port:" + std::to_string(port),
                                     "-from:poster@example.test", "-to:test.group", "-s:news fault",
                                     "-msg:hello there"};
    args.insert(args.end(), more.begin(), more.end());
    return args;
}

ProgramResult run(const std::vector<std::string>& args) {
    ProgramOptions options;
    options.timeLimitSeconds = 30;
    ProgramResult r = runQarvel(args, options);
    EXPECT_FALSE(r.timedOut);
    return r;
}

// The dialogue of a healthy SMTP server up to (not including) the reply to the command named,
// or up to the reply to DATA.
Script dialogueUpTo(const std::string& command, const Script& then = {}) {
    Script s = {send("220 fault.test ready\r\n"), expect("HELO")};
    for (const char* next : {"MAIL", "RCPT", "DATA"}) {
        s.insert(s.end(), {send("250 ok\r\n"), expect(next)});
        if (command == next) break;
    }
    if (command.empty()) s.push_back(send("354 go ahead\r\n"));
    s.insert(s.end(), then.begin(), then.end());
    return s;
}

std::string connectFailed(int port, int error) {
    return "Could not connect to server: 127.0.0.1:" + std::to_string(port) + ", error= " + describeError(error) + "\n";
}

// A server that fails, and the message the run must end with.
struct Fault {
    const char* name;
    Script script;
    std::vector<std::string> more;
    std::string message;  // "CONNECT" + a number: connectFailed for that error
    int status;           // the exit status under -strict
    double below, atLeast = 0;
    const char* notSent = nullptr;  // a command that must not follow the fault
    ScriptedServerOptions server = {};
};

// Runs each fault with the arguments made for the server's port; the run fails with the message.
void expectFaults(const std::vector<Fault>& faults,
                  const std::function<std::vector<std::string>(int, const std::vector<std::string>&)>& args) {
    for (const Fault& f : faults) {
        SCOPED_TRACE(f.name);
        ScriptedServer server(f.script, f.server);
        ASSERT_TRUE(server.listening());
        std::vector<std::string> more = f.more;
        more.push_back("-strict");
        ProgramResult r = run(args(server.port(), more));
        const std::string seen = server.finish();
        EXPECT_EQ(r.exitCode, f.status) << r.err;
        const std::string message = f.message.starts_with("CONNECT")
                                        ? connectFailed(server.port(), std::stoi(f.message.substr(7)))
                                        : f.message;
        EXPECT_TRUE(has(r.err, message));
        EXPECT_FALSE(has(r.out, "Sent "));
        EXPECT_GE(r.seconds, f.atLeast);
        EXPECT_LT(r.seconds, f.below);
        if (f.notSent) {
            EXPECT_FALSE(has(seen, f.notSent));
        }
        if (f.script.size() > 2) {  // a dialogue before the fault: met to its last step
            EXPECT_EQ(server.error(), "");
        }
    }
}

TEST(SendFaults, SmtpAndQmtpServersThatFail) {
    TempFolder folder;
    const std::string file = folder.put("big.bin", std::string(8 << 20, 'q'));
    ScriptedServerOptions small;
    small.receiveBuffer = 4096;
    const std::string reset = "Could not send:  error= -10054 (connection reset by peer)\n";
    const std::string timedOut = "Could not send:  error= -10060 (timed out)\n";
    const std::vector<Fault> faults = {
        {"reset in the greeting", {send("220-fault.test first line\r\n220 fault"), test::reset()}, {}, "CONNECT-10054", 75, 10},
        {"reset in the reply to MAIL", dialogueUpTo("MAIL", {send("250-sender fine"), test::reset()}), {},
         reset + "Status: \n", 75, 10},
        {"reset in the data", dialogueUpTo("", {receive(100000), test::reset()}), {"-a:" + file}, reset, 75, 10},
        // The server stops reading: the send waits for room until -tmo: ends it, and the
        // connection is dropped without a QUIT (it would only be more message data).
        {"stops reading the data", dialogueUpTo("", {receive(10000), hold(5000)}), {"-a:" + file, "-tmo:2"},
         timedOut, 75, 8, 1.9, "QUIT\r\n", small},
        // No greeting: the time-out closes the session, which counts as a failed connect.
        {"no greeting", {stall(15000)}, {"-tmo:2"}, "CONNECT-10060", 75, 6, 1.9},
        {"no reply to the data", dialogueUpTo("", {expectUntil("."), stall(15000)}), {"-tmo:1"}, timedOut, 75, 5, 0.9,
         "QUIT"},
        // A greeting of a megabyte without a line end: read in pieces, none of them a reply.
        {"greeting of a megabyte", {send("220 "), sendBytes(1 << 20, "x"), stall(10000)}, {"-tmo:5"}, "CONNECT0", 76, 4},
        {"garbage as the reply to MAIL",
         dialogueUpTo("MAIL", {sendBytes(3000, std::string("\x00\xff\x80\x1b[2J garbage\r\n", 17)), stall(10000)}),
         {"-tmo:5"}, "Could not send:  error= 0\nStatus: ", 76, 4},
    };
    for (const auto& protocol : {kSmtp, kQmtp}) {
        SCOPED_TRACE(protocol.empty() ? "SMTP" : "QMTP");
        expectFaults(faults, [&](int port, const std::vector<std::string>& more) {
            return sendArgs(protocol, port, more);
        });
    }
}

// Under -strict the exit status says why a run failed: a server's "later" (4xx) and "no" (5xx),
// a refused login, a failed TLS handshake, and the faults found before any server is asked.
TEST(SendFaults, StrictExitStatusSaysWhy) {
    const Script ehlo = {send("220 fault.test\r\n"), expect("EHLO"), send("250-fault.test\r\n250-AUTH PLAIN\r\n250 STARTTLS\r\n")};
    auto then = [](Script script, const Script& more) {
        script.insert(script.end(), more.begin(), more.end());
        return script;
    };
    const std::vector<std::string> login = {"-esmtp", "-user:u", "-pass:p"};
    const ScriptStep quit = expect("QUIT"), bye = send("221 bye\r\n");
    expectStrictStatuses({
        {"busy greeting", {send("421 busy, try later\r\n")}, {}, 75},
        {"no service", {send("554 no service here\r\n")}, {}, 69},
        {"login refused", then(ehlo, {expect("AUTH PLAIN"), send("334 \r\n"), expect("AHUAcA=="), send("535 5.7.8 no\r\n"), quit, bye}),
         login, 77},
        {"login later", then(ehlo, {expect("AUTH PLAIN"), send("334 \r\n"), expect("AHUAcA=="), send("454 4.7.0 later\r\n"), quit, bye}),
         login, 75},
        {"recipient refused", dialogueUpTo("RCPT", {send("550 5.1.1 no such user\r\n"), quit, bye}), {}, 69},
        {"data later", dialogueUpTo("DATA", {send("451 4.3.0 try later\r\n"), quit, bye}), {}, 75},
        {"TLS handshake", then(ehlo, {expect("STARTTLS"), send("220 go ahead\r\n"), sendBytes(300, "no TLS here ")}),
         {"-tls"}, 76},
        {"unknown option", {}, {"-subject:Hi"}, 64},
        {"no sender", {}, {"-from:"}, 64},
        {"missing attachment", {}, {"-a:/no/such/file"}, 65},
        {"missing configuration file", {}, {"-config:/no/such/qarvel.txt"}, 78},
        {"no configuration file for -config", {}, {"-config"}, 78},
        {"failing password command", {}, {"-user:u", "-passcmd:false"}, 78},
        {"file that cannot be written", {}, {"-mf", "-host:/no/such/folder/out.eml"}, 1},
    }, [](int port, const std::vector<std::string>& more) { return sendArgs(kSmtp, port, more); });
}

TEST(SendFaults, ServerThatAnswersMoreThanAsked) {
    // Two unasked replies after the greeting and one after the final reply: every command
    // takes the next line as its reply, so the dialogue shifts but the message goes through
    // whole and the run ends at once.
    for (const auto& protocol : {kSmtp, kQmtp}) {
        Script s = dialogueUpTo("", {expectUntil("."), send("250 queued\r\n250 unasked again\r\n"), expect("QUIT"),
                                     send("221 bye\r\n")});
        s[0] = send("220 fault.test\r\n250 unasked\r\n250 unasked\r\n");
        ScriptedServer server(s);
        ProgramResult r = run(sendArgs(protocol, server.port()));
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(r.out.rfind("Sent ", 0), 0u) << r.out;
        EXPECT_TRUE(has(server.finish(), "hello there\r\n.\r\n"));
        EXPECT_EQ(server.error(), "");
        EXPECT_LT(r.seconds, 5);
    }
}

// Every refused recipient is named with the server's reply; the status line lists only the
// recipients that have the message, and a run that fails after some got it says which.
TEST(SendFaults, RefusedRecipientsAreNamed) {
    const Script greeting = {send("220 fault.test\r\n"), expect("HELO"), send("250 ok\r\n"), expect("MAIL"),
                             send("250 ok\r\n")};
    struct Case {
        const char* name;
        std::vector<std::string> more;
        Script rest;
        int exitCode;
        std::vector<std::string> err;
        std::string sentTo;  // the status line's recipients, empty for none
    } cases[] = {
        {"-ns skips a refused recipient",
         {"-ns", "-to:bad@example.test"},
         {expect("RCPT TO:<reader@"), send("250 ok\r\n"), expect("RCPT TO:<bad@"), send("550 5.1.1 no such user\r\n"),
          expect("DATA"), send("354 go\r\n"), expectUntil("."), send("250 queued\r\n"), expect("QUIT"),
          send("221 bye\r\n")},
         0, {"Refused recipient: bad@example.test: 550 5.1.1 no such user\n"}, "reader@example.test"},
        {"a mailbox full in the transaction of its own",
         {"-to:third@example.test"},
         {expect("RCPT TO:<reader@"), send("250 ok\r\n"), expect("RCPT TO:<third@"), send("452 too many\r\n"),
          expect("DATA"), send("354 go\r\n"), expectUntil("."), send("250 queued\r\n"), expect("RSET"),
          send("250 reset\r\n"), expect("MAIL"), send("250 ok\r\n"), expect("RCPT TO:<third@"),
          send("552 mailbox full\r\n"), expect("RSET"), send("250 reset\r\n"), expect("QUIT"), send("221 bye\r\n")},
         1,
         {"Refused recipient: third@example.test: 552 mailbox full\n", "Status: 552 mailbox full\n",
          "Sent to reader@example.test only\n"},
         ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Script script = greeting;
        script.insert(script.end(), c.rest.begin(), c.rest.end());
        ScriptedServer server(script);
        ProgramResult r = run(sendArgs(kSmtp, server.port(), c.more));
        server.finish();
        EXPECT_EQ(server.error(), "");
        EXPECT_EQ(r.exitCode, c.exitCode) << r.err;
        for (const std::string& line : c.err) EXPECT_TRUE(has(r.err, line));
        if (c.sentTo.empty()) {
            EXPECT_FALSE(has(r.out, "Sent "));
        } else {
            EXPECT_TRUE(has(r.out, "to '" + c.sentTo + "' "));
        }
    }
}

// With an ETRN domain the SMTP server is asked for a queue run and gets no message; QMTP has
// no ETRN and sends the message.
TEST(SendFaults, EtrnOnlyBySmtp) {
    ScriptedServer smtp({send("220 fault.test\r\n"), expect("EHLO"), send("250-fault.test\r\n250 ETRN\r\n"),
                         expect("ETRN example.org"), send("250 queue started\r\n"), expect("QUIT"),
                         send("221 bye\r\n")});
    // The host names its own port, which wins over -port: and is the one the trace names.
    const std::string host = "127.0.0.1:" + std::to_string(smtp.port());
    ProgramResult r = run(sendArgs(kSmtp, smtp.port(), {"-esmtp", "-etrn:example.org", "-v", "-port:25", "-host:" + host}));
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(has(r.out, "Connected to '" + host + "'\n"));
    EXPECT_TRUE(has(r.out, "ETRN example.org: 250 queue started"));
    EXPECT_FALSE(has(smtp.finish(), "hello there"));
    EXPECT_EQ(smtp.error(), "");

    ScriptedServer qmtp(dialogueUpTo("", {expectUntil("."), send("250 queued\r\n"), expect("QUIT"), send("221 bye\r\n")}));
    r = run(sendArgs(kQmtp, qmtp.port(), {"-etrn:example.org"}));
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(has(qmtp.finish(), "hello there\r\n.\r\n"));
    EXPECT_EQ(qmtp.error(), "");
}

const ScriptStep kNewsGreeting = send("200 news.test ready (posting ok)\r\n");

// (The exact posting dialogue, the demand on POST among it, is in nntp_session_test.cpp; the
// article as it arrives at INN in tests/integration/test_news.py.)
TEST(NewsPosting, ImplicitTlsMovesThePortTo563) {
    // -port: is read before the command line proper, so -ssl wins and the NNTPS port is used
    // (nothing listens on it here: the refused connection names it).
    ProgramResult r = runQarvel({"-news", "-host:127.0.0.1", "-port:119", "-ssl", "-from:p@example.test", "-to:test.group", "-msg:x"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(has(r.err, "Could not connect to server: 127.0.0.1:563, error= -10061 (connection refused)\n"));
}

TEST(NewsPosting, RefusalsAndFaultsEndWithTheirMessage) {
    const std::vector<std::string> login = {"-user:test", "-pass:secret"};
    const ScriptStep quit = expect("QUIT"), bye = send("205 bye\r\n");
    const std::vector<Fault> faults = {
        {"demand without credentials", {kNewsGreeting, expect("POST"), send("480 authentication required\r\n"), quit, bye},
         {}, "Could not send:  error= -1\nStatus: 480 authentication required\n", 77, 10},
        {"password refused",
         {kNewsGreeting, expect("AUTHINFO USER test"), send("381 password\r\n"), expect("AUTHINFO PASS secret"),
          send("481 authentication failed\r\n"), quit, bye},
         login, "Login failed: 481 authentication failed\n", 77, 10},
        {"login out of sequence",
         {kNewsGreeting, expect("AUTHINFO USER test"), send("482 authentication commands issued out of sequence\r\n"),
          quit, bye},
         login, "Login failed: 482 authentication commands issued out of sequence\n", 77, 10},
        {"posting not allowed", {kNewsGreeting, expect("POST"), send("440 posting not permitted\r\n"), quit, bye}, {},
         "Could not send:  error= -1\nStatus: 440 posting not permitted\n", 69, 10},
        {"article rejected",
         {kNewsGreeting, expect("POST"), send("340 go\r\n"), expectUntil(".\r\n"), send("441 437 no such newsgroup\r\n"),
          quit, bye},
         {}, "Could not send:  error= -1\nStatus: 441 437 no such newsgroup\n", 69, 10},
        {"drop in the article", {kNewsGreeting, expect("POST"), send("340 go\r\n"), expect("Newsgroups:"), reset()}, {},
         "Could not send:  error= -10054 (connection reset by peer)\nStatus: \n", 75, 10},
        {"silent greeting", {stall(15000)}, {"-tmo:2"}, "Could not connect to server: 127.0.0.1:", 75, 6},
        {"silent after the article", {kNewsGreeting, expect("POST"), send("340 go\r\n"), expectUntil(".\r\n"), stall(15000)},
         {"-tmo:1"}, "Could not send:  error= -10060 (timed out)\nStatus: \n", 75, 5},
    };
    expectFaults(faults, [](int port, const std::vector<std::string>& more) { return newsArgs(port, more); });
}

}  // namespace
}  // namespace qarvel::test
