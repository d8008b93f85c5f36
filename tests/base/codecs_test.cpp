// The foundation codecs: MD5 and HMAC-MD5, base64, quoted-printable, encoded words, uucode.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/base64.h"
#include "base/base64_kernels.h"
#include "base/charset.h"
#include "base/encoded_word.h"
#include "base/md5.h"
#include "base/quoted_printable.h"
#include "base/uucode.h"
#include "support/run_program.h"

using namespace qarvel;

namespace {

std::string decodeAll(const std::string& text) { return std::string(base64Decode(text.data(), text.size()).view()); }

}  // namespace

TEST(Codecs, Md5AndHmacTestVectors) {
    struct Row {
        std::string text, hex;
    };
    const std::vector<Row> md5Rows = {
        // The RFC 1321 test suite.
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "d174ab98d277d9f5a5611c2c9f419d9f"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
        // 55, 56 and 64 bytes: the padding steps around the block end.
        {std::string(55, 'a'), "ef1772b6dff9a122358552954ad0df65"},
        {std::string(56, 'a'), "3b0c8ac703f828b04c6c197006d17218"},
        {std::string(64, 'a'), "014842d480b571495a4a0363793f7367"},
    };
    for (const Row& row : md5Rows) EXPECT_EQ(md5Hex(String(row.text)), row.hex.c_str()) << row.text;

    // RFC 2104; the third key is longer than a block and is hashed first.
    struct HmacRow {
        std::string key, text, hex;
    };
    const std::vector<HmacRow> hmacRows = {
        {std::string(16, '\x0b'), "Hi There", "9294727a3638bb1c13f48ef8158bfc9d"},
        {"Jefe", "what do ya want for nothing?", "750c783e6ab0b503eaa86e310a5db738"},
        {std::string(80, '\xaa'), "Test Using Larger Than Block-Size Key - Hash Key First",
         "6b1ab7fe4bd7bf8f0b62e6ce61b9d0cd"},
    };
    for (const HmacRow& row : hmacRows) {
        unsigned char d[16];
        hmacMd5(row.text.data(), row.text.size(), row.key.data(), row.key.size(), d);
        EXPECT_EQ(digestToHex(d), row.hex.c_str()) << row.text;
    }
}

TEST(Codecs, Base64VectorsLinesAndPieces) {
    // RFC 4648, both ways.
    const char* plain[] = {"", "f", "fo", "foo", "foob", "fooba", "foobar"};
    const char* coded[] = {"", "Zg==", "Zm8=", "Zm9v", "Zm9vYg==", "Zm9vYmE=", "Zm9vYmFy"};
    for (int i = 0; i < 7; ++i) {
        EXPECT_EQ(base64Encode(String(plain[i])), coded[i]);
        EXPECT_EQ(decodeAll(coded[i]), plain[i]);
    }
    std::string line(57, 'x');
    String one = base64Encode(line.data(), line.size(), 76);
    EXPECT_EQ(one.length(), 78u);  // 76 characters and one "\r\n", none added by finish
    EXPECT_TRUE(one.view().ends_with("\r\n"));
    // Every length, fed in pieces, decodes back; CR LF and spaces are skipped.
    std::string all;
    for (int i = 0; i < 300; ++i) all += static_cast<char>(i * 7);
    for (size_t n = 0; n < all.size(); n += 37) {
        StringSink sink;
        Base64Encoder enc(sink, 76);
        for (size_t i = 0; i < n; i += 5) enc.put(all.data() + i, std::min<size_t>(5, n - i));
        enc.finish();
        std::string noisy;
        for (char c : sink.text) {
            noisy += c;
            if (c == 'A') noisy += " \r\n";
        }
        EXPECT_EQ(decodeAll(noisy), all.substr(0, n)) << n;
    }
    // A large input in one piece crosses the coders' output buffers many times.
    std::string big(300000, 'Q');
    EXPECT_EQ(decodeAll(big).size(), 225000u);
    EXPECT_EQ(base64Encode(big.data(), big.size(), 76).length(), 400000u + 400000u / 76 * 2 + 2);
    // Foreign characters and "=" are skipped, a cut group gives what its bits hold.
    EXPECT_EQ(decodeAll("Zm9vYg==Zm9v"), decodeAll("Zm9vYgZm9v"));
    EXPECT_EQ(decodeAll("Zm9vYmFy="), "foobar");
    EXPECT_EQ(decodeAll("Zm9vY"), std::string("foo") + "`");
    EXPECT_EQ(decodeAll("="), "");
    EXPECT_EQ(decodeAll("!!**"), "");
    // The filters, whose input is read ahead in blocks on a second thread: many blocks, in order.
    std::string bytes(3u << 20, '\0');
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>((i * 2654435761u) >> 13);
    test::ProgramOptions input;
    input.input = bytes;
    test::ProgramResult encoded = test::runQarvel({"-encode:base64"}, input);
    ASSERT_TRUE(encoded.out == base64Encode(bytes.data(), bytes.size(), 76).view());  // no 4 MiB diff
    input.input = encoded.out;
    EXPECT_TRUE(test::runQarvel({"-decode:base64"}, input).out == bytes);
}

TEST(Codecs, Base64KernelsMatchTheScalarLoops) {
    // Every vector kernel this processor runs gives the scalar loops' output, for every length
    // around the block sizes, with and without line breaks; text whose runs are broken by a line
    // end, "=" or a stray byte at each offset decodes as if the break were not there.
    std::string data;
    for (int i = 0; i < 700; ++i) data += static_cast<char>((i * 167) ^ (i >> 2));
    auto encode = [&](size_t n, int lineLength) {
        StringSink sink;
        Base64Encoder enc(sink, lineLength);
        enc.put(data.data(), n);
        enc.finish();
        return sink.text;
    };
    std::vector<std::string> encoded, decoded;
    const char* breaks[] = {"\r\n", "=", "\x80", " "};
    auto runAll = [&](std::vector<std::string>& enc, std::vector<std::string>& dec) {
        for (size_t n = 0; n < data.size(); n += n < 120 ? 1 : 29)
            for (int lineLength : {0, 76, 64, 4, 100}) enc.push_back(encode(n, lineLength));
        std::string text = encode(data.size(), 76);
        for (size_t at = 0; at < 160; ++at) {
            std::string noisy = text;
            noisy.insert(at * 3 % noisy.size(), breaks[at % 4]);
            dec.push_back(decodeAll(noisy));
        }
    };
    ASSERT_TRUE(setBase64Kernel(Base64Kernel::kScalar));
    runAll(encoded, decoded);
    for (size_t at = 0; at < decoded.size(); ++at) ASSERT_EQ(decoded[at], data) << at;
    int tried = 0;
    for (Base64Kernel kernel : {Base64Kernel::kSsse3, Base64Kernel::kAvx2}) {
        if (!setBase64Kernel(kernel)) continue;
        ++tried;
        std::vector<std::string> enc, dec;
        runAll(enc, dec);
        EXPECT_EQ(enc, encoded) << base64KernelName(kernel);
        EXPECT_EQ(dec, decoded) << base64KernelName(kernel);
    }
    setBase64Kernel(Base64Kernel::kAvx2) || setBase64Kernel(Base64Kernel::kSsse3);
#if defined(__x86_64__)
    EXPECT_GT(tried, 0) << "an x86-64 processor runs at least the SSSE3 kernel";
#endif
}

TEST(Codecs, QuotedPrintableBothWays) {
    struct Row {
        std::string in;
        bool headerMode;
        std::string out;
    };
    const std::vector<Row> rows = {
        {".a", false, "=2Ea"}, {"a \r\n", false, "a=20\r\n"}, {"a=b", false, "a=3Db"}, {"a b", true, "a=20b"}};
    String rest;
    for (const Row& row : rows)
        EXPECT_EQ(quotedPrintableEncode(row.in.data(), row.in.size(), row.headerMode, false, &rest), row.out.c_str())
            << row.in;
    // Soft breaks keep lines within 76 characters; a full stop that then begins a line is escaped.
    const std::string y72(72, 'y'), y200(200, 'y'), dotted = y72 + ".z";
    EXPECT_EQ(quotedPrintableEncode(y200.data(), y200.size(), false, false, &rest),
              (y72 + "=\r\n" + y72 + "=\r\n" + std::string(56, 'y')).c_str());
    EXPECT_EQ(quotedPrintableEncode(dotted.data(), dotted.size(), false, false, &rest), (y72 + "=\r\n=2Ez").c_str());
    EXPECT_EQ(quotedPrintableEncode("Ren\xe9 <r@x.org>", 14, true, true, &rest), "Ren=E9=20");
    EXPECT_EQ(rest, "<r@x.org>");
    char b1[] = "a=3Db=4=41=";
    EXPECT_EQ(quotedPrintableDecode(b1, sizeof b1 - 1), 5u);
    EXPECT_EQ(std::string(b1), "a=b\x04" "A");
    char b2[] = "=G1=4";  // bad digit counts as 0; an escape cut by the end stays in bounds
    EXPECT_EQ(quotedPrintableDecode(b2, sizeof b2 - 1), 2u);
}

TEST(Codecs, EncodedWords) {
    String cs;
    EXPECT_EQ(decodeEncodedWords("  =?UTF-8?B?w6k=?= =?iso-8859-1?Q?a_b=E9?=  ", &cs), "\xc3\xa9 a b\xe9");
    EXPECT_EQ(cs, "iso-8859-1");
    EXPECT_EQ(decodeEncodedWords("plain text   "), "plain text");
    EXPECT_EQ(decodeEncodedWords("   "), "");
    EXPECT_EQ(decodeEncodedWords("abc =?"), "abc =?");  // no "?=": a trimmed copy
    EXPECT_EQ(decodeEncodedWords(" x =?utf-8?X?abc?= "), " x =?utf-8?X?abc?= ");
    EXPECT_EQ(decodeEncodedWords("=?utf-8?Q?abc"), "=?utf-8?Q?abc");
    EXPECT_EQ(encodeWord("iso-8859-1", true, "Ren\xe9 <r@x.org>", true), "=?iso-8859-1?Q?Ren=E9=20?=<r@x.org>");
    EXPECT_EQ(encodeWord("utf-8", true, "ascii", true), "ascii");
}

// The encoded words we write are read back by an independent decoder (Python's email.header).
TEST(Codecs, EncodedWordsReadByPython) {
    if (std::system("python3 -c 'import email.header' >/dev/null 2>&1") != 0) GTEST_SKIP() << "no python3";
    const char* script = "import email.header,sys; sys.stdout.buffer.write("
                         "str(email.header.make_header(email.header.decode_header(sys.argv[1]))).encode())";
    for (const char* name : {"Ren\xc3\xa9 Dupont", "a=b?c_d \xe2\x82\xac", "\xc3\xa9t\xc3\xa9 <a@b.example>"}) {
        String word = encodeWord("utf-8", true, name, false);
        test::ProgramResult r = test::runProgram("/usr/bin/env", {"python3", "-c", script, word.str()});
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(r.out, name) << word.c_str();
        EXPECT_EQ(decodeEncodedWords(word), name);
    }
}

TEST(Codecs, UuencodeRoundTripAndStuffing) {
    std::string data(100, '\0');
    for (int i = 0; i < 100; ++i) data[i] = static_cast<char>(i * 13);
    StringSink sink;
    UuEncoder enc(sink, "dir/sub\\file.bin", true);
    enc.encode(data.data(), data.size());
    enc.end();
    EXPECT_EQ(sink.text.substr(0, 19), "begin 644 file.bin\n");
    EXPECT_EQ(sink.text[19], 'M');
    EXPECT_TRUE(sink.text.ends_with("`\nend\n"));
    StringSink back;
    UuDecoder dec("begin 644 file.bin", back, true);
    EXPECT_EQ(dec.fileName(), "file.bin");
    for (size_t pos = sink.text.find('\n') + 1, end; (end = sink.text.find('\n', pos)) != std::string::npos; pos = end + 1) {
        if (sink.text.compare(pos, end - pos, "end") == 0) break;
        dec.decodeLine(sink.text.data() + pos, end - pos);
    }
    EXPECT_EQ(back.text, data);
    StringSink ignored;
    UuDecoder hostile(String(("begin 644 " + std::string(10000, 'n')).c_str()), ignored);
    EXPECT_EQ(hostile.fileName().length(), 255u);
}

// The UTF-8 test, and message text turned into UTF-8 by its declared charset (a page) or
// from UTF-8 into a terminal's charset.
TEST(Codecs, CharsetsThroughIconv) {
    const struct {
        const char* text;
        bool utf8;
    } forms[] = {{"", true}, {"plain", true}, {"\xC3\xA4", true}, {"\xE2\x82\xAC", true},
                 {"\xF0\x9F\x98\x80", true}, {"\xC3", false}, {"\xC0\x80", false}, {"\xE0\x80\xAF", false},
                 {"\xED\xA0\x80", false}, {"\xF4\x90\x80\x80", false}, {"M\xE4rz", false}, {"\x80", false},
                 {"\xC3\xA4\xC3", false},
                 // Every continuation byte is checked, the third and fourth too.
                 {"\xE2\x82\x41", false}, {"\xF0\x9F\x98\x41", false}, {"\xF0\x9F\x41\x80", false},
                 {"\xE2\x41\x82", false}};
    for (const auto& f : forms) EXPECT_EQ(isUtf8(f.text), f.utf8) << f.text;

    const struct {
        std::string text;
        const char* charset;
        std::string utf8;
    } shown[] = {
        {"M\xE4rz", "iso-8859-1", "M\xC3\xA4rz"},
        {"\x80 \x93x\x94", "ISO-8859-1", "\xE2\x82\xAC \xE2\x80\x9Cx\xE2\x80\x9D"},  // read as Windows-1252
        {"\x80", "windows-1252", "\xE2\x82\xAC"},
        {"\xA4", "iso-8859-15", "\xE2\x82\xAC"},
        {"\xCF\xF0\xE8\xE2\xE5\xF2", "windows-1251", "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82"},
        {"\x1B$B$3$s$K$A$O\x1B(B", "ISO-2022-JP", "\xE3\x81\x93\xE3\x82\x93\xE3\x81\xAB\xE3\x81\xA1\xE3\x81\xAF"},
        {"\xC3\xA4", "utf-8", "\xC3\xA4"},
        {"\xC3\xA4", "", "\xC3\xA4"},
        {"\xE4", "", "\xC3\xA4"},
        {"\xE4", "x-no-such-charset", "\xC3\xA4"},
        {"\xC3\xA4", "\"UTF-8\"", "\xC3\xA4"},
        {"a\xC3(b", "utf-8", "a\xC3\x83(b"},  // not UTF-8 after all: read as Windows-1252
        {"ok \xFF", "us-ascii", "ok \xC3\xBF"},
        {"x\x81y", "windows-1252", "x\xEF\xBF\xBDy"},  // undefined in Windows-1252
    };
    for (const auto& c : shown) EXPECT_EQ(textAsUtf8(c.text, c.charset), c.utf8) << c.text << " " << c.charset;

    std::string out = "kept";
    EXPECT_FALSE(convertText("x", "x-no-such-charset", "UTF-8", out));
    EXPECT_EQ(out, "kept");
    EXPECT_EQ(utf8As("M\xC3\xA4rz", "ISO-8859-1"), "M\xE4rz");
    EXPECT_EQ(utf8As("M\xC3\xA4rz", "UTF-8"), "M\xC3\xA4rz");
    // A character the target lacks and a broken sequence do not stop the rest.
    std::string latin = utf8As("\xE2\x98\x83 \xC3 \xC3\xA9", "ISO-8859-1");
    EXPECT_EQ(latin.substr(latin.size() - 2), " \xE9") << latin;
    EXPECT_TRUE(isAscii(utf8As("\xE2\x98\x83", "ANSI_X3.4-1968")));
}
