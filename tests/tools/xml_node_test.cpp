// The XML model: parsing into the tree, the axis queries with their patterns and counts,
// escaping, writing back, and the parser's limits against hostile documents.
#include "tools/xml_node.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <string>

#include "support/temp_folder.h"
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
    XmlNode* root() { return doc.descendant(0, "#element", "", ""); }
    static std::string idOf(const XmlNode* n) {
        String v;
        return n && n->attribute("id", &v) ? v.str() : std::string(n ? "(no id)" : "(none)");
    }
    XmlNode doc;
};

TEST_F(Catalog, DeclarationAndEntitiesAreRead) {
    EXPECT_EQ(doc.version, "1.0");
    EXPECT_EQ(doc.encoding, "ISO-8859-1");
    EXPECT_FALSE(doc.utf8);
    XmlNode* item4 = doc.findById("4");
    ASSERT_NE(item4, nullptr);
    // The entity's text is read again, so its own references and markup are decoded too;
    // an unknown reference stays as written.
    EXPECT_EQ(item4->firstChild->name, "Acme & Sons AA &unknown; ");
    XmlNode* em = item4->child(0, "em", "", "");
    ASSERT_NE(em, nullptr);
    EXPECT_EQ(em->firstChild->name, "Acme & Sons");
}

TEST_F(Catalog, KindsAndIdentifiers) {
    XmlNode* r = root();
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->name, "catalog");
    // Children of the document: the declaration, the DOCTYPE, then the root.
    EXPECT_EQ(doc.firstChild->kind, kXmlInstruction);
    EXPECT_EQ(doc.firstChild->next->kind, kXmlDeclaration);
    EXPECT_EQ(r->id, "/0003");
    XmlNode* comment = r->child(0, "", "", "")->next;
    EXPECT_EQ(comment->kind, kXmlDeclaration);
    EXPECT_EQ(comment->name, "!-- between --");
    EXPECT_EQ(doc.findById("7")->id, "/0003/0004/0001");
    EXPECT_EQ(r->child(0, "#pi", "", "")->name, "?render fast?");
}

TEST_F(Catalog, AxisQueriesAndCounts) {
    XmlNode* r = root();
    XmlNode* seven = doc.findById("7");
    struct Row {
        const char* what;
        XmlNode* got;
        std::string id;
    } rows[] = {
        {"first child item", r->child(0, "item", "", ""), "1"},
        {"n=1 is the first too", r->child(1, "item", "", ""), "1"},
        {"second child item", r->child(2, "item", "", ""), "2"},
        {"last child item", r->child(-1, "item", "", ""), "4"},
        {"second from the end", r->child(-2, "item", "", ""), "2"},
        {"no fourth item child", r->child(4, "item", "", ""), "(none)"},
        {"any element", r->child(3, "*", "", ""), "3"},
        {"attribute and value", r->child(0, "item", "name", "b"), "2"},
        {"attribute present", r->child(-1, "", "name", ""), "2"},
        {"descendant by id", r->descendant(0, "", "id", "7"), "7"},
        {"descendant third item", r->descendant(3, "item", "", ""), "7"},
        {"descendant last item", r->descendant(-1, "item", "", ""), "4"},
        {"descendant backward", r->descendant(-2, "item", "", ""), "7"},
        {"prefixed name", r->descendant(0, "p:price", "", ""), "8"},
        {"ancestor", seven->ancestor(0, "*", "", ""), "3"},
        {"ancestor 2", seven->ancestor(2, "*", "", ""), "(no id)"},
        {"ancestor from the top", seven->ancestor(-1, "*", "", ""), "(no id)"},
        {"no ancestor", seven->ancestor(3, "*", "", ""), "(none)"},
        {"following skips own subtree", doc.findById("3")->followingInTree(0, "item", "", ""), "1"},
        {"following last", seven->followingInTree(-1, "", "id", ""), "8"},
        {"sibling forward", seven->siblingForward(2, "", "", ""), "8"},
        {"sibling counts itself", seven->siblingForward(0, "", "", ""), "7"},
        {"sibling backward", seven->siblingBackward(1, "", "", ""), "8"},
        {"preceding finds nothing", seven->preceding(0, "", "", ""), "(none)"},
        {"document has no sibling", doc.siblingForward(0, "", "", ""), "(none)"},
    };
    for (const Row& row : rows) EXPECT_EQ(idOf(row.got), row.id) << row.what;
}

TEST_F(Catalog, TextPatternFindsTextAndCdata) {
    XmlNode* two = doc.findById("2");
    XmlNode* cdata = two->child(0, "#text", "", "");
    ASSERT_NE(cdata, nullptr);
    EXPECT_EQ(cdata->kind, kXmlCdata);
    EXPECT_EQ(cdata->name, "<two> & more");
    EXPECT_EQ(doc.findById("1")->child(0, "#text", "", "")->name, "one");
    // "#text" is no element name, and a pattern that does not begin with a letter matches none.
    EXPECT_EQ(two->child(0, "#element", "", ""), nullptr);
    EXPECT_EQ(root()->child(0, "1tem", "", ""), nullptr);
}

TEST_F(Catalog, RemovedNodesAreSkipped) {
    doc.findById("1")->remove();
    EXPECT_EQ(idOf(root()->child(0, "item", "", "")), "2");
    EXPECT_EQ(doc.findById("1"), nullptr);
    std::string out;
    doc.write(out, 0, kXmlWriteEscaped);
    EXPECT_EQ(out.find("id=\"1\""), std::string::npos);
}

TEST_F(Catalog, NamespacesAreNormalisedAndFilter) {
    XmlNode* price = doc.findById("8");
    EXPECT_EQ(price->nameSpace, "http://price.example/");
    EXPECT_EQ(doc.findById("7")->nameSpace, "urn:cat/");
    XmlNode* r = root();
    doc.namespaceFilter = "http://price.example/";
    EXPECT_EQ(idOf(r->descendant(0, "", "id", "")), "8");
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
}

// Writing: indentation two spaces a level, attributes in byte order of their names, text
// escaped only when the flag asks for it, empty elements in their short form.
TEST(XmlWrite, GoldenForm) {
    XmlNode doc;
    ASSERT_EQ(doc.parse("<?xml version=\"1.0\"?><r b=\"2\" a=\"x&amp;&quot;\"><c>1 &lt; 2</c>"
                        "<d><e/></d><![CDATA[ keep ]]></r>"),
              1);
    std::string escaped, plain;
    doc.write(escaped, 0, kXmlWriteEscaped);
    doc.write(plain, 0, 0);
    EXPECT_EQ(escaped,
              "<?xml version=\"1.0\"?>\n"
              "<r a=\"x&amp;&quot;\" b=\"2\">\n"
              "  <c>1 &lt; 2</c>\n"
              "  <d>\n"
              "    <e/>\n"
              "  </d>\n"
              "  <![CDATA[ keep ]]>\n"
              "</r>\n");
    EXPECT_NE(plain.find("<c>1 < 2</c>"), std::string::npos);
    // What was written reads back to the same text.
    XmlNode again;
    ASSERT_EQ(again.parse(escaped), 1);
    std::string twice;
    again.write(twice, 0, kXmlWriteEscaped);
    EXPECT_EQ(twice, escaped);
}

TEST(XmlParse, ToleratedMistakes) {
    // Unmatched end tags close the open element; a ">" inside a quoted value stays in it;
    // a missing end leaves the elements open without harm.
    XmlNode doc;
    ASSERT_EQ(doc.parse("<a x=\"1>2\"><b></c>tail</a></a></a><z"), 1);
    XmlNode* a = doc.child(0, "a", "", "");
    ASSERT_NE(a, nullptr);
    String x;
    ASSERT_TRUE(a->attribute("x", &x));
    EXPECT_EQ(x, "1>2");
    EXPECT_EQ(a->child(0, "#text", "", "")->name, "tail");
    EXPECT_NE(doc.child(0, "z", "", ""), nullptr);
}

TEST(XmlParse, PredefinedEntitiesCannotBeRedefined) {
    // A document that declares "amp" as a text referring to itself: the declaration is
    // ignored, so "&amp;" still means "&" and the saved document reads back the same.
    const char* text = "<!DOCTYPE d [<!ENTITY amp \"loop &amp; loop\"><!ENTITY lt \"x\">]><d>a &amp; b &lt; c</d>";
    XmlNode doc;
    ASSERT_EQ(doc.parse(text), 1);
    XmlNode* d = doc.child(0, "d", "", "");
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->child(0, "#text", "", "")->name, "a & b < c");
    std::string saved;
    doc.write(saved, 0, kXmlWriteEscaped);
    XmlNode again;
    ASSERT_EQ(again.parse(saved), 1) << saved;
    EXPECT_EQ(again.child(0, "d", "", "")->child(0, "#text", "", "")->name, "a & b < c");
}

// Hostile documents end with a message instead of eating memory or the stack.
TEST(XmlLimits, HostileDocumentsStop) {
    std::string laughs = "<!DOCTYPE l [<!ENTITY l0 \"lol\">";
    for (int i = 1; i < 10; ++i)
        laughs += "<!ENTITY l" + std::to_string(i) + " \"" + [&] {
            std::string ten;
            for (int k = 0; k < 10; ++k) ten += "&l" + std::to_string(i - 1) + ";";
            return ten;
        }() + "\">";
    laughs += "]><l>&l9;</l>";
    std::string emptyLaughs = "<!DOCTYPE l [<!ENTITY e0 \"\">";
    for (int i = 1; i < 12; ++i)
        emptyLaughs += "<!ENTITY e" + std::to_string(i) + " \"&e" + std::to_string(i - 1) + ";&e" +
                       std::to_string(i - 1) + ";&e" + std::to_string(i - 1) + ";&e" +
                       std::to_string(i - 1) + ";\">";
    emptyLaughs += "]><l>&e11;</l>";
    std::string deep;
    for (int i = 0; i < kXmlMaxDepth + 1; ++i) deep += "<d>";
    std::string shallowEnough;
    for (int i = 0; i < kXmlMaxDepth; ++i) shallowEnough += "<d>";
    struct {
        const char* what;
        std::string doc;
        int result;
        const char* message;
    } rows[] = {
        {"billion laughs", laughs, -1, "entity expansion stopped"},
        {"references to empty entities", emptyLaughs, -1, "entity expansion stopped"},
        {"self reference", "<!DOCTYPE r [<!ENTITY r \"x&r;\">]><r>&r;</r>", -1, "nested deeper"},
        {"too deep", deep, -1, "nested deeper than 512"},
        {"deep but allowed", shallowEnough, 1, ""},
    };
    for (const auto& row : rows) {
        XmlNode doc;
        ::testing::internal::CaptureStderr();
        EXPECT_EQ(doc.parse(row.doc), row.result) << row.what;
        std::string err = ::testing::internal::GetCapturedStderr();
        EXPECT_NE(err.find(row.message), std::string::npos) << row.what << ": " << err;
    }
}

TEST(XmlExternalEntities, OnlyFilesInTheDocumentFolder) {
    test::TempFolder folder;
    folder.put("inside.txt", "in <b>bold</b>");
    test::TempFolder other;
    other.put("secret.txt", "secret");
    std::string outsidePath = other.file("secret.txt");
    std::string relativeOut = "../" + other.path.substr(other.path.rfind('/') + 1) + "/secret.txt";
    struct {
        const char* what;
        std::string systemId;
        const char* text;
        const char* message;
    } rows[] = {
        {"file in the folder", "inside.txt", "in ", ""},
        {"absolute path", outsidePath, "", "refused"},
        {"climbing out", relativeOut, "", "refused"},
        {"file scheme", "file:" + outsidePath, "", "refused"},
        {"missing file", "nothing.txt", "", "not read"},
        {"http not asked for", "http://127.0.0.1:1/x", "", "need -http"},
    };
    for (const auto& row : rows) {
        XmlNode doc;
        std::string text = "<!DOCTYPE d [<!ENTITY e SYSTEM \"" + row.systemId + "\">]><d>&e;</d>";
        ::testing::internal::CaptureStderr();
        EXPECT_EQ(doc.parse(text, String(folder.path)), 1) << row.what;
        std::string err = ::testing::internal::GetCapturedStderr();
        XmlNode* d = doc.child(0, "d", "", "");
        XmlNode* t = d->child(0, "#text", "", "");
        EXPECT_EQ(t ? t->name.str() : std::string(), row.text) << row.what;
        EXPECT_NE(err.find(row.message), std::string::npos) << row.what << ": " << err;
    }
}

TEST(XmlExternalEntities, LinkOutOfTheFolderIsRefused) {
    test::TempFolder folder, other;
    other.put("secret.txt", "secret");
    ASSERT_EQ(::symlink(other.file("secret.txt").c_str(), folder.file("link.txt").c_str()), 0);
    XmlNode doc;
    ::testing::internal::CaptureStderr();
    doc.parse("<!DOCTYPE d [<!ENTITY e SYSTEM \"link.txt\">]><d>&e;</d>", String(folder.path));
    EXPECT_NE(::testing::internal::GetCapturedStderr().find("refused"), std::string::npos);
    EXPECT_EQ(doc.child(0, "d", "", "")->firstChild, nullptr);
}

}  // namespace
}  // namespace qarvel
