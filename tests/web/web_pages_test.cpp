// The web-mail pages and routines: session links, authentication replies, page heads, escaped
// message text, the forms, and the routines that serve files and requests.
#include <gtest/gtest.h>

#include <string>
#include <unistd.h>

#include "base/base64.h"
#include "capture.h"
#include "support/has_text.h"
#include "support/temp_folder.h"
#include "web/cgi_request.h"
#include "web/web_mail_pages.h"
#include "web/web_pages.h"
#include "web/web_routines.h"

using namespace qarvel;
using qarvel::test::MemoryOut;
using qarvel::test::has;

namespace {

PageSession session(int auth = 0, int imap = 0) {
    PageSession s;
    s.host = "mail.example";
    s.user = "ann&co";
    s.password = "p\"w'<d>";
    s.mbox = "Sent Items & More";
    s.auth = auth;
    s.imap = imap;
    return s;
}

} // namespace

TEST(WebPages, SessionLinks) {
    const struct { int auth, imap, config; const char* link; } cases[] = {
        {0, 0, 0, "/cgi-bin/qarvel/?-cgi:-host:mail.example&-user:ann%26co&-pass:p%22w%27%3Cd%3E"},
        {1, 0, 0, "/cgi-bin/qarvel/?-cgi:-host:mail.example&-auth"},
        {1, 1, 1, "/cgi-bin/qarvel/?-cgi:-host:mail.example&-config&-imap&-mbox:Sent+Items+%26+More&-auth"},
    };
    for (const auto& c : cases) {
        PageSession s = session(c.auth, c.imap);
        s.config = c.config;
        EXPECT_EQ(sessionLink(s), c.link);
    }
    PageSession hostile = session(1);
    hostile.host = "x\"><script>";
    EXPECT_EQ(sessionLink(hostile, "&-to:"), "/cgi-bin/qarvel/?-cgi:-host:x%22%3E%3Cscript%3E&-to:&-auth");
}

// The replies to each kind of Authorization line; Basic credentials split at the first colon
// and end at a blank.
TEST(WebPages, AuthenticationReplies) {
    const std::string empty = "<html><head><title>&nbsp;</title></head><body>&nbsp;</body></html>";
    auto basic = [](const char* pair) { return "Basic " + base64Encode(String(pair)).str(); };
    const struct {
        const char* type;
        std::string authorization;
        bool logout;
        int result;
        std::string page;
        const char* credentials;
    } cases[] = {
        {"Digest", basic("ann:secret"), false, 1, "Status: 403 UNSUPPORTED AUTHENTICATION TYPE\r\n\r\n" + empty,
         ""},
        {nullptr, "", false, 1, "Status: 401 AUTHORIZATION NEEDED\r\n\r\n" + empty, ""},
        {"basic", basic("annsecret"), false, 1, "Status: 400 BAD REQUEST\r\n\r\n" + empty, ""},
        {"Basic", "Basic", false, 1, "Status: 400 BAD REQUEST\r\n\r\n" + empty, ""},
        {"Basic", basic("ann:secret"), true, 1, "Status: 401 ACCESS DENIED\r\n\r\n" + empty, ""},
        {nullptr, basic("ann:secret"), false, -1, "", "ann:secret"},
        {nullptr, basic("alice:se:cret"), false, -1, "", "alice:se:cret"},
        {nullptr, basic("bob:pw trailing words"), false, -1, "", "bob:pw"},
    };
    for (const auto& c : cases) {
        MemoryOut out;
        String user, password;
        EXPECT_EQ(writeAuthReply(out.file, c.type, c.authorization.empty() ? nullptr : c.authorization.c_str(),
                                 c.logout, user, password), c.result) << c.authorization;
        EXPECT_EQ(out.text(), c.page);
        if (c.result < 0) {
            EXPECT_EQ(user.str() + ":" + password.str(), c.credentials);
        }
    }
}

TEST(WebPages, HeadAfterDeleteAndTemplate) {
    MemoryOut out;
    PageSession s = session(1);
    writeReceivePageHead(out.file, s, true, true);
    EXPECT_EQ(out.text(), "<html><head><meta charset=\"utf-8\"><meta http-equiv=\"refresh\" content=\"1;url=/cgi-bin/qarvel/?-cgi:-host:"
                          "mail.example&-auth&-html&-br\"><title>QARVEL Web Mail</title></head><body text=\"#000000\""
                          " bgcolor=\"#ffffff\"><basefont size=2><h2><center>QARVEL Web Mail</center></h2>\n");
    MemoryOut list;
    s.title = "Site";
    s.pageHeader = "<h1>Site</h1>";
    s.background = " background=\"bg.png\"";
    writeReceivePageHead(list.file, s, false, true);
    EXPECT_EQ(list.text(), "<html><head><meta charset=\"utf-8\"><meta http-equiv=\"pragma\" content=\"no-cache\"><title>Site</title></head>"
                           "<body background=\"bg.png\" text=\"#000000\" bgcolor=\"#ffffff\"><basefont size=2>"
                           "<h1>Site</h1>\n");
}

TEST(WebPages, MessageTextIsEscaped) {
    DisplayedHeaders h;
    h.subject = "<script>alert(1)</script>";
    h.from = "\"Evil\" <e@x.y\"onmouseover=alert(2)>";
    h.to = "<b>me</b>";
    h.date = "Mon, 7 Dec 2026";
    h.size = 12;
    MemoryOut out;
    writeHeaderLines(out.file, session(), h, false, true, true);
    EXPECT_EQ(out.text(),
              "<b>Subject: </b><font size=+1><i><strike>&lt;script&gt;alert(1)&lt;/script&gt;</strike></font></i><br>\n"
              "<b>Date: </b><!font size=+1>Mon, 7 Dec 2026</font><br>\n"
              "<b>From: </b><a href=\"mailto:e@x.y%22onmouseover=alert(2)\">&quot;Evil&quot; "
              "&lt;e@x.y&quot;onmouseover=alert(2)&gt;</a><br>\n"
              "<b>To: </b>&lt;b&gt;me&lt;/b&gt;<br>\n<b>Size: </b>12 bytes<br>\n");

    MemoryOut body;
    const std::string html = "<p onclick=x>Hi</p><script>alert(3)</script>";
    writeBody(body.file, "text/html", "", html.data(), html.size());
    EXPECT_FALSE(has(body.text(), "<script"));
    EXPECT_FALSE(has(body.text(), "<p "));
    MemoryOut plain;
    writeBody(plain.file, "text/plain", "", "a < b\r\n</pre>", 13);
    EXPECT_EQ(plain.text(), "<pre>a &lt; b\n&lt;/pre&gt;</pre>\n");
    // Bodies reach the page in UTF-8, whatever their declared charset.
    MemoryOut latin;
    writeBody(latin.file, "text/plain", "windows-1252", "\x93M\xE4rz\x94 <", 8);
    EXPECT_EQ(latin.text(), "<pre>\xE2\x80\x9CM\xC3\xA4rz\xE2\x80\x9D &lt;</pre>\n");

    MemoryOut link;
    writeAttachmentLink(link.file, session(1), "a\"b<c>.txt", 5);
    EXPECT_EQ(link.text(), "<br><b><font color=teal>Attachment: </font></b><a href=\"/cgi-bin/qarvel/?-cgi:-host:"
                           "mail.example&-auth&-get:a%22b%3Cc%3E.txt\">a&quot;b&lt;c&gt;.txt (5 bytes)</a>\n");
}

TEST(WebPages, ComposeForms) {
    MemoryOut reply;
    // Subject, sender and addresses come from the message: each of them tries to end its
    // attribute or the text area.
    writeComposeForm(reply.file, session(), ComposeMode::kReply, "RE: \"><script>a&b</script>",
                     "ann\"onfocus=x@mail.example", "bob@x.y\"><b>", "Bob <bob@x.y></textarea>",
                     "one\r\n<two>\r\n");
    const std::string r = reply.text();
    EXPECT_EQ(r.rfind("<form method=post enctype=\"multipart/form-data\" action='/cgi-bin/qarvel/?-cgi:-host:"
                      "mail.example&-user:ann%26co&-pass:p%22w%27%3Cd%3E&-from:&-upload&-reply&-post&-rm'>"
                      "<input type=hidden name=qarvel_user value=\"ann&amp;co\"><input type=hidden "
                      "name=qarvel_pass value=\"p&quot;w'&lt;d&gt;\"><table border=0>", 0), 0u);
    EXPECT_TRUE(has(r, "name=qarvel_subject value=\"RE: &quot;&gt;&lt;script&gt;a&amp;b&lt;/script&gt;\"></td>"));
    EXPECT_TRUE(has(r, "name=qarvel_from value=\"ann&quot;onfocus=x@mail.example\"></td>"));
    EXPECT_TRUE(has(r, "name=qarvel_to value=\"bob@x.y&quot;&gt;&lt;b&gt;\"></td>"));
    EXPECT_TRUE(has(r, "<textarea wrap name=qarvel_data cols=72 rows=10>Bob &lt;bob@x.y&gt;&lt;/textarea&gt; Wrote:: \n"
                       "&gt; one\n&gt; &lt;two&gt;\n&gt; </textarea>"));
    for (const char* raw : {"<script", "<b>", "\"onfocus", "></textarea> "})
        EXPECT_FALSE(has(r, raw));

    MemoryOut forward;
    writeComposeForm(forward.file, session(1), ComposeMode::kForward, "Note\" autofocus onfocus=\"x", "ann@mail.example",
                     "bob@x.y", "Bob", "text</textarea><script>");
    const std::string f = forward.text();
    EXPECT_TRUE(has(f, "&-auth&-from:&-upload&-forward&-post&-rm'><table border=0>"));
    EXPECT_TRUE(has(f, "name=qarvel_subject value=\"Fwd: Note&quot; autofocus onfocus=&quot;x\"></td>"));
    EXPECT_TRUE(has(f, "name=qarvel_to value=\"\""));
    EXPECT_TRUE(has(f,
        "<textarea nowrap name=qarvel_data cols=72 rows=10>text&lt;/textarea&gt;&lt;script&gt;</textarea>"));
    // Under Basic authentication neither the password nor the hidden fields appear.
    EXPECT_FALSE(has(f, "qarvel_pass"));
    EXPECT_FALSE(has(f, "p%22w"));

    MemoryOut compose;
    writeComposeForm(compose.file, session(1), ComposeMode::kReply, "", "ann@mail.example", "", "", "");
    EXPECT_TRUE(has(compose.text(), "name=qarvel_subject value=\"\""));
    EXPECT_TRUE(has(compose.text(), "rows=10></textarea>"));
}

TEST(WebPages, ButtonsToolBarAndTrailer) {
    MemoryOut out;
    PageSession s = session(1);
    writeMessageButtons(out.file, s, 3, true, true);
    const std::string b = out.text();
    EXPECT_TRUE(has(b, "action=\"/cgi-bin/qarvel/?-cgi:-host:mail.example&-auth&-post&-msg:3&-html&-extract\">"
                       "<input type=submit value=\"View...\">"));
    EXPECT_TRUE(has(b, "&-post&-unrm&-msg:3&-br&-html\"><input type=submit value=\"Undelete\">"));
    MemoryOut bar;
    writeToolBar(bar.file, s, 0);
    EXPECT_TRUE(has(bar.text(), "&-auth&-post&-purge&-br&-html\"><input type=submit value=\"Purge\">"));
    EXPECT_TRUE(has(bar.text(), "?-cgi:-host:mail.example&-to:&-auth&-post&-msg:0&-reply&-html\">"));
    EXPECT_TRUE(has(bar.text(), "<th align=left halign=left>ann&amp;co@mail.example</th>"));
    MemoryOut trailer;
    s.trailer = "<p>site</p>";
    writeTrailer(trailer.file, s);
    EXPECT_EQ(trailer.text().rfind("<p><hr size=1 width=100%><table cols=2 width=100%><tr><th align=left halign=left>"
                                   "Brought to you by <i>QARVEL</i> power</th><th align=right halign=right>Version: ", 0),
              0u);
    EXPECT_TRUE(has(trailer.text(), "</th></tr></table><p>site</p></body></html>"));
}

// A download whose login fails has had its header lines written already: the response still
// gets one whole header (a failure status and the empty line) before the driver's messages.
TEST(WebPages, FailedDownloadEndsItsHeader) {
    CgiRequest request;
    request.getFile = "report.bin";
    MemoryOut out;
    WebMailPages pages(session(), request, "/tmp", false, false, false, out.file);
    pages.finish("Could not log in as '<u>' to: mail.example:110\n");
    EXPECT_EQ(out.text(), "Status: 502 BAD GATEWAY\r\n\r\nCould not log in as '&lt;u&gt;' to: mail.example:110\n");
}

TEST(WebRoutines, UrlDecodingAndEncoding) {
    const struct { const char* in; std::string out; } cases[] = {
        {"a+b", "a b"}, {"%41%62", "Ab"}, {"%4", "%4"}, {"%zz1", "%zz1"}, {"100%", "100%"},
        {"%0d%0A", "\r\n"}, {"%e9", "\xe9"}, {"a%2Bb", "a+b"},
    };
    for (const auto& c : cases) EXPECT_EQ(urlDecode(c.in).str(), c.out) << c.in;
    const struct { std::string in; bool strict; const char* out; } encodings[] = {
        {"a b", false, "a+b"},
        {"\"%&'+<>", false, "%22%25%26%27%2B%3C%3E"},
        {"user@host.x/y:z", false, "user@host.x/y:z"},
        {"a\r\nb", false, "a%0D%0Ab"},  // a line break never reaches a link
        {"ab", true, "%61%62"},
        {"\xe9 ", true, "%E9+"},
    };
    for (const auto& c : encodings) EXPECT_EQ(urlEncode(c.in, c.strict).str(), c.out) << c.in;
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
