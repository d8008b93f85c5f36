// XmlNode: reading, changing and writing the nodes of a document, and the axis queries.
#include "tools/xml_node.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <vector>

namespace qarvel {

bool gXmlQueryDebug = false;

namespace {

class StringSink : public XmlSink {
public:
    explicit StringSink(std::string& out) : out_(out) {}
    ~StringSink() override { flush(); }

protected:
    void deliver(const char* data, size_t length) override { out_.append(data, length); }

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

// The text escaped as it goes out, in runs between the bytes that need a reference.
void putEscaped(XmlSink& out, std::string_view text, bool inAttribute) {
    const char* special = inAttribute ? "&<>\"'" : "&<>";
    size_t start = 0;
    for (;;) {
        size_t at = text.find_first_of(special, start);
        if (at == std::string_view::npos) {
            out.put(text.substr(start));
            return;
        }
        out.put(text.substr(start, at - start));
        switch (text[at]) {
        case '&': out.put("&amp;"); break;
        case '<': out.put("&lt;"); break;
        case '>': out.put("&gt;"); break;
        case '"': out.put("&quot;"); break;
        default: out.put("&apos;");
        }
        start = at + 1;
    }
}

// Names and values compare as C strings: up to their first NUL.
std::string_view cText(std::string_view text) { return text.substr(0, text.find('\0')); }
bool cEqual(std::string_view a, const String& b) { return cText(a) == cText(b.view()); }

bool isTextKind(int32_t kind) { return kind == kXmlText || kind == kXmlVerbatim; }

}  // namespace

// ---------------------------------------------------------------- reading and changing

int32_t XmlNode::kind() const { return static_cast<int32_t>(document_->nodes_[index_].kind); }

std::string_view XmlNode::name() const { return document_->view(document_->nodes_[index_].name); }

void XmlNode::setName(std::string_view name) {
    XmlDocument::Text kept = document_->keep(name);
    document_->nodes_[index_].name = kept;
}

std::string_view XmlNode::nameSpace() const {
    return document_->namespaces_[document_->nodes_[index_].nameSpace];
}

String XmlNode::id() const {
    std::vector<uint32_t> ordinals;
    for (uint32_t i = index_; i != 0; i = document_->nodes_[i].parent)
        ordinals.push_back(document_->nodes_[i].ordinal);
    std::string text;
    char digits[16];
    for (auto it = ordinals.rbegin(); it != ordinals.rend(); ++it) {
        std::snprintf(digits, sizeof digits, "/%04X", *it);
        text += digits;
    }
    return String(text);
}

XmlNode XmlNode::parent() const { return index_ ? XmlNode(document_, document_->nodes_[index_].parent) : XmlNode(); }
XmlNode XmlNode::firstChild() const { return at(document_->nodes_[index_].firstChild); }
XmlNode XmlNode::next() const { return at(document_->nodes_[index_].next); }

XmlNode XmlNode::lastChild() const {
    uint32_t first = document_->nodes_[index_].firstChild;
    return first ? at(document_->nodes_[first].previous) : XmlNode();
}

XmlNode XmlNode::previous() const {
    if (!index_) return {};
    const XmlDocument::Node& n = document_->nodes_[index_];
    if (document_->nodes_[n.parent].firstChild == index_) return {};
    return at(n.previous);
}

bool XmlNode::attribute(std::string_view wanted, String* value) const {
    bool found = false;
    forEachAttribute([&](std::string_view key, std::string_view v) {
        if (cText(key) != cText(wanted)) return true;
        if (value) *value = String(v);
        found = true;
        return false;
    });
    return found;
}

// The element's attributes move to the end of the array with the new one added.
void XmlNode::setAttribute(std::string_view attrName, std::string_view value) {
    XmlDocument& d = *document_;
    XmlDocument::Text name = d.keep(attrName), kept = d.keep(value);
    uint32_t count = d.nodes_[index_].attributeCount;
    uint32_t from = d.nodes_[index_].firstAttribute;
    size_t at = d.attributes_.grow(count + 1);
    for (uint32_t i = 0; i < count; ++i) d.attributes_[at + i] = d.attributes_[from + i];
    // Sorting reverses first, so the newest goes in as if it came last in the source.
    d.attributes_[at + count] = {name, kept};
    std::reverse(d.attributes_.data() + at, d.attributes_.data() + at + count);
    d.nodes_[index_].firstAttribute = static_cast<uint32_t>(at);
    d.nodes_[index_].attributeCount = count + 1;
    d.sortAttributes(index_);
}

XmlNode XmlNode::newChild(int32_t kind) { return XmlNode(document_, document_->newChild(index_, kind)); }

XmlNode XmlNode::addCopy(XmlNode from) {
    XmlNode copy = newChild(from.kind());
    copy.setName(from.name());
    from.forEachAttribute([&copy](std::string_view key, std::string_view value) {
        copy.setAttribute(key, value);
        return true;
    });
    // The copy takes its new parent's namespace; the nodes under it keep their own.
    for (XmlNode c = from.firstChild(); c; c = c.next()) {
        XmlNode inner = copy.addCopy(c);
        uint32_t uri = document_->namespaceIndex(c.nameSpace());
        if (uri != XmlDocument::kNamespaceLimit) document_->nodes_[inner.index_].nameSpace = uri;
    }
    return copy;
}

void XmlNode::remove() { document_->nodes_[index_].kind = kXmlRemoved; }

// ---------------------------------------------------------------- writing

void XmlNode::write(std::string& out, int level, int flags) const {
    StringSink sink(out);
    write(sink, level, flags);
}

void XmlNode::write(XmlSink& out, int level, int flags) const {
    int32_t k = kind();
    if (k == kXmlRemoved) return;
    if (!index_) {
        // The document node has no markup of its own: its children are the file.
        for (XmlNode c = firstChild(); c; c = c.next()) c.write(out, level, flags);
        return;
    }
    if (isTextKind(k)) {
        if (k == kXmlText && (flags & kXmlWriteEscaped))
            putEscaped(out, name(), false);
        else
            out.put(name());
        return;
    }
    indent(out, level);
    if (k == kXmlCdata) {
        out.put("<![CDATA[");
        out.put(name());
        out.put("]]>\n");
        return;
    }
    out.put("<");
    out.put(name());
    if (k != kXmlElement) {
        out.put(">\n");
        return;
    }
    forEachAttribute([&out](std::string_view key, std::string_view value) {
        out.put(" ");
        out.put(key);
        out.put("=\"");
        putEscaped(out, value, true);
        out.put("\"");
        return true;
    });
    XmlNode first = firstChild();
    while (first && first.kind() == kXmlRemoved) first = first.next();
    if (!first) {
        // No content left: the empty-element form.
        out.put("/>\n");
        return;
    }
    out.put(">");
    bool textContent = isTextKind(first.kind());
    if (!textContent) out.put("\n");
    for (XmlNode c = firstChild(); c; c = c.next()) c.write(out, level + 1, flags);
    if (!textContent) indent(out, level);
    out.put("</");
    out.put(name());
    out.put(">\n");
}

// ---------------------------------------------------------------- queries

struct XmlNode::Match {
    const String& name;
    const String& attr;
    const String& value;
    const String& nameSpace;
};

void XmlNode::debugLine() const {
    std::string_view shown = cText(name()).substr(0, 64);
    std::printf("test %s kind %d '%.*s'\n", id().c_str(), static_cast<int>(kind()),
                static_cast<int>(shown.size()), shown.data());
}

bool XmlNode::matches(const Match& m) const {
    int32_t k = kind();
    if (k == kXmlRemoved || !index_) return false;
    if (gXmlQueryDebug) debugLine();
    const String& pattern = m.name;
    if (pattern == "#text") {
        if (k != kXmlText && k != kXmlCdata) return false;
    } else if (pattern == "#pi") {
        if (k != kXmlInstruction) return false;
    } else if (pattern == "#element" || pattern == "*") {
        if (k != kXmlElement) return false;
    } else if (!pattern.empty()) {
        if (!std::isalpha(static_cast<unsigned char>(pattern[0]))) return false;
        if (k != kXmlElement || !cEqual(name(), pattern)) return false;
    }
    if (!m.nameSpace.empty() && !cEqual(nameSpace(), m.nameSpace)) return false;
    if (!m.attr.empty()) {
        String found;
        if (!attribute(m.attr.view(), &found)) return false;
        if (!m.value.empty() && !(found == m.value)) return false;
    }
    return true;
}

namespace {

int matchesWanted(int n) { return n == 0 ? 1 : (n < 0 ? -n : n); }

}  // namespace

XmlNode XmlNode::walkChildren(const Match& m, bool backward, int& left) const {
    for (XmlNode c = backward ? lastChild() : firstChild(); c; c = backward ? c.previous() : c.next())
        if (c.matches(m) && --left == 0) return c;
    return {};
}

// Forward: pre-order. Backward: the exact reverse of pre-order (children last to first,
// each subtree before the node that holds it).
XmlNode XmlNode::walkDescendants(const Match& m, bool backward, int& left) const {
    for (XmlNode c = backward ? lastChild() : firstChild(); c; c = backward ? c.previous() : c.next()) {
        if (c.kind() == kXmlRemoved || document_->nodes_[c.index_].marked) continue;
        if (!backward && c.matches(m) && --left == 0) return c;
        if (XmlNode found = c.walkDescendants(m, backward, left)) return found;
        if (backward && c.matches(m) && --left == 0) return c;
    }
    return {};
}

XmlNode XmlNode::child(int n, const String& pattern, const String& attr, const String& value) const {
    Match m{pattern, attr, value, document_->namespaceFilter};
    int left = matchesWanted(n);
    return walkChildren(m, n < 0, left);
}

XmlNode XmlNode::descendant(int n, const String& pattern, const String& attr, const String& value) const {
    Match m{pattern, attr, value, document_->namespaceFilter};
    int left = matchesWanted(n);
    return walkDescendants(m, n < 0, left);
}

XmlNode XmlNode::followingInTree(int n, const String& pattern, const String& attr,
                                 const String& value) const {
    document_->nodes_[index_].marked = 1;
    XmlNode found = (index_ ? parent() : *this).descendant(n, pattern, attr, value);
    document_->nodes_[index_].marked = 0;
    return found;
}

XmlNode XmlNode::siblingForward(int n, const String& pattern, const String& attr,
                                const String& value) const {
    return index_ ? parent().child(n, pattern, attr, value) : XmlNode();
}

XmlNode XmlNode::siblingBackward(int n, const String& pattern, const String& attr,
                                 const String& value) const {
    return index_ ? parent().child(-n, pattern, attr, value) : XmlNode();
}

XmlNode XmlNode::ancestor(int n, const String& pattern, const String& attr, const String& value) const {
    Match m{pattern, attr, value, document_->namespaceFilter};
    int left = matchesWanted(n);
    if (n >= 0) {
        for (XmlNode a = parent(); a; a = a.parent())
            if (a.matches(m) && --left == 0) return a;
        return {};
    }
    // From the document down: collect the chain first (its length is the nesting depth).
    std::vector<XmlNode> chain;
    for (XmlNode a = parent(); a; a = a.parent()) chain.push_back(a);
    for (auto it = chain.rbegin(); it != chain.rend(); ++it)
        if (it->matches(m) && --left == 0) return *it;
    return {};
}

XmlNode XmlNode::findById(const String& value) const {
    if (kind() == kXmlRemoved) return {};
    if (gXmlQueryDebug) debugLine();
    String found;
    if (attribute("id", &found) && found == value) return *this;
    for (XmlNode c = firstChild(); c; c = c.next())
        if (XmlNode hit = c.findById(value)) return hit;
    return {};
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

void xmlUnescapeTo(std::string& out, std::string_view text) {
    static const struct {
        std::string_view reference;
        char character;
    } kNamed[] = {{"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&apos;", '\''}};
    size_t i = 0;
    while (i < text.size()) {
        if (text[i] != '&') {
            size_t amp = text.find('&', i);
            if (amp == std::string_view::npos) amp = text.size();
            out.append(text.data() + i, amp - i);
            i = amp;
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
}

std::string xmlUnescape(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    xmlUnescapeTo(out, text);
    return out;
}

String xmlUnescape(const String& text) { return String(xmlUnescape(text.view())); }

}  // namespace qarvel
