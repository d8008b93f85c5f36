// What the system's sendmail does to a message before it goes: the header as sendmail changes
// it (MessageSpool), the addresses of To, Cc and Bcc, the alias mapping of local names, and the
// dead.letter a message that could not go is kept in.
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "send/aliases.h"
#include "send/dead_letter.h"
#include "send/header_addresses.h"
#include "send/message_spool.h"
#include "support/has_text.h"
#include "support/temp_folder.h"

namespace qarvel {
namespace {

using test::has;

using test::TempFolder;

std::string joined(const std::vector<String>& items) {
    std::string text;
    for (const String& item : items) text += (text.empty() ? "" : "|") + item.str();
    return text;
}

TEST(SendmailMessage, AddressesOfAnAddressHeader) {
    const struct {
        const char* value;
        const char* addresses;
    } cases[] = {
        {" Ann <ann@x.org>, bob@y.org (Bob, Jr.)", "ann@x.org|bob@y.org"},
        {" \"Doe, John\" <john@x.org>,\r\n\tjane@x.org", "john@x.org|jane@x.org"},
        {" Team: a@x.org, \"b:c\" <b@x.org>; carl@y.org", "a@x.org|b@x.org|carl@y.org"},
        {" undisclosed-recipients:;", ""},
        {" root", "root"},
        {" <@relay.example:ann@x.org>", "ann@x.org"},
        {" \"john doe\"@x.org", "\"john doe\"@x.org"},
        {" a@x.org (unclosed, comment", "a@x.org"},
        {" ,,, ", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(joined(headerAddresses(c.value)), c.addresses) << c.value;
}

struct Spooled {
    std::string text;
    std::string recipients;
    bool eightBit;
};

Spooled spool(const std::string& input, bool dotEnds = false) {
    TempFolder folder;
    SpoolRules rules;
    rules.dotEnds = dotEnds;
    rules.from = "Ann <ann@example.org>";
    rules.domain = "example.org";
    rules.now = 0;
    MessageSpool spool;
    EXPECT_TRUE(spool.readText(input, rules, String(folder.path))) << spool.error();
    std::string text = folder.read(spool.path().substr(folder.path.size() + 1));
    return {text, joined(spool.headerRecipients()), spool.eightBit()};
}

// A message with its own From, Date and Message-ID keeps them and gains nothing.
const std::string kOwnLines = "From: Bob <bob@example.org>\nDate: Mon, 1 Jun 2026 10:00:00 +0000\nMessage-ID: <1@x>\n";

TEST(SendmailMessage, HeaderAsSendmailChangesIt) {
    const struct {
        std::string input;
        bool dotEnds;
        std::string spooled;
        const char* recipients;
    } cases[] = {
        // Bcc lines (folded ones too) go; their addresses and those of To and Cc are the recipients.
        {kOwnLines + "To: a@x.org\nBcc: hidden@x.org,\n\tother@x.org\nCc: c@x.org\n\nbody\n", false,
         kOwnLines + "To: a@x.org\nCc: c@x.org\n\nbody\n", "a@x.org|hidden@x.org|other@x.org|c@x.org"},
        // Lines of "." are text with -i, and every leading dot is doubled in the file.
        {kOwnLines + ".odd: field\n\n.\n..two\nend", false, kOwnLines + "..odd: field\n\n..\n...two\nend\n", ""},
        // Without -i a lone "." ends the message, in the header or in the body.
        {kOwnLines + "\nkept\n.\nnot read\n", true, kOwnLines + "\nkept\n", ""},
        // A From without a domain gets the mail domain; CR LF becomes LF.
        {"From: root (Cron Daemon)\r\nDate: x\r\nMessage-ID: <2@x>\r\n\r\nb\r\n", false,
         "From: root@example.org (Cron Daemon)\nDate: x\nMessage-ID: <2@x>\n\nb\n", ""},
        {"From: Cron <root>\nDate: x\nMessage-ID: <3@x>\n\n", false,
         "From: Cron <root@example.org>\nDate: x\nMessage-ID: <3@x>\n\n", ""},
        // A line that is no header field begins the body; a leading mailbox separator goes.
        {"From someone Mon Jun  1 10:00:00 2026\n" + kOwnLines + "Just text: no field\n", false,
         kOwnLines + "\nJust text: no field\n", ""},
    };
    for (const auto& c : cases) {
        Spooled s = spool(c.input, c.dotEnds);
        EXPECT_EQ(s.text, c.spooled) << c.input;
        EXPECT_EQ(s.recipients, c.recipients) << c.input;
    }
}

TEST(SendmailMessage, MissingFromDateAndMessageIdAreAdded) {
    Spooled s = spool("Subject: x\nmessage-id: <own@x>\n\nt\xc3\xa9xt\n");
    EXPECT_EQ(s.text.rfind("Subject: x\nmessage-id: <own@x>\nFrom: Ann <ann@example.org>\nDate: ", 0), 0u) << s.text;
    EXPECT_FALSE(has(s.text, "Message-ID:"));
    EXPECT_TRUE(s.eightBit);
    s = spool("");
    EXPECT_TRUE(has(s.text, "\nMessage-ID: <0."));
    EXPECT_TRUE(has(s.text, "@example.org>\n\n"));
    EXPECT_FALSE(s.eightBit);
}

TEST(SendmailMessage, LocalNamesThroughTheAliasFile) {
    TempFolder folder;
    const std::string path = folder.put("aliases",
                                        "# comment\npostmaster: root\nroot: ops@x.org, Audit\nloop: loop2\nloop2: loop\n"
                                        "self: self\nprog: |/usr/bin/filter, kept\n");
    StringList names, values;
    readAliasFile(String(path), names, values);
    const struct {
        std::vector<String> recipients;
        bool withDefault;
        const char* mapped;
    } cases[] = {
        {{"postmaster", "ann@y.org", "ROOT"}, false, "ops@x.org|Audit@example.org|ann@y.org"},
        {{"nobody", "self", "loop"}, false, "nobody@example.org|self@example.org|loop@example.org"},
        {{"nobody", "postmaster"}, true, "catch@x.org|ops@x.org"},
        {{"prog"}, false, "kept@example.org"},
    };
    for (const auto& c : cases) {
        StringList n = names, v = values;
        if (c.withDefault) {
            n.add("default");
            v.add("catch@x.org");
        }
        std::FILE* err = std::tmpfile();
        EXPECT_EQ(joined(mapLocalRecipients(c.recipients, n, v, "example.org", err)), c.mapped);
        std::fclose(err);
    }
}

TEST(SendmailMessage, DeadLetterIsAnMboxAppendedToPrivately) {
    TempFolder folder;
    const std::string spooled = folder.put("spool", "Subject: s\n\n..dot\nFrom here\n>From there\nend\n");
    const String box(folder.file("dead.letter"));
    std::string error;
    ASSERT_TRUE(appendDeadLetter(box, spooled, "ann@x.org", 0, error)) << error;
    ASSERT_TRUE(appendDeadLetter(box, spooled, "", 0, error)) << error;
    const std::string kept = folder.read("dead.letter");
    const std::string message = "Subject: s\n\n.dot\n>From here\n>>From there\nend\n\n";
    EXPECT_EQ(kept.substr(kept.find('\n') + 1, message.size()), message);
    EXPECT_EQ(kept.rfind("From ann@x.org ", 0), 0u) << kept;
    EXPECT_TRUE(has(kept, "\nFrom MAILER-DAEMON "));
    struct stat st;
    ASSERT_EQ(::stat(box.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    // Never through a link: a dead.letter planted as one is refused and nothing is written.
    ASSERT_EQ(::symlink(folder.file("elsewhere").c_str(), folder.file("link").c_str()), 0);
    EXPECT_FALSE(appendDeadLetter(String(folder.file("link")), spooled, "ann@x.org", 0, error));
    EXPECT_EQ(folder.read("elsewhere"), "");
}

} // namespace
} // namespace qarvel
