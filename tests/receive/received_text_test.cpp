// Text taken from a received message (decoded encoded words that hold CR LF) answered with a
// read receipt, sent on with -relay: and written to the -harvest: file: it never becomes a
// header line, an SMTP command or a second harvest line. And standard output where a user
// puts it: a full disk (nothing may be deleted that did not reach it), a terminal (no header
// may send control sequences to it), a pipe (every byte kept).
#include <gtest/gtest.h>

#include <poll.h>
#include <pty.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "support/run_program.h"
#include "support/scripted_server.h"
#include "support/temp_folder.h"
#include "support/text_lines.h"

namespace qarvel::test {
namespace {

const char kHostileMessage[] =
    "From: =?utf-8?Q?Eve_=0D=0ABcc:_victim@x.org?= <eve@x.org>\r\n"
    "To: me@x.org\r\n"
    "Reply-To: =?utf-8?Q?eve@x.org=0D=0ARSET?=\r\n"
    "Subject: =?utf-8?Q?hi=0D=0ABcc:_victim@x.org?=\r\n"
    "Disposition-Notification-To: =?utf-8?Q?eve@x.org=0D=0ARSET?=\r\n"
    "Date: Mon, 07 Dec 2026 10:00:00 +0000\r\n"
    "\r\n"
    "body\r\n";

std::vector<ScriptStep> smtpDialogue() {
    return {send("220 x\r\n"), expect("HELO"), send("250 ok\r\n"),  expect("MAIL"),
            send("250 ok\r\n"), expect("RCPT"), send("250 ok\r\n"),  expect("DATA"),
            send("354 go\r\n"), expectUntil("."), send("250 ok\r\n"), expect("QUIT"),
            send("221 bye\r\n")};
}

// No line of the dialogue starts a command or a header field that the message smuggled in.
void expectNothingSmuggled(const std::string& dialogue) {
    int rcpt = 0;
    for (const std::string& line : linesOf(dialogue)) {
        EXPECT_NE(line.rfind("RSET", 0), 0u) << dialogue;
        EXPECT_NE(line.rfind("Bcc:", 0), 0u) << dialogue;
        rcpt += line.rfind("RCPT", 0) == 0;
    }
    EXPECT_EQ(rcpt, 1) << dialogue;
}

// A read receipt (with the harvest file) and a forwarded copy of the hostile message.
TEST(ReceivedText, ReceiptsHarvestAndForwardsKeepValuesOnTheirLine) {
    const struct {
        std::vector<std::string> args;
        const char* arrives;
    } runs[] = {
        {{"-mdn", "-host:127.0.0.1", "-harvest:"}, "\r\nSubject: Read: hi  Bcc: victim@x.org (RECEIPT)\r\n"},
        {{"-receipt", "-host:127.0.0.1", "-harvest:"}, "\r\nSubject: Read: hi  Bcc: victim@x.org (RECEIPT)\r\n"},
        {{"-relay:127.0.0.1", "-q"}, "\r\nbody\r\n"},
    };
    for (const auto& run : runs) {
        SCOPED_TRACE(run.args[0]);
        TempFolder folder;
        ScriptedServer server(smtpDialogue());
        ASSERT_TRUE(server.listening());
        std::vector<std::string> args = {"-mail", "-file:" + folder.put("m.eml", kHostileMessage),
                                         "-port:" + server.portText(), "-tmo:10"};
        for (const std::string& a : run.args) args.push_back(a == "-harvest:" ? a + folder.file("h.txt") : a);
        ProgramResult r = runQarvel(args);
        EXPECT_EQ(r.exitCode, 0) << r.err;
        const std::string dialogue = server.finish();
        EXPECT_EQ(server.error(), "") << dialogue;
        expectNothingSmuggled(dialogue);
        EXPECT_NE(dialogue.find(run.arrives), std::string::npos) << dialogue;
        if (run.args.size() < 3) continue;
        const std::string harvest = folder.read("h.txt");
        EXPECT_EQ(linesOf(harvest).size(), 1u) << harvest;
        EXPECT_NE(harvest.find("victim@x.org"), std::string::npos) << harvest;  // kept, on one line
    }
}

const char kHostile[] =
    "From: Mallory <m@example.org>\r\nTo: you@example.org\r\n"
    "Subject: =?utf-8?q?Hi=1B]0;owned=07=1B[2J?=\r\n\r\nbody\r\n";

TEST(ReceiveOutput, NothingIsDeletedWhenStandardOutputFails) {
    TempFolder folder;
    folder.put("a.eml", kHostile);
    folder.put("b.eml", kHostile);
    ProgramOptions options;
    options.timeLimitSeconds = 30;
    ProgramResult r = runProgram("/bin/sh", {"-c", "exec \"$0\" \"$@\" > /dev/full", qarvelBinary(), "-mail",
                                             "-host:" + folder.path, "-rm"},
                                 options);
    EXPECT_EQ(r.exitCode, 1) << r.err;
    EXPECT_NE(r.err.find("Could not write message #1 to standard output: No space left on device; it is kept"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(folder.read("a.eml"), kHostile);
    EXPECT_EQ(folder.read("b.eml"), kHostile);

    // Into a pipe the same run deletes, and the subject arrives byte for byte.
    r = runQarvel({"-mail", "-host:" + folder.path, "-rm"}, options);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("1. Hi\x1b]0;owned\x07\x1b[2J\n"), std::string::npos) << r.out;
    EXPECT_EQ(folder.read("a.eml"), "");
}

// Runs qarvel with a terminal as its standard output; returns what the terminal got.
std::string onTerminal(const std::vector<std::string>& args) {
    int master = -1;
    pid_t pid = forkpty(&master, nullptr, nullptr, nullptr);
    if (pid < 0) return "forkpty failed";
    if (pid == 0) {
        std::vector<std::string> all = {qarvelBinary()};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (std::string& a : all) argv.push_back(a.data());
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    std::string out;
    char buffer[4096];
    for (int rounds = 0; rounds < 300; ++rounds) {  // at most 30 s
        pollfd p{master, POLLIN, 0};
        if (poll(&p, 1, 100) == 0) continue;
        ssize_t n = read(master, buffer, sizeof buffer);
        if (n <= 0) break;  // EIO once the child has closed the terminal
        out.append(buffer, static_cast<size_t>(n));
    }
    close(master);
    int status = 0;
    waitpid(pid, &status, 0);
    return out;
}

TEST(ReceiveOutput, ATerminalSeesControlCharactersMadeVisible) {
    TempFolder folder;
    const std::string path = folder.put("a.eml", kHostile);
    std::string shown = onTerminal({"-mail", "-host:" + path});
    EXPECT_NE(shown.find("1. Hi^[]0;owned^G^[[2J"), std::string::npos) << shown;
    EXPECT_EQ(shown.find('\x1b'), std::string::npos) << shown;
    EXPECT_EQ(shown.find('\x07'), std::string::npos) << shown;
}

}  // namespace
}  // namespace qarvel::test
