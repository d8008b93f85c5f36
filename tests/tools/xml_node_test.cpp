// The XML model: the tree a document reads as, the axis queries with their patterns and
// counts, changes, escaping and writing back; the parser: the mistakes it tolerates, the bad
// documents it stops at with their messages, and external entities.
#include "tools/xml_node.h"

#include <gtest/gtest.h>

#include <string>
#include <unistd.h>

#include "support/temp_folder.h"
#include "tools/xml_document.h"
#include "tools/xml_parser.h"


namespace qarvel {
namespace {

const char kCatalog[] =
    "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n"
    "<!DOCTYPE catalog [ <!ENTITY co \"Acme &amp; Sons\"> <!ENTITY wrap \"<em>&co;</em>\"> ]>\n"
    "<catalog xmlns=\"urn:cat::\" xmlns:p=\"http://price.example/\">\n"
    "  <item id=\"1\" name=\"a\">one</item>\n"
    "  <!-- between -->\n"
    "  <item id=\"2\" name=\"b\"><![CDATA[<two> & more]]></item>\n"
    "  <group id=\"3\"><item id=\"7\" name=\"c\">seven</item><p:price id=\"8\">9</p:price></group>\n"
    "  <?render fast?>\n"
    "  <item id=\"4\">&co; &#x41;&#65; &unknown; &wrap;</item>\n"
    "</catalog>\n";

struct Catalog : ::testing::Test {
    void SetUp() override { ASSERT_EQ(doc.parse(kCatalog), 1); }
    XmlNode root() { return doc.node().descendant(0, "#element", "", ""); }
    static std::string idOf(const XmlNode n) {
        String v;
        return n && n.attribute("id", &v) ? v.str() : std::string(n ? "(no id)" : "(none)");
    }
    XmlDocument doc;
};

TEST_F(Catalog, DeclarationEntitiesKindsAndIdentifiers) {
    EXPECT_EQ(doc.version, "1.0");
    EXPECT_EQ(doc.encoding, "ISO-8859-1");
    EXPECT_FALSE(doc.utf8);
    XmlNode item4 = doc.node().findById("4");
    ASSERT_TRUE(item4);
    // The entity's text is read again, so its own references and markup are decoded too;
    // an unknown reference stays as written.
    EXPECT_EQ(item4.firstChild().name(), "Acme & Sons AA &unknown; ");
    XmlNode em = item4.child(0, "em", "", "");
    ASSERT_TRUE(em);
    EXPECT_EQ(em.firstChild().name(), "Acme & Sons");
    XmlNode r = root();
    ASSERT_TRUE(r);
    EXPECT_EQ(r.name(), "catalog");
    // Children of the document: the declaration, the DOCTYPE, then the root.
    EXPECT_EQ(doc.node().firstChild().kind(), kXmlInstruction);
    EXPECT_EQ(doc.node().firstChild().next().kind(), kXmlDeclaration);
    EXPECT_EQ(r.id(), "/0003");
    XmlNode comment = r.child(0, "", "", "").next();
    EXPECT_EQ(comment.kind(), kXmlDeclaration);
    EXPECT_EQ(comment.name(), "!-- between --");
    EXPECT_EQ(doc.node().findById("7").id(), "/0003/0004/0001");
    EXPECT_EQ(r.child(0, "#pi", "", "").name(), "?render fast?");
}

TEST_F(Catalog, AxisQueriesAndCounts) {
    XmlNode r = root();
    XmlNode seven = doc.node().findById("7");
    struct Row {
        const char* what;
        XmlNode got;
        std::string id;
    } rows[] = {
        {"first child item", r.child(0, "item", "", ""), "1"},
        {"n=1 is the first too", r.child(1, "item", "", ""), "1"},
        {"second child item", r.child(2, "item", "", ""), "2"},
        {"last child item", r.child(-1, "item", "", ""), "4"},
        {"second from the end", r.child(-2, "item", "", ""), "2"},
        {"no fourth item child", r.child(4, "item", "", ""), "(none)"},
        {"any element", r.child(3, "*", "", ""), "3"},
        {"attribute and value", r.child(0, "item", "name", "b"), "2"},
        {"attribute present", r.child(-1, "", "name", ""), "2"},
        {"descendant by id", r.descendant(0, "", "id", "7"), "7"},
        {"descendant third item", r.descendant(3, "item", "", ""), "7"},
        {"descendant last item", r.descendant(-1, "item", "", ""), "4"},
        {"descendant backward", r.descendant(-2, "item", "", ""), "7"},
        {"prefixed name", r.descendant(0, "p:price", "", ""), "8"},
        {"ancestor", seven.ancestor(0, "*", "", ""), "3"},
        {"ancestor 2", seven.ancestor(2, "*", "", ""), "(no id)"},
        {"ancestor from the top", seven.ancestor(-1, "*", "", ""), "(no id)"},
        {"no ancestor", seven.ancestor(3, "*", "", ""), "(none)"},
        {"following skips own subtree", doc.node().findById("3").followingInTree(0, "item", "", ""), "1"},
        {"following last", seven.followingInTree(-1, "", "id", ""), "8"},
        {"sibling forward", seven.siblingForward(2, "", "", ""), "8"},
        {"sibling counts itself", seven.siblingForward(0, "", "", ""), "7"},
        {"sibling backward", seven.siblingBackward(1, "", "", ""), "8"},
        {"preceding finds nothing", seven.preceding(0, "", "", ""), "(none)"},
        {"document has no sibling", doc.node().siblingForward(0, "", "", ""), "(none)"},
    };
    for (const Row& row : rows) EXPECT_EQ(idOf(row.got), row.id) << row.what;
}

TEST_F(Catalog, TextPatternsAndNamespaces) {
    XmlNode two = doc.node().findById("2");
    XmlNode cdata = two.child(0, "#text", "", "");
    ASSERT_TRUE(cdata);
    EXPECT_EQ(cdata.kind(), kXmlCdata);
    EXPECT_EQ(cdata.name(), "<two> & more");
    EXPECT_EQ(doc.node().findById("1").child(0, "#text", "", "").name(), "one");
    // "#text" is no element name, and a pattern that does not begin with a letter matches none.
    EXPECT_FALSE(two.child(0, "#element", "", ""));
    EXPECT_FALSE(root().child(0, "1tem", "", ""));
    // Namespaces are normalised, and a filter narrows the queries to one.
    EXPECT_EQ(doc.node().findById("8").nameSpace(), "http://price.example/");
    EXPECT_EQ(doc.node().findById("7").nameSpace(), "urn:cat/");
    XmlNode r = root();
    doc.namespaceFilter = "http://price.example/";
    EXPECT_EQ(idOf(r.descendant(0, "", "id", "")), "8");
}

TEST_F(Catalog, RemovedNodesAreSkipped) {
    doc.node().findById("1").remove();
    EXPECT_EQ(idOf(root().child(0, "item", "", "")), "2");
    EXPECT_FALSE(doc.node().findById("1"));
    std::string out;
    doc.node().write(out, 0, kXmlWriteEscaped);
    EXPECT_EQ(out.find("id=\"1\""), std::string::npos);
}

TEST(XmlEscaping, Table) {
    EXPECT_EQ(xmlEscape("a\"b'c<&>", true), "a&quot;b&apos;c&lt;&amp;&gt;");
    EXPECT_EQ(xmlEscape("a\"b'c<&>", false), "a\"b'c&lt;&amp;&gt;");
    struct {
        const char* in;
        std::string out;
    } rows[] = {
        {"&amp;&lt;&gt;&quot;&apos;", "&<>\"'"},
        {"&#x41;&#65;&#x6a;", "AAj"},
        {"&#x;&#;&#12a;", "&#x;&#;&#12a;"},
        {"&nbsp; & &amp", "&nbsp; & &amp"},
        {"&#256;", std::string(1, '\0')},  // one byte: the code's low byte
    };
    for (const auto& row : rows) EXPECT_EQ(xmlUnescape(std::string_view(row.in)), row.out) << row.in;
    // Text is written escaped only when the flag asks for it.
    XmlDocument doc;
    ASSERT_EQ(doc.parse("<c>1 &lt; 2</c>"), 1);
    std::string plain;
    doc.node().write(plain, 0, 0);
    EXPECT_EQ(plain, "<c>1 < 2</c>\n");
}

// Names copied from the document's own text store stay whole while the store grows.
TEST(XmlChange, NamesFromTheStoreItself) {
    XmlDocument doc;
    std::string text = "<r>";
    for (int i = 0; i < 200; ++i) text += "<e>&amp;" + std::to_string(i) + "</e>";
    ASSERT_EQ(doc.parse(text + "</r>"), 1);
    XmlNode r = doc.node().firstChild();
    for (XmlNode e = r.firstChild(); e; e = e.next()) e.setName(e.firstChild().name());
    int i = 0;
    for (XmlNode e = r.firstChild(); e; e = e.next(), ++i) EXPECT_EQ(e.name(), "&" + std::to_string(i));
}

std::string written(XmlDocument& doc) {
    std::string out;
    doc.node().write(out, 0, kXmlWriteEscaped);
    return out;
}

// Each document as it is written back (two spaces a level, attributes in byte order of their
// names, empty elements in their short form): text in one piece and text pieced together from
// references and entities, markup that came from an entity, and tolerated mistakes.
TEST(XmlParser, DocumentsReadAs) {
    struct {
        const char* what;
        const char* doc;
        const char* out;
    } rows[] = {
        {"plain and referenced text", "<a>x &lt; y</a><b>plain</b>", "<a>x &lt; y</a>\n<b>plain</b>\n"},
        {"the written form",
         "<?xml version=\"1.0\"?><r b=\"2\" a=\"x&amp;&quot;\"><c>1 &lt; 2</c><d><e/></d><![CDATA[ keep ]]></r>",
         "<?xml version=\"1.0\"?>\n<r a=\"x&amp;&quot;\" b=\"2\">\n  <c>1 &lt; 2</c>\n  <d>\n    <e/>\n  </d>\n"
         "  <![CDATA[ keep ]]>\n</r>\n"},
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
