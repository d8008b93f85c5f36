#include "config/config_file.h"

#include <gtest/gtest.h>

#include <cctype>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "config/command_line.h"

#include "config/labels.h"
#include "config/process.h"
#include "config/settings.h"
#include "support/field_changes.h"
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
    EXPECT_TRUE(c.s.content.messageId);  // MSGID and MSGLEN are not MSG
    EXPECT_EQ(c.s.receive.lastMessage, 3);

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

    c.lines({"EVERY 2", "QP x"});
    EXPECT_EQ(c.s.tools.everySeconds, 120);
    EXPECT_EQ(c.s.content.quotedPrintable, 0);  // a number that cannot be read gives 0
}

TEST(ConfigFile, EscapesOfTheValueKeys) {
    Configured c;
    c.lines({"HDR X-A: 1\\r\\nX-B: \\q", "DISCONNECT hang\\tup", "SEP --\\n\\x"});
    EXPECT_EQ(c.s.content.extraHeaders, "X-A: 1\r\nX-B: q");
    EXPECT_EQ(c.s.tools.disconnect, "hang\tup /disconnect");
    EXPECT_EQ(c.s.receive.separator, "--\n\\x");
    c.lines({"NOESC", "HDR X-B: \\q", "VPIM"});
    EXPECT_EQ(c.s.content.extraHeaders, "X-B: \\q");
    EXPECT_EQ(c.objects.voice, 1);
}

// A port key of the file keeps its port beside SSL, before it or after it.
TEST(ConfigFile, PortKeysKeepTheirPortsBesideSsl) {
    test::TempFolder folder;
    for (const char* text : {"POP3_PORT 10995\nSSL\n", "SSL\npop3 10995\n"}) {
        Configured f;
        readConfigMain(folder.put("ssl.txt", text).c_str(), f.s, f.objects);
        EXPECT_EQ(f.s.servers.pop3Port, "10995") << text;
        EXPECT_EQ(f.s.servers.imapPort, "993") << text;
    }
}

// The fields a key sets, where they are not the one field of the key's own name (SMTP_HOST
// servers.smtpHost, SEEN receive.seenFile); the NO form of a key clears the same fields. The
// first row: keys that are taken and set nothing.
const char* const kKeyFields[] = {
    "STRICT SEARCH ATTRIB LDAPCC LDAPBCC BINDDN BINDPWD CAP_HOST LDAP_PORT CAP_PORT MSGLEN NOPGP TRAIN UID VPIM P I:",
    "LDAPASDNS: servers.ldapAsDnsServer", "ALIASES: addresses.aliasFile", "QMTP_HOST: servers.smtpHost",
    "HOST: servers.smtpHost servers.pop3Host servers.imapHost servers.nntpHost", "SMTP: servers.smtpPort",
    "NNTP: servers.nntpPort", "POP3: servers.pop3Port", "IMAP4: servers.imapPort", "IMAP: reader receive.imap",
    "UMBOX: receive.unixMailbox", "MF: sender", "QMTP: sender smtp.qmtp", "NONEWS: content.quotedPrintable smtp.news sender",
    "MAIL: reader sender receive.user receive.password receive.preauthenticated receive.imap smtp.news",
    "FIRST: receive.lastMessage", "MSGID: content.messageId", "MSG NOMSG: receive.lastMessage receive.messageNumber", "ESC NOESC: content.escapeMode",
    "UNIQUE: receive.uniqueNames", "NOALT: content.alternative",
    "EVERY SEVERY: tools.everySeconds", "PREAUTH: receive.preauthenticated", "MIME: content.contentType",
    "NOHTML: content.html", "KBS: receive.showRate", "BR: receive.brief", "FULL: receive.fullHeaders",
    "HASH: addresses.keepHashLines", "GMT UTC: content.universalTime", "CHARSET: content.charset content.charsetChosen",
    "DEST: web.destination", "A: content.missingAttachments", "EXTRACT: receive.extract receive.extractFolder",
    "PASSCMD: receive.passwordCommand receive.password", "PASSFILE: receive.passwordFile receive.password",
    "PASS: receive.password",
    "AUTH: receive.authMechanism", "ORG: content.organization", "SENS: content.sensitivity",
    "PAT NOPAT: receive.subjectPattern receive.subjectPatternNegated", "SPAT NOSPAT: receive.senderPattern",
    "NOATT: receive.showAttachments", "HIGH LOW NORMAL: content.priority", "DH: receive.decodeHeaders",
    "EH: content.encodeHeaders", "NOTIFY: content.returnReceipt content.dispositionNotification",
    "MDN: content.dispositionNotification receive.readReceipt", "QP: content.quotedPrintable", "DSN: content.returnReceipt",
    "SIZE: receive.showSize", "PU: receive.purge", "RECEIPT: receive.readReceipt", "IDLE: receive.idleSeconds",
    "SSL: connection.ssl servers.smtpPort servers.pop3Port servers.imapPort servers.nntpPort",
    "CERT: connection.certificateFile", "KEY: connection.keyFile", "RMLIST: tools.removeListFiles",
    "RMFILE: tools.removeFile", "RM: receive.remove", "LIMIT: smtp.recipientLimit", "IPV6: connection.preferIpv6",
    "NS: smtp.goOnPastErrors", "INLINE: content.inlineAttachments", "BINARY: content.binaryAttachments",
    "TEXT: content.textAttachments", "NOIMPORT: smtp.importBatch", "ARCHIVE: smtp.noArchive", "SEP: receive.separator",
    "FILE: content.messageFile content.files", "NOMX: servers.directToMx", "HDR: content.extraHeaders",
};

std::string lower(std::string text) {
    std::string out;
    for (char c : text)
        if (c != '_' && c != '-') out += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

std::set<std::string> wordsOf(const std::string& text) {
    std::istringstream in(text);
    std::set<std::string> words;
    for (std::string word; in >> word;) words.insert(word);
    return words;
}

test::FieldNames expectedFields(const std::string& key, const test::FieldValues& fields) {
    for (const std::string row : kKeyFields) {
        const size_t colon = row.find(':');
        if (wordsOf(row.substr(0, colon)).count(key)) return wordsOf(row.substr(colon + 1));
    }
    test::FieldNames names;
    for (const auto& [name, value] : fields) {
        const std::string member = lower(name.substr(name.find('.') + 1));
        if (member == lower(key) || member == lower(key) + "file") names.insert(name);
    }
    return names;
}

// Every key sets the fields it names and no other, from the first-time settings and from
// settings every option has turned (but those that ask a name server); its NO form (given a value of its own, which a
// NOPAT or NOSPAT takes) sets the same fields back: a string empty, a flag 0.
TEST(ConfigFile, EveryKeySetsItsOwnFieldsAndItsNoFormClearsThem) {
    std::set<std::string> keys;
    for (std::string key : configKeyNames()) keys.insert(key.substr(0, key.find(' ')));
    Configured flipped;
    std::vector<std::string> options = {"qarvel"};
    for (const std::string& option : optionNames())
        if (option != "-srv:" && option != "-txt:") options.push_back(option.back() == ':' ? option + "6" : option);
    std::vector<const char*> argv;
    for (const std::string& option : options) argv.push_back(option.c_str());
    // The -a: option and the A key warn of their missing file, -url: and URL tell of the download.
    const auto quietly = [](auto apply) {
        testing::internal::CaptureStderr();
        testing::internal::CaptureStdout();
        apply();
        testing::internal::GetCapturedStdout();
        testing::internal::GetCapturedStderr();
    };
    quietly([&] { parseCommandLine(static_cast<int>(argv.size()), const_cast<char**>(argv.data()), flipped.s, flipped.objects); });
    const test::FieldValues fresh = test::fieldsOf(Configured().s);
    // These NO forms set a second value rather than clearing; those of MAIL, SSL, FILE and the
    // password sources leave the login, the ports, the file list and the other sources alone.
    const std::set<std::string> choices = {"ESC", "NOESC", "MSG", "ARCHIVE", "PAT", "SPAT"}, partial = {"MAIL", "SSL", "FILE", "PASSCMD", "PASSFILE"};
    for (const std::string& key : keys) {
        if (key.starts_with("NO") && keys.count(key.substr(2)) && key != "NOESC") continue;  // with its key
        if (std::set<std::string>{"PROXY_HOST", "PROXY_PORT", "METER"}.count(key)) continue;  // the early pass
        const std::string line = key + " 7";
        Configured once, turned;
        turned.s = flipped.s;
        quietly([&] { once.lines({line.c_str()}), turned.lines({line.c_str()}); });
        test::FieldNames set = test::changedFields(fresh, test::fieldsOf(once.s));
        test::FieldNames fromTurned = test::changedFields(test::fieldsOf(flipped.s), test::fieldsOf(turned.s));
        set.insert(fromTurned.begin(), fromTurned.end());
        const test::FieldNames expected = expectedFields(key, fresh);
        const std::string noForm = "NO" + key;
        if (keys.count(noForm)) {
            const test::FieldValues before = test::fieldsOf(once.s);
            quietly([&] { once.lines({(noForm + " 8").c_str()}); });
            const test::FieldValues after = test::fieldsOf(once.s);
            const test::FieldNames cleared = test::changedFields(before, after);
            set.insert(cleared.begin(), cleared.end());
            if (!partial.count(key)) {
                EXPECT_EQ(cleared, expected) << noForm;
            }
            for (const std::string& name : cleared) {
                if (choices.count(key)) continue;
                EXPECT_TRUE(after.at(name) == "\"\"" || after.at(name) == "0" || after.at(name) == fresh.at(name))
                    << noForm << " leaves " << name << "=" << after.at(name);
            }
        }
        EXPECT_EQ(set, expected) << key;
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
