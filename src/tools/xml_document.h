// XmlDocument: an XML document held in memory in a compact layout. The nodes live in one
// array and refer to each other by their numbers; names and texts are slices of the input the
// document keeps, or of its own text store where the parser had to decode something; the
// attributes of all elements are one array in which each element holds a run. XmlNode
// (tools/xml_node.h) is the handle through which the tree is read, searched and changed.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/ordered_map.h"
#include "base/string.h"
#include "tools/xml_node.h"

namespace qarvel {

// A growing array of plain records kept with realloc, so that a large array grows in place
// (the system moves its pages instead of copying them) and holds no unused slack in memory.
template <typename T>
class RecordArray {
public:
    RecordArray() = default;
    ~RecordArray() { std::free(data_); }
    RecordArray(const RecordArray&) = delete;
    RecordArray& operator=(const RecordArray&) = delete;

    size_t size() const { return size_; }
    T& operator[](size_t i) { return data_[i]; }
    const T& operator[](size_t i) const { return data_[i]; }
    T* data() { return data_; }
    const T* data() const { return data_; }
    // Room for count more records at the end (uninitialised); their first index.
    size_t grow(size_t count);
    void clear() {
        std::free(data_);
        data_ = nullptr;
        size_ = capacity_ = 0;
    }

private:
    T* data_ = nullptr;
    size_t size_ = 0, capacity_ = 0;
};

class XmlDocument {
public:
    static constexpr size_t kMaxInput = 0x7fffffffu;

    XmlDocument() = default;
    XmlDocument(const XmlDocument&) = delete;
    XmlDocument& operator=(const XmlDocument&) = delete;

    // Builds the tree under the document node from text, which the document keeps. 1 on
    // success; -1 after a message on standard error when a limit of the parser stopped it
    // (the tree holds what was read). folder is where external entities are looked for; http
    // ones are fetched only when allowHttp is set.
    int parse(std::string text, const String& folder = String(), bool allowHttp = false);
    // Drops every node, text and map and resets version, encoding and names to their defaults.
    void clear();

    // The document node: the parent of the top-level nodes.
    XmlNode node() { return XmlNode(this, 0); }

    String version = "1.0";
    String encoding = "utf-8";
    bool utf8 = true;
    // When not empty, queries only match nodes of this namespace.
    String namespaceFilter;

    // Internal entities (name -> replacement) and external ones (name -> system identifier).
    OrderedMap& internalEntities() { return internalEntities_; }
    OrderedMap& externalEntities() { return externalEntities_; }

private:
    friend class XmlNode;
    friend class XmlParser;

    // A slice of the kept input, or (kStored set in length) of the text store.
    struct Text {
        uint32_t offset = 0;
        uint32_t length = 0;
    };
    static constexpr uint32_t kStored = 0x80000000u;

    // Links are node numbers, 0 meaning none (node 0 is the document, never a child). The
    // first child's previous is the last child, so appending needs no field of its own.
    struct Node {
        uint32_t parent, firstChild, next, previous;
        uint32_t ordinal;  // one-based place among the parent's children
        Text name;
        uint32_t firstAttribute, attributeCount;
        uint32_t nameSpace : 24;  // index into namespaces_
        uint32_t kind : 4;
        uint32_t marked : 1;      // followingInTree: this subtree is not searched
    };
    struct Attribute {
        Text name, value;
    };

    void ensureDocumentNode();
    std::string_view view(Text t) const;
    // The text as a slice when it lies in the kept input, else copied into the store.
    Text keep(std::string_view text);
    uint32_t newChild(uint32_t parent, int32_t kind);
    // The namespace URI's index (0 for none); kNamespaceLimit when the table is full.
    uint32_t namespaceIndex(std::string_view uri);
    static constexpr uint32_t kNamespaceLimit = (1u << 24) - 1;
    // Sorts the element's attributes into the order they are written and looked up in:
    // byte order of the names, of equal names the last one in the source first.
    void sortAttributes(uint32_t element);

    RecordArray<Node> nodes_;
    RecordArray<Attribute> attributes_;
    RecordArray<char> store_;
    // The first text parsed, which slices point into; texts of later parses are stored.
    std::unique_ptr<std::string> input_;
    std::vector<std::unique_ptr<std::string>> laterInputs_;
    std::vector<std::string> namespaces_;
    std::map<std::string, uint32_t, std::less<>> namespaceIndex_;
    OrderedMap internalEntities_, externalEntities_;
};

template <typename T>
size_t RecordArray<T>::grow(size_t count) {
    if (size_ + count > capacity_) {
        size_t wanted = capacity_ < 64 ? 64 : capacity_ * 2;
        while (wanted < size_ + count) wanted *= 2;
        void* moved = std::realloc(data_, wanted * sizeof(T));
        if (!moved) std::abort();  // out of memory: as operator new would end the run
        data_ = static_cast<T*>(moved);
        capacity_ = wanted;
    }
    size_t first = size_;
    size_ += count;
    return first;
}

template <typename Visit>
void XmlNode::forEachAttribute(Visit visit) const {
    const XmlDocument::Node& n = document_->nodes_[index_];
    for (uint32_t i = 0; i < n.attributeCount; ++i) {
        const XmlDocument::Attribute& a = document_->attributes_[n.firstAttribute + i];
        if (!visit(document_->view(a.name), document_->view(a.value))) break;
    }
}

}  // namespace qarvel
