// StringList: a doubly-linked list of String items in insertion order, and a cursor that walks
// one. The configuration reader, the attachment and recipient lists and the header lines use it.
#pragma once

#include <cstddef>
#include <list>

#include "base/string.h"

namespace qarvel {

class StringList {
public:
    virtual ~StringList() = default;

    void add(const String& item) { items.push_back(item); }
    // Takes the head item: false when the list is empty.
    bool takeHead(String& out);
    void clear() { items.clear(); }
    size_t count() const { return items.size(); }
    bool empty() const { return items.empty(); }
    // The items joined with a separator (recipient lists travel as text joined with ",").
    String joined(const char* separator) const;

    std::list<String>::const_iterator begin() const { return items.begin(); }
    std::list<String>::const_iterator end() const { return items.end(); }

    std::list<String> items;
};

// Walks a StringList: first moves to the head, next moves on (from the start state it acts as
// first); both return false at the end, where the cursor is back in its start state.
class StringListCursor {
public:
    StringListCursor() = default;
    explicit StringListCursor(const StringList& list) : list_(&list) {}
    void attach(const StringList& list) {
        list_ = &list;
        started_ = false;
    }
    bool first(String& out);
    bool next(String& out);

private:
    const StringList* list_ = nullptr;
    std::list<String>::const_iterator current_;
    bool started_ = false;
};

}  // namespace qarvel
