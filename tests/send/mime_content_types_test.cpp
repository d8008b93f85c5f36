// Content types by extension: the table's order, case, the prefix rows and the two flags.
#include <gtest/gtest.h>

#include <string>

#include "send/content_types.h"

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

} // namespace
} // namespace qarvel
