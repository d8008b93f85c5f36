#include "config/option_values.h"

#include <gtest/gtest.h>

namespace qarvel {
namespace {

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
