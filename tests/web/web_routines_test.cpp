#include <gtest/gtest.h>

#include <unistd.h>

#include "base/base64.h"
#include "support/temp_folder.h"
#include "web/web_routines.h"

using namespace qarvel;

TEST(WebRoutines, UrlDecoding) {
    const struct { const char* in; std::string out; } cases[] = {
        {"a+b", "a b"}, {"%41%62", "Ab"}, {"%4", "%4"}, {"%zz1", "%zz1"}, {"100%", "100%"},
        {"%0d%0A", "\r\n"}, {"%e9", "\xe9"}, {"a%2Bb", "a+b"},
    };
    for (const auto& c : cases) EXPECT_EQ(urlDecode(c.in).str(), c.out) << c.in;
}

TEST(WebRoutines, UrlEncoding) {
    const struct { std::string in; bool strict; const char* out; } cases[] = {
        {"a b", false, "a+b"},
        {"\"%&'+<>", false, "%22%25%26%27%2B%3C%3E"},
        {"user@host.x/y:z", false, "user@host.x/y:z"},
        {"a\r\nb", false, "a%0D%0Ab"},  // a line break never reaches a link
        {"ab", true, "%61%62"},
        {"\xe9 ", true, "%E9+"},
    };
    for (const auto& c : cases) EXPECT_EQ(urlEncode(c.in, c.strict).str(), c.out) << c.in;
    // Every byte survives the round trip.
    std::string all;
    for (int i = 1; i < 256; ++i) all += static_cast<char>(i);
    EXPECT_EQ(urlDecode(urlEncode(all, false)).str(), all);
    EXPECT_EQ(urlDecode(urlEncode(all, true)).str(), all);
}

TEST(WebRoutines, HtmlEscapeAndReplyQuote) {
    EXPECT_EQ(htmlEscape("<a href=\"x\">&amp;</a>").str(), "&lt;a href=&quot;x&quot;&gt;&amp;amp;&lt;/a&gt;");
    EXPECT_EQ(htmlEscape("it's").str(), "it's");
    EXPECT_EQ(quoteForReply("").str(), "");
    EXPECT_EQ(quoteForReply("one\ntwo\n").str(), "&gt; one\n&gt; two\n&gt; ");
}

TEST(WebRoutines, HttpDateAndBrowsers) {
    EXPECT_EQ(httpDate(0).str(), "Thu Jan 01 00:00:00 GMT 1970");
    EXPECT_EQ(httpDate(1796633223).str(), "Mon Dec 07 08:47:03 GMT 2026");
    const struct { const char* agent; int old; } agents[] = {
        {nullptr, 0}, {"Mozilla/2.0 (compatible; MSIE 3.02; Windows 95)", 1},
        {"Microsoft Internet Explorer/4.40.305beta (Windows 95)", 1}, {"Mozilla/4.0 (compatible; MSIE 10.0)", 0},
        {"Mozilla/5.0 (X11; Linux x86_64) Chrome/156.0", 0},
    };
    for (const auto& a : agents) EXPECT_EQ(isOldBrowser(a.agent), a.old) << (a.agent ? a.agent : "(none)");
}

TEST(WebRoutines, BasicCredentials) {
    String user = "before", password = "before";
    EXPECT_EQ(decodeCredentials(base64Encode(String("nocolon")), user, password), 0);
    EXPECT_EQ(user.str(), "before");
    EXPECT_EQ(decodeCredentials(base64Encode(String("alice:se:cret")), user, password), 1);
    EXPECT_EQ(user.str(), "alice");
    EXPECT_EQ(password.str(), "se:cret");
    EXPECT_EQ(decodeCredentials(base64Encode(String("bob:pw trailing words")), user, password), 1);
    EXPECT_EQ(password.str(), "pw");
    EXPECT_EQ(decodeCredentials(base64Encode(String(":")), user, password), 1);
    EXPECT_TRUE(user.empty() && password.empty());
}

TEST(WebRoutines, Addresses) {
    const struct { const char* text; int plain; } cases[] = {
        {"a@b.c", 1}, {"first.last@mail.example.org", 1}, {"a@localhost", 0}, {"@b.c", 0}, {"a@", 0},
        {"a b@c.d", 0}, {"a,b@c.d", 0}, {"a@c,d.e", 0}, {"noat", 0},
    };
    for (const auto& c : cases) EXPECT_EQ(isPlainAddress(c.text), c.plain) << c.text;
    EXPECT_EQ(countAddresses("a@b.c, x@y.z;a@b.c  ,a@b.cc", "a@b.c"), 2);
    EXPECT_EQ(countAddresses("", "a@b.c"), 0);
    EXPECT_EQ(countAddresses("", ""), 1);
}

TEST(WebRoutines, RequestNamedFiles) {
    const struct { std::string name; bool safe; } names[] = {
        {"report.txt", true}, {"sub/report.txt", true}, {"", false}, {"../etc/passwd", false},
        {"a/../../b", false}, {"/etc/passwd", false}, {"a\\b", false}, {std::string("a\0b", 3), false},
    };
    for (const auto& n : names) EXPECT_EQ(isSafeRelativeName(String(n.name.data(), n.name.size())), n.safe) << n.name;

    test::TempFolder folder;
    test::TempFolder outside;
    folder.put("inside.txt", "x");
    outside.put("secret.txt", "y");
    ASSERT_EQ(symlink(outside.file("secret.txt").c_str(), folder.file("link.txt").c_str()), 0);
    ASSERT_EQ(symlink("inside.txt", folder.file("near.txt").c_str()), 0);
    EXPECT_TRUE(staysInside(folder.path, "inside.txt"));
    EXPECT_TRUE(staysInside(folder.path, "near.txt"));
    EXPECT_FALSE(staysInside(folder.path, "link.txt"));
    EXPECT_FALSE(staysInside(folder.path, "missing.txt"));
    EXPECT_EQ(withoutLineBreaks("a\r\nBcc: x\n").str(), "aBcc: x");
}
