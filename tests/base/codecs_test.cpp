#include <gtest/gtest.h>

#include <string>

#include "base/base64.h"
#include "base/encoded_word.h"
#include "base/md5.h"
#include "base/quoted_printable.h"
#include "base/uucode.h"

using namespace qarvel;

TEST(Codecs, Md5AndHmacTestVectors) {
    EXPECT_EQ(md5Hex(""), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(md5Hex("abc"), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(md5Hex("12345678901234567890123456789012345678901234567890123456789012345678901234567890"),
              "57edf4a22be3c955ac49da2e2107b67a");
    unsigned char d[16];
    std::string key(16, '\x0b');
    hmacMd5("Hi There", 8, key.data(), key.size(), d);
    EXPECT_EQ(digestToHex(d), "9294727a3638bb1c13f48ef8158bfc9d");
    hmacMd5("what do ya want for nothing?", 28, "Jefe", 4, d);
    EXPECT_EQ(digestToHex(d), "750c783e6ab0b503eaa86e310a5db738");
    std::string longKey(80, '\xaa');  // longer than a block: hashed first
    hmacMd5("Test Using Larger Than Block-Size Key - Hash Key First", 54, longKey.data(), 80, d);
    EXPECT_EQ(digestToHex(d), "6b1ab7fe4bd7bf8f0b62e6ce61b9d0cd");
}

TEST(Codecs, Base64GroupsLinesAndJunk) {
    EXPECT_EQ(base64Encode("abc", 3), "YWJj");
    EXPECT_EQ(base64Encode("a", 1), "YQ==");
    EXPECT_EQ(base64Encode("ab", 2), "YWI=");
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
        for (char c : sink.text) { noisy += c; if (c == 'A') noisy += " \r\n"; }
        String back = base64Decode(noisy.data(), noisy.size());
        EXPECT_EQ(std::string(back.view()), all.substr(0, n)) << n;
    }
    // Joined pieces decode as one; a lone "=" or garbage does not break anything.
    EXPECT_EQ(base64Decode("YWJj\r\nYWJj", 10), "abcabc");
    EXPECT_EQ(base64Decode("=", 1), "");
    EXPECT_EQ(base64Decode("Y", 1).length(), 1u);
    EXPECT_EQ(base64Decode("!!**", 4), "");
}

TEST(Codecs, QuotedPrintableBothWays) {
    String rest;
    EXPECT_EQ(quotedPrintableEncode(".a", 2, false, false, &rest), "=2Ea");
    EXPECT_EQ(quotedPrintableEncode("a \r\n", 4, false, false, &rest), "a=20\r\n");
    EXPECT_EQ(quotedPrintableEncode("a=b", 3, false, false, &rest), "a=3Db");
    EXPECT_EQ(quotedPrintableEncode("a b", 3, true, false, &rest), "a=20b");
    std::string longLine(200, 'y');
    String wrapped = quotedPrintableEncode(longLine.data(), longLine.size(), false, false, &rest);
    for (auto piece : {wrapped.view()}) {
        size_t start = 0, end;
        while ((end = piece.find("\r\n", start)) != std::string_view::npos) {
            EXPECT_LE(end - start, 76u);
            start = end + 2;
        }
    }
    EXPECT_EQ(quotedPrintableEncode("Ren\xe9 <r@x.org>", 14, true, true, &rest), "Ren=E9=20");
    EXPECT_EQ(rest, "<r@x.org>");
    char b1[] = "a=3Db=4=41=";
    EXPECT_EQ(quotedPrintableDecode(b1, sizeof b1 - 1), 5u);
    EXPECT_EQ(std::string(b1), "a=b\x04" "A");
    char b2[] = "=G1=4";  // bad digit counts as 0; an escape cut by the end stays in bounds
    size_t n = quotedPrintableDecode(b2, sizeof b2 - 1);
    EXPECT_EQ(n, 2u);
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
    size_t pos = sink.text.find('\n') + 1;
    while (pos < sink.text.size()) {
        size_t end = sink.text.find('\n', pos);
        std::string line = sink.text.substr(pos, end - pos);
        if (line == "end") break;
        dec.decodeLine(line.data(), line.size());
        pos = end + 1;
    }
    EXPECT_EQ(back.text, data);
    std::string longName(10000, 'n');
    StringSink ignored;
    UuDecoder hostile(String(("begin 644 " + longName).c_str()), ignored);
    EXPECT_EQ(hostile.fileName().length(), 255u);
}
