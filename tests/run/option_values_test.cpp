#include "run/option_values.h"

#include <gtest/gtest.h>

namespace qarvel {
namespace {

TEST(OptionValues, QuotesBlanksAndTheThreeEscapeModes) {
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

TEST(OptionValues, NumbersAndDisconnect) {
    EXPECT_EQ(readNumber("12abc"), 12);
    EXPECT_EQ(readNumber("-5"), -5);
    EXPECT_EQ(readNumber("x5"), 0);
    EXPECT_EQ(readNumber("99999999999999"), 2147483647);
    EXPECT_EQ(withDisconnectSwitch("dial"), "dial /disconnect");
    EXPECT_EQ(withDisconnectSwitch("dial /DISConnect now"), "dial /DISConnect now");
}

} // namespace
} // namespace qarvel
