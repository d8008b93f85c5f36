// The header writer, recipient folding, dot handling, dates and the address helpers, checked
// through the file sender (which receives exactly the message data).
#include "send/sender_session.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>
#include <ctime>
#include <fstream>
#include <functional>
#include <regex>
#include <string>
#include <vector>

#include "send/addresses.h"
#include "send/file_sender.h"
#include "send/metered_sender.h"
#include "support/has_text.h"
#include "support/temp_folder.h"

namespace qarvel {
namespace {

using test::has;

// Sends one message through a fresh file sender and returns what the file holds.
struct Composed {
    FileSender sender;
    test::TempFolder folder;
    std::string send(const String& to, const std::string& body, const String& cc = String(),
                     const String& bcc = String(), const String& from = "a@example.org",
                     const String& replyTo = String(), const String& subject = "s") {
        EXPECT_EQ(sender.connectSession(folder.file("m.eml"), String()), 1);
        EXPECT_EQ(sender.sendMessage(from, replyTo, to, subject, body.data(), body.size(), String(), cc, bcc,
                                     String()),
                  1);
        sender.disconnect();
        return folder.read("m.eml");
    }
};

std::string headerBlock(const std::string& message) { return message.substr(0, message.find("\r\n\r\n") + 2); }
std::string bodyOf(const std::string& message) { return message.substr(message.find("\r\n\r\n") + 4); }

TEST(SenderSession, RecipientLinesFoldQuotesBackslashAndHide) {
    struct Case {
        const char *to, *cc, *bcc;
        bool hide;
        std::vector<std::string> shown, hidden;
    } cases[] = {
        {"x@a.test, y@b.test", "", "", false, {"To: x@a.test,\r\n\ty@b.test\r\n"}, {}},
        {"\"Doe, John\" <j@a.test>", "", "", false, {"To: \"Doe, John\" <j@a.test>\r\n"}, {}},
        {"\\nobody@a.test,!  z@c.test", "", "", false, {"To: z@c.test\r\n"}, {"nobody"}},
        {"x@a.test,y@b.test", "c@c.test", "", true, {"Cc: c@c.test\r\n"}, {"To:"}},
        {"x@a.test", "", "", true, {"To: x@a.test\r\n"}, {}},
        {"x@a.test", "", "secret@b.test", false, {"Precedence: bulk\r\nTo: x@a.test\r\n"}, {"secret"}},
    };
    for (const Case& k : cases) {
        Composed c;
        c.sender.style().hideRecipients = k.hide;
        std::string m = c.send(k.to, "hi\r\n", k.cc, k.bcc);
        for (const std::string& text : k.shown) EXPECT_TRUE(has(m, text));
        for (const std::string& text : k.hidden) EXPECT_FALSE(has(m, text));
    }
}

TEST(SenderSession, HeaderLinesInOrderWithConditions) {
    Composed c;
    c.sender.style().organization = "Org";
    c.sender.style().sensitivity = "Private";
    c.sender.style().priority = 1;
    c.sender.style().returnReceipt = true;
    c.sender.style().dispositionNotification = true;
    c.sender.style().date = "Mon, 05 Jan 2004 09:07:03 +0100";
    c.sender.style().quotedPrintable = 0;
    std::string m = c.send("x@a.test", "hi\r\n", String(), String(), "a@example.org", "r@example.org");
    std::string expected =
        "To: x@a.test\r\n"
        "From: a@example.org\r\n"
        "Reply-To: r@example.org\r\n"
        "Originator: r@example.org\r\n"
        "Sender: r@example.org\r\n"
        "Subject: s\r\n"
        "Organization: Org\r\n"
        "Sensitivity: Private\r\n"
        "MIME-Version: 1.0\r\n"
        "X-Mailer: QARVEL (Sep 11 2003 12:37:18)\r\n"
        "X-Priority: 2 (High)\r\n"
        "Return-Receipt-To: r@example.org\r\n"
        "Disposition-Notification-To: r@example.org\r\n"
        "Importance: High\r\n"
        "Date: Mon, 05 Jan 2004 09:07:03 +0100\r\n"
        "Content-Type: text/plain; charset=us-ascii\r\n"
        "Content-Transfer-Encoding: 7bit\r\n"
        "\r\n"
        "hi\r\n"
        "\r\n";
    // The build date and time vary; their form is "Mmm dd yyyy hh:mm:ss".
    std::smatch mailer;
    ASSERT_TRUE(std::regex_search(m, mailer, std::regex("X-Mailer: QARVEL \\(([A-Z][a-z]{2} [ 0-9][0-9] [0-9]{4} [0-9]{2}:[0-9]{2}:[0-9]{2})\\)\r\n")));
    m.replace(static_cast<size_t>(mailer.position(1)), mailer.length(1), "Sep 11 2003 12:37:18");
    EXPECT_EQ(m, expected);

    // The -hdr: text replaces X-Mailer as it is, with no line end added; Message-ID is bare.
    Composed h;
    h.sender.style().extraHeaders = "X-Extra: 1\r\nX-Two: 2\r\n";
    h.sender.style().messageId = true;
    h.sender.style().mimeLevel = 0;
    m = h.send("x@a.test", "hi\r\n");
    for (const char* part : {"X-Extra: 1\r\nX-Two: 2\r\nDate: ", "Message-ID: "}) EXPECT_TRUE(has(m, part));
    for (const char* absent : {"X-Mailer", "Message-ID: <", "MIME-Version", "Content-Type"})
        EXPECT_FALSE(has(m, absent));

    // Priorities low and normal; voice MIME version.
    Composed low;
    low.sender.style().priority = 2;
    low.sender.style().voice = low.sender.style().partHeader = true;
    m = low.send("x@a.test", "hi\r\n");
    for (const char* part : {"MIME-Version: 1.0 (Voice 2.0)\r\n", "X-Priority: 4 (Low)\r\n", "Importance: Low\r\n"})
        EXPECT_TRUE(has(m, part));
}

// Each body form's dots: HeaderWriter.EveryBodyFormKeepsItsDotsOnTheWire. Here: raw text
// (no headers of ours, a stuffed "." stays "..") whose last line is a lone "." without its line
// end, and a message of many dots split across the sink's blocks.
TEST(SenderSession, DotStuffingOfRawTextAndAcrossBlocks) {
    Composed raw;
    raw.sender.style().raw = true;
    std::string m = raw.send("x@a.test", "Subject: r\r\n\r\n.keep\r\n..\r\n.\r\nend\r\n.");
    EXPECT_EQ(m, "Subject: r\r\n\r\n.keep\r\n..\r\n..\r\nend\r\n..\r\n");

    Composed big;
    big.sender.style().quotedPrintable = 0;
    std::string body;
    for (int i = 0; i < 20000; ++i) body += ".\r\n";
    m = big.send("x@a.test", body);
    std::string expected;
    for (int i = 0; i < 20000; ++i) expected += "..\r\n";
    EXPECT_EQ(bodyOf(m), expected + "\r\n");
    EXPECT_EQ(big.sender.bytesSent(), m.size());
}

// Each body encoding with the header lines that name it. Line ends go out as CR LF; a CR that
// ends no line is encoded, never sent bare.
TEST(SenderSession, EncodedBodies) {
    struct Case {
        const char* name;
        std::function<void(MessageStyle&)> set;
        std::string body, from, subject;
        std::vector<std::string> parts;  // the message holds each
        std::string sent;                // the body as sent
    } cases[] = {
        {"base64", [](MessageStyle& s) { s.quotedPrintable = 2; }, std::string(100, 'a'), "a@b.test", "s",
         {"Content-Transfer-Encoding: base64\r\n"},
         "YWFhYWFhYWFhYWFhYWFhYWFhYWFhYWFhYWFhYWFhYWFhYWFhYWFhYWFhYWFhYWFhYWFhYWFhYWFh\r\n"
         "YWFhYWFhYWFhYWFhYWFhYWFhYWFhYWFhYWFhYWFhYWFhYWFhYWFhYWFhYQ==\r\n\r\n"},
        {"uuencode", [](MessageStyle& s) { s.uuencode = true; }, std::string(45, 'x'), "a@b.test", "s",
         {"Content-Type: text/plain; charset=us-ascii\r\nContent-Transfer-Encoding: X-UUencode\r\n"},
         "begin 644 noname.dat\r\nM>'AX>'AX>'AX>'AX>'AX>'AX>'AX>'AX>'AX>'AX>'AX>'AX>'AX>'AX>'AX\r\n`\r\nend\r\n\r\n"},
        {"quoted-printable", [](MessageStyle& s) { s.charset = "utf-8"; }, "a=b\r\n.x \r\ncaf\xc3\xa9\r\n",
         "Jos\xc3\xa9 <j@a.test>", "caf\xc3\xa9 au lait",
         {"From: =?utf-8?Q?Jos=C3=A9=20?=<j@a.test>\r\n", "Subject: =?utf-8?Q?caf=C3=A9=20au=20lait?=\r\n"},
         "a=3Db\r\n=2Ex=20\r\ncaf=C3=A9\r\n\r\n"},
        {"line ends", [](MessageStyle&) {}, "lone\rcr\nbare lf\r\n", "a@b.test", "s", {}, "lone=0Dcr\r\nbare lf\r\n\r\n"},
        {"header words unencoded", [](MessageStyle& s) { s.encodeHeaders = false; }, "x", "a@b.test", "caf\xc3\xa9",
         {"Subject: caf\xc3\xa9\r\n"}, ""},
        {"8bit",
         [](MessageStyle& s) {
             s.quotedPrintable = 0;
             s.eightBit = true;
             s.contentType = "text/enriched";
             s.charset = "utf-8";
         },
         "caf\xc3\xa9\r\n", "a@b.test", "s",
         {"Content-Type: text/enriched; charset=utf-8\r\nContent-Transfer-Encoding: 8bit\r\n"},
         "caf\xc3\xa9\r\n\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Composed composed;
        c.set(composed.sender.style());
        const std::string m = composed.send("x@a.test", c.body, String(), String(), c.from, String(), c.subject);
        for (const std::string& part : c.parts) EXPECT_TRUE(has(headerBlock(m), part));
        if (!c.sent.empty()) {
            EXPECT_EQ(bodyOf(m), c.sent);
        }
    }
}

TEST(SenderSession, TwoMessagesAppendToOneFile) {
    Composed c;
    c.send("c@d.test", "one\r\n");
    std::string all = c.send("c@d.test", "one\r\n");
    size_t first = all.find("\r\none\r\n\r\n");
    ASSERT_NE(first, std::string::npos);
    EXPECT_NE(all.find("To: c@d.test", first), std::string::npos);
    EXPECT_FALSE(has(all, "\r\n.\r\n"));
}

TEST(SenderSession, DateStyles) {
    // 2004-01-05 09:07:03 UTC was a Monday.
    const long long moment = 1073293623;
    EXPECT_EQ(formatDateHeader(1, moment), "Mon, 05 Jan 2004 09:07:03 GMT");
    EXPECT_EQ(formatDateHeader(2, moment), "Mon, 05 Jan 2004 09:07:03 UTC");
    const char* old = std::getenv("TZ");
    std::string saved = old ? old : "";
    setenv("TZ", "IST-5:30", 1);
    tzset();
    EXPECT_EQ(formatDateHeader(0, moment), "Mon, 05 Jan 2004 14:37:03 +0530");
    setenv("TZ", "EST5", 1);
    tzset();
    EXPECT_EQ(formatDateHeader(0, moment), "Mon, 05 Jan 2004 04:07:03 -0500");
    if (old) setenv("TZ", saved.c_str(), 1);
    else unsetenv("TZ");
    tzset();
}

TEST(SenderSession, AddressHelpers) {
    EXPECT_EQ(displayName("\"John Doe\" <j@d.test>"), "John Doe");
    EXPECT_EQ(displayName("j@d.test (John)"), "John");
    EXPECT_EQ(displayName("j@d.test"), "");
    EXPECT_EQ(bareAddress("John <j@d.test>"), "j@d.test");
    EXPECT_EQ(bareAddress("j@d.test  (John)"), "j@d.test");
    EXPECT_EQ(bareAddress("j@d.test"), "j@d.test");
    EXPECT_EQ(addressDomain("John <j@d.test>"), "d.test>");
    EXPECT_EQ(addressDomain("j@d.test"), "d.test");
    EXPECT_EQ(addressDomain("nodomain"), "");
    EXPECT_EQ(envelopeAddress("  j@d.test  "), "j@d.test");
    EXPECT_EQ(envelopeAddress("Name <j@d.test>"), "j@d.test");
    EXPECT_EQ(envelopeAddress(" j@d.test (a, b)"), "j@d.test");
    EXPECT_EQ(envelopeAddress(String(std::string(5000, 'x'))).length(), 1023u);

    auto entries = splitRecipientText("a@b, \"c, d\" <e@f>, g@h (x, y), i@j");
    ASSERT_EQ(entries.size(), 4u);
    EXPECT_EQ(entries[1], " \"c, d\" <e@f>");
    EXPECT_EQ(entries[2], " g@h (x, y)");
    auto open = splitRecipientText("a@b (unclosed, c@d");
    ASSERT_EQ(open.size(), 1u);
    EXPECT_EQ(splitRecipientText("", 5).size(), 1u);
    EXPECT_EQ(splitRecipientText(String(std::string(30000, ',')), 100).size(), 100u);
}

TEST(SenderSession, AttachmentsThroughTheComposerAndRelease) {
    Composed c;
    const std::string path = c.folder.put("notes.txt", ".dot first\nplain\n");
    EXPECT_EQ(c.sender.addAttachment("/nonexistent/qarvel/file", "n", false), 0);
    ASSERT_EQ(c.sender.addAttachment(path, "", false), 1);
    std::string m = c.send("x@a.test", "body text\r\n");
    EXPECT_TRUE(has(m, "Date: "));
    EXPECT_TRUE(has(m, "Content-Type: multipart/mixed; boundary=\"NEXT_PART_"));
    EXPECT_TRUE(has(m, "body text"));
    EXPECT_EQ(m.substr(m.size() - 4), "\r\n\r\n");
    EXPECT_FALSE(has(m, "\r\n.\r\n"));
    EXPECT_EQ(c.sender.attachmentCount(), 1);

    // Releasing forgets the files and, when asked, removes them.
    FileSender sender;
    EXPECT_EQ(sender.addAttachment(path, "", false), 1);
    EXPECT_EQ(sender.addAttachment(path, "cid:logo", true), 1);
    EXPECT_EQ(sender.attachmentFiles().size(), 1u);
    EXPECT_EQ(sender.relatedNames().size(), 1u);
    EXPECT_TRUE(sender.hasMultipartBody());
    sender.releaseFiles(false);
    EXPECT_TRUE(sender.attachmentFiles().empty());
    EXPECT_FALSE(sender.hasMultipartBody());
    EXPECT_TRUE(std::ifstream(path).good());
    sender.addAttachment(path, "", false);
    sender.releaseFiles(true);
    EXPECT_FALSE(std::ifstream(path).good());
}

// The meter file is a regular file of its own: a link planted under its name is not followed
// (its target keeps its text) and a FIFO is never waited for.
TEST(ProgressMeter, WritesOnlyARegularFileOfItsOwn) {
    test::TempFolder folder;
    const std::string target = folder.put("target", "precious\n");
    ASSERT_EQ(symlink(target.c_str(), folder.file("link").c_str()), 0);
    ASSERT_EQ(mkfifo(folder.file("fifo").c_str(), 0600), 0);
    for (const char* name : {"link", "fifo", "meter"}) {
        ProgressMeter meter;
        meter.setFile(folder.file(name));
        meter.write(42);
    }
    EXPECT_EQ(folder.read("target"), "precious\n");
    EXPECT_EQ(folder.read("meter"), "42\n");
}

} // namespace
} // namespace qarvel
