// How many copies a run sends (-cnt:) and the progress meter named in the configuration file.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/run_program.h"
#include "support/scripted_server.h"
#include "support/temp_folder.h"

namespace qarvel::test {
namespace {

int countOf(const std::string& text, const std::string& what) {
    int n = 0;
    for (size_t p = text.find(what); p != std::string::npos; p = text.find(what, p + 1)) ++n;
    return n;
}

TEST(SendCount, CopiesAsCountedAndNoneForZeroOrLess) {
    struct Case {
        const char* count;
        int copies;
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

}  // namespace
}  // namespace qarvel::test
