// XmlNode: one node of an XML document held in memory: the document node itself and every
// element, text, CDATA section, declaration and processing instruction under it. The tree is
// built by the non-validating parser (tools/xml_parser.h), written back as indented text,
// and searched by the axis queries the -xml command offers on its command line.
//
// Every node has a positional identifier: its parent's identifier, "/" and its one-based
// ordinal among the parent's children in four upper-case hexadecimal digits.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "base/ordered_map.h"
#include "base/string.h"

namespace qarvel {

enum XmlKind : int32_t {
    kXmlRemoved = 0,      // dropped by the command; skipped by queries and the writer
    kXmlElement = 1,
    kXmlText = 2,
    kXmlDeclaration = 3,  // markup that begins with "!": DOCTYPE, comments
    kXmlInstruction = 4,  // markup that begins with "?", the XML declaration included
    kXmlVerbatim = 5,     // markup kept and written exactly as it came; the parser makes none
    kXmlCdata = 6,
};

// write flag: text content is escaped, so that the output reads back as the same text.
// Files are written with it; a node printed on the console shows its text as it reads.
constexpr int kXmlWriteEscaped = 1;

// When set, every query prints each candidate node it tests (the -dbg step).
extern bool gXmlQueryDebug;

// Where write puts its text: a string, or a file as it is written.
class XmlSink {
public:
    virtual ~XmlSink() = default;
    virtual void put(const char* data, size_t length) = 0;
    void put(std::string_view text) { put(text.data(), text.size()); }
};

class XmlNode {
public:
    XmlNode();  // an empty document
    virtual ~XmlNode();
    XmlNode(const XmlNode&) = delete;
    XmlNode& operator=(const XmlNode&) = delete;

    // Frees all children and maps and resets version, encoding and names to their defaults.
    void clear();
    // Builds the tree under this (document) node. 1 on success; -1 after a message on
    // standard error when a limit of the parser stopped it (the tree holds what was read).
    // folder is where external entities are looked for; http ones are fetched only when
    // allowHttp is set.
    int parse(std::string_view text, const String& folder = String(), bool allowHttp = false);

    // The text form of this node and its subtree; flags: kXmlWriteEscaped.
    void write(XmlSink& out, int level, int flags) const;
    void write(std::string& out, int level, int flags) const;

    // Appends an existing node (and its subtree) as the last child.
    void addChild(XmlNode* node);
    // A new node of that kind as the last child.
    XmlNode* newChild(int32_t kind);

    bool attribute(const String& name, String* value) const;
    void setAttribute(const String& name, const String& value);

    // Queries: each returns the n-th match (0 and 1 the first, a negative n counts from the
    // end) or null. Patterns: "#text" (text and CDATA), "#pi", "#element" or "*", an element
    // name, or empty (any node). attr and value, when not empty, must match an attribute.
    XmlNode* findById(const String& value);
    XmlNode* child(int n, const String& name, const String& attr, const String& value);
    XmlNode* descendant(int n, const String& name, const String& attr, const String& value);
    XmlNode* followingInTree(int n, const String& name, const String& attr, const String& value);
    XmlNode* siblingForward(int n, const String& name, const String& attr, const String& value);
    XmlNode* siblingBackward(int n, const String& name, const String& attr, const String& value);
    XmlNode* ancestor(int n, const String& name, const String& attr, const String& value);
    XmlNode* preceding(int, const String&, const String&, const String&) { return nullptr; }

    // The removed state: the node keeps its place but is skipped from now on.
    void remove() { kind = kXmlRemoved; }

    int32_t kind = kXmlElement;
    XmlNode* parent = nullptr;
    XmlNode* document = this;
    XmlNode* firstChild = nullptr;
    XmlNode* lastChild = nullptr;
    XmlNode* next = nullptr;
    XmlNode* previous = nullptr;
    int childCount = 0;

    String version, encoding;
    // The element name; the content of a text or CDATA node; the whole token between "<"
    // and ">" of a declaration or processing instruction.
    String name;
    String text;
    String id;
    String nameSpace;
    // Set on the document: when not empty, queries only match nodes of this namespace.
    String namespaceFilter;
    bool utf8 = true;

    // Document maps (on the document node only): internal entities (name -> replacement)
    // and external ones (name -> system identifier).
    OrderedMap& internalEntities();
    OrderedMap& externalEntities();
    const OrderedMap* attributes() const { return attributes_.get(); }

private:
    struct Match;
    bool matches(const Match& m) const;
    // Walks for the n-th match; each returns the node or null and counts down `left`.
    XmlNode* walkChildren(const Match& m, bool backward, int& left);
    XmlNode* walkDescendants(const Match& m, bool backward, int& left);
    void renumber();

    std::unique_ptr<OrderedMap> attributes_;
    std::unique_ptr<OrderedMap> internalEntities_, externalEntities_;
    bool marked_ = false;  // followingInTree: this subtree is not searched
};

// "&", "<", ">" always; the double quote and the apostrophe only in attribute values.
String xmlEscape(const String& text, bool inAttribute);
void xmlEscapeTo(std::string& out, std::string_view text, bool inAttribute);
// The five named references and numeric ones (one byte each); any other stays as written.
String xmlUnescape(const String& text);
std::string xmlUnescape(std::string_view text);

}  // namespace qarvel
