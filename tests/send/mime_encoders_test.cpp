// The composer's encoders: whole base64 lines for blocks of 57·k bytes, quoted-printable
// escapes and CR LF line ends, uuencoded lines and the encoded word for file names.
#include <gtest/gtest.h>

#include <string>

#include "send/mime_encoders.h"

namespace qarvel {
namespace {

std::string base64(const std::string& in) {
    std::string out;
    encodeBase64Lines76(in.data(), in.size(), out);
    return out;
}

TEST(MimeEncoders, Base64Lines) {
    EXPECT_EQ(base64(""), "");
    EXPECT_EQ(base64("a"), "YQ==\r\n");
    EXPECT_EQ(base64("ab"), "YWI=\r\n");
    EXPECT_EQ(base64("abc"), "YWJj\r\n");
    std::string line57(57, '\xff');
    EXPECT_EQ(base64(line57), std::string(76, '/') + "\r\n");  // one full line, one line end
    std::string two = base64(line57 + line57 + "x");
    EXPECT_EQ(two, std::string(76, '/') + "\r\n" + std::string(76, '/') + "\r\neA==\r\n");
    // Blocks of 57·k bytes encode on their own: joined they equal the whole.
    std::string data;
    for (int k = 0; k < 1000; ++k) data += static_cast<char>(k * 7 + 3);
    std::string joined;
    encodeBase64Lines76(data.data(), 570, joined);
    encodeBase64Lines76(data.data() + 570, data.size() - 570, joined);
    EXPECT_EQ(joined, base64(data));
}

TEST(MimeEncoders, QuotedPrintable) {
    auto qp = [](const std::string& s) { return encodeQuotedPrintableCrlf(s.data(), s.size()); };
    EXPECT_EQ(qp("a=b"), "a=3Db");
    EXPECT_EQ(qp(".start\n.x"), "=2Estart\r\n=2Ex");
    EXPECT_EQ(qp("trail \r\nx"), "trail=20\r\nx");
    EXPECT_EQ(qp("tab\t\n"), "tab=09\r\n");
    EXPECT_EQ(qp("end "), "end=20");
    EXPECT_EQ(qp("caf\xc3\xa9"), "caf=C3=A9");
    EXPECT_EQ(qp("lone\rcr"), "lone=0Dcr");
    std::string longLine(200, 'x');
    std::string encoded = qp(longLine);
    size_t start = 0;
    while (start < encoded.size()) {
        size_t end = encoded.find("\r\n", start);
        if (end == std::string::npos) end = encoded.size();
        EXPECT_LE(end - start, 76u);
        start = end + 2;
    }
    EXPECT_EQ(encoded.substr(0, 73), std::string(72, 'x') + "=");
}

TEST(MimeEncoders, UuencodeAndEncodedWord) {
    std::string out;
    uuencodeLinesCrlf(std::string(45, 'A').data(), 45, out);
    EXPECT_EQ(out[0], 'M');
    EXPECT_EQ(out.size(), 1 + 60 + 2u);
    out.clear();
    uuencodeLinesCrlf("Cat", 3, out);
    EXPECT_EQ(out, "#0V%T\r\n");
    EXPECT_EQ(uuencodeBeginLine("a.bin"), "begin 644 a.bin\r\n");
    EXPECT_EQ(uuencodeEndLines(), "`\r\nend\r\n");
    EXPECT_EQ(encodeWordText("caf\xc3\xa9 \"x\".txt", "utf-8"), "=?utf-8?Q?caf=C3=A9=20=22x=22.txt?=");
}

} // namespace
} // namespace qarvel
