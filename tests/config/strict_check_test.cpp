#include "config/strict_check.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

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
    EXPECT_EQ(unknownIn({"-to", "a@b"}), "Unknown option: -to");
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

}  // namespace
}  // namespace qarvel
