// Content types by extension: the table's order, case, the prefix rows and the two flags.
#include <gtest/gtest.h>

#include <string>

#include "send/content_types.h"

namespace qarvel {
namespace {

std::string typeOf(const char* path, bool text = false, bool binary = false) {
    FileContentType t = contentTypeForPath(path, text, binary);
    return std::string(t.type) + (t.binary ? " binary" : "");
}

TEST(MimeContentTypes, TableByExtension) {
    EXPECT_EQ(typeOf("page.htm"), "text/html");
    EXPECT_EQ(typeOf("page.html"), "text/html");   // ".htm" matches as a prefix
    EXPECT_EQ(typeOf("page.HTML"), "text/html");
    EXPECT_EQ(typeOf("style.css"), "text/css");
    EXPECT_EQ(typeOf("style.cssx"), "application/octet-stream binary");  // exact rows stay exact
    EXPECT_EQ(typeOf("a.txt"), "text/plain");
    EXPECT_EQ(typeOf("a.eml"), "message/rfc822");
    EXPECT_EQ(typeOf("a.gif"), "image/gif");
    EXPECT_EQ(typeOf("a.jpg"), "image/jpeg");
    EXPECT_EQ(typeOf("a.jpeg"), "application/octet-stream binary");
    EXPECT_EQ(typeOf("a.jp2"), "image/jpeg2");
    EXPECT_EQ(typeOf("a.mov"), "video/quicktime");
    EXPECT_EQ(typeOf("a.mp3"), "audio/mpeg");
    EXPECT_EQ(typeOf("a.mpg"), "video/mpeg");
    EXPECT_EQ(typeOf("REPORT.PDF"), "application/pdf");
    EXPECT_EQ(typeOf("a.png"), "image/png");
    EXPECT_EQ(typeOf("a.ps"), "application/postscript");
    EXPECT_EQ(typeOf("a.smil"), "application/smil");
    EXPECT_EQ(typeOf("a.tif"), "image/tiff");
    EXPECT_EQ(typeOf("a.tiff"), "image/tiff");
    EXPECT_EQ(typeOf("a.vcf"), "text/directory");
    EXPECT_EQ(typeOf("a.wav"), "audio/wav");
    EXPECT_EQ(typeOf("a.xml"), "text/xml");
    EXPECT_EQ(typeOf("a.zip"), "application/x-zip-compressed");
    EXPECT_EQ(typeOf("a.exe"), "application/octet-stream binary");
    EXPECT_EQ(typeOf("noextension"), "application/octet-stream binary");
    EXPECT_EQ(typeOf("trailing."), "application/octet-stream binary");
}

TEST(MimeContentTypes, ExtensionFollowsTheLastSeparator) {
    EXPECT_EQ(fileExtension("dir.v2/file"), "");
    EXPECT_EQ(fileExtension("dir.v2\\file"), "");
    EXPECT_EQ(fileExtension("/a/b/archive.tar.gz"), "gz");
    EXPECT_EQ(typeOf("some.dir/README"), "application/octet-stream binary");
    EXPECT_EQ(typeOf("c:\\docs\\x.pdf"), "application/pdf");
}

TEST(MimeContentTypes, TextAndBinaryFlags) {
    // -text: rows before the plain-text row still win; every later extension is plain text.
    EXPECT_EQ(typeOf("a.htm", true), "text/html");
    EXPECT_EQ(typeOf("a.css", true), "text/css");
    EXPECT_EQ(typeOf("a.gif", true), "text/plain");
    EXPECT_EQ(typeOf("a.bin", true), "text/plain");
    EXPECT_EQ(typeOf("noextension", true), "text/plain");
    // -binary: every file, whatever its extension.
    EXPECT_EQ(typeOf("a.txt", false, true), "application/octet-stream binary");
    EXPECT_EQ(typeOf("a.html", true, true), "application/octet-stream binary");
}

} // namespace
} // namespace qarvel
