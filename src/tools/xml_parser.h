// XmlParser: the non-validating reader behind XmlNode::parse. It reads the input token by
// token into the tree under a document node: elements with their attributes, text with its
// references decoded, CDATA sections, declarations (the DOCTYPE with its entity
// declarations, comments) and processing instructions. Internal entities are expanded by
// reading their replacement text in front of the rest of the input; external ones are read
// from files in the document's folder (or, when allowed, fetched over http).
//
// Hostile input is bounded: nesting depth, the text that entity expansion may add, and how
// deeply entities may nest in each other (see the limits below and README.md).
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "base/ordered_map.h"
#include "base/string.h"

namespace qarvel {

class XmlDocument;

// Elements may nest this deep; a deeper document stops the parse with an error.
constexpr int kXmlMaxDepth = 512;
// Entity references may nest this deep (an entity whose text refers to another ...).
constexpr int kXmlMaxEntityNesting = 32;
// All entity expansions of one parse together may add at most this much text; every
// reference counts its replacement text plus kXmlReferenceCost bytes, so that references
// to empty entities are bounded too. A "billion laughs" document stops here.
constexpr size_t kXmlMaxExpansion = 16u << 20;
constexpr size_t kXmlReferenceCost = 8;
// One external entity file is read up to this size.
constexpr size_t kXmlMaxExternalSize = 16u << 20;
// Seconds an http external entity may take to connect or to send its next bytes.
constexpr int kXmlHttpTimeout = 30;

class XmlParser {
public:
    XmlParser(XmlDocument& document, const String& folder, bool allowHttp);
    // 1 when the whole input was read; -1 after a message on standard error when a limit
    // stopped the parse.
    int run(std::string_view input);

private:
    struct Frame {
        String owner;  // keeps an expansion's text alive; empty for the input itself
        const char* cur;
        const char* end;
    };

    int peek();
    int get();
    bool lookingAt(std::string_view text);
    void skipWhitespace();

    // The readers return their token as a slice of the input where it lies in one piece
    // there, else as the text gathered in scratch.
    int readMarkup();
    int readText();
    std::string_view readUntil(std::string_view terminator, std::string& scratch);
    void readBalanced(std::string& out);
    std::string_view readTag(std::string& scratch);
    int startElement(std::string_view token);
    int addNode(int32_t kind, std::string_view name);
    void endElement();
    void readXmlDeclaration(std::string_view token);
    void readDoctype(std::string_view token);
    int expandEntity(const std::string& name, std::string& text);
    bool readExternal(const String& systemId, std::string& out);
    bool readLocalFile(const String& systemId, std::string& out);
    bool readHttp(const String& url, std::string& out);
    int pushText(const String& text);
    uint32_t elementNamespace(std::string_view elementName) const;
    int declareNamespace(std::string prefix, std::string_view uri);
    int fail(const char* format, ...) __attribute__((format(printf, 2, 3)));

    XmlDocument& document_;
    uint32_t open_ = 0;  // the element that is open (0: the document)
    String folder_;
    bool allowHttp_;
    int depth_ = 0;
    size_t expansion_ = 0;
    std::vector<Frame> frames_;
    // Prefix with its colon (a lone colon for the default) -> namespace index in the document.
    std::map<std::string, uint32_t, std::less<>> namespaces_;
    std::string scratch_, value_;
};

}  // namespace qarvel
