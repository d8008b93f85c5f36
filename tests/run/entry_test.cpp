#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <sys/wait.h>

namespace {

// Runs the program through /bin/sh and returns its exit code; out receives stdout and stderr.
int runQarvel(const std::string& args, std::string& out) {
    std::string command = std::string("env -u GATEWAY_INTERFACE ") + QARVEL_BINARY + " " + args + " 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return -1;
    char buffer[4096];
    size_t n;
    out.clear();
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
    int status = pclose(pipe);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(Entry, UsageNoopAndCgiMismatch) {
    std::string out;
    EXPECT_EQ(runQarvel("", out), 1);
    EXPECT_EQ(out.rfind("Usage: qarvel [-host:server]", 0), 0u);
    int lines = 0;
    for (char c : out) lines += c == '\n';
    EXPECT_EQ(lines, 3);

    EXPECT_EQ(runQarvel("-noop", out), 0);
    EXPECT_EQ(runQarvel("-cgi", out), 1);
    EXPECT_EQ(out, "Can't use -cgi option in non-CGI mode\n");

    EXPECT_EQ(runQarvel("-encode:base64 </dev/null", out), 0);
}

} // namespace
