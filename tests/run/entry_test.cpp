#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <sys/wait.h>
#include <cstdlib>
#include <unistd.h>

namespace {

// Runs the program through /bin/sh and returns its exit code; out receives stdout and stderr.
int runQarvel(const std::string& args, std::string& out, const std::string& environment = "") {
    std::string command = "env -u GATEWAY_INTERFACE " + environment + " " + QARVEL_BINARY + " " + args + " 2>&1";
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
    ASSERT_EQ(std::system(("head -c 5000 /dev/urandom >" + dir + "/att.bin").c_str()), 0);
    EXPECT_EQ(runQarvel("-mf -host:" + dir + "/m.eml -from:a@x.org -to:b@x.org -s:Hi -msg:Body -a:" + dir +
                            "/att.bin -a:" + dir + "/att.bin",
                        out),
              0)
        << out;
    EXPECT_EQ(runQarvel("-mail -file:" + dir + "/m.eml -extract:" + dir + "/out -q", out), 0) << out;
    EXPECT_EQ(std::system(("cmp -s " + dir + "/att.bin " + dir + "/out/att.bin").c_str()), 0);
    // The mailbox host names the file as well, and a folder stands for all of its files.
    ASSERT_EQ(std::system(("mkdir " + dir + "/out2 " + dir + "/box && cp " + dir + "/m.eml " + dir +
                           "/box/1.eml && cp " + dir + "/m.eml " + dir + "/box/2.eml").c_str()),
              0);
    EXPECT_EQ(runQarvel("-mail -host:" + dir + "/m.eml -extract:" + dir + "/out2 -q", out), 0) << out;
    EXPECT_EQ(std::system(("cmp -s " + dir + "/att.bin " + dir + "/out2/att.bin").c_str()), 0);
    EXPECT_EQ(runQarvel("-mail -host:" + dir + "/box -extract:" + dir + "/out2 -unique", out), 0) << out;
    EXPECT_NE(out.find("2. Hi"), std::string::npos) << out;
    std::system(("rm -rf " + dir).c_str());
}

// Each layer overwrites only what it names: defaults, the -host:/-port: pre-scan, the early
// pass (always), the main pass (only with -config), the command line.
TEST(Entry, SettingsLayers) {
    char path[] = "/tmp/qarvel-layers-XXXXXX";
    close(mkstemp(path));
    {
        FILE* f = std::fopen(path, "w");
        std::fputs("PROXY_HOST proxy.example\nSMTP_HOST config.example\nSMTP_PORT 2626\nFROM config@x.org\n"
                   "SUBJECT from config\n", f);
        std::fputs(("TO " + std::string(100000, 't') + "\n").c_str(), f);  // cut, does no harm
        std::fclose(f);
    }
    const std::string environment = std::string("QARVEL_DUMP_SETTINGS=1 QARVEL_CONFIG=") + path;
    auto has = [](const std::string& out, const std::string& line) { return ("\n" + out).find("\n" + line + "\n") != std::string::npos; };

    std::string out;
    EXPECT_EQ(runQarvel("-noop -host:cli.example -port:99 -from:cli@x.org", out, environment), 0);
    EXPECT_TRUE(has(out, "proxyHost=\"proxy.example\"")) << out;
    EXPECT_TRUE(has(out, "smtpHost=\"cli.example\""));
    EXPECT_TRUE(has(out, "subject=\"\""));
    EXPECT_TRUE(has(out, "wrap=72"));

    EXPECT_EQ(runQarvel("-noop -host:cli.example -port:99 -from:cli@x.org -config", out, environment), 0);
    EXPECT_TRUE(has(out, "smtpHost=\"config.example\""));  // a host key beats -host:
    EXPECT_TRUE(has(out, "pop3Host=\"cli.example\""));
    EXPECT_TRUE(has(out, "smtpPort=\"2626\""));
    EXPECT_TRUE(has(out, "pop3Port=\"99\""));
    EXPECT_TRUE(has(out, "from=\"cli@x.org\""));  // the command line beats every other key
    EXPECT_TRUE(has(out, "subject=\"from config\""));
    EXPECT_TRUE(has(out, "to=\"" + std::string(1023, 't') + "\""));
    std::remove(path);
}

} // namespace

