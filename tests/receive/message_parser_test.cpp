// The message parser over in-memory messages: header fields, folding, priorities,
// multipart structure, decoding, extraction and hostile input; the part decoder fed in pieces.
#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <string>

#include "base/base64.h"
#include "base/encoded_word.h"
#include "receive/line_source.h"
#include "receive/attachment_file.h"
#include "receive/message_parser.h"
#include "receive/part_decoder.h"
#include "support/temp_folder.h"

namespace qarvel {
namespace {

// The parser over in-memory messages; each parse fills the same Message.
class ParserTest : public ::testing::Test {
protected:
    // LF line ends become CR LF unless crlf is false; size is the size announced (0: the text's).
    int parse(const std::string& text, bool crlf = true, uint64_t size = 0) {
        std::string data;
        for (char c : text) data += (c == '\n' && crlf) ? std::string("\r\n") : std::string(1, c);
        settings.workingFolder = dir.path.c_str();
        FILE* in = data.empty() ? fopen("/dev/null", "rb") : fmemopen(data.data(), data.size(), "rb");
        StreamLineSource source(in);
        MessageParser parser(source, settings, msg);
        int r = parser.run(size ? size : data.size());
        fclose(in);
        return r;
    }
    std::string body() const { return msg.bodyText(); }

    test::TempFolder dir;
    ParseSettings settings;
    Message msg;
};

TEST_F(ParserTest, HeaderFieldsFoldingPrioritiesAndDefaults) {
    ASSERT_EQ(parse("From: a@x\nTo: a\nTo: b\nCc: c\nSubject: first\n part\n"
                    "Date: Mon, 1 Jan 2024 00:00:00 +0000\nX-Other: folded\n\tvalue\n\nBody line\n"), 1);
    EXPECT_EQ(msg.to(), "a,b");
    EXPECT_EQ(msg.cc(), "c");
    EXPECT_EQ(msg.subject(), "firstpart");  // a folded Subject joins without a blank
    EXPECT_EQ(msg.replyAddress(), "a@x");
    EXPECT_EQ(msg.header("X-Other"), "folded value");
    EXPECT_EQ(body(), "Body line\r\n");
    EXPECT_EQ(msg.mediaType(), "text/plain");

    // An empty line after nothing but unknown fields is skipped: the header goes on.
    ASSERT_EQ(parse("X-Unknown: 1\n\nSubject: s\nFrom: a@x\n\nbody\n"), 1);
    EXPECT_EQ(msg.subject(), "s");
    EXPECT_EQ(msg.sender(), "a@x");
    EXPECT_EQ(body(), "body\r\n");
    EXPECT_EQ(msg.header("X-Unknown"), "1");
    ASSERT_EQ(parse("X-Nothing: 1\n\nx\n"), 1);
    EXPECT_EQ(msg.subject(), "[no subject]");
    EXPECT_EQ(msg.to(), "[unknown]");
    EXPECT_EQ(msg.date(), "[unknown]");
    EXPECT_EQ(msg.sender(), "[unknown]");
    EXPECT_STREQ(msg.priorityName(), "");

    // Importance wins over X-Priority, in either order; X-Priority alone: 1 and 2 high, 4 and 5 low.
    for (auto [header, name] : {std::pair{"X-Priority: 1\nImportance: Low\n", "Low"},
                                std::pair{"Importance: High\nX-Priority: 5\n", "High"},
                                std::pair{"X-Priority: 2\n", "High"}, std::pair{"X-Priority: 5\n", "Low"},
                                std::pair{"X-Priority: 3 (Normal)\n", "Normal"}}) {
        ASSERT_EQ(parse(std::string(header) + "Subject: s\n\nb\n"), 1) << header;
        EXPECT_STREQ(msg.priorityName(), name) << header;
    }
}

const char* kMixed =
    "Subject: mixed\n"
    "Content-Type: multipart/mixed;\n\tboundary=\"outer\"\n"  // folded, quoted; the inner one unquoted
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
    settings.extract = 1;
    ASSERT_EQ(parse(kMixed), 1);
    EXPECT_EQ(body(), "plain \xC3\xA9 softbreak");
    ASSERT_EQ(msg.partCount(), 3);
    const MessagePart* p = msg.nextPart();
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(msg.partFileName, "passwd");
    EXPECT_EQ(p->data.memory(), std::string("\x00\x01\x02\x03\xff", 5));
    EXPECT_EQ(msg.bodyLength, 5u);
    p = msg.nextPart();
    EXPECT_EQ(msg.partFileName, "img1@x");  // named by its content id
    EXPECT_EQ(msg.contentId, "img1@x");
    p = msg.nextPart();
    // No name, no content id: "%08lX.%03u", the number at least 3 digits.
    EXPECT_GE(msg.partFileName.length(), 12u);
    EXPECT_EQ(msg.partFileName[8], '.');
    EXPECT_EQ(msg.mediaType(), "application/pdf");
    EXPECT_EQ(msg.nextPart(), nullptr);

    settings.html = 1;
    ASSERT_EQ(parse(kMixed), 1);
    EXPECT_EQ(body(), "<p>html</p>");
}

TEST_F(ParserTest, EncodedNamesAndRfc2231) {
    settings.extract = 1;
    settings.decodeWords = decodeEncodedWords;
    ASSERT_EQ(parse("Subject: s\nContent-Type: multipart/mixed; boundary=b\n\n--b\n"
                    "Content-Type: application/octet-stream\n"
                    "Content-Disposition: attachment; filename*=utf-8''%C3%BCber%20plan.bin\n\nx\n"
                    "--b\nContent-Type: application/octet-stream\n"
                    "Content-Disposition: attachment;\n filename*0*=utf-8''a%20;\n filename*1=b.bin\n\ny\n"
                    "--b\nContent-Type: application/octet-stream; name=\"what? x.txt\"\n\nz\n"
                    // Sections out of order, Latin-1, beside an old-style name that loses.
                    "--b\nContent-Type: application/octet-stream\nContent-Disposition: attachment;"
                    " filename=\"old.bin\";\n filename*1*=%E4rz%20;\n filename*2=\"2027.txt\";\n"
                    " filename*0*=iso-8859-1'de'M\n\nw\n"
                    // An encoded word in Latin-1; a path inside an RFC 2231 name; a gap after 0.
                    "--b\nContent-Type: application/octet-stream; name=\"=?iso-8859-1?Q?caf=E9.bin?=\"\n\nv\n"
                    "--b\nContent-Type: application/octet-stream\n"
                    "Content-Disposition: attachment; filename*=UTF-8''..%2F..%2Fetc%5Cx%C3%A4\n\nu\n"
                    "--b\nContent-Type: application/octet-stream\n"
                    "Content-Disposition: attachment; filename*0=first; filename*2=third\n\nt\n"
                    "--b\nContent-Type: application/octet-stream\n"
                    "Content-Disposition: attachment; filename*=x-no-such-charset''%E4.bin\n\ns\n--b--\n"),
              1);
    std::vector<std::string> names;
    while (msg.nextPart()) names.push_back(msg.partFileName.str());
    EXPECT_EQ(names, (std::vector<std::string>{"\xC3\xBC" "ber_plan.bin", "a_b.bin", "what__x.txt",
                                               "M\xC3\xA4rz_2027.txt", "caf\xC3\xA9.bin", "x\xC3\xA4", "first",
                                               "\xE4.bin"}));
}

TEST_F(ParserTest, UuencodedBlockInPlainBody) {
    settings.extract = 1;
    // "Cat" uuencoded.
    ASSERT_EQ(parse("Subject: uu\n\nSee attached\nbegin 644 cat.txt\n#0V%T\n`\nend\nthanks\n"), 1);
    EXPECT_EQ(body(), "See attached\r\nthanks\r\n");
    ASSERT_EQ(msg.partCount(), 1);
    const MessagePart* p = msg.nextPart();
    EXPECT_EQ(msg.partFileName, "cat.txt");
    EXPECT_EQ(p->data.memory(), "Cat");
}

TEST_F(ParserTest, MalformedEndingsAndHostileSizes) {
    settings.extract = 1;
    // A boundary that never closes, a message that is only a header, truncated base64.
    EXPECT_EQ(parse("Content-Type: multipart/mixed; boundary=zz\nSubject: s\n\n--zz\n"
                    "Content-Type: application/x-y; name=a.bin\nContent-Transfer-Encoding: base64\n\nQUJD\nQU"),
              1);
    ASSERT_EQ(msg.partCount(), 1);
    EXPECT_EQ(msg.nextPart()->data.memory(), "ABCA");
    EXPECT_EQ(parse("Subject: only a header\n"), 1);
    EXPECT_EQ(msg.subject(), "only a header");
    EXPECT_EQ(parse(""), 1);
    EXPECT_EQ(parse(std::string("Subject: nul\0byte\n\nbody\0x\n", 24)), 1);

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
    EXPECT_EQ(msg.subject().length(), kHeaderMax - 9);
    EXPECT_EQ(msg.to(), "t");
    EXPECT_EQ(body(), std::string(100000, 'y') + "\r\nend\r\n");
}

TEST_F(ParserTest, LoneDotLinesOfAFileAreText) {
    settings.endMarker = 0;
    struct Case {
        const char* text;
        const char* body;
    } cases[] = {
        // Read on past a lone "." up to the end of the file; every other line that begins
        // with "." loses that dot, as on the wire (".x" too, not only "..x").
        {"Subject: s\n\nline\n.\nmore\n..x\n.y\n", "line\r\n.\r\nmore\r\n.x\r\ny\r\n"},
        // The very last line may be a final "." (a saved transcript): it ends the message.
        {"Subject: s\n\nline\n.\n", "line\r\n"},
        {"Subject: s\n\n.\n.\n", ".\r\n"},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(parse(c.text), 1) << c.text;
        EXPECT_EQ(body(), c.body) << c.text;
    }
    // The rest of the file, an attachment behind the "." included, is read.
    settings.extract = 1;
    ASSERT_EQ(parse("Subject: s\nContent-Type: multipart/mixed; boundary=b\n\n--b\n\ntext\n.\n"
                    "--b\nContent-Type: application/x-y; name=late.bin\n\nLATE\n--b--\n"), 1);
    EXPECT_EQ(body(), "text\r\n.");
    ASSERT_EQ(msg.partCount(), 1);
    EXPECT_EQ(msg.nextPart()->data.memory(), "LATE");
    // On a connection the same line ends the message, and a doubled leading dot is one dot.
    settings.endMarker = 1;
    ASSERT_EQ(parse("Subject: s\n\n..two dots\nline\n.\nmore\n"), 1);
    EXPECT_EQ(body(), ".two dots\r\nline\r\n");
}

TEST_F(ParserTest, EveryPartIsNamedApartAndOverflowIsCounted) {
    settings.extract = 1;
    auto parts = [](size_t count) {
        std::string m = "Subject: many\nContent-Type: multipart/mixed; boundary=b\n\n";
        for (size_t i = 0; i < count; ++i) m += "--b\nContent-Type: application/octet-stream\n\nx\n";
        return m + "--b--\n";
    };
    ASSERT_EQ(parse(parts(3000)), 1);
    ASSERT_EQ(msg.partCount(), 3000);
    std::set<std::string> names;
    while (const MessagePart* p = msg.nextPart()) {
        EXPECT_TRUE(p->generatedName);
        names.insert(msg.partFileName.str());
    }
    EXPECT_EQ(names.size(), 3000u);
    EXPECT_EQ(msg.partsDropped, 0u);

    ASSERT_EQ(parse(parts(kPartsMax + 7)), 1);
    EXPECT_EQ(msg.partCount(), static_cast<int>(kPartsMax));
    EXPECT_EQ(msg.partsDropped, 7u);
}

TEST_F(ParserTest, ATextCutAtTheBodyBufferIsMarked) {
    // Without size trust the buffer is four times the announced size, at least 1 MiB.
    const std::string text = "Subject: s\r\n\r\n" + std::string(kBodyCapMin + 10, 'b') + "\r\n.\r\n";
    for (int headerOnly : {0, 1}) {
        settings.sizeTrust = 0;
        settings.headerOnly = headerOnly;
        ASSERT_EQ(parse(text, false, 100), 1);
        // A header-only read keeps one line on purpose; only a full read has lost text.
        EXPECT_EQ(msg.bodyCut, headerOnly == 0) << headerOnly;
    }
    settings = ParseSettings();
    ASSERT_EQ(parse("Subject: s\n\nshort\n"), 1);
    EXPECT_FALSE(msg.bodyCut);
}

// Without an extraction folder a large part spills to a file of the working folder. With one,
// every part goes straight into a file of it, under a temporary name until the attachment
// writer names it: nothing is held in memory or spilled, a text part is written with LF line
// ends, and a part that is never named leaves nothing behind.
TEST_F(ParserTest, LargePartsSpillOrGoStraightIntoTheExtractionFolder) {
    test::TempFolder to;
    std::string bytes(3 << 20, '\0');
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7 + i / 4093);
    const std::string text = "Subject: s\nContent-Type: multipart/mixed; boundary=B\n\n--B\n"
                             "Content-Type: application/octet-stream; name=a.bin\nContent-Transfer-Encoding: base64\n\n" +
                             base64Encode(bytes.data(), bytes.size(), 76).str() +
                             "--B\nContent-Type: text/plain; name=t.txt\n\nline one\nline two\n"
                             "--B\nContent-Type: application/x-y; name=never.bin\n\nnot named\n--B--\n";
    settings.extract = 1;
    ASSERT_EQ(parse(text), 1);
    MessagePart* spilled = msg.nextPart();
    EXPECT_FALSE(spilled->data.inMemory());
    EXPECT_EQ(spilled->data.staged(), nullptr);
    EXPECT_NE(dir.names(), "");
    String spilledName = "spilled.bin";
    ASSERT_EQ(writeAttachment(to.path.c_str(), spilledName, *spilled, false, false), kWriteOk);
    EXPECT_EQ(to.read("spilled.bin"), bytes);

    settings.partFolder = FolderHandle::open(to.path.c_str());
    ASSERT_EQ(parse(text), 1);
    EXPECT_EQ(dir.names(), "");  // the spilled part went with its message
    EXPECT_EQ(to.names().find(".qarvel-"), 0u);
    for (const char* name : {"a.bin", "t.txt"}) {
        MessagePart* p = msg.nextPart();
        ASSERT_NE(p->data.staged(), nullptr);
        String used = msg.partFileName;
        ASSERT_EQ(writeAttachment(to.path.c_str(), used, *p, writtenAsText(p->contentType, false), false), kWriteOk);
        EXPECT_EQ(used, name);
    }
    EXPECT_EQ(to.read("a.bin"), bytes);
    EXPECT_EQ(to.read("t.txt"), "line one\nline two");
    ASSERT_EQ(parse("Subject: next\n\nx\n"), 1);
    EXPECT_EQ(to.names(), "a.bin spilled.bin t.txt");
}

// A source whose views of its buffer end after at most `limit` bytes; 0: no views, so that
// every line takes the line path.
class ViewLimit : public LineSource {
public:
    ViewLimit(LineSource& in, size_t limit) : in_(in), limit_(limit) {}
    int readLine(char* buffer, int max) override { return in_.readLine(buffer, max); }
    int peekByte(char* out) override { return in_.peekByte(out); }
    int read(char* buffer, int length) override { return in_.read(buffer, length); }
    size_t bufferedView(const char** data) override { return std::min(in_.bufferedView(data), limit_); }
    void consume(size_t n) override { in_.consume(n); }

private:
    LineSource& in_;
    size_t limit_;
};

// Many lines of a base64 body at a time, or one line at a time: the same bytes, body, names and
// byte count for base64 bodies damaged in every way that matters to where a block may end (a
// "-" or "." at a line start, a boundary inside, long lines, no line ends, a size cut short).
TEST_F(ParserTest, BlocksAndLinesOfABase64BodyGiveTheSameResult) {
    std::string bytes;
    for (int i = 0; i < 30000; ++i) bytes.push_back(static_cast<char>(i * 131 + i / 7));
    const std::string b64 = base64Encode(bytes.data(), bytes.size(), 76).str();
    auto every = [&](size_t step, const std::string& with) {
        std::string out;
        size_t n = 0;
        for (size_t at = 0, lf; at < b64.size(); at = lf + 2, ++n)
            out += (n % step == step - 1 ? with : "") + b64.substr(at, (lf = b64.find("\r\n", at)) + 2 - at);
        return out;
    };
    std::string joined = b64;
    for (size_t at; (at = joined.find("\r\n")) != std::string::npos && joined.size() > b64.size() - 40000;) joined.erase(at, 2);
    const std::string bodies[] = {
        b64, every(7, "-"), every(9, "--B\r\n"), every(300, "--B--\r\n"), every(11, "."), every(13, ".\r\n"),
        every(5, "!*\t "), joined, std::string(b64).replace(b64.find("\r\n"), 2, "\r"), b64.substr(0, 20001),
    };
    const char* heads[] = {
        "Content-Type: application/octet-stream; name=a.bin\nContent-Transfer-Encoding: base64\n",
        "Content-Type: text/plain\nContent-Transfer-Encoding: base64\n",
    };
    struct Result {
        int code;
        std::string body, parts;
        uint64_t read;
        bool operator==(const Result&) const = default;
    };
    auto run = [&](const std::string& text, size_t limit, uint64_t expected) {
        FILE* in = fmemopen(const_cast<char*>(text.data()), text.size(), "rb");
        StreamLineSource file(in);
        ViewLimit source(file, limit);
        MessageParser parser(source, settings, msg);
        Result r{parser.run(expected), msg.body, "", msg.bytesRead};
        fclose(in);
        while (const MessagePart* p = msg.nextPart()) r.parts += msg.partFileName.str() + ":" + p->data.memory() + "|";
        return r;
    };
    for (const std::string& data : bodies) {
        for (const char* head : heads) {
            std::string text = std::string("Subject: s\r\nContent-Type: multipart/mixed; boundary=B\r\n\r\n--B\r\n") +
                               head + "\r\n" + data + "--B\r\nContent-Type: text/plain\r\n\r\nafter\r\n--B--\r\n";
            for (std::string::size_type at = 0; (at = text.find('\n', at)) != std::string::npos; ++at)
                if (at == 0 || text[at - 1] != '\r') text.insert(at++, "\r");
            for (int variant = 0; variant < 4; ++variant) {
                settings = ParseSettings();
                settings.extract = variant != 3;
                settings.dotStuffed = variant != 1;
                settings.sizeTrust = variant != 2;
                const uint64_t expected = variant == 0 ? text.size() / 2 : text.size();
                const Result lines = run(text, 0, expected);
                for (size_t limit : {size_t{100}, size_t{5000}, size_t{1} << 20})
                    EXPECT_TRUE(run(text, limit, expected) == lines) << head << variant << " " << limit << " " << data.substr(0, 80);
            }
        }
    }
}

// Decodes `text` as base64, handed over in pieces of `piece` bytes (0: one piece).
std::string decodePieces(const std::string& text, size_t piece) {
    std::string out;
    PartDecoder d;
    d.begin(PartEncoding::kBase64, [&](const char* p, size_t n) { out.append(p, n); return true; });
    if (piece == 0) piece = text.size() ? text.size() : 1;
    for (size_t at = 0; at < text.size(); at += piece) {
        size_t n = std::min(piece, text.size() - at);
        EXPECT_TRUE(d.put(text.data() + at, n, text[at + n - 1] == '\n'));
    }
    EXPECT_TRUE(d.finish());
    return out;
}

// Whole groups take the table run and everything else the byte-wise path; the result must not
// depend on where the pieces are cut or on what is skipped between the groups.
TEST(PartDecoder, Base64PiecesAtEveryOffsetAndSkippedBytes) {
    std::string bytes;
    for (int i = 0; i < 300; ++i) bytes.push_back(static_cast<char>(i * 37 + 11));
    std::string text = base64Encode(bytes.data(), bytes.size(), 76).str();
    for (size_t piece : {0, 1, 2, 3, 5, 7, 77, 78, 79}) EXPECT_EQ(decodePieces(text, piece), bytes) << piece;
    // Blanks, stray bytes and a group cut by a line end are skipped; "=" padding likewise.
    EXPECT_EQ(decodePieces("QUJD\r\nR E\tV G\r\n!R0hJ\r\n", 0), "ABCDEFGHI");
    EXPECT_EQ(decodePieces("QU\r\nJDREVG\r\n", 3), "ABCDEF");
    // A partial group at the end: two values give one byte, three give two, one gives none.
    EXPECT_EQ(decodePieces("QUJDRA==", 0), "ABCD");
    EXPECT_EQ(decodePieces("QUJDREU=", 2), "ABCDE");
    EXPECT_EQ(decodePieces("QUJDR", 0), "ABC");
}

} // namespace
} // namespace qarvel
