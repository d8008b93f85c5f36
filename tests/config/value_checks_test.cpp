// Values the user gives that would break a header line or a command are refused before
// anything is sent; the extra header text must be header fields.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/run_program.h"
#include "support/temp_folder.h"

namespace qarvel::test {
namespace {

// A message written with -mf to m.eml, with the arguments given added.
ProgramResult composeToFile(const TempFolder& folder, const std::vector<std::string>& extra,
                            const ProgramOptions& options = {}) {
    std::vector<std::string> args = {"-mf", "-host:" + folder.file("m.eml"), "-from:a@x.org", "-to:b@x.org",
                                     "-s:Hi", "-msg:Body"};
    args.insert(args.end(), extra.begin(), extra.end());
    return runQarvel(args, options);
}

TEST(ValueChecks, LineBreaksInHeaderAndCommandValuesAreRefused) {
    const std::string breaks[] = {"x\r\nBcc: victim@x.org", "x\nDELE 2", "x\rX: 1"};
    const char* options[] = {"-s:", "-from:", "-to:", "-cc:", "-bcc:", "-replyto:", "-org:", "-sens:"};
    for (const char* option : options) {
        for (const std::string& value : breaks) {
            TempFolder folder;
            ProgramResult r = composeToFile(folder, {option + value});
            EXPECT_EQ(r.exitCode, 1) << option;
            EXPECT_NE(r.err.find(std::string("The value of ") + option), std::string::npos) << option << r.err;
            EXPECT_EQ(folder.read("m.eml"), "") << option;  // nothing was written
        }
    }
    // POP3 credentials: refused before any connection is tried.
    for (const char* option : {"-user:", "-pass:"}) {
        ProgramResult r = runQarvel({"-host:127.0.0.1", "-port:1", "-user:u", "-pass:p",
                                     std::string(option) + "x\r\nDELE 2"});
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_NE(r.err.find(std::string("The value of ") + option), std::string::npos) << r.err;
        EXPECT_EQ(r.err.find("connect"), std::string::npos) << r.err;
    }
}

TEST(ValueChecks, ExtraHeaderTextFromOptionAndConfiguration) {
    {  // One field without a line end: accepted, and the next field is not glued to it.
        TempFolder folder;
        ProgramResult r = composeToFile(folder, {"-hdr:X-Evil: 1"});
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_NE(folder.read("m.eml").find("X-Evil: 1\r\nDate: "), std::string::npos) << folder.read("m.eml");
    }
    {  // Escaped line breaks that end the header early, and a line that is no field.
        for (const char* hdr : {"-hdr:X-A: 1\\r\\n\\r\\nBcc: v@x.org", "-hdr:X-A: 1\\nnot a field"}) {
            TempFolder folder;
            ProgramResult r = composeToFile(folder, {hdr});
            EXPECT_EQ(r.exitCode, 1) << hdr;
            EXPECT_NE(r.err.find("-hdr:"), std::string::npos) << r.err;
            EXPECT_EQ(folder.read("m.eml"), "");
        }
    }
    {  // The configuration key: the same rule.
        TempFolder folder;
        ProgramOptions options;
        options.env = {{"QARVEL_CONFIG", folder.put("q.txt", "HDR X-A: 1\\r\\n\\r\\nBcc: v@x.org\n")}};
        ProgramResult r = composeToFile(folder, {"-config"}, options);
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_EQ(folder.read("m.eml"), "");
    }
}

}  // namespace
}  // namespace qarvel::test
