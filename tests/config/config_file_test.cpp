#include "config/config_file.h"

#include <gtest/gtest.h>

#include <string>

#include "config/labels.h"
#include "config/process.h"
#include "config/settings.h"
#include "support/temp_folder.h"

namespace qarvel {
namespace {

// A settings record and the process objects the keys fill.
struct Configured {
    Settings s;
    ProcessObjects objects;

    Configured() {
        resetSettings(s, true);
        resetLabels();
    }
    void lines(std::initializer_list<const char*> text) {
        for (const char* line : text) applyConfigLine(line, s, objects);
    }
};

TEST(ConfigFile, KeysMatchByPrefixInAnyCaseAndTheFirstKeyWins) {
    Configured c;
    c.lines({"HOST first.example\r", "smtp_host second.example", "MSGID", "MSGLEN 5000", "MSG 3",
             "# a comment", "", "NOSUCHKEY value"});
    EXPECT_EQ(c.s.servers.smtpHost, "second.example");
    EXPECT_EQ(c.s.servers.pop3Host, "first.example");  // the CR is not part of the value
    EXPECT_EQ(c.s.servers.imapHost, "first.example");
    EXPECT_EQ(c.s.servers.nntpHost, "first.example");
    EXPECT_TRUE(c.s.content.messageId);
    EXPECT_EQ(c.s.receive.lastMessage, 3);
    EXPECT_EQ(c.s.receive.messageNumber, 3);

    // TO matches any line that begins with it; TO alone empties the list.
    c.lines({"TOKEN x@y.org"});
    EXPECT_EQ(c.s.addresses.to, "x@y.org");
    c.lines({"TO"});
    EXPECT_EQ(c.s.addresses.to, "");

    // The short format keeps 255 characters, the long one 1023.
    const std::string longValue(300, 'v');
    c.lines({("FROM " + longValue).c_str(), ("SUBJECT \"" + longValue + "\"").c_str()});
    EXPECT_EQ(c.s.addresses.from.length(), 255u);
    EXPECT_EQ(c.s.content.subject, longValue.c_str());

    c.lines({"NOMSG", "EVERY 2", "QP x"});
    EXPECT_EQ(c.s.receive.lastMessage, -1);
    EXPECT_EQ(c.s.receive.messageNumber, 1);
    EXPECT_EQ(c.s.tools.everySeconds, 120);
    EXPECT_EQ(c.s.content.quotedPrintable, 0);  // a number that cannot be read gives 0
}

TEST(ConfigFile, KeysThatChooseObjectsAndEscapes) {
    Configured c;
    c.lines({"MAIL"});
    EXPECT_EQ(c.s.reader, ReaderKind::kFile);
    EXPECT_EQ(c.s.receive.user, "dummy");
    EXPECT_TRUE(c.s.receive.preauthenticated);
    c.lines({"MF"});
    EXPECT_EQ(c.s.sender, SenderKind::kFile);
    c.lines({"QMTP"});
    EXPECT_EQ(c.s.sender, SenderKind::kQmtp);
    c.lines({"NOMAIL"});
    EXPECT_EQ(c.s.reader, ReaderKind::kPop3);
    EXPECT_EQ(c.s.sender, SenderKind::kSmtp);
    c.lines({"VPIM"});
    EXPECT_EQ(c.objects.voice, 1);

    c.lines({"HDR X-A: 1\\r\\nX-B: \\q", "DISCONNECT hang\\tup", "SEP --\\n\\x", "EXTRACT /tmp/out"});
    EXPECT_EQ(c.s.content.extraHeaders, "X-A: 1\r\nX-B: q");
    EXPECT_EQ(c.s.tools.disconnect, "hang\tup /disconnect");
    EXPECT_EQ(c.s.receive.separator, "--\n\\x");
    EXPECT_TRUE(c.s.receive.extract);
    EXPECT_EQ(c.s.receive.extractFolder, "/tmp/out");
    c.lines({"NOESC", "HDR X-B: \\q", "NOPAT *@spam.org", "SPAT hello"});
    EXPECT_EQ(c.s.content.extraHeaders, "X-B: \\q");
    EXPECT_EQ(c.s.receive.subjectPattern, "*@spam.org");
    EXPECT_TRUE(c.s.receive.subjectPatternNegated);
    EXPECT_FALSE(c.s.receive.senderPatternNegated);
}

TEST(ConfigFile, TlsAndLoginKeysWithTheirNoForms) {
    Configured c;
    c.lines({"SSL", "TLS", "CAFILE /etc/ca.pem", "INSECURE", "CERT c.pem", "KEY k.pem", "LEVEL 2", "AUTH xoauth2",
             "APOP", "PASSFILE /run/pw"});
    const ConnectionOptions& tls = c.s.connection;
    EXPECT_TRUE(tls.ssl && tls.tls && tls.insecure && c.s.receive.apop);
    EXPECT_EQ(tls.caFile, "/etc/ca.pem");
    EXPECT_EQ(tls.certificateFile, "c.pem");
    EXPECT_EQ(tls.keyFile, "k.pem");
    EXPECT_EQ(tls.level, 2);
    EXPECT_EQ(c.s.receive.authMechanism, "xoauth2");
    EXPECT_EQ(c.s.receive.passwordFile, "/run/pw");
    EXPECT_EQ(c.s.servers.smtpPort + c.s.servers.pop3Port + c.s.servers.imapPort + c.s.servers.nntpPort, "465995993563");
    c.lines({"NOSSL", "NOTLS", "NOCAFILE", "NOINSECURE", "NOCERT", "NOKEY", "NOAUTH", "NOAPOP", "NOPASSFILE",
             "PASSCMD pass show mail", "NOPASSCMD"});
    EXPECT_FALSE(tls.ssl || tls.tls || tls.insecure || c.s.receive.apop);
    EXPECT_EQ(tls.caFile + tls.certificateFile + tls.keyFile + c.s.receive.authMechanism + c.s.receive.passwordFile +
                  c.s.receive.passwordCommand,
              "");

    // A port key of the file keeps its port beside SSL, before it or after it.
    test::TempFolder folder;
    for (const char* text : {"POP3_PORT 10995\nSSL\n", "SSL\npop3 10995\n"}) {
        Configured f;
        readConfigMain(folder.put("ssl.txt", text).c_str(), f.s, f.objects);
        EXPECT_EQ(f.s.servers.pop3Port, "10995") << text;
        EXPECT_EQ(f.s.servers.imapPort, "993") << text;
    }
}

TEST(ConfigFile, AttachmentsAndIncludes) {
    test::TempFolder folder;
    const std::string present = folder.put("present", "data");
    Configured c;
    testing::internal::CaptureStderr();
    c.lines({("A " + present).c_str(), "A /no/such/file", ("P " + present + "|cid:logo").c_str(),
             ("I " + present).c_str(), "I /no/such/include|x"});
    const std::string warnings = testing::internal::GetCapturedStderr();
    EXPECT_EQ(warnings,
              "WARNING: attachment '/no/such/file' does not exist! (2)\n"
              "WARNING: include '/no/such/include' does not exist! (2)\n");
    EXPECT_EQ(c.s.content.missingAttachments, 1);  // missing includes are not counted
    ASSERT_EQ(c.objects.attachments.size(), 3u);
    EXPECT_EQ(c.objects.attachments[0].related, 0);
    EXPECT_EQ(c.objects.attachments[1].name, "cid:logo");
    EXPECT_EQ(c.objects.attachments[1].related, 2);
    EXPECT_EQ(c.objects.attachments[2].name, present.c_str());  // I names the part by its file
    EXPECT_EQ(c.objects.attachments[2].related, 1);
}

TEST(ConfigFile, TheEarlyPassTakesOnlyItsThreeKeys) {
    test::TempFolder folder;
    const std::string file = folder.put("qarvel.txt", "SMTP_HOST mail.example\nPROXY_HOST proxy.example\n"
                                                      "proxy_port 3128\nMETER /tmp/m\nSTRING_Delete Entfernen\n");
    Configured c;
    readConfigEarly(file.c_str(), c.s, c.objects);
    EXPECT_EQ(c.s.servers.smtpHost, "localhost");
    EXPECT_EQ(c.s.servers.proxyHost, "proxy.example");
    EXPECT_EQ(c.s.servers.proxyPort, "3128");
    EXPECT_EQ(c.objects.meterFile, "/tmp/m");
    EXPECT_EQ(labels().deleteButton, "Delete");

    readConfigMain(file.c_str(), c.s, c.objects);
    EXPECT_EQ(c.s.servers.smtpHost, "mail.example");
    EXPECT_EQ(labels().deleteButton, "Entfernen");

    // A file that does not exist is skipped without a word.
    testing::internal::CaptureStderr();
    readConfigMain("/no/such/qarvel.txt", c.s, c.objects);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

TEST(Labels, LongerKeysFirstAnyCaseValuesAsWritten) {
    resetLabels();
    EXPECT_EQ(replaceLabel("STRING_Deletemessage Geloescht #"), 1);
    EXPECT_EQ(labels().deletedMessage, "Geloescht #");
    EXPECT_EQ(labels().deleteButton, "Delete");
    EXPECT_EQ(replaceLabel("string_to \"An\"\r"), 1);
    EXPECT_EQ(labels().to, "\"An\"");  // no unquoting
    EXPECT_EQ(replaceLabel("STRING_Replyto Antwort an"), 1);
    EXPECT_EQ(labels().replyTo, "Antwort an");
    EXPECT_EQ(labels().reply, "Reply...");
    EXPECT_EQ(replaceLabel(("STRING_Subject " + std::string(300, 's')).c_str()), 1);
    EXPECT_EQ(labels().subject.length(), 255u);
    EXPECT_EQ(replaceLabel("STRING_Cc"), 1);
    EXPECT_EQ(labels().cc, "");
    EXPECT_EQ(replaceLabel("SUBJECT x"), 0);
    resetLabels();
    EXPECT_EQ(labels().to, "To");
}

} // namespace
} // namespace qarvel
