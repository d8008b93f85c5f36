#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>
#include <string>
#include <vector>

#include "base/base64.h"
#include "base/encoded_word.h"
#include "base/md5.h"
#include "base/ordered_map.h"
#include "base/wildcard.h"

using namespace qarvel;

namespace {

std::string decodeAll(const std::string& text) {
    String back = base64Decode(text.data(), text.size());
    return std::string(back.c_str(), back.length());
}

}  // namespace

TEST(CodecVectors, Md5SuiteAndBase64Rfc4648) {
    EXPECT_EQ(md5Hex("a"), "0cc175b9c0f1b6a831c399e269772661");
    EXPECT_EQ(md5Hex("message digest"), "f96b697d7cb7938d525a2f31aaf161d0");
    EXPECT_EQ(md5Hex("abcdefghijklmnopqrstuvwxyz"), "c3fcd3d76192e4007dfb496cca67e13b");
    EXPECT_EQ(md5Hex("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"),
              "d174ab98d277d9f5a5611c2c9f419d9f");
    // 55, 56 and 64 bytes: the padding steps around the block end.
    EXPECT_EQ(md5Hex(String(std::string(55, 'a').c_str())), "ef1772b6dff9a122358552954ad0df65");
    EXPECT_EQ(md5Hex(String(std::string(56, 'a').c_str())), "3b0c8ac703f828b04c6c197006d17218");
    EXPECT_EQ(md5Hex(String(std::string(64, 'a').c_str())), "014842d480b571495a4a0363793f7367");

    const char* plain[] = {"", "f", "fo", "foo", "foob", "fooba", "foobar"};
    const char* coded[] = {"", "Zg==", "Zm8=", "Zm9v", "Zm9vYg==", "Zm9vYmE=", "Zm9vYmFy"};
    for (int i = 0; i < 7; ++i) {
        EXPECT_EQ(base64Encode(plain[i], std::strlen(plain[i])), coded[i]);
        EXPECT_EQ(base64Decode(coded[i], std::strlen(coded[i])), plain[i]);
    }
}

TEST(CodecVectors, Base64DecoderRunsBrokenAnywhere) {
    // A long text whose group runs are broken by a foreign character at every offset decodes
    // as if the character were not there; so do truncated groups and text after padding.
    std::string data;
    for (int i = 0; i < 3000; ++i) data += static_cast<char>((i * 131) ^ (i >> 3));
    String encoded = base64Encode(data.data(), data.size());
    std::string text(encoded.c_str(), encoded.length());
    for (size_t at = 0; at <= 64; ++at) {
        std::string noisy = text;
        noisy.insert(at, at % 2 ? "\r\n" : "*");
        noisy.insert(noisy.size() - at, " ");
        ASSERT_EQ(decodeAll(noisy), data) << at;
    }
    EXPECT_EQ(decodeAll("Zm9vYg==Zm9v"), decodeAll("Zm9vYgZm9v"));  // "=" skipped: a continuation
    EXPECT_EQ(decodeAll("Zm9vYmFy="), "foobar");
    EXPECT_EQ(decodeAll("Zm9vY"), std::string("foo") + "`");
    // A large input in one piece crosses the decoder's output buffer many times.
    std::string big(300000, 'Q');
    EXPECT_EQ(decodeAll(big).size(), 225000u);
    String bigEncoded = base64Encode(big.data(), big.size(), 76);
    EXPECT_EQ(bigEncoded.length(), 400000u + 400000u / 76 * 2 + 2);
}

TEST(CodecVectors, EqualKeysNewestFirstAndCaptures) {
    OrderedMap map(false);
    map.insert("b", "1");
    map.insert("a", "x");
    map.insert("b", "2");
    map.insert("c", "y");
    map.insert("b", "3");
    std::string walk;
    map.forEach([&](const String& k, const String& v) {
        walk += std::string(k.c_str()) + v.c_str() + " ";
        return true;
    });
    EXPECT_EQ(walk, "ax b3 b2 b1 cy ");
    EXPECT_EQ(*map.find("b"), "3");

    char capture[64];
    EXPECT_TRUE(wildcardMatch("msg12-ab.eml", "msg@-$.eml", false, false, capture));
    EXPECT_STREQ(capture, "12ab");
    EXPECT_TRUE(wildcardMatch("x9y", "?#!", false, false, capture));
    EXPECT_STREQ(capture, "x9y");
    EXPECT_TRUE(wildcardMatch("file", "file*", false, false, capture));
    EXPECT_STREQ(capture, "");
    EXPECT_TRUE(wildcardMatch("file", "file@", false, false, nullptr));
    EXPECT_TRUE(wildcardMatch("file", "file$", false, false, nullptr));
    EXPECT_FALSE(wildcardMatch("file", "file\\*", false, false, nullptr));
    EXPECT_FALSE(wildcardMatch("file", "file?", false, false, nullptr));
    EXPECT_TRUE(wildcardMatch("?#", "?#", false, true, nullptr));   // literal in the simple set
    EXPECT_FALSE(wildcardMatch("a1", "?#", false, true, nullptr));
}

// The encoded words we write are read back by an independent decoder (Python's email.header).
TEST(CodecVectors, EncodedWordsReadByPython) {
    if (std::system("python3 -c 'import email.header' >/dev/null 2>&1") != 0) GTEST_SKIP() << "no python3";
    const char* names[] = {"Ren\xc3\xa9 Dupont", "a=b?c_d \xe2\x82\xac", "\xc3\xa9t\xc3\xa9 <a@b.example>"};
    for (const char* name : names) {
        String word = encodeWord("utf-8", true, name, false);
        char path[] = "/tmp/qarvel-word-XXXXXX";
        int fd = mkstemp(path);
        ASSERT_GE(fd, 0);
        FILE* f = fdopen(fd, "w");
        std::fputs(word.c_str(), f);
        std::fclose(f);
        std::string cmd = std::string("python3 -c \"import email.header,sys; "
                                      "t=open(sys.argv[1]).read(); "
                                      "sys.stdout.buffer.write(str(email.header.make_header(email.header.decode_header(t))).encode())\" ") + path;
        FILE* p = popen(cmd.c_str(), "r");
        ASSERT_NE(p, nullptr);
        std::string got;
        char buf[256];
        size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) got.append(buf, n);
        pclose(p);
        std::remove(path);
        EXPECT_EQ(got, name) << word.c_str();
        EXPECT_EQ(decodeEncodedWords(word), name);
    }
}
