// build/qarvel reading message files with its standard output where a user puts it: a full
// disk (nothing may be deleted that did not reach it) and a terminal (no header may send
// control sequences to it). A pipe keeps every byte.
#include <gtest/gtest.h>

#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "support/run_program.h"
#include "support/temp_folder.h"

namespace qarvel::test {
namespace {

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
