// The XML parser: what documents read as (written back, escaped), the mistakes it tolerates,
// the bad documents it stops at with their messages, and external entities.
#include "tools/xml_parser.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <string>

#include "support/temp_folder.h"
#include "tools/xml_document.h"

namespace qarvel {
namespace {

std::string written(XmlDocument& doc) {
    std::string out;
    doc.node().write(out, 0, kXmlWriteEscaped);
    return out;
}

// Each document as it is written back: text in one piece and text pieced together from
// references and entities, markup that came from an entity, and tolerated mistakes.
TEST(XmlParser, DocumentsReadAs) {
    struct {
        const char* what;
        const char* doc;
        const char* out;
    } rows[] = {
        {"plain and referenced text", "<a>x &lt; y</a><b>plain</b>", "<a>x &lt; y</a>\n<b>plain</b>\n"},
        {"attribute with references", "<a v=\"&quot;q&#x41;\" w='1'/>", "<a v=\"&quot;qA\" w=\"1\"/>\n"},
        {"markup and comments from an entity",
         "<!DOCTYPE d [<!ENTITY m \"<i>in</i><!-- c --><?p x?>&amp;\">]><d>&m;</d>",
         "<!DOCTYPE d [<!ENTITY m \"<i>in</i><!-- c --><?p x?>&amp;\">]>\n<d>\n  <i>in</i>\n"
         "  <!-- c -->\n  <?p x?>\n&amp;</d>\n"},
        {"an end tag closes whatever is open", "<a><b></c>tail</a></a></a><z", "<a>\n  <b/>\ntail</a>\n<z/>\n"},
        {"'>' inside a quoted value", "<a x=\"1>2\">t</a>", "<a x=\"1&gt;2\">t</a>\n"},
        {"repeated attribute: the last one first", "<a x=\"1\" x=\"2\"/>", "<a x=\"2\" x=\"1\"/>\n"},
        {"unclosed comment and instruction run to the end", "<a/><!-- open", "<a/>\n<!-- open-->\n"},
        {"unclosed instruction", "<?pi open", "<?pi open?>\n"},
        // Written back, a quote in a name would move the end of the tag.
        {"attribute names with a quote or '>' are dropped", "<a x=1\"y='2' z=\"3\"/>", "<a x=\"1\" z=\"3\"/>\n"},
        // A redefinition of a predefined entity is ignored, so the document saves the same.
        {"predefined entities keep their meaning",
         "<!DOCTYPE d [<!ENTITY amp \"loop &amp; loop\"><!ENTITY lt \"x\">]><d>a &amp; b &lt; c</d>",
         "<!DOCTYPE d [<!ENTITY amp \"loop &amp; loop\"><!ENTITY lt \"x\">]>\n<d>a &amp; b &lt; c</d>\n"},
    };
    for (const auto& row : rows) {
        XmlDocument doc;
        EXPECT_EQ(doc.parse(row.doc), 1) << row.what;
        std::string once = written(doc);
        EXPECT_EQ(once, row.out) << row.what;
        // Read again, the same text (repeated attributes swap places each time).
        XmlDocument again;
        again.parse(once);
        if (!std::string_view(row.what).starts_with("repeated")) {
            EXPECT_EQ(written(again), once) << row.what;
        }
    }
}

std::string nested(const char* open, int times) {
    std::string out;
    for (int i = 0; i < times; ++i) out += open;
    return out;
}

// Bad documents, one table: hostile ones stop with their message instead of eating memory or
// the stack; an external entity from outside the document's folder is skipped with its message
// and its text never reaches the document.
TEST(XmlParser, BadDocumentsStopOrSkipWithTheirMessage) {
    std::string laughs = "<!DOCTYPE l [<!ENTITY l0 \"lol\">";
    for (int i = 1; i < 10; ++i)
        laughs += "<!ENTITY l" + std::to_string(i) + " \"" + nested(("&l" + std::to_string(i - 1) + ";").c_str(), 10) + "\">";
    laughs += "]><l>&l9;</l>";
    std::string emptyLaughs = "<!DOCTYPE l [<!ENTITY e0 \"\">";
    for (int i = 1; i < 12; ++i)
        emptyLaughs += "<!ENTITY e" + std::to_string(i) + " \"" + nested(("&e" + std::to_string(i - 1) + ";").c_str(), 4) + "\">";
    emptyLaughs += "]><l>&e11;</l>";
    const std::string expansion = "XML entity expansion stopped: more than 16777216 bytes of replacement text\n";

    test::TempFolder folder, other;
    folder.put("inside.txt", "in <b>bold</b>");
    folder.put("large.txt", std::string(kXmlMaxExternalSize + 1, 'x'));
    std::string secret = other.put("secret.txt", "TOPSECRET");
    ASSERT_EQ(::symlink(secret.c_str(), folder.file("link.txt").c_str()), 0);
    std::string climb = "../" + other.path.substr(other.path.rfind('/') + 1) + "/secret.txt";
    auto entity = [](const std::string& id) {
        return "<!DOCTYPE d [<!ENTITY e SYSTEM \"" + id + "\">]><d>&e;</d>";
    };
    auto refused = [](const std::string& id) {
        return "External entity '" + id + "' refused: only files in the document's folder are read\n";
    };
    struct {
        const char* what;
        std::string doc;
        int result;
        std::string message;
        const char* reads = "";  // text the document, written back, holds
    } rows[] = {
        {"billion laughs", laughs, -1, expansion},
        {"references to empty entities", emptyLaughs, -1, expansion},
        {"self reference", "<!DOCTYPE r [<!ENTITY r \"x&r;\">]><r>&r;</r>", -1,
         "XML entities nested deeper than 32 levels\n"},
        {"too deep", nested("<d>", kXmlMaxDepth + 1), -1, "XML elements nested deeper than 512 levels\n"},
        {"deep but allowed", nested("<d>", kXmlMaxDepth) + nested("<e/>", 3), 1, "", "<e/>"},
        {"quote in an element name", "<a\"b\" c>t</a>", -1, "XML element name holds a quote: a\"b\"\n"},
        {"quote in a long element name, cut", "<" + std::string(50, 'n') + "\">t</a>", -1,
         "XML element name holds a quote: " + std::string(40, 'n') + "\n"},
        {"entity file in the folder", entity("inside.txt"), 1, "", "<d>in   <b>bold</b>\n</d>"},
        {"entity file too large", entity("large.txt"), 1,
         "External entity 'large.txt' not read: larger than 16777216 bytes\n"},
        {"absolute path", entity(secret), 1, refused(secret)},
        {"climbing out", entity(climb), 1, refused(climb)},
        {"file scheme", entity("file:" + secret), 1, refused("file:" + secret)},
        {"link out of the folder", entity("link.txt"), 1, refused("link.txt")},
        {"missing file", entity("nothing.txt"), 1, "External entity 'nothing.txt' not read: No such file or directory\n"},
        {"http not asked for", entity("http://127.0.0.1:1/x"), 1,
         "External entity 'http://127.0.0.1:1/x' not fetched: http entities need -http\n"},
    };
    for (const auto& row : rows) {
        XmlDocument doc;
        ::testing::internal::CaptureStderr();
        EXPECT_EQ(doc.parse(row.doc, String(folder.path)), row.result) << row.what;
        EXPECT_EQ(::testing::internal::GetCapturedStderr(), row.message) << row.what;
        if (row.result < 1) continue;
        std::string out = written(doc);
        EXPECT_NE(out.find(row.reads), std::string::npos) << row.what << ": " << out;
        EXPECT_EQ(out.find("TOPSECRET"), std::string::npos) << row.what;
        EXPECT_EQ(out.find("xxxx"), std::string::npos) << row.what;
    }
}

}  // namespace
}  // namespace qarvel
