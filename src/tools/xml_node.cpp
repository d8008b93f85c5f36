#include "tools/xml_node.h"

#include <cctype>
#include <cstdio>

#include "tools/xml_parser.h"

namespace qarvel {

bool gXmlQueryDebug = false;

namespace {

// One shared empty text: a node holds seven texts and most are empty, so they share this
// representation instead of allocating one each.
const String& noText() {
    static const String empty;
    return empty;
}

const String& defaultVersion() {
    static const String text("1.0");
    return text;
}

const String& defaultEncoding() {
    static const String text("utf-8");
    return text;
}

String ordinalId(const String& parentId, int ordinal) {
    char digits[16];
    std::snprintf(digits, sizeof digits, "/%04X", ordinal);
    return parentId + digits;
}

class StringSink : public XmlSink {
public:
    explicit StringSink(std::string& out) : out_(out) {}
    void put(const char* data, size_t length) override { out_.append(data, length); }

private:
    std::string& out_;
};

void indent(XmlSink& out, int level) {
    static const char spaces[] = "                                                                ";
    size_t wanted = static_cast<size_t>(level) * 2;
    while (wanted > 0) {
        size_t piece = wanted < sizeof spaces - 1 ? wanted : sizeof spaces - 1;
        out.put(spaces, piece);
        wanted -= piece;
    }
}

bool isTextKind(int32_t kind) { return kind == kXmlText || kind == kXmlVerbatim; }

}  // namespace

XmlNode::XmlNode()
    : version(defaultVersion()),
      encoding(defaultEncoding()),
      name(noText()),
      text(noText()),
      id(noText()),
      nameSpace(noText()),
      namespaceFilter(noText()) {}

XmlNode::~XmlNode() {
    XmlNode* node = firstChild;
    while (node) {
        XmlNode* following = node->next;
        delete node;
        node = following;
    }
}

void XmlNode::clear() {
    XmlNode* node = firstChild;
    while (node) {
        XmlNode* following = node->next;
        delete node;
        node = following;
    }
    firstChild = lastChild = nullptr;
    childCount = 0;
    attributes_.reset();
    internalEntities_.reset();
    externalEntities_.reset();
    version = defaultVersion();
    encoding = defaultEncoding();
    name = text = id = nameSpace = noText();
    utf8 = true;
}

int XmlNode::parse(std::string_view input, const String& folder, bool allowHttp) {
    XmlParser parser(*this, folder, allowHttp);
    return parser.run(input);
}

OrderedMap& XmlNode::internalEntities() {
    XmlNode* doc = document;
    if (!doc->internalEntities_) doc->internalEntities_ = std::make_unique<OrderedMap>();
    return *doc->internalEntities_;
}

OrderedMap& XmlNode::externalEntities() {
    XmlNode* doc = document;
    if (!doc->externalEntities_) doc->externalEntities_ = std::make_unique<OrderedMap>();
    return *doc->externalEntities_;
}

// ---------------------------------------------------------------- building

void XmlNode::addChild(XmlNode* node) {
    node->parent = this;
    node->previous = lastChild;
    node->next = nullptr;
    if (lastChild)
        lastChild->next = node;
    else
        firstChild = node;
    lastChild = node;
    ++childCount;
    node->nameSpace = nameSpace;
    node->id = ordinalId(id, childCount);
    node->renumber();
}

// The subtree of a node moved into another document takes that document and new identifiers.
void XmlNode::renumber() {
    int ordinal = 0;
    for (XmlNode* c = firstChild; c; c = c->next) {
        c->document = document;
        c->id = ordinalId(id, ++ordinal);
        c->renumber();
    }
}

XmlNode* XmlNode::newChild(int32_t kind) {
    XmlNode* node = new XmlNode;
    node->kind = kind;
    node->document = document;
    node->version = version;
    node->encoding = encoding;
    addChild(node);
    return node;
}

bool XmlNode::attribute(const String& attrName, String* value) const {
    if (!attributes_) return false;
    const String* found = attributes_->find(attrName);
    if (!found) return false;
    if (value) *value = *found;
    return true;
}

void XmlNode::setAttribute(const String& attrName, const String& value) {
    if (!attributes_) attributes_ = std::make_unique<OrderedMap>();
    attributes_->insert(attrName, value);
}

// ---------------------------------------------------------------- writing

void XmlNode::write(std::string& out, int level, int flags) const {
    StringSink sink(out);
    write(sink, level, flags);
}

void XmlNode::write(XmlSink& out, int level, int flags) const {
    if (kind == kXmlRemoved) return;
    if (!parent) {
        // The document node has no markup of its own: its children are the file.
        for (const XmlNode* c = firstChild; c; c = c->next) c->write(out, level, flags);
        return;
    }
    if (isTextKind(kind)) {
        if (kind == kXmlText && (flags & kXmlWriteEscaped)) {
            std::string escaped;
            xmlEscapeTo(escaped, name.view(), false);
            out.put(escaped);
        } else {
            out.put(name.view());
        }
        return;
    }
    indent(out, level);
    if (kind == kXmlCdata) {
        out.put("<![CDATA[");
        out.put(name.view());
        out.put("]]>\n");
        return;
    }
    out.put("<");
    out.put(name.view());
    if (kind != kXmlElement) {
        out.put(">\n");
        return;
    }
    if (attributes_) {
        attributes_->forEach([&out](const String& key, const String& value) {
            std::string piece = " ";
            piece += key.view();
            piece += "=\"";
            xmlEscapeTo(piece, value.view(), true);
            piece += '"';
            out.put(piece);
            return true;
        });
    }
    const XmlNode* first = firstChild;
    while (first && first->kind == kXmlRemoved) first = first->next;
    if (!first) {
        // No content left: the empty-element form.
        out.put("/>\n");
        return;
    }
    out.put(">");
    bool textContent = isTextKind(first->kind);
    if (!textContent) out.put("\n");
    for (const XmlNode* c = firstChild; c; c = c->next) c->write(out, level + 1, flags);
    if (!textContent) indent(out, level);
    out.put("</");
    out.put(name.view());
    out.put(">\n");
}

// ---------------------------------------------------------------- queries

struct XmlNode::Match {
    const String& name;
    const String& attr;
    const String& value;
    const String& nameSpace;
};

bool XmlNode::matches(const Match& m) const {
    if (kind == kXmlRemoved || !parent) return false;
    if (gXmlQueryDebug)
        std::printf("test %s kind %d '%.64s'\n", id.c_str(), static_cast<int>(kind), name.c_str());
    const String& pattern = m.name;
    if (pattern == "#text") {
        if (kind != kXmlText && kind != kXmlCdata) return false;
    } else if (pattern == "#pi") {
        if (kind != kXmlInstruction) return false;
    } else if (pattern == "#element" || pattern == "*") {
        if (kind != kXmlElement) return false;
    } else if (!pattern.empty()) {
        if (!std::isalpha(static_cast<unsigned char>(pattern[0]))) return false;
        if (kind != kXmlElement || !(name == pattern)) return false;
    }
    if (!m.nameSpace.empty() && !(nameSpace == m.nameSpace)) return false;
    if (!m.attr.empty()) {
        String found;
        if (!attribute(m.attr, &found)) return false;
        if (!m.value.empty() && !(found == m.value)) return false;
    }
    return true;
}

namespace {

int matchesWanted(int n) { return n == 0 ? 1 : (n < 0 ? -n : n); }

}  // namespace

XmlNode* XmlNode::walkChildren(const Match& m, bool backward, int& left) {
    for (XmlNode* c = backward ? lastChild : firstChild; c; c = backward ? c->previous : c->next)
        if (c->matches(m) && --left == 0) return c;
    return nullptr;
}

// Forward: pre-order. Backward: the exact reverse of pre-order (children last to first,
// each subtree before the node that holds it).
XmlNode* XmlNode::walkDescendants(const Match& m, bool backward, int& left) {
    for (XmlNode* c = backward ? lastChild : firstChild; c; c = backward ? c->previous : c->next) {
        if (c->kind == kXmlRemoved || c->marked_) continue;
        if (!backward && c->matches(m) && --left == 0) return c;
        if (XmlNode* found = c->walkDescendants(m, backward, left)) return found;
        if (backward && c->matches(m) && --left == 0) return c;
    }
    return nullptr;
}

XmlNode* XmlNode::child(int n, const String& pattern, const String& attr, const String& value) {
    Match m{pattern, attr, value, document->namespaceFilter};
    int left = matchesWanted(n);
    return walkChildren(m, n < 0, left);
}

XmlNode* XmlNode::descendant(int n, const String& pattern, const String& attr, const String& value) {
    Match m{pattern, attr, value, document->namespaceFilter};
    int left = matchesWanted(n);
    return walkDescendants(m, n < 0, left);
}

XmlNode* XmlNode::followingInTree(int n, const String& pattern, const String& attr,
                                  const String& value) {
    marked_ = true;
    XmlNode* found = (parent ? parent : this)->descendant(n, pattern, attr, value);
    marked_ = false;
    return found;
}

XmlNode* XmlNode::siblingForward(int n, const String& pattern, const String& attr,
                                 const String& value) {
    return parent ? parent->child(n, pattern, attr, value) : nullptr;
}

XmlNode* XmlNode::siblingBackward(int n, const String& pattern, const String& attr,
                                  const String& value) {
    return parent ? parent->child(-n, pattern, attr, value) : nullptr;
}

XmlNode* XmlNode::ancestor(int n, const String& pattern, const String& attr, const String& value) {
    Match m{pattern, attr, value, document->namespaceFilter};
    int left = matchesWanted(n);
    if (n >= 0) {
        for (XmlNode* a = parent; a; a = a->parent)
            if (a->matches(m) && --left == 0) return a;
        return nullptr;
    }
    // From the document down: collect the chain first (its length is the nesting depth).
    std::vector<XmlNode*> chain;
    for (XmlNode* a = parent; a; a = a->parent) chain.push_back(a);
    for (auto it = chain.rbegin(); it != chain.rend(); ++it)
        if ((*it)->matches(m) && --left == 0) return *it;
    return nullptr;
}

XmlNode* XmlNode::findById(const String& value) {
    if (kind == kXmlRemoved) return nullptr;
    String found;
    if (gXmlQueryDebug)
        std::printf("test %s kind %d '%.64s'\n", id.c_str(), static_cast<int>(kind), name.c_str());
    if (attribute("id", &found) && found == value) return this;
    for (XmlNode* c = firstChild; c; c = c->next)
        if (XmlNode* hit = c->findById(value)) return hit;
    return nullptr;
}

// ---------------------------------------------------------------- escaping

void xmlEscapeTo(std::string& out, std::string_view text, bool inAttribute) {
    for (char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"':
            if (inAttribute) out += "&quot;"; else out += c;
            break;
        case '\'':
            if (inAttribute) out += "&apos;"; else out += c;
            break;
        default: out += c;
        }
    }
}

String xmlEscape(const String& text, bool inAttribute) {
    std::string out;
    xmlEscapeTo(out, text.view(), inAttribute);
    return String(out);
}

std::string xmlUnescape(std::string_view text) {
    static const struct {
        std::string_view reference;
        char character;
    } kNamed[] = {{"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&apos;", '\''}};
    std::string out;
    out.reserve(text.size());
    size_t i = 0;
    while (i < text.size()) {
        if (text[i] != '&') {
            out += text[i++];
            continue;
        }
        std::string_view rest = text.substr(i);
        bool done = false;
        for (const auto& named : kNamed) {
            if (rest.substr(0, named.reference.size()) == named.reference) {
                out += named.character;
                i += named.reference.size();
                done = true;
                break;
            }
        }
        if (done) continue;
        if (rest.size() > 3 && rest[1] == '#') {
            bool hex = rest[2] == 'x';
            size_t j = hex ? 3 : 2;
            unsigned long code = 0;
            size_t digits = 0;
            while (j < rest.size() && digits < 8 &&
                   (hex ? std::isxdigit(static_cast<unsigned char>(rest[j]))
                        : std::isdigit(static_cast<unsigned char>(rest[j])))) {
                char d = rest[j];
                code = code * (hex ? 16 : 10) +
                       static_cast<unsigned long>(std::isdigit(static_cast<unsigned char>(d))
                                                      ? d - '0'
                                                      : (std::tolower(d) - 'a' + 10));
                ++j;
                ++digits;
            }
            if (digits > 0 && j < rest.size() && rest[j] == ';') {
                out += static_cast<char>(code & 0xFF);
                i += j + 1;
                continue;
            }
        }
        out += '&';
        ++i;
    }
    return out;
}

String xmlUnescape(const String& text) { return String(xmlUnescape(text.view())); }

}  // namespace qarvel
