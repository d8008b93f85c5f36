#include "config/command_line.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <set>
#include <string>
#include <vector>

#include "config/config_file.h"
#include "config/process.h"
#include "config/settings.h"
#include "support/field_changes.h"

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
    EXPECT_EQ(p.s.addresses.to, "a@x.org,b@x.org");
    EXPECT_EQ(p.s.addresses.cc, "c@x.org");
    EXPECT_EQ(p.s.addresses.from, "f@x.org");
}

TEST(CommandLine, MessageNumbersEscapesAndIntervals) {
    Parsed p;
    parse(p, {"-msg:12", "-hdr:X-A: 1\\r\\nX-B: \\q", "-disconnect:hang up", "-every:0"});
    EXPECT_EQ(p.s.receive.lastMessage, 12);
    EXPECT_EQ(p.s.receive.messageNumber, 12);
    EXPECT_EQ(p.s.content.messageText, "12");
    EXPECT_EQ(p.s.content.extraHeaders, "X-A: 1\r\nX-B: \\q");
    EXPECT_EQ(p.s.tools.disconnect, "hang up /disconnect");
    EXPECT_EQ(p.objects.configRequested, 1);
    EXPECT_EQ(p.s.tools.everySeconds, 60);

    Parsed q;
    parse(q, {"-severy:0", "-msg:a\\tb", "-noesc", "-msg:c\\qd"});
    EXPECT_EQ(q.s.tools.everySeconds, 0);
    EXPECT_EQ(q.s.content.messageText, "c\\qd");  // after -noesc other backslashes stay
    Parsed r;
    parse(r, {"-severy:-4", "-user:\"me \"", "-pass:p w"});
    EXPECT_EQ(r.s.tools.everySeconds, 1);
    EXPECT_EQ(r.s.receive.user, "\"me \"");  // taken exactly as written
    EXPECT_EQ(r.s.receive.password, "p w");
}

TEST(CommandLine, ImapOptionsOnlyInImapModeAndFlagsNeedTheWholeArgument) {
    Parsed p;
    parse(p, {"-mbox:Sent", "-extractx", "-rm"});
    EXPECT_EQ(p.s.receive.mailbox, "INBOX");
    EXPECT_FALSE(p.s.receive.extract);
    EXPECT_TRUE(p.s.receive.remove);
    Parsed q;
    parse(q, {"-imap", "-mbox:Sent", "-create:New", "-extract:/tmp/out"});
    EXPECT_EQ(q.s.receive.mailbox, "Sent");
    EXPECT_EQ(q.s.receive.createMailbox, "New");
    EXPECT_TRUE(q.s.tools.quiet && q.s.receive.brief && q.s.receive.imapCommand);
}

// An option of a key's name (-to: TO, -ssl SSL, -nodh NODH) sets the fields the key sets, to the
// same values, in IMAP mode (where the IMAP options count). The rest: below and the manual's.
TEST(CommandLine, EveryOptionOfAKeysNameSetsWhatTheKeySets) {
    std::set<std::string> keys;
    for (const std::string& key : configKeyNames()) keys.insert(key.substr(0, key.find(' ')));
    // -disconnect and -extract are the flag forms, --noesc is NONOESC, the sender pattern's
    // negation is the option's alone, SEARCH is an old key without effect, MAIL leaves the
    // IMAP and news modes too, and these take more: the text (-msg:), the attachments asked
    // for (-noatt), a count from the message number (-first:), seconds (-idle:), no body.
    const std::set<std::string> unlike = {"-disconnect", "-extract", "--noesc", "-nospat:", "-search:", "-mail",
                                          "-msg:", "-noatt", "-first:", "-idle:", "-nomsg"};
    const std::vector<std::string> scanned = {"-host:", "-firewall:", "-meter:", "-strict"};
    Parsed imap;
    parse(imap, {"-imap"});
    const test::FieldValues start = test::fieldsOf(imap.s);
    size_t compared = 0;
    testing::internal::CaptureStderr();  // -a: and A warn of their missing file
    testing::internal::CaptureStdout();  // -url: and URL tell of the download
    std::vector<std::string> failures;
    for (const std::string& option : optionNames()) {
        std::string key;
        for (char c : option)
            if (c != '-' && c != ':') key += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        if (!keys.count(key) || unlike.count(option) || std::count(scanned.begin(), scanned.end(), option)) continue;
        Parsed byOption, byKey;
        parse(byOption, {"-imap", (option.back() == ':' ? option + "7" : option).c_str()});
        parse(byKey, {"-imap"});
        applyConfigLine((key + " 7").c_str(), byKey.s, byKey.objects);
        const test::FieldValues fromOption = test::fieldsOf(byOption.s), fromKey = test::fieldsOf(byKey.s);
        for (const std::string& name : test::changedFields(fromKey, fromOption))
            failures.push_back(option + " " + name + "=" + fromOption.at(name) + ", " + key + " " + fromKey.at(name));
        if (!test::changedFields(start, fromKey).empty()) ++compared;
    }
    testing::internal::GetCapturedStdout();
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(failures, std::vector<std::string>());
    EXPECT_GT(compared, 60u);
}

TEST(CommandLine, ScansTakeHostsPortsAndTheConfigurationName) {
    Parsed p;
    resetSettings(p.s, true);
    const char* args[] = {"qarvel", "-host:mail.test", "-port:2525", "-config:site.txt", "-tmo:x"};
    scanRunOptions(5, const_cast<char**>(args), p.s, p.objects);
    EXPECT_EQ(p.s.servers.pop3Host, "mail.test");
    EXPECT_EQ(p.s.servers.dnsServerHost, "mail.test");
    EXPECT_EQ(p.s.servers.smtpPort, "2525");
    EXPECT_EQ(p.s.servers.qmtpPort, "2525");
    EXPECT_EQ(p.objects.configFile, "site.txt");
    EXPECT_EQ(p.objects.configRequested, kConfigNamed);
    EXPECT_EQ(p.s.connection.timeoutSeconds, 0);
    EXPECT_EQ(p.s.servers.proxyHost, "mail.test");

    // A path is no network host: the file of -mf is never the proxy of the downloads.
    Parsed file;
    resetSettings(file.s, true);
    const char* fileArgs[] = {"qarvel", "-mf", "-host:/tmp/out.eml"};
    scanRunOptions(3, const_cast<char**>(fileArgs), file.s, file.objects);
    EXPECT_EQ(file.s.servers.smtpHost, "/tmp/out.eml");
    EXPECT_TRUE(file.s.servers.proxyHost.empty()) << file.s.servers.proxyHost.c_str();
}

} // namespace
} // namespace qarvel
