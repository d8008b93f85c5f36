#include <gtest/gtest.h>

#include "config/settings.h"

namespace qarvel {

// The first form sets the default hosts, ports and names; the other leaves every string empty.
// Both put the integers back to their initial values and keep the lists and the time-out.
TEST(Settings, ResetForms) {
    Settings s;
    s.files.add("kept");
    s.timeoutSeconds = 7;
    s.smtpHost = "mail.example";
    s.wrap = 10;
    resetSettings(s, true);
    EXPECT_EQ(s.smtpHost, "localhost");
    EXPECT_EQ(s.smtpPort, "25");
    EXPECT_EQ(s.pop3Port, "110");
    EXPECT_EQ(s.wrap, 72);
    EXPECT_EQ(s.files.count(), 1u);
    EXPECT_EQ(s.timeoutSeconds, 7);

    s.wrap = 5;
    s.first = 3;
    resetSettings(s, false);
    EXPECT_TRUE(s.smtpHost.empty());
    EXPECT_TRUE(s.smtpPort.empty());
    EXPECT_TRUE(s.mime.empty());
    EXPECT_EQ(s.discoveredDnsServer, "localhost");
    EXPECT_EQ(s.wrap, 72);
    EXPECT_EQ(s.first, 2147483647);
    EXPECT_EQ(s.files.count(), 1u);
    EXPECT_EQ(s.timeoutSeconds, 7);
}

} // namespace qarvel
