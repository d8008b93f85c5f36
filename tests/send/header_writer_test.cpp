// Text that must stay on its line: header values from anywhere (a received message's
// Subject, a recipient, an organisation), the extra header text, commands with hostile
// arguments, and the dots of every body form on the wire.
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "support/has_text.h"
#include "support/scripted_socket.h"
#include "send/sender_session.h"
#include "send/smtp_session.h"
#include "support/temp_folder.h"

namespace qarvel {
namespace {

using test::has;

// A session that records the message data exactly as it would go on the wire.
class WireSession : public SenderSession {
public:
    std::string data;
    WireSession() {
        style().date = "Sun, 06 Dec 2026 12:00:00 +0000";
        markOpen();
    }
    int send(const char* bytes, int length) override {
        data.append(bytes, static_cast<size_t>(length));
        return length;
    }
    int authenticate(const String&, const String&) override { return 1; }
    int readReply() override { return 1; }
    int compose(const std::string& body, const String& subject = "s", const String& to = "b@example.org",
                const String& from = "a@example.org", const String& replyTo = String()) {
        data.clear();
        return sendMessage(from, replyTo, to, subject, body.data(), body.size(), String(), String(),
                           String(), String());
    }
    std::string header() const { return data.substr(0, data.find("\r\n\r\n") + 2); }
};

// Every line of a header block is "Name: value" or a folded continuation, ends in CR LF, and
// no CR or LF stands anywhere else.
void expectHeaderLines(const std::string& block) {
    static const std::regex field("([!-9;-~]+: .*|[ \t].*)");
    size_t pos = 0;
    while (pos < block.size()) {
        size_t end = block.find("\r\n", pos);
        ASSERT_NE(end, std::string::npos) << block;
        std::string line = block.substr(pos, end - pos);
        EXPECT_TRUE(std::regex_match(line, field)) << "[" << line << "] in\n" << block;
        EXPECT_EQ(line.find_first_of("\r\n"), std::string::npos) << block;
        pos = end + 2;
    }
}

TEST(HeaderWriter, ValuesWithLineBreaksStayOnTheirLine) {
    // Values as a received message may give them (a decoded encoded word) reach the writer
    // through read receipts and forwarding; none of them may start a header field.
    const char* hostile[] = {"x\r\nBcc: victim@example.org", "x\nX-Injected: 1", "x\rX-Injected: 1",
                             "x\r\n\r\nbody before its time", "\r\n"};
    for (const char* value : hostile) {
        for (int encode = 0; encode < 2; ++encode) {
            WireSession s;
            s.style().encodeHeaders = encode;
            s.style().organization = value;
            s.style().sensitivity = value;
            s.style().priority = 1;
            s.style().dispositionNotification = true;
            ASSERT_EQ(s.compose("hi\r\n", value, String("to@example.org, ") + value, value, value), 1);
            std::string h = s.header();
            expectHeaderLines(h);
            EXPECT_FALSE(has(h, "\r\nBcc:"));
            EXPECT_FALSE(has(h, "\r\nX-Injected"));
            EXPECT_FALSE(has(s.data, "\r\n\r\nbody before"));
        }
    }
    WireSession s;
    s.style().encodeHeaders = false;
    ASSERT_EQ(s.compose("hi\r\n", "Re: hi\r\nBcc: v@x"), 1);
    EXPECT_TRUE(has(s.header(), "Subject: Re: hi  Bcc: v@x\r\n"));
}

TEST(HeaderWriter, ExtraHeaderTextGetsItsLineEndAndMustBeFields) {
    WireSession s;
    s.style().extraHeaders = "X-Evil: 1";  // no line end: the Date line must not be glued to it
    ASSERT_EQ(s.compose("hi\r\n"), 1);
    EXPECT_TRUE(has(s.data, "X-Evil: 1\r\nDate: "));
    expectHeaderLines(s.header());

    WireSession lf;
    lf.style().extraHeaders = "X-A: 1\nX-B: 2\n\tfolded\n";
    ASSERT_EQ(lf.compose("hi\r\n"), 1);
    EXPECT_TRUE(has(lf.data, "X-A: 1\r\nX-B: 2\r\n\tfolded\r\nDate: "));

    // An empty line would end the header early; a line of words is no field. Both are
    // refused before any byte of the message goes out after them.
    for (const char* bad : {"X-A: 1\r\n\r\nBcc: v@x\r\n", "not a field\r\n", "X-A: 1\r\n\r\n"}) {
        WireSession r;
        r.style().extraHeaders = bad;
        EXPECT_LT(r.compose("hi\r\n"), 1) << bad;
        EXPECT_FALSE(has(r.data, "Bcc:"));
        EXPECT_FALSE(has(r.data, "Date:"));
    }
}

TEST(HeaderWriter, LongLinesKeepTheirLineEnd) {
    WireSession s;
    s.setConnectionOptions({.bufferSize = 64});  // the command buffer does not limit a header line
    std::string subject(300, 's');
    ASSERT_EQ(s.compose("hi\r\n", String(subject)), 1);
    EXPECT_TRUE(has(s.data, "Subject: " + subject + "\r\n"));
    expectHeaderLines(s.header());
}

// The body lines as the recipient's server reads them back: one leading "." taken off each
// line, the data ending at the first line of a single ".".
std::string unstuffed(const std::string& wire) {
    std::string out;
    size_t pos = 0;
    while (pos < wire.size()) {
        size_t end = wire.find("\r\n", pos);
        std::string line = wire.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
        if (line == ".") return out;
        if (!line.empty() && line[0] == '.') line.erase(0, 1);
        out += line + "\r\n";
        if (end == std::string::npos) break;
        pos = end + 2;
    }
    return out + "<no end of data>";
}

TEST(HeaderWriter, EveryBodyFormKeepsItsDotsOnTheWire) {
    test::TempFolder folder;
    const std::string notes = folder.put("notes.txt", ".x first\r\n..two\r\n.\r\nplain\r\n");
    const std::string body = ".x body\r\n.\r\n..\r\nend\r\n";
    struct Form {
        const char* name;
        int raw, bodyEncoding, eightBit, attach;
    } forms[] = {
        {"single part 7bit", 0, 0, 0, 0},
        {"single part 8bit", 0, 0, 1, 0},
        {"raw", 1, 0, 0, 0},
        {"multipart 8bit with a text file", 0, 0, 1, 1},
        {"multipart 7bit with a text file", 0, 0, 0, 1},
        {"multipart quoted-printable", 0, 1, 0, 1},
    };
    for (const Form& f : forms) {
        WireSession s;
        s.style().raw = f.raw;
        s.style().quotedPrintable = f.bodyEncoding;
        s.style().eightBit = f.eightBit;
        if (f.attach) s.addAttachment(String(notes), String(), false);
        ASSERT_EQ(s.compose(body), 1) << f.name;
        const std::string received = unstuffed(s.data);
        // Raw text is message data already: it arrives as its writer stuffed it, and its
        // lone "." does not end the data.
        const std::string arrives = f.raw ? "x body\r\n.\r\n.\r\nend\r\n" : body;
        if (!f.bodyEncoding) {
            EXPECT_NE(received.find(arrives), std::string::npos) << f.name << "\n" << s.data;
        }
        if (f.attach && !f.bodyEncoding) {
            EXPECT_NE(received.find(".x first\r\n..two\r\n.\r\nplain\r\n"), std::string::npos)
                << f.name << "\n" << s.data;
        }
        EXPECT_FALSE(has(received, "<no end of data>"));
    }

    // Data without the final "." (a counted upload) goes out as it is.
    WireSession counted;
    counted.setNoTerminator(1);
    counted.setDotStuffing(0);
    counted.style().quotedPrintable = 0;
    ASSERT_EQ(counted.compose(body), 1);
    EXPECT_TRUE(has(counted.data, "\r\n\r\n" + body));
}

// The command loop blanks CR and LF in arguments (the formatter: tests/base/line_breaks_test.cpp;
// a command too long for the buffer: SmtpSession.FaultsMidDialogue).
TEST(CommandLoop, SmtpEnvelopeFromHostileRecipients) {
    ScriptedSocket<SmtpSession> s;
    s.setReplies("220 x\r\n250 ok\r\n250 ok\r\n250 ok\r\n354 go\r\n250 queued\r\n");
    ASSERT_EQ(s.connectSession("h", String()), 1);
    static const char body[] = "hi\r\n";
    EXPECT_EQ(s.sendMessage("a@example.org\r\nRSET", String(), "b@example.org>\r\nRCPT TO:<c@example.org",
                            "s", body, sizeof body - 1, String(), String(), String(), String()),
              1);
    const std::string commands = s.commandsOnly();
    EXPECT_EQ(commands.substr(commands.find('\n') + 1),
              "MAIL FROM:<a@example.org  RSET>\nRCPT TO:<c@example.org>\nDATA\n");
}

}  // namespace
}  // namespace qarvel
