// The multipart composer: boundaries, the nesting of each kind of message against golden
// files (tests/data/mime/*.ref, boundaries written as B1 B2 B3), the file part headers and
// transfer encodings, sizes around the 57-byte base64 line, progress totals, and bad input.
#include "send/mime_body.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "base/base64.h"
#include "base/encoded_word.h"
#include "base/quoted_printable.h"
#include "receive/line_source.h"
#include "receive/attachment_file.h"
#include "receive/message.h"
#include "receive/message_parser.h"
#include "send/sender_session.h"
#include "support/has_text.h"
#include "support/temp_folder.h"
#include "support/text_lines.h"

namespace qarvel {
namespace {

using test::has;

// A session whose peer records every byte and accepts the message.
class CaptureSession : public SenderSession {
public:
    CaptureSession() {
        setNoTerminator(1);
        style().date = "Sun, 06 Dec 2026 12:00:00 +0000";
        style().extraHeaders = "X-Test: 1\r\n";
    }
    std::string data;
    std::vector<int> progress;
    size_t failAfter = static_cast<size_t>(-1);  // the peer resets after this many bytes

    int send(const char* bytes, int length) override {
        if (data.size() + static_cast<size_t>(length) > failAfter) return -10054;
        data.append(bytes, static_cast<size_t>(length));
        return length;
    }
    int authenticate(const String&, const String&) override { return 1; }
    int readReply() override { return 1; }
    int reportProgress(int percent) override {
        progress.push_back(percent);
        return 0;
    }
    // Composes one message with the given body; returns the send result.
    int compose(const std::string& body) {
        data.clear();
        progress.clear();
        return sendMessage("a@example.org", String(), "b@example.org", "s", body.data(), body.size(),
                           String(), String(), String(), String());
    }
};

// Replaces the three boundaries of the message composed after `before` by B1, B2 and B3.
std::string normalise(const std::string& message, int before) {
    std::regex boundary("NEXT_PART_([0-9]+)_[0-9]+_[0-9]+_-?[0-9]+");
    std::string out;
    auto begin = std::sregex_iterator(message.begin(), message.end(), boundary);
    size_t last = 0;
    for (auto it = begin; it != std::sregex_iterator(); ++it) {
        out += message.substr(last, static_cast<size_t>(it->position()) - last);
        out += "B" + std::to_string(std::stoi((*it)[1]) - before);
        last = static_cast<size_t>(it->position() + it->length());
    }
    return out + message.substr(last);
}

int counterNow() { return std::stoi(makeBoundary().str().substr(10)); }

// The message with boundaries normalised, checked against a golden file (printed on failure).
// The reference files are kept with plain line feeds; the message has CR LF.
void expectGolden(CaptureSession& session, const std::string& body, const std::string& name) {
    const std::string path = std::string(QARVEL_SOURCE_DIR) + "/tests/data/mime/" + name + ".ref";
    int before = counterNow();
    ASSERT_EQ(session.compose(body), 1);
    std::string got = normalise(session.data, before);
    if (std::getenv("QARVEL_UPDATE_GOLDEN"))  // review the diff before committing it
        std::ofstream(path, std::ios::binary) << std::regex_replace(got, std::regex("\r"), "");
    std::stringstream lf;
    lf << std::ifstream(path, std::ios::binary).rdbuf();
    EXPECT_EQ(got, std::regex_replace(lf.str(), std::regex("\n"), "\r\n")) << "---- " << name << " composed:\n" << got;
}

TEST(MimeBody, NestingOfEachKind) {
    test::TempFolder dir;
    String text = dir.put("notes.txt", "first line\n.second\n");
    String binary = dir.put("data", std::string("\x00\x01\x02\xff", 4));
    String logo = dir.put("logo.png", "PNG");
    String page = dir.put("part.htm", "<b>x</b>\n");
    auto htmlAlternative = [](CaptureSession& s) {
        s.style().html = true;
        s.style().alternative = true;
    };
    struct Kind {
        const char* golden;  // mixed; alternative; related inside alternative; all three; voice
        std::string body;
        std::function<void(CaptureSession&)> setUp;
    };
    const Kind kinds[] = {
        {"mixed", "Hello\r\n", [&](CaptureSession& s) {
             s.addAttachment(text, String(), false);
             s.addAttachment(binary, String(), false);
         }},
        {"alternative", "<p>Hi &gt; there</p>", htmlAlternative},
        {"related", "<img src=\"cid:logo1\" alt=\"Logo\">", [&](CaptureSession& s) {
             htmlAlternative(s);
             s.addAttachment(logo, "cid:logo1", true);
             s.addAttachment(page, "http://example.org/part.htm", true);
         }},
        {"all", "<img src=\"cid:logo1\">", [&](CaptureSession& s) {
             htmlAlternative(s);
             s.style().alternativeText = "Plain version\r\n";
             s.style().eightBit = true;
             s.style().quotedPrintable = 0;
             s.addAttachment(logo, "cid:logo1", true);
             s.addAttachment(binary, String(), false);
         }},
        {"voice", "Voice message\r\n", [&](CaptureSession& s) {
             s.style().voice = true;
             s.addAttachment(dir.put("greeting.wav", "RIFF"), String(), false);
             s.addAttachment(dir.put("header.bin", "x"), String(), true);
             s.style().partHeader = true;
         }},
    };
    for (const Kind& kind : kinds) {
        SCOPED_TRACE(kind.golden);
        CaptureSession s;
        kind.setUp(s);
        expectGolden(s, kind.body, kind.golden);
    }
}

TEST(MimeBody, RelatedOnlyAndPartHeaderText) {
    test::TempFolder dir;
    String logo = dir.put("logo.gif", "GIF89a");
    CaptureSession s;
    s.style().html = true;
    s.addAttachment(logo, "Content-Type: image/gif\r\nContent-ID: <given>\r\n", true);
    s.style().partHeader = true;
    int before = counterNow();
    ASSERT_EQ(s.compose("<img src=cid:given>"), 1);
    std::string m = normalise(s.data, before);
    // Related files alone make multipart/related at the top, with no mixed or alternative.
    EXPECT_TRUE(has(m, "Content-Type: multipart/related; boundary=\"B3\"\r\n\r\n\r\n--B3\r\n"
                       "Content-Type: text/html; charset=us-ascii\r\n"));
    EXPECT_FALSE(has(m, "B1"));
    // The part-header flag sends the reference as the part's whole header.
    EXPECT_TRUE(has(m, "\r\n--B3\r\nContent-Type: image/gif\r\nContent-ID: <given>\r\n"
                       "Content-Transfer-Encoding: base64\r\n\r\nR0lGODlh\r\n\r\n--B3--\r\n\r\n"));
}

// The part that follows the first "Content-Disposition" or given header, up to the next
// delimiter.
std::string partOf(const std::string& message, const std::string& name) {
    size_t at = message.find("; name=\"" + name + "\"");
    if (at == std::string::npos) return std::string();
    at = message.rfind("\r\n--", at);
    size_t end = message.find("\r\n--", at + 4);
    return message.substr(at, end - at);
}

std::string contentOf(const std::string& part) { return part.substr(part.find("\r\n\r\n") + 4); }

std::string decodeBase64(const std::string& text) { return std::string(base64Decode(text).view()); }

TEST(MimeBody, FilePartEncodingsAndSizes) {
    test::TempFolder dir;
    std::string bytes;
    for (int k = 0; k < 57 * 5000 + 1; ++k) bytes += static_cast<char>((k * 131 + 7) & 0xff);
    struct Case {
        std::string name;
        size_t size;
    };
    // Sizes around whole 57-byte lines and around the reading block (57 * 4096 bytes).
    std::vector<Case> cases = {{"empty.bin", 0},   {"one.bin", 1},         {"line.bin", 57},
                               {"line2.bin", 58},  {"k57.bin", 57 * 100},  {"block.bin", 57 * 4096},
                               {"block1.bin", 57 * 4096 + 1}, {"big.bin", bytes.size()}};
    CaptureSession s;
    for (const Case& c : cases) s.addAttachment(dir.put(c.name, bytes.substr(0, c.size)), String(), false);
    ASSERT_EQ(s.compose("body\r\n"), 1);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string part = partOf(s.data, c.name);
        ASSERT_FALSE(part.empty());
        EXPECT_TRUE(has(part, "Content-Type: application/octet-stream; name=\"" + c.name + "\"; type=Binary\r\n"
                              "Content-Disposition: attachment; filename=\"" + c.name + "\"\r\n"
                              "Content-Transfer-Encoding: base64\r\n\r\n"));
        std::string content = contentOf(part);
        EXPECT_EQ(decodeBase64(content), bytes.substr(0, c.size));
        // Every line but the last holds 76 characters; a size of 57·k has only full lines.
        const std::vector<std::string> lines = test::linesOf(content);
        EXPECT_EQ(lines.size(), (c.size + 56) / 57);
        for (size_t k = 0; k < lines.size(); ++k)
            EXPECT_EQ(lines[k].size(), k + 1 < lines.size() || c.size % 57 == 0 ? 76u : (c.size % 57 + 2) / 3 * 4);
    }
    // The progress total is the body and every file; the last report is 100.
    size_t total = 6;  // "body\r\n" has nothing to escape
    for (const Case& c : cases) total += c.size;
    EXPECT_EQ(s.totalExpected(), total);
    ASSERT_FALSE(s.progress.empty());
    EXPECT_EQ(s.progress.back(), 100);
    for (size_t k = 1; k < s.progress.size(); ++k) EXPECT_LE(s.progress[k - 1], s.progress[k]);
}

TEST(MimeBody, TextFilesAndFlags) {
    test::TempFolder dir;
    std::string text = "caf\xc3\xa9 = ok\n.dot line\n";
    String path = dir.put("menu.txt", text);
    // A text file sent as it is goes on the wire with its leading dot stuffed.
    std::string onTheWire = "caf\xc3\xa9 = ok\n..dot line\n";
    // The message with the text file and the other files named, after the flags are set.
    auto compose = [&](const std::function<void(CaptureSession&)>& setFlags, std::vector<String> more = {}) {
        CaptureSession s;
        setFlags(s);
        s.addAttachment(path, String(), false);
        for (const String& file : more) s.addAttachment(file, String(), false);
        EXPECT_EQ(s.compose("b"), 1);
        return s.data;
    };
    // Default: quoted-printable.
    std::string part = partOf(compose([](CaptureSession&) {}), "menu.txt");
    EXPECT_TRUE(has(part, "Content-Type: text/plain; name=\"menu.txt\"\r\n"));
    EXPECT_TRUE(has(part, "Content-Transfer-Encoding: quoted-printable\r\n\r\ncaf=C3=A9 =3D ok\r\n=2Edot line\r\n"));
    // -8: sent as read, 8bit.
    part = partOf(compose([](CaptureSession& s) {
                      s.style().quotedPrintable = 0;
                      s.style().eightBit = true;
                      s.style().inlineAttachments = true;
                  }),
                  "menu.txt");
    EXPECT_TRUE(has(part, "Content-Disposition: inline; filename=\"menu.txt\"\r\n"
                          "Content-Transfer-Encoding: 8bit\r\n\r\n" + onTheWire));
    // -uue: text stays text, but not quoted-printable; binary is uuencoded.
    std::string m = compose([](CaptureSession& s) { s.style().uuencode = true; }, {dir.put("cat.dat", "Cat")});
    EXPECT_NE(partOf(m, "menu.txt").find("Content-Transfer-Encoding: 7bit\r\n\r\n" + onTheWire), std::string::npos);
    EXPECT_NE(partOf(m, "cat.dat").find("Content-Transfer-Encoding: X-UUencode\r\n\r\n"
                                        "begin 644 cat.dat\r\n#0V%T\r\n`\r\nend\r\n"),
              std::string::npos)
        << m;
    // -binary: every file is octet-stream and base64.
    const String pdf = dir.put("REPORT.PDF", "%PDF");
    m = compose([](CaptureSession& s) { s.style().binaryAttachments = true; }, {pdf});
    part = partOf(m, "menu.txt");
    EXPECT_TRUE(has(part, "application/octet-stream; name=\"menu.txt\"; type=Binary"));
    EXPECT_EQ(decodeBase64(contentOf(part)), text);
    EXPECT_TRUE(has(m, "application/octet-stream; name=\"REPORT.PDF\"; type=Binary"));
    // Files of a known type name it, with no binary mark.
    m = compose([](CaptureSession&) {}, {pdf, dir.put("page.html", "<p>")});
    EXPECT_TRUE(has(m, "Content-Type: application/pdf; name=\"REPORT.PDF\"\r\n"));
    EXPECT_TRUE(has(m, "Content-Type: text/html; name=\"page.html\"\r\n"));
}

TEST(MimeBody, LongTextFileStreamsInChunks) {
    test::TempFolder dir;
    // Lines that cross the 4096-byte reading chunk, one very long line and CR LF pairs.
    std::string text;
    for (int k = 0; k < 500; ++k) text += "line " + std::to_string(k) + std::string(k % 97, 'x') + "\r\n";
    text += std::string(10000, 'y') + "\n" + std::string(4095, 'z') + "\r\n" + "end";
    CaptureSession s;
    s.addAttachment(dir.put("long.txt", text), String(), false);
    ASSERT_EQ(s.compose("b"), 1);
    std::string content = contentOf(partOf(s.data, "long.txt"));
    // Every encoded line fits in 76 characters and decoding gives the text back.
    for (const std::string& line : test::linesOf(content)) EXPECT_LE(line.size(), 76u);
    EXPECT_EQ(test::countOf(content, "\r"), test::countOf(content, "\r\n"));
    std::string decoded = std::regex_replace(content, std::regex("=\r\n"), "");
    decoded.resize(quotedPrintableDecode(decoded.data(), decoded.size()));
    EXPECT_EQ(decoded, std::regex_replace(text, std::regex("\r?\n"), "\r\n"));
}

TEST(MimeBody, BadInput) {
    test::TempFolder dir;
    {
        // A file that vanished after it was added, and a directory: no part, a warning, and
        // the message goes on with the next file.
        CaptureSession s;
        String gone = dir.put("gone.bin", "x");
        s.addAttachment(gone, String(), false);
        std::remove(gone.c_str());
        s.addAttachment(dir.path + "/", String(), false);
        s.addAttachment(dir.put("kept.bin", "ok"), String(), false);
        int before = counterNow();
        testing::internal::CaptureStderr();
        ASSERT_EQ(s.compose("b"), 1);
        std::string warnings = testing::internal::GetCapturedStderr();
        EXPECT_TRUE(has(warnings, "gone.bin"));
        std::string m = normalise(s.data, before);
        EXPECT_FALSE(has(m, "gone.bin"));
        EXPECT_TRUE(has(m, "name=\"kept.bin\""));
        EXPECT_EQ(m.substr(m.size() - 12), "\r\n--B1--\r\n\r\n");
        EXPECT_EQ(writeFilePart(s, "B", dir.file("missing"), String()), 0);
    }
    {
        // Names with quotes, semicolons, control and non-ASCII bytes stay inside one quoted
        // parameter.
        CaptureSession s;
        s.style().charset = "utf-8";
        s.addAttachment(dir.put("a \"b\"; c=d.bin", "1"), String(), false);
        s.addAttachment(dir.put("r\xc3\xa9sum\xc3\xa9.pdf", "2"), String(), false);
        s.addAttachment(dir.put("back\\slash\tt.bin", "3"), String(), false);
        ASSERT_EQ(s.compose("b"), 1);
        EXPECT_TRUE(has(s.data, "; name=\"a \\\"b\\\"; c=d.bin\"; type=Binary\r\n"));
        EXPECT_TRUE(has(s.data, "application/pdf; name=\"=?utf-8?Q?r=C3=A9sum=C3=A9.pdf?=\"\r\n"));
        // "back\slash" is cut at the backslash like a path; the tab becomes '_'.
        EXPECT_TRUE(has(s.data, "; name=\"slash_t.bin\""));
        for (unsigned char c : s.data) EXPECT_TRUE(c < 128) << "non-ASCII byte in the message";
        // A Content-ID with a line break cannot break the header.
        CaptureSession r;
        r.style().html = true;
        r.addAttachment(dir.put("i.png", "p"), "cid:a\r\nBcc: x", true);
        ASSERT_EQ(r.compose("<img>"), 1);
        EXPECT_TRUE(has(r.data, "Content-ID: <aBcc: x>\r\n"));
    }
    {
        // The peer goes away inside an attachment: the composition ends with that result.
        CaptureSession s;
        std::string big(57 * 4096 * 3, 'q');
        s.addAttachment(dir.put("big.bin", big), String(), false);
        s.addAttachment(dir.put("next.bin", "n"), String(), false);
        s.failAfter = 100000;
        EXPECT_EQ(s.compose("b"), -10054);
        EXPECT_LE(s.data.size(), 100000u);
    }
}

// Texts beyond ASCII: UTF-8 is labelled utf-8 unless a charset was chosen, other 8-bit text
// keeps the session's charset, ASCII stays as it was; a non-ASCII file name goes out in the
// RFC 2231 form (in sections when long) beside the encoded-word name, and the parser reads
// the message back to the same names.
TEST(MimeBody, TextBeyondAsciiAndFileNames) {
    test::TempFolder dir;
    const std::string umlaut = "Bericht M\xC3\xA4rz.pdf";
    const std::string longName = "Sehr lange Dateinamen mit \xC3\xBC" "berall Umlauten \xC3\xA4\xC3\xB6\xC3\xBC "
                                 "und noch viel mehr Text dahinter, damit es reicht.txt";
    CaptureSession s;
    s.style().charset = "iso-8859-1";
    s.addAttachment(dir.put(umlaut, "%PDF"), String(), false);
    s.addAttachment(dir.put(longName, "text\n"), String(), false);
    s.addAttachment(dir.put("caf\xE9.bin", "x"), String(), false);
    const std::string body = "Gr\xC3\xBC\xC3\x9F" "e\r\n";
    ASSERT_EQ(s.sendMessage("J\xC3\xBCrgen <j@example.org>", String(), "b@example.org", "Report M\xC3\xA4rz",
                            body.data(), body.size(), String(), String(), String(), String()),
              1);
    const std::string& m = s.data;
    EXPECT_TRUE(has(m, "From: =?utf-8?Q?J=C3=BCrgen=20?=<j@example.org>\r\n"));
    EXPECT_TRUE(has(m, "Subject: =?utf-8?Q?Report=20M=C3=A4rz?=\r\n"));
    EXPECT_TRUE(has(m, "Content-Type: text/plain; charset=utf-8\r\n"));
    EXPECT_TRUE(has(m, "Content-Type: application/pdf; name=\"=?utf-8?Q?Bericht=20M=C3=A4rz.pdf?=\"\r\n"
                       "Content-Disposition: attachment; filename*=utf-8''Bericht%20M%C3%A4rz.pdf\r\n"));
    EXPECT_TRUE(has(m, "Content-Disposition: attachment;\r\n\tfilename*0*=utf-8''Sehr%20lange"));
    // A Latin-1 name is not UTF-8: it keeps the session's charset.
    EXPECT_TRUE(has(m, "filename*=iso-8859-1''caf%E9.bin\r\n"));
    for (size_t at = 0, end; (end = m.find("\r\n", at)) != std::string::npos; at = end + 2)
        if (m.compare(at, 10, "\tfilename*") == 0) {
            EXPECT_LE(end - at, 78u) << m.substr(at, end - at);
        }

    Message read;
    ParseSettings settings;
    settings.extract = 1;
    settings.decodeWords = decodeEncodedWords;
    FILE* in = fmemopen(const_cast<char*>(m.data()), m.size(), "rb");
    ASSERT_NE(in, nullptr);
    StreamLineSource source(in);
    MessageParser(source, settings, read).run(m.size());
    fclose(in);
    EXPECT_EQ(read.subjectText, "Report M\xC3\xA4rz");
    EXPECT_EQ(read.bodyCharset, "utf-8");
    std::vector<std::string> names;
    while (read.nextPart()) names.push_back(read.partFileName.str());
    EXPECT_EQ(names, (std::vector<std::string>{"Bericht_M\xC3\xA4rz.pdf", safeFileName(longName).str(),
                                               "caf\xC3\xA9.bin"}));

    // Latin-1 text keeps the session's charset, ASCII is written as before, a chosen charset
    // is used for everything.
    CaptureSession latin, ascii, chosen;
    for (CaptureSession* c : {&latin, &ascii, &chosen}) c->style().charset = "iso-8859-1";
    ASSERT_EQ(latin.sendMessage("a@example.org", String(), "b@example.org", "M\xE4rz", "\xE4\r\n", 3, String(),
                                String(), String(), String()),
              1);
    EXPECT_TRUE(has(latin.data, "Subject: =?iso-8859-1?Q?M=E4rz?=\r\n"));
    EXPECT_TRUE(has(latin.data, "charset=iso-8859-1\r\n"));
    ASSERT_EQ(ascii.compose("plain\r\n"), 1);
    EXPECT_TRUE(has(ascii.data, "Subject: s\r\nMIME-Version: 1.0\r\n"));
    EXPECT_TRUE(has(ascii.data, "Content-Type: text/plain; charset=iso-8859-1\r\n"));
    chosen.style().charset = "koi8-r";
    chosen.style().charsetChosen = true;
    ASSERT_EQ(chosen.sendMessage("a@example.org", String(), "b@example.org", "\xC3\xA4", body.data(), body.size(),
                                 String(), String(), String(), String()),
              1);
    EXPECT_TRUE(has(chosen.data, "Subject: =?koi8-r?Q?=C3=A4?=\r\n"));
    EXPECT_TRUE(has(chosen.data, "charset=koi8-r\r\n"));
}

} // namespace
} // namespace qarvel
