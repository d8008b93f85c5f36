// The configuration file's line reader (lines cut at the format's width, the rest of a long
// line skipped, CR LF and LF line ends, a last line without a line end) and the option values.
#include "config/config_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "config/option_values.h"
#include "support/temp_folder.h"

namespace qarvel {
namespace {

std::vector<std::string> linesOf(const std::string& text, size_t width) {
    test::TempFolder folder;
    std::vector<std::string> lines;
    forEachConfigLine(String(folder.put("q.txt", text)), width,
                      [&](const char* line) { lines.emplace_back(line); });
    return lines;
}

TEST(ConfigLine, LongLinesAreCutAndTheRestSkipped) {
    std::vector<std::string> lines = linesOf(std::string(300000, 'x') + "\nSUBJECT ok\r\n\nlast", 4095);
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], std::string(4095, 'x'));
    EXPECT_EQ(lines[1], "SUBJECT ok\r");  // the value reader stops at the CR
    EXPECT_EQ(lines[2], "");
    EXPECT_EQ(lines[3], "last");
    // A file without any line end is one line of the format's width.
    lines = linesOf(std::string(500000, 'y'), 1023);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].size(), 1023u);
    EXPECT_TRUE(linesOf("", 4095).empty());
    // A file past the limit is not read at all.
    EXPECT_TRUE(linesOf(std::string(2 << 20, 'z'), 1023).empty());
}

TEST(OptionValues, NumbersAndDisconnect) {
    EXPECT_EQ(readNumber("12abc"), 12);
    EXPECT_EQ(readNumber("-5"), -5);
    EXPECT_EQ(readNumber("x5"), 0);
    EXPECT_EQ(readNumber("99999999999999"), 2147483647);
    EXPECT_EQ(withDisconnectSwitch("dial"), "dial /disconnect");
    EXPECT_EQ(withDisconnectSwitch("dial /DISConnect now"), "dial /DISConnect now");
}

}  // namespace
}  // namespace qarvel
