// The news posting run of the program (-news) against scripted news servers: the whole
// dialogue, and every refusal and fault ending with its message and exit code 1 in bounded time.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/run_program.h"
#include "support/scripted_server.h"
#include "support/temp_folder.h"

namespace qarvel::test {
namespace {

using Script = std::vector<ScriptStep>;

ProgramResult post(ScriptedServer& server, std::vector<std::string> more = {}) {
    std::vector<std::string> args = {"-news", "-host:127.0.0.1", "-port:" + server.portText(),
                                     "-from:poster@example.test", "-to:test.group",
                                     "-s:news fault", "-msg:hello there"};
    args.insert(args.end(), more.begin(), more.end());
    ProgramOptions options;
    options.timeLimitSeconds = 30;
    ProgramResult r = runProgram(QARVEL_BINARY, args, options);
    EXPECT_FALSE(r.timedOut);
    return r;
}

const ScriptStep kGreeting = send("200 news.test ready (posting ok)\r\n");

TEST(NewsPosting, LoginOnDemandAndTheArticle) {
    TempFolder folder;
    const std::string body = folder.put("body.txt", "line one\n.\n.dot\nlast\n");
    ScriptedServer server({kGreeting, expect("AUTHINFO USER test"), send("381 password please\r\n"),
                           expect("AUTHINFO PASS secret"), send("281 ok\r\n"), expect("POST"),
                           send("480 authentication required\r\n"),
                           expect("AUTHINFO USER test"), send("381 password please\r\n"),
                           expect("AUTHINFO PASS secret"), send("281 ok\r\n"), expect("POST"),
                           send("340 send it\r\n"), expectUntil(".\r\n"),
                           send("240 article received\r\n"), expect("QUIT"), send("205 bye\r\n")});
    // The login up front, and again when the server demands it for POST (say, because the
    // session it knew has ended); the sender address makes this a posting run, not a read.
    ProgramResult r = post(server, {"-file:" + body, "-noarchive", "-user:test", "-pass:secret"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out.rfind("Sent ", 0), 0u) << r.out;
    EXPECT_NE(r.out.find("to 'test.group' "), std::string::npos) << r.out;
    std::string dialogue = server.finish();
    EXPECT_EQ(server.error(), "");
    EXPECT_NE(dialogue.find("POST\r\nNewsgroups: test.group\r\nFrom: poster@example.test\r\nSubject: news fault\r\n"),
              std::string::npos) << dialogue;
    EXPECT_NE(dialogue.find("X-no-archive: yes\r\nX-Mailer: "), std::string::npos);
    EXPECT_NE(dialogue.find("Content-Transfer-Encoding: 7bit\r\n"), std::string::npos);
    EXPECT_NE(dialogue.find("\r\n\r\nhello there\r\nline one\r\n..\r\n..dot\r\nlast\r\n\r\n.\r\nQUIT\r\n"),
              std::string::npos) << dialogue;
}

TEST(NewsPosting, ImplicitTlsMovesThePortTo563) {
    // -port: is read before the command line proper, so -ssl wins and the NNTPS port is used
    // (nothing listens on it here: the refused connection names it).
    ProgramResult r = runProgram(QARVEL_BINARY, {"-news", "-host:127.0.0.1", "-port:119", "-ssl",
                                                 "-from:p@example.test", "-to:test.group", "-msg:x"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("Could not connect to server: 127.0.0.1:563, error= -10061 (connection refused)\n"),
              std::string::npos) << r.err;
}

// The run the server refuses or breaks, and the message the run must end with.
struct Fault {
    const char* name;
    Script script;
    std::vector<std::string> more;
    std::string message;
    double below;
};

void PrintTo(const Fault& f, std::ostream* os) { *os << f.name; }

class NewsFaults : public ::testing::TestWithParam<Fault> {};

TEST_P(NewsFaults, EndWithTheirMessage) {
    const Fault& f = GetParam();
    ScriptedServer server(f.script);
    ProgramResult r = post(server, f.more);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find(f.message), std::string::npos) << r.err;
    EXPECT_EQ(r.out.find("Sent "), std::string::npos) << r.out;
    EXPECT_LT(r.seconds, f.below);
    server.finish();
    EXPECT_EQ(server.error(), "");
}

const std::vector<std::string> kLogin = {"-user:test", "-pass:secret"};

INSTANTIATE_TEST_SUITE_P(
    Server, NewsFaults,
    ::testing::Values(
        Fault{"DemandWithoutCredentials",
              {kGreeting, expect("POST"), send("480 authentication required\r\n"), expect("QUIT"),
               send("205 bye\r\n")},
              {},
              "Could not send:  error= -1\nStatus: 480 authentication required\n",
              10},
        Fault{"PasswordRefused",
              {kGreeting, expect("AUTHINFO USER test"), send("381 password\r\n"),
               expect("AUTHINFO PASS secret"), send("481 authentication failed\r\n"),
               expect("QUIT"), send("205 bye\r\n")},
              kLogin,
              "Login failed: 481 authentication failed\n",
              10},
        Fault{"LoginOutOfSequence",
              {kGreeting, expect("AUTHINFO USER test"), send("482 authentication commands issued out of sequence\r\n"),
               expect("QUIT"), send("205 bye\r\n")},
              kLogin,
              "Login failed: 482 authentication commands issued out of sequence\n",
              10},
        Fault{"PostingNotAllowed",
              {kGreeting, expect("POST"), send("440 posting not permitted\r\n"), expect("QUIT"),
               send("205 bye\r\n")},
              {},
              "Could not send:  error= -1\nStatus: 440 posting not permitted\n",
              10},
        Fault{"ArticleRejected",
              {kGreeting, expect("POST"), send("340 go\r\n"), expectUntil(".\r\n"),
               send("441 437 no such newsgroup\r\n"), expect("QUIT"), send("205 bye\r\n")},
              {},
              "Could not send:  error= -1\nStatus: 441 437 no such newsgroup\n",
              10},
        Fault{"DropInTheArticle",
              {kGreeting, expect("POST"), send("340 go\r\n"), expect("Newsgroups:"), reset()},
              {},
              "Could not send:  error= -10054 (connection reset by peer)\nStatus: \n",
              10},
        Fault{"SilentGreeting", {stall(15000)}, {"-tmo:2"}, "Could not connect to server: 127.0.0.1:", 6},
        Fault{"SilentAfterTheArticle",
              {kGreeting, expect("POST"), send("340 go\r\n"), expectUntil(".\r\n"), stall(15000)},
              {"-tmo:1"},
              "Could not send:  error= -10060 (timed out)\nStatus: \n",
              5}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace qarvel::test
