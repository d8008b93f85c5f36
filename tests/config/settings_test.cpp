#include <gtest/gtest.h>

#include "config/settings.h"

namespace qarvel {

// The first form sets the default hosts, ports and names; the other leaves every string empty.
// Both put the integers back to their initial values and keep the lists and the time-out.
TEST(Settings, ResetForms) {
    Settings s;
    s.content.files.add("kept");
    s.servers.timeoutSeconds = 7;
    s.servers.smtpHost = "mail.example";
    s.servers.bufferSize = 10;
    s.receive.decodeHeaders = false;
    resetSettings(s, true);
    EXPECT_EQ(s.servers.smtpHost, "localhost");
    EXPECT_EQ(s.servers.smtpPort, "25");
    EXPECT_EQ(s.servers.pop3Port, "110");
    EXPECT_EQ(s.servers.bufferSize, 4096);
    EXPECT_TRUE(s.receive.decodeHeaders);
    EXPECT_EQ(s.content.files.count(), 1u);
    EXPECT_EQ(s.servers.timeoutSeconds, 7);

    s.servers.bufferSize = 5;
    s.sender = SenderKind::kFile;
    s.receive.lastMessage = 3;
    resetSettings(s, false);
    EXPECT_TRUE(s.servers.smtpHost.empty());
    EXPECT_TRUE(s.servers.smtpPort.empty());
    EXPECT_TRUE(s.content.contentType.empty());
    EXPECT_EQ(s.servers.discoveredDnsServer, "localhost");
    EXPECT_EQ(s.servers.bufferSize, 4096);
    EXPECT_EQ(s.sender, SenderKind::kSmtp);
    EXPECT_EQ(s.receive.lastMessage, 2147483647);
    EXPECT_EQ(s.content.files.count(), 1u);
    EXPECT_EQ(s.servers.timeoutSeconds, 7);
}

} // namespace qarvel
