#include "base/progress_line.h"
#include "base/text.h"

#include <gtest/gtest.h>

namespace qarvel {
namespace {

TEST(Text, CaseFreePrefixesAndWordsStayInsideTheirText) {
    EXPECT_TRUE(startsWithNoCase("Content-TYPE: x", "content-type:"));
    EXPECT_FALSE(startsWithNoCase("Content", "content-type"));  // shorter than the prefix
    EXPECT_FALSE(startsWith("Abc", "abc"));
    EXPECT_EQ(findNoCase("a KEEP-alive", "keep-alive"), 2u);
    EXPECT_EQ(findNoCase("ab", "abc"), std::string_view::npos);
    EXPECT_TRUE(containsNoCase("x; Attachment", "attachment"));
    EXPECT_FALSE(containsNoCase(std::string_view("attach\0ment", 6), "attachment"));
    EXPECT_TRUE(isBlank('\t'));
    EXPECT_FALSE(isBlank('\n'));
    EXPECT_TRUE(isSpace('\r'));
    EXPECT_FALSE(isSpace('\0'));
}

// The progress line's text: units up to GiB, the share only for a known size and never past
// 100 (a server that sends more than it announced), no rate before any time has passed.
TEST(Text, ProgressLineAmountsShareAndRate) {
    EXPECT_EQ(ProgressLine::text("Sending", 512, -1, 2.0), "Sending: 512 B, 256 B/s");
    EXPECT_EQ(ProgressLine::text("Downloading", 3 << 20, 12 << 20, 1.5),
              "Downloading: 3.0 MiB of 12.0 MiB (25%), 2.0 MiB/s");
    EXPECT_EQ(ProgressLine::text("Receiving", 5000, 4000, 1.0), "Receiving: 4.9 KiB of 3.9 KiB (100%), 4.9 KiB/s");
    EXPECT_EQ(ProgressLine::text("Receiving", 0, 0, 0.0), "Receiving: 0 B");
    EXPECT_EQ(ProgressLine::text("Sending", int64_t{5} << 30, -1, 1024.0), "Sending: 5.0 GiB, 5.0 MiB/s");
}

TEST(Text, UnquotingQuotesBlanksAndTheThreeEscapeModes) {
    EXPECT_EQ(unquoteValue("\"a b\"  "), "a b");
    EXPECT_EQ(unquoteValue("\" x \""), " x");       // blanks inside go only on the right
    EXPECT_EQ(unquoteValue("a\"b"), "a\"b");        // a quote elsewhere stays
    EXPECT_EQ(unquoteValue("\""), "\"");            // one quote is not a pair
    EXPECT_EQ(unquoteValue("a\\r\\nb\\q", kEscapesKept), "a\\r\\nb\\q");
    EXPECT_EQ(unquoteValue("a\\r\\nb\\q\\\\", kEscapesAll), "a\r\nbq\\");
    EXPECT_EQ(unquoteValue("a\\r\\nb\\q\\t", kEscapesControl), "a\r\nb\\q\t");
    EXPECT_EQ(unquoteValue("end\\", kEscapesAll), "end\\");
    EXPECT_EQ(unquoteValue(nullptr), "");
}

} // namespace
} // namespace qarvel
