// htmlToText: white space, line-breaking tags, capitals, links, images, dropped regions,
// entities, and malformed HTML.
#include <gtest/gtest.h>

#include <string>

#include "send/html_to_text.h"

namespace qarvel {
namespace {

std::string text(const std::string& html) { return htmlToText(String(html)).str(); }

TEST(MimeHtmlToText, WhiteSpaceAndLineBreaks) {
    EXPECT_EQ(text("one  \t two\r\n three"), "one two three");
    EXPECT_EQ(text("a<br>b<br/>c"), "a\r\nb\r\nc");
    EXPECT_EQ(text("<p>first</p>  <p>second</p>"), "\r\n\r\nfirst\r\n\r\n\r\n\r\nsecond\r\n\r\n");
    EXPECT_EQ(text("a<div>  b</div>"), "a\r\n\r\nb\r\n\r\n");  // no blank right after a tag's line end
    EXPECT_EQ(text("<hr>"), "\r\n" + std::string(72, '-') + "\r\n");
    EXPECT_EQ(text("<ul><li>one<li>two</ul>"), "  * one\r\n  * two");
    EXPECT_EQ(text("<pre>a  b\n  c</pre> d"), "a  b\r\n  c d");
    EXPECT_EQ(text(""), "");
}

TEST(MimeHtmlToText, CapitalsLinksImages) {
    EXPECT_EQ(text("<h1>Title</h1>body"), "TITLE\r\n\r\nbody");
    EXPECT_EQ(text("x<h2>Sub</h2>"), "x\r\nSUB\r\n\r\n");
    EXPECT_EQ(text("a <b>bold</b> c"), "a BOLD c");
    EXPECT_EQ(text("<body>see <a href=\"http://x.example/?a>b\">here</a>.</body>"),
              "see here (http://x.example/?a>b).");
    EXPECT_EQ(text("<a name=top>anchor</a>"), "anchor");
    EXPECT_EQ(text("<img src='logo.png' alt='Logo'>"), "IMAGE Logo logo.png");
    EXPECT_EQ(text("<IMG SRC=pic.gif>"), "IMAGE pic.gif");
}

TEST(MimeHtmlToText, DroppedRegions) {
    EXPECT_EQ(text("<title>T</title>x"), "x");
    EXPECT_EQ(text("<script type='a'>if (a<b) x();</script>y"), "y");
    EXPECT_EQ(text("<!-- <b>hidden</b> -->z"), "z");
    // A meta tag without its closing tag does not swallow the body.
    EXPECT_EQ(text("<head><meta charset=utf-8><title>t</title></head><body>shown</body>"), "shown");
    EXPECT_EQ(text("<meta name=a /><p>x"), "\r\n\r\nx");
}

TEST(MimeHtmlToText, Entities) {
    EXPECT_EQ(text("a &gt; b &lt; c &amp; d"), "a > b < c & d");
    EXPECT_EQ(text("&quot;q&quot; &#39;s&#39;"), "\"q\" 's'");
    EXPECT_EQ(text("x&nbsp;&nbsp;y"), "x  y");
    EXPECT_EQ(text("&copy; &reg;"), "(C) (R)");
    EXPECT_EQ(text("&#65;&#x42;&#xe9;"), "AB\xc3\xa9");
    EXPECT_EQ(text("&unknown; AT&T; a & b"), "&unknown; AT&T; a & b");
    EXPECT_EQ(text("fish & chips; done"), "fish & chips; done");  // a blank after '&' is no entity
    EXPECT_EQ(text("dangling &amp"), "dangling &amp");
}

TEST(MimeHtmlToText, MalformedHtmlGivesACleanResult) {
    EXPECT_EQ(text("a < b and c > d"), "a < b and c > d");
    EXPECT_EQ(text("text <b unclosed"), "text <b unclosed");
    EXPECT_EQ(text("x <a href=\"never closed>y"), "x y");  // an unclosed quote ends at '>'
    EXPECT_EQ(text("<"), "<");
    EXPECT_EQ(text("<b>open bold"), "OPEN BOLD");
    EXPECT_EQ(text("<script>never closed"), "");
    EXPECT_EQ(text(std::string("a\0b", 3)), std::string("a\0b", 3));
    std::string deep;
    for (int k = 0; k < 10000; ++k) deep += "<div><b>";
    EXPECT_FALSE(text(deep).empty());
}

} // namespace
} // namespace qarvel
