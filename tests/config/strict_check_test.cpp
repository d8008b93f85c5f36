#include "config/strict_check.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "support/run_program.h"
#include "support/temp_folder.h"

namespace qarvel {
namespace {

std::string unknownIn(std::vector<std::string> words) {
    words.insert(words.begin(), "qarvel");
    std::vector<char*> argv;
    for (std::string& w : words) argv.push_back(w.data());
    return unknownOption(static_cast<int>(argv.size()), argv.data());
}

TEST(StrictCheck, ArgumentsAreOptionsOrTheRunEnds) {
    // Known flags, value options by their prefix, the scanned options and -strict itself pass.
    EXPECT_EQ(unknownIn({"-strict", "-to:a@b", "-s:Hi", "-host:h", "-config", "-v:2", "-imap"}), "");
    // A misspelt value option, a flag given a value, a value option without its colon.
    EXPECT_EQ(unknownIn({"-to:a@b", "-subject:Hi", "-bc:x"}), "Unknown option: -subject:Hi");
    EXPECT_EQ(unknownIn({"-rm:1"}), "Unknown option: -rm:1");
    EXPECT_EQ(unknownIn({"-to", "a@b"}), "-to needs a value: -to:ADDR");
    EXPECT_EQ(unknownIn({"-a"}), "-a needs a value: -a:FILE");
    // Number options take a whole number in their range; -port: a service name as well.
    EXPECT_EQ(unknownIn({"-cnt:2", "-port:smtp", "-port:2525", "-tmo:1", "-limit:0", "-v:3", "-retries:\"2\""}), "");
    for (const char* bad : {"-cnt:x", "-cnt:0", "-port:abc", "-port:2525x", "-port:70000", "-tmo:x", "-tmo:0", "-limit:-3", "-v:"})
        EXPECT_EQ(unknownIn({"-to:a@b", bad}).rfind(std::string("Bad value: ") + bad + " (", 0), 0u) << bad;
    EXPECT_EQ(unknownIn({"-tmo:0"}), "Bad value: -tmo:0 (SECONDS: a whole number from 1 to 31536000)");
    // The XML command's steps after -xml are its own.
    EXPECT_EQ(unknownIn({"-xml", "f.xml", "/a/b", "-set:x"}), "");
}

TEST(StrictCheck, ConfigurationWordsAreKeysOrLabels) {
    test::TempFolder folder;
    // Keys in any case, labels, the web page keys, empty lines and "#" comments pass; TOKEN
    // would set TO by the prefix rule but is no key as a word.
    const std::string good = folder.put("good.txt", "smtp_host h\r\n\n# note\nSTRING_Size Groesse\nTITLE t\nSTRICT\n");
    EXPECT_EQ(unknownConfigKey(good.c_str()), "");
    const std::string bad = folder.put("bad.txt", "TO a@b\nFROM c@d\nTOKEN x\nTOO y\n");
    EXPECT_EQ(unknownConfigKey(bad.c_str()), bad + ":3: unknown key TOKEN");
    // A word is a key only whole: neither a key's beginning nor a label's is one.
    for (const char* line : {"SMTP_HOS h", "smtp_hostname h", "STRING_Siz x", "PROXY_HOS p"}) {
        const std::string one = folder.put("one.txt", std::string(line) + "\n");
        EXPECT_EQ(unknownConfigKey(one.c_str()), one + ":1: unknown key " + std::string(line).substr(0, std::strcspn(line, " ")))
            << line;
    }

    // Asked for by the key only when the file is read, and by QARVEL_STRICT=1 only.
    char name[] = "qarvel";
    char* argv[] = {name, nullptr};
    EXPECT_TRUE(strictRequested(1, argv, good.c_str(), true));
    EXPECT_FALSE(strictRequested(1, argv, good.c_str(), false));
    setenv("QARVEL_STRICT", "yes", 1);
    EXPECT_FALSE(strictRequested(1, argv, bad.c_str(), true));
    setenv("QARVEL_STRICT", "1", 1);
    EXPECT_TRUE(strictRequested(1, argv, bad.c_str(), false));
    unsetenv("QARVEL_STRICT");
}

// A strict run that meets an unknown option or key ends with 64 before anything is sent.
// An unknown option is a usage fault (64), an unknown key a configuration fault (78).
TEST(StrictCheck, RefusalEndsTheRunWithItsStatus) {
    test::TempFolder folder;
    const std::string config = folder.put("q.txt", "SMTP_HOS mail.example\n");
    const struct {
        std::string argument, message;
        int status;
    } runs[] = {
        {"-subject:Hi", "Unknown option: -subject:Hi\n", 64},
        {"-config:" + config, config + ":1: unknown key SMTP_HOS\n", 78},
    };
    for (const auto& [argument, message, status] : runs) {
        test::ProgramResult r =
            test::runQarvel({"-strict", "-host:127.0.0.1", "-port:1", "-from:a@x.org", "-to:b@x.org", "-msg:m", argument});
        EXPECT_EQ(r.exitCode, status) << argument << r.err;
        EXPECT_EQ(r.err, message);
    }
}

}  // namespace
}  // namespace qarvel
