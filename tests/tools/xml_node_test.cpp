// The XML model: the tree a document reads as, the axis queries with their patterns and
// counts, changes, escaping and writing back.
#include "tools/xml_node.h"

#include <gtest/gtest.h>

#include <string>


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

TEST_F(Catalog, DeclarationAndEntitiesAreRead) {
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
}

TEST_F(Catalog, KindsAndIdentifiers) {
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

TEST_F(Catalog, TextPatternFindsTextAndCdata) {
    XmlNode two = doc.node().findById("2");
    XmlNode cdata = two.child(0, "#text", "", "");
    ASSERT_TRUE(cdata);
    EXPECT_EQ(cdata.kind(), kXmlCdata);
    EXPECT_EQ(cdata.name(), "<two> & more");
    EXPECT_EQ(doc.node().findById("1").child(0, "#text", "", "").name(), "one");
    // "#text" is no element name, and a pattern that does not begin with a letter matches none.
    EXPECT_FALSE(two.child(0, "#element", "", ""));
    EXPECT_FALSE(root().child(0, "1tem", "", ""));
}

TEST_F(Catalog, RemovedNodesAreSkipped) {
    doc.node().findById("1").remove();
    EXPECT_EQ(idOf(root().child(0, "item", "", "")), "2");
    EXPECT_FALSE(doc.node().findById("1"));
    std::string out;
    doc.node().write(out, 0, kXmlWriteEscaped);
    EXPECT_EQ(out.find("id=\"1\""), std::string::npos);
}

TEST_F(Catalog, NamespacesAreNormalisedAndFilter) {
    XmlNode price = doc.node().findById("8");
    EXPECT_EQ(price.nameSpace(), "http://price.example/");
    EXPECT_EQ(doc.node().findById("7").nameSpace(), "urn:cat/");
    XmlNode r = root();
    doc.namespaceFilter = "http://price.example/";
    EXPECT_EQ(idOf(r.descendant(0, "", "id", "")), "8");
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
    XmlDocument doc;
    ASSERT_EQ(doc.parse("<?xml version=\"1.0\"?><r b=\"2\" a=\"x&amp;&quot;\"><c>1 &lt; 2</c>"
                        "<d><e/></d><![CDATA[ keep ]]></r>"),
              1);
    std::string escaped, plain;
    doc.node().write(escaped, 0, kXmlWriteEscaped);
    doc.node().write(plain, 0, 0);
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
    XmlDocument again;
    ASSERT_EQ(again.parse(escaped), 1);
    std::string twice;
    again.node().write(twice, 0, kXmlWriteEscaped);
    EXPECT_EQ(twice, escaped);
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

}  // namespace
}  // namespace qarvel
