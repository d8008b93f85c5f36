#include "config/command_line.h"

#include <gtest/gtest.h>

#include <vector>

#include "config/process.h"
#include "config/settings.h"

namespace qarvel {
namespace {

struct Parsed {
    Settings s;
    ProcessObjects objects;
};

void parse(Parsed& p, std::vector<const char*> args) {
    args.insert(args.begin(), "qarvel");
    resetSettings(p.s, true);
    parseCommandLine(static_cast<int>(args.size()), const_cast<char**>(args.data()), p.s, p.objects);
}

TEST(CommandLine, AddressesAppendQuotesGoAndCaseMatters) {
    Parsed p;
    parse(p, {"-to:\"a@x.org\"", "-to:b@x.org", "-TO:c@x.org", "-cc:c@x.org", "-from:f@x.org  "});
    EXPECT_EQ(p.s.to, "a@x.org,b@x.org");
    EXPECT_EQ(p.s.toAsEntered, "a@x.org,b@x.org");
    EXPECT_EQ(p.s.cc, "c@x.org");
    EXPECT_EQ(p.s.from, "f@x.org");
}

TEST(CommandLine, MessageNumbersEscapesAndIntervals) {
    Parsed p;
    parse(p, {"-msg:12", "-hdr:X-A: 1\\r\\nX-B: \\q", "-disconnect:hang up", "-every:0"});
    EXPECT_EQ(p.s.first, 12);
    EXPECT_EQ(p.s.messageNumber, 12);
    EXPECT_EQ(p.s.messageText, "12");
    EXPECT_EQ(p.s.hdr, "X-A: 1\r\nX-B: \\q");
    EXPECT_EQ(p.s.disconnect, "hang up /disconnect");
    EXPECT_EQ(p.objects.configRequested, 1);
    EXPECT_EQ(p.s.every, 60);

    Parsed q;
    parse(q, {"-severy:0", "-msg:a\\tb", "-noesc", "-msg:c\\qd"});
    EXPECT_EQ(q.s.every, 0);
    EXPECT_EQ(q.s.messageText, "c\\qd");  // after -noesc other backslashes stay
    Parsed r;
    parse(r, {"-severy:-4", "-user:\"me \"", "-pass:p w"});
    EXPECT_EQ(r.s.every, 1);
    EXPECT_EQ(r.s.user, "\"me \"");  // taken exactly as written
    EXPECT_EQ(r.s.password, "p w");
}

TEST(CommandLine, ImapOptionsOnlyInImapModeAndFlagsNeedTheWholeArgument) {
    Parsed p;
    parse(p, {"-mbox:Sent", "-extractx", "-rm"});
    EXPECT_EQ(p.s.mbox, "INBOX");
    EXPECT_EQ(p.s.extract, 0);
    EXPECT_EQ(p.s.rm, 1);
    Parsed q;
    parse(q, {"-imap", "-mbox:Sent", "-create:New", "-extract:/tmp/out"});
    EXPECT_EQ(q.s.mbox, "Sent");
    EXPECT_EQ(q.s.createMailbox, "New");
    EXPECT_EQ(q.s.quiet + q.s.br + q.s.imapCommand, 3);
    EXPECT_EQ(q.s.extractFolder, "/tmp/out");
    EXPECT_EQ(q.s.extract, 1);
}

TEST(CommandLine, MissingAttachmentIsCountedAndAnExistingOneQueued) {
    Parsed p;
    testing::internal::CaptureStderr();
    parse(p, {"-a:/nonexistent/file.bin", "-a:/etc/hostname"});
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("WARNING: attachment '/nonexistent/file.bin' does not exist! (2)"), std::string::npos);
    EXPECT_EQ(p.s.missingAttachments, 1);
    ASSERT_EQ(p.objects.attachments.size(), 1u);
    EXPECT_EQ(p.objects.attachments[0].path, "/etc/hostname");
}

TEST(CommandLine, ScansTakeHostsPortsAndTheConfigurationName) {
    Parsed p;
    resetSettings(p.s, true);
    const char* args[] = {"qarvel", "-host:mail.test", "-port:2525", "-config:site.txt", "-tmo:x"};
    scanRunOptions(5, const_cast<char**>(args), p.s, p.objects);
    EXPECT_EQ(p.s.pop3Host, "mail.test");
    EXPECT_EQ(p.s.dnsServerHost, "mail.test");
    EXPECT_EQ(p.s.smtpPort, "2525");
    EXPECT_EQ(p.s.qmtpPort, "2525");
    EXPECT_EQ(p.objects.configFile, "site.txt");
    EXPECT_EQ(p.objects.configRequested, kConfigNamed);
    EXPECT_EQ(p.s.timeoutSeconds, 0);
    EXPECT_EQ(p.s.proxyHost, "mail.test");

    // A path is no network host: the file of -mf is never the proxy of the downloads.
    Parsed file;
    resetSettings(file.s, true);
    const char* fileArgs[] = {"qarvel", "-mf", "-host:/tmp/out.eml"};
    scanRunOptions(3, const_cast<char**>(fileArgs), file.s, file.objects);
    EXPECT_EQ(file.s.smtpHost, "/tmp/out.eml");
    EXPECT_TRUE(file.s.proxyHost.empty()) << file.s.proxyHost.c_str();
}

} // namespace
} // namespace qarvel
