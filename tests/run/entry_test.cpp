#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <sys/wait.h>
#include <cstdlib>
#include <unistd.h>

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

// A message written to a file with an attachment, read back and the attachment extracted.
TEST(Entry, ComposeToFileAndExtractAgain) {
    char folder[] = "/tmp/qarvel-entry-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    const std::string dir = folder;
    std::string out;
    ASSERT_EQ(std::system(("mkdir " + dir + "/out").c_str()), 0);
    // Binary bytes, so the part is written back byte for byte (text parts get local line ends).
    ASSERT_EQ(std::system(("head -c 5000 /dev/urandom >" + dir + "/att.txt").c_str()), 0);
    EXPECT_EQ(runQarvel("-mf -host:" + dir + "/m.eml -from:a@x.org -to:b@x.org -s:Hi -msg:Body -a:" + dir +
                            "/att.txt -a:" + dir + "/att.txt",
                        out),
              0)
        << out;
    EXPECT_EQ(runQarvel("-mail -file:" + dir + "/m.eml -extract:" + dir + "/out -q", out), 0) << out;
    EXPECT_EQ(std::system(("cmp -s " + dir + "/att.txt " + dir + "/out/att.txt").c_str()), 0);
    std::system(("rm -rf " + dir).c_str());
}

} // namespace
