// XmlNode: one node of an XML document held in memory (tools/xml_document.h): the document
// node itself and every element, text, CDATA section, declaration and processing instruction
// under it. A node is a handle, the document and the node's number in it, cheap to copy; a
// handle made empty is no node. Through it the tree is written back as indented text and
// searched by the axis queries the -xml command offers on its command line.
//
// Every node has a positional identifier: its parent's identifier, "/" and its one-based
// ordinal among the parent's children in four upper-case hexadecimal digits.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

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

// Where write puts its text: a string, or a file as it is written. Small pieces gather in a
// buffer that is handed on in large blocks.
class XmlSink {
public:
    virtual ~XmlSink() = default;
    void put(const char* data, size_t length) {
        if (length > sizeof buffer_ - used_) {
            flush();
            if (length > sizeof buffer_) return deliver(data, length);
        }
        std::memcpy(buffer_ + used_, data, length);
        used_ += length;
    }
    void put(std::string_view text) { put(text.data(), text.size()); }
    void flush() {
        if (used_ > 0) deliver(buffer_, used_);
        used_ = 0;
    }

protected:
    virtual void deliver(const char* data, size_t length) = 0;

private:
    char buffer_[16384];
    size_t used_ = 0;
};

class XmlDocument;

class XmlNode {
public:
    XmlNode() = default;
    explicit operator bool() const { return document_ != nullptr; }
    bool operator==(const XmlNode& other) const = default;

    XmlDocument& document() const { return *document_; }
    int32_t kind() const;
    // The element name; the content of a text or CDATA node; the whole token between "<"
    // and ">" of a declaration or processing instruction.
    std::string_view name() const;
    void setName(std::string_view name);
    String id() const;
    // The namespace URI (normalised to end in one "/"), empty when none.
    std::string_view nameSpace() const;

    XmlNode parent() const;
    XmlNode firstChild() const;
    XmlNode lastChild() const;
    XmlNode next() const;
    XmlNode previous() const;

    bool attribute(std::string_view name, String* value) const;
    // Calls visit(name, value) for each attribute in the order they are written.
    template <typename Visit>
    void forEachAttribute(Visit visit) const;
    void setAttribute(std::string_view name, std::string_view value);

    // The text form of this node and its subtree; flags: kXmlWriteEscaped.
    void write(XmlSink& out, int level, int flags) const;
    void write(std::string& out, int level, int flags) const;

    // A new node of that kind as the last child; it takes this node's namespace.
    XmlNode newChild(int32_t kind);
    // A copy of node and its subtree (from any document) as the last child.
    XmlNode addCopy(XmlNode node);
    // The removed state: the node keeps its place but is skipped from now on.
    void remove();

    // Queries: each returns the n-th match (0 and 1 the first, a negative n counts from the
    // end) or no node. Patterns: "#text" (text and CDATA), "#pi", "#element" or "*", an
    // element name, or empty (any node). attr and value, when not empty, must match an
    // attribute.
    XmlNode findById(const String& value) const;
    XmlNode child(int n, const String& name, const String& attr, const String& value) const;
    XmlNode descendant(int n, const String& name, const String& attr, const String& value) const;
    XmlNode followingInTree(int n, const String& name, const String& attr, const String& value) const;
    XmlNode siblingForward(int n, const String& name, const String& attr, const String& value) const;
    XmlNode siblingBackward(int n, const String& name, const String& attr, const String& value) const;
    XmlNode ancestor(int n, const String& name, const String& attr, const String& value) const;
    XmlNode preceding(int, const String&, const String&, const String&) const { return {}; }

private:
    friend class XmlDocument;
    friend class XmlParser;
    XmlNode(XmlDocument* document, uint32_t index) : document_(document), index_(index) {}
    XmlNode at(uint32_t index) const { return index ? XmlNode(document_, index) : XmlNode(); }

    struct Match;
    bool matches(const Match& m) const;
    XmlNode walkChildren(const Match& m, bool backward, int& left) const;
    XmlNode walkDescendants(const Match& m, bool backward, int& left) const;
    void debugLine() const;

    XmlDocument* document_ = nullptr;
    uint32_t index_ = 0;
};

// "&", "<", ">" always; the double quote and the apostrophe only in attribute values.
String xmlEscape(const String& text, bool inAttribute);
void xmlEscapeTo(std::string& out, std::string_view text, bool inAttribute);
// The five named references and numeric ones (one byte each); any other stays as written.
String xmlUnescape(const String& text);
std::string xmlUnescape(std::string_view text);
void xmlUnescapeTo(std::string& out, std::string_view text);

}  // namespace qarvel

// The document, and the template above, defined with it.
#include "tools/xml_document.h"
