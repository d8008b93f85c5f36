#include <gtest/gtest.h>

#include "run/settings.h"

namespace qarvel {

TEST(Settings, ResetForms) {
    Settings s;
    s.files.add("kept");
    s.smtpHost = "mail.example";
    s.wrap = 10;
    resetSettings(s, true);
    EXPECT_EQ(s.smtpHost, "localhost");
    EXPECT_EQ(s.pop3Host, "localhost");
    EXPECT_EQ(s.imapHost, "localhost");
    EXPECT_EQ(s.nntpHost, "localhost");
    EXPECT_EQ(s.capHost, "localhost");
    EXPECT_EQ(s.ldapHost, "localhost");
    EXPECT_EQ(s.dnsServerHost, "localhost");
    EXPECT_EQ(s.smtpPort, "25");
    EXPECT_EQ(s.qmtpPort, "209");
    EXPECT_EQ(s.pop3Port, "110");
    EXPECT_EQ(s.imapPort, "143");
    EXPECT_EQ(s.nntpPort, "119");
    EXPECT_EQ(s.capPort, "5229");
    EXPECT_EQ(s.ldapPort, "389");
    EXPECT_EQ(s.wrap, 72);
    EXPECT_EQ(s.files.count(), 1u);

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
}

} // namespace qarvel
