// Content types by extension (the table's order, case, the prefix rows and the two flags), and
// the plain text made of an HTML body.
#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "send/content_types.h"
#include "send/html_to_text.h"

namespace qarvel {
namespace {

TEST(MimeContentTypes, MatchRulesOrderAndFlags) {
    const char* binary = "application/octet-stream binary";
    struct Row {
        const char* path;
        bool text, binary;
        const char* type;
    };
    const Row rows[] = {
        {"page.htm", false, false, "text/html"},
        {"page.HTML", false, false, "text/html"},  // ".htm" matches as a prefix, case ignored
        {"a.tiff", false, false, "image/tiff"},
        {"style.css", false, false, "text/css"},
        {"style.cssx", false, false, binary},  // exact rows stay exact
        {"a.jpeg", false, false, binary},
        {"REPORT.PDF", false, false, "application/pdf"},
        {"c:\\docs\\x.pdf", false, false, "application/pdf"},
        {"a.txt", false, false, "text/plain"},
        {"noextension", false, false, binary},
        {"trailing.", false, false, binary},
        // -text: rows before the plain-text row still win; every later extension is plain text.
        {"a.htm", true, false, "text/html"},
        {"a.css", true, false, "text/css"},
        {"a.gif", true, false, "text/plain"},
        {"a.bin", true, false, "text/plain"},
        {"noextension", true, false, "text/plain"},
        // -binary: every file, whatever its extension.
        {"a.txt", false, true, binary},
        {"a.html", true, true, binary},
    };
    for (const Row& row : rows) {
        FileContentType t = contentTypeForPath(row.path, row.text, row.binary);
        EXPECT_EQ(std::string(t.type) + (t.binary ? " binary" : ""), row.type)
            << row.path << (row.text ? " -text" : "") << (row.binary ? " -binary" : "");
    }
    // The extension follows the last separator of either kind.
    EXPECT_EQ(fileExtension("dir.v2/file"), "");
    EXPECT_EQ(fileExtension("dir.v2\\file"), "");
    EXPECT_EQ(fileExtension("/a/b/archive.tar.gz"), "gz");
}

// htmlToText: white space, line-breaking tags, capitals, links, images, dropped regions,
// entities, and malformed HTML.
TEST(MimeHtmlToText, Conversions) {
    const std::string nul("a\0b", 3);
    const std::pair<std::string, std::string> rows[] = {
        // White space and the tags that break lines.
        {"one  \t two\r\n three", "one two three"},
        {"a<br>b<br/>c", "a\r\nb\r\nc"},
        {"<p>first</p>  <p>second</p>", "\r\n\r\nfirst\r\n\r\n\r\n\r\nsecond\r\n\r\n"},
        {"a<div>  b</div>", "a\r\n\r\nb\r\n\r\n"},  // no blank right after a tag's line end
        {"<hr>", "\r\n" + std::string(72, '-') + "\r\n"},
        {"<ul><li>one<li>two</ul>", "  * one\r\n  * two"},
        {"<pre>a  b\n  c</pre> d", "a  b\r\n  c d"},
        {"", ""},
        // Capitals, links and images.
        {"<h1>Title</h1>body", "TITLE\r\n\r\nbody"},
        {"x<h2>Sub</h2>", "x\r\nSUB\r\n\r\n"},
        {"a <b>bold</b> c", "a BOLD c"},
        {"<body>see <a href=\"http://x.example/?a>b\">here</a>.</body>", "see here (http://x.example/?a>b)."},
        {"<a name=top>anchor</a>", "anchor"},
        {"<img src='logo.png' alt='Logo'>", "IMAGE Logo logo.png"},
        {"<IMG SRC=pic.gif>", "IMAGE pic.gif"},
        // Dropped regions; a meta tag without its closing tag does not swallow the body.
        {"<title>T</title>x", "x"},
        {"<script type='a'>if (a<b) x();</script>y", "y"},
        {"<!-- <b>hidden</b> -->z", "z"},
        {"<head><meta charset=utf-8><title>t</title></head><body>shown</body>", "shown"},
        {"<meta name=a /><p>x", "\r\n\r\nx"},
        // Entities.
        {"a &gt; b &lt; c &amp; d", "a > b < c & d"},
        {"&quot;q&quot; &#39;s&#39;", "\"q\" 's'"},
        {"x&nbsp;&nbsp;y", "x  y"},
        {"&copy; &reg;", "(C) (R)"},
        {"&#65;&#x42;&#xe9;", "AB\xc3\xa9"},
        {"&unknown; AT&T; a & b", "&unknown; AT&T; a & b"},
        {"fish & chips; done", "fish & chips; done"},  // a blank after '&' is no entity
        {"dangling &amp", "dangling &amp"},
        // Malformed HTML gives a clean result.
        {"a < b and c > d", "a < b and c > d"},
        {"text <b unclosed", "text <b unclosed"},
        {"x <a href=\"never closed>y", "x y"},  // an unclosed quote ends at '>'
        {"<", "<"},
        {"<b>open bold", "OPEN BOLD"},
        {"<script>never closed", ""},
        {nul, nul},
    };
    for (const auto& [html, text] : rows) EXPECT_EQ(htmlToText(String(html)).str(), text) << html;
    // Deep nesting costs no stack, and the text after it still comes out.
    std::string deep;
    for (int k = 0; k < 10000; ++k) deep += "<div><b>";
    const std::string out = htmlToText(String(deep + "end")).str();
    EXPECT_EQ(out.substr(out.size() > 3 ? out.size() - 3 : 0), "END");
}

} // namespace
} // namespace qarvel
