// The message parser over in-memory messages: header fields, folding, priorities,
// multipart structure, decoding, extraction and hostile input.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>

#include "receive/line_source.h"
#include "receive/message_parser.h"

namespace qarvel {
namespace {

// The parser over an in-memory message, with the accessors the tests read.
class ParsedMessage {
public:
    int parse(const std::string& data, const std::string& folder) {
        settings_.workingFolder = folder.c_str();
        FILE* in = fmemopen(const_cast<char*>(data.data()), data.size(), "rb");
        if (data.empty()) in = fopen("/dev/null", "rb");
        StreamLineSource source(in);
        MessageParser parser(source, settings_, message_);
        int r = parser.run(data.size());
        fclose(in);
        return r;
    }
    void setExtract(int v) { settings_.extract = v; }
    void setHtml(int v) { settings_.html = v; }
    String subject() const { return message_.subject(); }
    String to() const { return message_.to(); }
    String cc() const { return message_.cc(); }
    String date() const { return message_.date(); }
    String sender() const { return message_.sender(); }
    String replyAddress() const { return message_.replyAddress(); }
    String mediaType() const { return message_.mediaType(); }
    String headerValue(const char* name) const { return message_.header(name); }
    const char* priorityName() const { return message_.priorityName(); }
    const char* body() const { return message_.bodyText(); }
    uint64_t bodyLength() const { return message_.bodyLength; }
    int partCount() const { return message_.partCount(); }
    const MessagePart* nextPart() { return message_.nextPart(); }
    const String& partFileName() const { return message_.partFileName; }
    const String& contentId() const { return message_.contentId; }

private:
    ParseSettings settings_;
    Message message_;
};

class ParserTest : public ::testing::Test {
protected:
    void SetUp() override {
        char dir[] = "/tmp/qarvel-parser-XXXXXX";
        ASSERT_NE(mkdtemp(dir), nullptr);
        dir_ = dir;
    }
    void TearDown() override {
        std::string cmd = "rm -rf '" + dir_ + "'";
        ASSERT_EQ(system(cmd.c_str()), 0);
    }
    // LF line ends become CR LF unless crlf is false.
    int parse(const std::string& text, bool crlf = true) {
        std::string data;
        for (char c : text) {
            if (c == '\n' && crlf) data += "\r\n";
            else data += c;
        }
        return reader_.parse(data, dir_);
    }
    std::string body() const { return reader_.body(); }

    ParsedMessage reader_;
    std::string dir_;
};

TEST_F(ParserTest, HeaderFieldsFoldingAndDefaults) {
    ASSERT_EQ(parse("From: a@x\nTo: a\nTo: b\nCc: c\nSubject: first\n part\n"
                    "Date: Mon, 1 Jan 2024 00:00:00 +0000\nX-Other: folded\n\tvalue\n\nBody line\n"), 1);
    EXPECT_EQ(reader_.to(), "a,b");
    EXPECT_EQ(reader_.cc(), "c");
    EXPECT_EQ(reader_.subject(), "firstpart");  // a folded Subject joins without a blank
    EXPECT_EQ(reader_.sender(), "a@x");
    EXPECT_EQ(reader_.replyAddress(), "a@x");
    EXPECT_EQ(reader_.headerValue("X-Other"), "folded value");
    EXPECT_EQ(body(), "Body line\r\n");
    EXPECT_EQ(reader_.mediaType(), "text/plain");

    ASSERT_EQ(parse("X-Nothing: 1\n\nx\n"), 1);
    EXPECT_EQ(reader_.subject(), "[no subject]");
    EXPECT_EQ(reader_.to(), "[unknown]");
    EXPECT_EQ(reader_.date(), "[unknown]");
    EXPECT_EQ(reader_.sender(), "[unknown]");
    EXPECT_STREQ(reader_.priorityName(), "");
}

TEST_F(ParserTest, Priorities) {
    ASSERT_EQ(parse("X-Priority: 1\nImportance: Low\nSubject: s\n\nb\n"), 1);
    EXPECT_STREQ(reader_.priorityName(), "Low");
    ASSERT_EQ(parse("Importance: High\nX-Priority: 5\nSubject: s\n\nb\n"), 1);
    EXPECT_STREQ(reader_.priorityName(), "High");
    ASSERT_EQ(parse("X-Priority: 3 (Normal)\nSubject: s\n\nb\n"), 1);
    EXPECT_STREQ(reader_.priorityName(), "Normal");
}

TEST_F(ParserTest, DotsAndEndMarker) {
    ASSERT_EQ(parse("Subject: s\n\n..two dots\nmore\n.\nafter end\n"), 1);
    EXPECT_EQ(body(), ".two dots\r\nmore\r\n");
}

const char* kMixed =
    "Subject: mixed\n"
    "Content-Type: multipart/mixed; boundary=\"outer\"\n"
    "\n"
    "preamble dropped\n"
    "--outer\n"
    "Content-Type: multipart/alternative; boundary = inner\n"
    "\n"
    "--inner\n"
    "Content-Type: text/plain; charset=utf-8\n"
    "Content-Transfer-Encoding: quoted-printable\n"
    "\n"
    "plain =C3=A9 soft=\n"
    "break\n"
    "--inner\n"
    "Content-Type: text/html\n"
    "\n"
    "<p>html</p>\n"
    "--inner--\n"
    "--outer\n"
    "Content-Type: application/octet-stream; name=\"../../etc/passwd\"\n"
    "Content-Transfer-Encoding: base64\n"
    "\n"
    "AAEC\n"
    "A/8=\n"
    "--outer\n"
    "Content-Type: image/png\n"
    "Content-ID: <img1@x>\n"
    "Content-Transfer-Encoding: base64\n"
    "\n"
    "iVBO\n"
    "--outer\n"
    "Content-Type: application/pdf\n"
    "Content-Transfer-Encoding: base64\n"
    "\n"
    "JVBE\n"
    "--outer-\n"
    "epilogue dropped\n";

TEST_F(ParserTest, NestedMultipartAlternativesAndNames) {
    reader_.setExtract(1);
    ASSERT_EQ(parse(kMixed), 1);
    EXPECT_EQ(body(), "plain \xC3\xA9 softbreak");
    ASSERT_EQ(reader_.partCount(), 3);
    const MessagePart* p = reader_.nextPart();
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(reader_.partFileName(), "passwd");
    EXPECT_EQ(p->data.memory(), std::string("\x00\x01\x02\x03\xff", 5));
    EXPECT_EQ(reader_.bodyLength(), 5u);
    p = reader_.nextPart();
    EXPECT_EQ(reader_.partFileName(), "img1_x");  // named by its content id
    EXPECT_EQ(reader_.contentId(), "img1@x");
    p = reader_.nextPart();
    // No name, no content id: "%08lX.%03d".
    EXPECT_EQ(reader_.partFileName().length(), 12u);
    EXPECT_EQ(reader_.partFileName()[8], '.');
    EXPECT_EQ(reader_.mediaType(), "application/pdf");
    EXPECT_EQ(reader_.nextPart(), nullptr);

    reader_.setHtml(1);
    ASSERT_EQ(parse(kMixed), 1);
    EXPECT_EQ(body(), "<p>html</p>");
}

TEST_F(ParserTest, QuotedAndUnquotedBoundariesAgree) {
    reader_.setExtract(1);
    for (const char* header : {"Content-Type: multipart/mixed; boundary=\"b1\"",
                               "Content-Type: multipart/mixed; boundary =b1",
                               "Content-Type: multipart/mixed;\n\tboundary=b1"}) {
        std::string m = std::string("Subject: s\n") + header +
                        "\n\n--b1\nContent-Type: text/plain\n\nhello\n--b1\n"
                        "Content-Type: text/x-data; name=d.txt\n\ndata\n--b1--\n";
        ASSERT_EQ(parse(m), 1) << header;
        EXPECT_EQ(body(), "hello") << header;
        ASSERT_EQ(reader_.partCount(), 1) << header;
        reader_.nextPart();
        EXPECT_EQ(reader_.partFileName(), "d.txt");
    }
}

TEST_F(ParserTest, EncodedNamesAndRfc2231) {
    reader_.setExtract(1);
    ASSERT_EQ(parse("Subject: s\nContent-Type: multipart/mixed; boundary=b\n\n--b\n"
                    "Content-Type: application/octet-stream\n"
                    "Content-Disposition: attachment; filename*=utf-8''%C3%BCber%20plan.bin\n\nx\n"
                    "--b\nContent-Type: application/octet-stream\n"
                    "Content-Disposition: attachment;\n filename*0*=utf-8''a%20;\n filename*1=b.bin\n\ny\n"
                    "--b\nContent-Type: application/octet-stream; name=\"what? x.txt\"\n\nz\n--b--\n"),
              1);
    ASSERT_EQ(reader_.partCount(), 3);
    reader_.nextPart();
    EXPECT_EQ(reader_.partFileName(), "\xC3\xBC" "ber_plan.bin");
    reader_.nextPart();
    EXPECT_EQ(reader_.partFileName(), "a_b.bin");
    reader_.nextPart();
    EXPECT_EQ(reader_.partFileName(), "what__x.txt");
}

TEST_F(ParserTest, UuencodedBlockInPlainBody) {
    reader_.setExtract(1);
    // "Cat" uuencoded.
    ASSERT_EQ(parse("Subject: uu\n\nSee attached\nbegin 644 cat.txt\n#0V%T\n`\nend\nthanks\n"), 1);
    EXPECT_EQ(body(), "See attached\r\nthanks\r\n");
    ASSERT_EQ(reader_.partCount(), 1);
    const MessagePart* p = reader_.nextPart();
    EXPECT_EQ(reader_.partFileName(), "cat.txt");
    EXPECT_EQ(p->data.memory(), "Cat");
}

TEST_F(ParserTest, MalformedEndings) {
    reader_.setExtract(1);
    // A boundary that never closes, a message that is only a header, truncated base64.
    EXPECT_EQ(parse("Content-Type: multipart/mixed; boundary=zz\nSubject: s\n\n--zz\n"
                    "Content-Type: application/x-y; name=a.bin\nContent-Transfer-Encoding: base64\n\nQUJD\nQU"),
              1);
    ASSERT_EQ(reader_.partCount(), 1);
    EXPECT_EQ(reader_.nextPart()->data.memory(), "ABCA");
    EXPECT_EQ(parse("Subject: only a header\n"), 1);
    EXPECT_EQ(reader_.subject(), "only a header");
    EXPECT_EQ(parse(""), 1);
    EXPECT_EQ(parse(std::string("Subject: nul\0byte\n\nbody\0x\n", 24)), 1);
}

TEST_F(ParserTest, HostileSizes) {
    reader_.setExtract(1);
    // 10 000 nested multiparts, a header line of 1 MB, a body line of 100 000 bytes.
    std::string m = "Subject: deep\n";
    for (int i = 0; i < 10000; ++i)
        m += "Content-Type: multipart/mixed; boundary=b" + std::to_string(i) + "\n\n--b" +
             std::to_string(i) + "\n";
    m += "Content-Type: text/plain\n\ninner\n";
    EXPECT_EQ(parse(m), 1);
    std::string longHeader = "Subject: " + std::string(1 << 20, 'x') + "\nTo: t\n\n" +
                             std::string(100000, 'y') + "\nend\n";
    EXPECT_EQ(parse(longHeader), 1);
    EXPECT_EQ(reader_.subject().length(), kHeaderMax - 9);
    EXPECT_EQ(reader_.to(), "t");
    EXPECT_EQ(body(), std::string(100000, 'y') + "\r\nend\r\n");
}

TEST_F(ParserTest, LargePartSpillsToFile) {
    reader_.setExtract(1);
    std::string payload;
    for (int i = 0; i < 3 * 1024 * 1024 / 57 + 10; ++i)
        payload += "QUJDREVGR0hJSktMTU5PUFFSU1RVVldYWVphYmNkZWZnaGlqa2xtbm9wcXJzdHV2\n";
    ASSERT_EQ(parse("Subject: big\nContent-Type: multipart/mixed; boundary=B\n\n--B\n"
                    "Content-Type: application/octet-stream; name=big.bin\n"
                    "Content-Transfer-Encoding: base64\n\n" + payload + "--B--\n"), 1);
    const MessagePart* p = reader_.nextPart();
    ASSERT_NE(p, nullptr);
    EXPECT_FALSE(p->data.inMemory());
    EXPECT_EQ(p->size() % 48, 0u);
    EXPECT_EQ(p->data.head(6), "ABCDEF");
    String name = reader_.partFileName();
    ASSERT_EQ(writeAttachment(dir_.c_str(), name, *p, false, false), kWriteOk);
    std::ifstream in(dir_ + "/big.bin", std::ios::binary);
    std::stringstream got;
    got << in.rdbuf();
    EXPECT_EQ(got.str().size(), p->size());
}

} // namespace
} // namespace qarvel
