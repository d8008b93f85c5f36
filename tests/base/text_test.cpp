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
