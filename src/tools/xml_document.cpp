// The document's storage: nodes, attributes, texts and namespaces, and the parse that fills them.
#include "tools/xml_document.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "tools/xml_parser.h"

namespace qarvel {

int XmlDocument::parse(std::string text, const String& folder, bool allowHttp) {
    // Slices hold 31-bit lengths and 32-bit offsets.
    if (text.size() > kMaxInput) {
        std::fprintf(stderr, "XML document larger than %zu bytes not read\n", kMaxInput);
        return -1;
    }
    ensureDocumentNode();
    std::string* kept;
    if (!input_) {
        input_ = std::make_unique<std::string>(std::move(text));
        kept = input_.get();
    } else {
        laterInputs_.push_back(std::make_unique<std::string>(std::move(text)));
        kept = laterInputs_.back().get();
    }
    XmlParser parser(*this, folder, allowHttp);
    return parser.run(*kept);
}

void XmlDocument::clear() {
    nodes_.clear();
    attributes_.clear();
    store_.clear();
    input_.reset();
    laterInputs_.clear();
    namespaces_.clear();
    namespaceIndex_.clear();
    internalEntities_.clear();
    externalEntities_.clear();
    version = "1.0";
    encoding = "utf-8";
    utf8 = true;
}

void XmlDocument::ensureDocumentNode() {
    if (nodes_.size() > 0) return;
    // The document node counts as an element, so that it is written and searched.
    nodes_[nodes_.grow(1)] = Node{0, 0, 0, 0, 0, {}, 0, 0, 0, kXmlElement, 0};
    namespaces_.emplace_back();  // index 0: no namespace
}

std::string_view XmlDocument::view(Text t) const {
    if (t.length & kStored) return {store_.data() + t.offset, t.length & ~kStored};
    return {input_->data() + t.offset, t.length};
}

XmlDocument::Text XmlDocument::keep(std::string_view text) {
    if (input_ && !text.empty() && text.data() >= input_->data() &&
        text.data() + text.size() <= input_->data() + input_->size())
        return {static_cast<uint32_t>(text.data() - input_->data()), static_cast<uint32_t>(text.size())};
    if (text.empty()) return {};
    // The store may move as it grows: a text taken from it is copied out first.
    const char* base = store_.data();
    if (base && text.data() >= base && text.data() < base + store_.size()) {
        std::string copy(text);
        return keep(copy);
    }
    size_t at = store_.grow(text.size());
    std::memcpy(store_.data() + at, text.data(), text.size());
    return {static_cast<uint32_t>(at), static_cast<uint32_t>(text.size()) | kStored};
}

uint32_t XmlDocument::newChild(uint32_t parent, int32_t kind) {
    ensureDocumentNode();
    uint32_t index = static_cast<uint32_t>(nodes_.grow(1));
    Node& p = nodes_[parent];
    Node& n = nodes_[index];
    n = Node{parent, 0, 0, 0, 1, {}, 0, 0, p.nameSpace, static_cast<uint32_t>(kind), 0};
    if (p.firstChild == 0) {
        p.firstChild = index;
        n.previous = index;
    } else {
        Node& first = nodes_[p.firstChild];
        Node& last = nodes_[first.previous];
        n.ordinal = last.ordinal + 1;
        n.previous = first.previous;
        last.next = index;
        first.previous = index;
    }
    return index;
}

uint32_t XmlDocument::namespaceIndex(std::string_view uri) {
    if (uri.empty()) return 0;
    auto found = namespaceIndex_.find(uri);
    if (found != namespaceIndex_.end()) return found->second;
    if (namespaces_.size() >= kNamespaceLimit) return kNamespaceLimit;
    uint32_t index = static_cast<uint32_t>(namespaces_.size());
    namespaces_.emplace_back(uri);
    namespaceIndex_.emplace(std::string(uri), index);
    return index;
}

namespace {

// strcmp's order on the texts up to their first NUL, as names are compared everywhere.
bool cLess(std::string_view a, std::string_view b) {
    a = a.substr(0, a.find('\0'));
    b = b.substr(0, b.find('\0'));
    return a < b;
}

}  // namespace

void XmlDocument::sortAttributes(uint32_t element) {
    Node& n = nodes_[element];
    Attribute* first = attributes_.data() + n.firstAttribute;
    Attribute* last = first + n.attributeCount;
    if (n.attributeCount < 2) return;
    std::reverse(first, last);
    std::stable_sort(first, last, [this](const Attribute& a, const Attribute& b) {
        return cLess(view(a.name), view(b.name));
    });
}

}  // namespace qarvel
