#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <unistd.h>
#include <vector>

#include "capture.h"
#include "config/process.h"
#include "config/settings.h"
#include "support/has_text.h"
#include "support/temp_folder.h"
#include "web/cgi_request.h"

using namespace qarvel;
using qarvel::test::MemoryOut;
using qarvel::test::has;
using qarvel::test::TempFolder;

namespace {

// One request read into fresh settings; the files folder is a temporary folder.
struct Request {
    Settings s;
    ProcessObjects objects;
    TempFolder folder;
    MemoryOut out;
    int result = 0;

    explicit Request(std::vector<std::string> args, const std::string& config = "") {
        cgiRequest().release();
        resetSettings(s, true);
        objects.workingFolder = folder.path;
        objects.configFile = folder.put("qarvel.txt", config);
        run(args);
    }
    ~Request() { cgiRequest().release(); }
    void run(std::vector<std::string> args) {
        args.insert(args.begin(), "qarvel");
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(a.data());
        result = readCgiRequest(static_cast<int>(argv.size()), argv.data(), s, objects, out.file);
    }
};

} // namespace

TEST(CgiRequest, OnlyACgiFirstArgumentIsRead) {
    Request r({"-to:x@y.z", "-cgi:-to:a@b.c"});
    EXPECT_EQ(r.result, 1);
    EXPECT_FALSE(r.s.web.cgi);
    EXPECT_TRUE(r.s.addresses.to.empty());
    EXPECT_EQ(r.out.text(), "");
}

TEST(CgiRequest, QueryOptionsBecomeSettings) {
    Request r({"-cgi:-host:mail.example&-to:a%40b.c&amp;-to=%22Two%22+%3Cc@d.e%3E&-s:Hi+there&-msg:7"
               "&-noarchive&-verify&-auth&-sort:date&-br&-html&-cc:x@y.z?-unrm"});
    EXPECT_EQ(r.result, 1);
    EXPECT_TRUE(r.s.web.cgi);
    EXPECT_EQ(r.s.servers.pop3Host.str(), "mail.example");
    EXPECT_EQ(r.s.servers.smtpHost.str(), "mail.example");
    EXPECT_EQ(r.s.servers.imapHost.str(), "mail.example");
    EXPECT_EQ(r.s.servers.nntpHost.str(), "mail.example");
    EXPECT_EQ(r.s.addresses.to.str(), "a@b.c,Two <c@d.e>");
    EXPECT_EQ(r.s.addresses.cc.str(), "x@y.z");
    EXPECT_EQ(r.s.content.subject.str(), "Hi there");
    EXPECT_EQ(r.s.receive.messageNumber, 7);
    EXPECT_EQ(r.s.receive.lastMessage, 7);
    // A switch takes no value: the option after it is read as an option.
    EXPECT_TRUE(r.s.smtp.noArchive);
    EXPECT_TRUE(r.s.smtp.verifySender);
    EXPECT_TRUE(r.s.web.authenticatedCgi);
    EXPECT_EQ(r.s.receive.sort.str(), "date");
    EXPECT_TRUE(r.s.receive.brief);
    EXPECT_TRUE(r.s.content.html);
    EXPECT_TRUE(r.s.receive.keepMessages);
    EXPECT_TRUE(r.s.receive.remove);
    EXPECT_EQ(r.out.text(), "Content-Type: text/html\r\n");
}

// Many recipients in one query are joined in one pass (a copy of the list per recipient would
// outlast the test's time limit at this size).
TEST(CgiRequest, ManyRecipientsAreJoinedInOnePass) {
    std::string query = "-cgi";
    for (int i = 0; i < 100000; ++i) query += "&-to:r" + std::to_string(i) + "@x.y&-cc:c@x.y";
    Request r({query});
    const std::string& to = r.s.addresses.to.str();
    EXPECT_EQ(to.compare(0, 20, "r0@x.y,r1@x.y,r2@x.y"), 0);
    EXPECT_EQ(to.substr(to.rfind(',')), ",r99999@x.y");
    EXPECT_EQ(std::count(to.begin(), to.end(), ','), 99999);
    EXPECT_EQ(r.s.addresses.cc.length(), 100000u * 6 - 1);
}

TEST(CgiRequest, UnknownNamesAndPlainTextHeaders) {
    Request r({"-cgi", "-bogus:1", "-s:x-y", "-zz"});
    EXPECT_EQ(r.s.content.subject.str(), "x-y");
    EXPECT_EQ(r.out.text(), "NOT MATCHED: -bogus\nNOT MATCHED: -zz\nContent-Type: text/html\r\nPragma: no-cache\r\n");
}

TEST(CgiRequest, LineBreaksNeverReachAValue) {
    Request r({"-cgi:-s:Hello%0D%0ABcc:+victim@x.y&-from:me@x.y%0aRCPT+TO:<v@x.y>&-user:u%0d%0aDELE+1"
               "&-to:a@b.c%0D%0A.%0D%0A"});
    EXPECT_EQ(r.s.content.subject.str(), "HelloBcc: victim@x.y");
    EXPECT_EQ(r.s.addresses.from.str(), "me@x.yRCPT TO:<v@x.y>");
    EXPECT_EQ(r.s.receive.user.str(), "u" "DELE 1");
    EXPECT_EQ(r.s.addresses.to.str(), "a@b.c.");
}

TEST(CgiRequest, FilesStayInTheFilesFolder) {
    TempFolder outside;
    outside.put("secret.txt", "s");
    const struct { const char* option; int result; } cases[] = {
        {"-cgi:-a:../secret.txt", 0}, {"-cgi:-file:/etc/passwd", 0}, {"-cgi:-tolist:sub/..%2F..%2Fx", 0},
        {"-cgi:-cclist:a%5C..%5Cb", 0}, {"-cgi:-bcclist:%2Fetc%2Fpasswd", 0}, {"-cgi:-a:link.txt", 0},
        {"-cgi:-a:list.txt", 1}, {"-cgi:-get:..%2Fsecret.txt", 0}, {"-cgi:-get:sub%2Fx.txt", 0},
    };
    for (const auto& c : cases) {
        Request r({c.option});
        symlink((outside.path + "/secret.txt").c_str(), r.folder.file("link.txt").c_str());
        r.folder.put("list.txt", "a@b.c\n");
        r.out.text();
        r.run({c.option});
        EXPECT_EQ(r.result, c.result) << c.option;
        if (c.result == 0) {
            EXPECT_TRUE(has(r.out.text(), "Status: 403 FORBIDDEN\r\n"));
            EXPECT_EQ(r.s.content.attachments.count() + r.s.content.files.count(), 0u) << c.option;
        }
    }
}

TEST(CgiRequest, DownloadHeaders) {
    const struct { const char* query; const char* headers; } cases[] = {
        {"-cgi:-get:files.zip",
         "Content-Disposition: attachment; filename=\"files.zip\"\r\nPragma: no-cache\r\nContent-Location: /files.zip\r\n"
         "Content-Type: application/x-zip-compressed; name=\"files.zip\"\r\nPragma: no-cache\r\n"},
        // An attached page is saved, never shown: it would run inside the site.
        {"-cgi:-get:page.html&-html",
         "Content-Disposition: attachment; filename=\"page.html\"\r\nPragma: no-cache\r\nContent-Location: /page.html\r\n"
         "Content-Type: text/html; name=\"page.html\"\r\n"},
        {"-cgi:-get:a%22b%0D%0ASet-Cookie:x.bin&-html",
         "Content-Disposition: attachment; filename=\"a_bSet-Cookie:x.bin\"\r\nPragma: no-cache\r\n"
         "Content-Location: /a%22bSet-Cookie:x.bin\r\nContent-Type: application/octet-stream; "
         "name=\"a_bSet-Cookie:x.bin\"\r\n"},
        {"-cgi:-get:photo.png&-html",
         "Content-Disposition: inline; filename=\"photo.png\"\r\nPragma: no-cache\r\nContent-Location: /photo.png\r\n"
         "Content-Type: image/png; name=\"photo.png\"\r\n"},
    };
    for (const auto& c : cases) {
        Request r({c.query});
        EXPECT_EQ(r.out.text(), c.headers) << c.query;
    }
    const struct { const char* name; const char* type; } types[] = {
        {"a.HTM", "text/html"}, {"a.txt", "text/plain"}, {"a.gif", "image/gif"}, {"a.jpg", "image/jpeg"},
        {"a.jp2", "image/jp2"}, {"a.png", "image/png"}, {"a.zip", "application/x-zip-compressed"},
        {"a.tar.gz", "application/octet-stream"}, {"noextension", "application/octet-stream"},
    };
    for (const auto& t : types) EXPECT_STREQ(contentTypeFor(t.name), t.type) << t.name;
}

TEST(CgiRequest, ConfigurationAndPageTemplateKeys) {
    const std::string config =
        "QARVEL_PATH /srv/files\nCHARSET \"utf-8\"\nUPLOAD_LIMIT 1000\nTITLE My Mail\nBGCOLOR #eeeeee\n"
        "TEXT #111111\nFONT <font face=x>\nTRAILER <p>bye</p>\n";
    Request plain({"-cgi:-br"}, config);
    EXPECT_EQ(plain.objects.workingFolder.str(), "/srv/files");
    EXPECT_EQ(plain.s.content.charset.str(), "utf-8");
    EXPECT_EQ(cgiRequest().uploadLimit, 1000);
    EXPECT_TRUE(plain.s.web.title.empty());  // the page keys only with -config

    Request templated({"-cgi:-config&-br"}, config);
    EXPECT_EQ(templated.s.web.title.str(), "My Mail");
    EXPECT_EQ(templated.s.web.pageHeader.str(), "<h2><center>My Mail</center></h2>");
    EXPECT_EQ(templated.s.web.backgroundColor.str(), " bgcolor=\"#eeeeee\"");
    EXPECT_EQ(templated.s.web.textColor.str(), " text=\"#111111\"");
    EXPECT_EQ(templated.s.web.font.str(), "<font face=x>");
    EXPECT_EQ(templated.s.web.trailer.str(), "<p>bye</p>");
    EXPECT_EQ(cgiRequest().configRead, 1);
}

// Options that share a prefix are told apart; list and message files are in the files folder.
TEST(CgiRequest, PrefixOrderAndFolderFiles) {
    Request r({"-cgi:-alt&-auth&-search:ALL&-s:subj&-tolist:l.txt&-pu&-a:x.bin&-file:body.txt"});
    EXPECT_EQ(r.result, 1);
    EXPECT_TRUE(r.s.content.alternative);
    EXPECT_TRUE(r.s.web.authenticatedCgi);
    EXPECT_EQ(r.s.receive.search.str(), "ALL");
    EXPECT_EQ(r.s.content.subject.str(), "subj");
    EXPECT_EQ(r.s.addresses.toListFile.str(), r.folder.file("l.txt"));
    EXPECT_EQ(r.s.content.messageFile.str(), r.folder.file("body.txt"));
    EXPECT_TRUE(r.s.addresses.to.empty());
    EXPECT_TRUE(r.s.receive.purge);
    EXPECT_EQ(r.s.content.missingAttachments, 1);  // x.bin does not exist
}
