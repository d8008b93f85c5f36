#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "support/run_program.h"
#include "support/scripted_server.h"
#include "support/temp_folder.h"
#include "support/text_lines.h"

namespace qarvel::test {
namespace {

TEST(Entry, UsageNoopAndCgiMismatch) {
    ProgramResult r = runQarvel({});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out.rfind("Usage: qarvel [-host:server]", 0), 0u);
    int lines = 0;
    for (char c : r.out + r.err) lines += c == '\n';
    EXPECT_EQ(lines, 3);

    EXPECT_EQ(runQarvel({"-noop"}).exitCode, 0);
    r = runQarvel({"-cgi"});
    EXPECT_EQ(r.exitCode, 1);
    // The request is read (its response header written) before the mode is checked.
    EXPECT_EQ(r.err, "Can't use -cgi option in non-CGI mode\n");

    EXPECT_EQ(runQarvel({"-encode:base64"}).exitCode, 0);  // standard input at its end at once
}

// A message written to a file with an attachment, read back and the attachment extracted.
TEST(Entry, ComposeToFileAndExtractAgain) {
    TempFolder folder;
    const std::string dir = folder.path;
    auto ok = [](const std::vector<std::string>& args) {
        ProgramResult r = runQarvel(args);
        EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
        return r.out + r.err;
    };
    auto same = [&](const std::string& extracted) {
        return std::system(("cmp -s " + dir + "/att.bin " + extracted).c_str()) == 0;
    };
    ASSERT_EQ(std::system(("mkdir " + dir + "/out " + dir + "/out2 " + dir + "/box").c_str()), 0);
    // Binary bytes, so the part is written back byte for byte (text parts get local line ends).
    ASSERT_EQ(std::system(("head -c 5000 /dev/urandom >" + dir + "/att.bin").c_str()), 0);
    ok({"-mf", "-host:" + dir + "/m.eml", "-from:a@x.org", "-to:b@x.org", "-s:Hi", "-msg:Body",
        "-a:" + dir + "/att.bin", "-a:" + dir + "/att.bin"});
    ok({"-mail", "-file:" + dir + "/m.eml", "-extract:" + dir + "/out", "-q"});
    EXPECT_TRUE(same(dir + "/out/att.bin"));
    // The mailbox host names the file as well, and a folder stands for all of its files.
    ok({"-mail", "-host:" + dir + "/m.eml", "-extract:" + dir + "/out2", "-q"});
    EXPECT_TRUE(same(dir + "/out2/att.bin"));
    ASSERT_EQ(std::system(("cp " + dir + "/m.eml " + dir + "/box/1.eml && cp " + dir + "/m.eml " + dir +
                           "/box/2.eml").c_str()),
              0);
    std::string out = ok({"-mail", "-host:" + dir + "/box", "-extract:" + dir + "/out2", "-unique"});
    EXPECT_NE(out.find("2. Hi"), std::string::npos) << out;

    // Label lines of the configuration file reach the send report and the message display.
    ProgramOptions config;
    config.env = {{"QARVEL_CONFIG", folder.put("qarvel.txt", "STRING_To An\nSTRING_Date Datum\n")}};
    ProgramResult r = runQarvel({"-config", "-mf", "-host:" + dir + "/l.eml", "-from:a@x.org", "-to:b@x.org",
                                 "-s:Hi", "-msg:Body", "-v"}, config);
    EXPECT_NE(r.out.find("\nAn: b@x.org\n"), std::string::npos) << r.out << r.err;
    r = runQarvel({"-config", "-mail", "-host:" + dir + "/l.eml"}, config);
    EXPECT_NE(r.out.find("\nDatum: "), std::string::npos) << r.out << r.err;
}

// Each layer overwrites only what it names: defaults, the -host:/-port: pre-scan, the early
// pass (always), the main pass (only with -config), the command line.
TEST(Entry, SettingsLayers) {
    TempFolder folder;
    ProgramOptions options;
    options.env = {{"QARVEL_DUMP_SETTINGS", "1"},
                   {"QARVEL_CONFIG", folder.put("qarvel.txt",
                                                "PROXY_HOST proxy.example\nSMTP_HOST config.example\n"
                                                "SMTP_PORT 2626\nFROM config@x.org\nSUBJECT from config\n"
                                                "TO " + std::string(100000, 't') + "\n")}};  // cut, does no harm
    std::vector<std::string> args = {"-noop", "-host:cli.example", "-port:99", "-from:cli@x.org"};
    auto expectLines = [&](const std::vector<std::string>& lines) {
        ProgramResult r = runQarvel(args, options);
        EXPECT_EQ(r.exitCode, 0);
        const std::string dump = "\n" + r.out + r.err;
        for (const std::string& line : lines) EXPECT_NE(dump.find("\n" + line + "\n"), std::string::npos) << line << dump;
    };
    expectLines({"servers.proxyHost=\"proxy.example\"", "servers.smtpHost=\"cli.example\"", "content.subject=\"\"",
                 "connection.bufferSize=4096"});
    args.push_back("-config");
    expectLines({"servers.smtpHost=\"config.example\"",  // a host key beats -host:
                 "servers.pop3Host=\"cli.example\"", "servers.smtpPort=\"2626\"", "servers.pop3Port=\"99\"",
                 "addresses.from=\"cli@x.org\"",  // the command line beats every other key
                 "content.subject=\"from config\"", "addresses.to=\"" + std::string(1023, 't') + "\""});
}

// How many copies a run sends (-cnt:) and the progress meter named in the configuration file.
TEST(SendCount, CopiesAsCountedAndNoneForZeroOrLess) {
    struct Case {
        const char* count;
        size_t copies;
    } cases[] = {{"-cnt:2", 2}, {"-cnt:0", 0}, {"-cnt:-1", 0}, {"-cnt:abc", 0}};
    for (const Case& c : cases) {
        TempFolder folder;
        ProgramResult r = runQarvel({"-mf", "-host:" + folder.file("m.eml"), "-from:a@x.org", "-to:b@x.org",
                                     "-s:Counted", "-msg:Body", c.count});
        EXPECT_EQ(r.exitCode, 0) << c.count << r.err;
        EXPECT_EQ(countOf(folder.read("m.eml"), "Subject: Counted\r\n"), c.copies) << c.count;
    }
}

TEST(SendCount, MeterFileFromTheConfiguration) {
    TempFolder folder;
    const std::string meter = folder.file("meter.txt");
    ProgramOptions options;
    options.env = {{"QARVEL_CONFIG", folder.put("q.txt", "METER " + meter + "\n")}};
    ScriptedServer server({send("220 x\r\n"), expect("HELO"), send("250 ok\r\n"), expect("MAIL"),
                           send("250 ok\r\n"), expect("RCPT"), send("250 ok\r\n"), expect("DATA"),
                           send("354 go\r\n"), expectUntil("."), send("250 ok\r\n"), expect("QUIT"),
                           send("221 bye\r\n")});
    ASSERT_TRUE(server.listening());
    ProgramResult r = runQarvel({"-host:127.0.0.1", "-port:" + server.portText(), "-from:a@x.org",
                                 "-to:b@x.org", "-s:Metered", "-msg:Body", "-tmo:10"},
                                options);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    server.finish();
    EXPECT_NE(folder.read("meter.txt"), "") << "no meter file written";
}

} // namespace
} // namespace qarvel::test
