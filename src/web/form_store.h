// The form store: the fields of a posted form, each kept as "name=value", newest first.
#pragma once

#include <deque>

#include "base/string.h"

namespace qarvel {

class FormStore {
public:
    void add(const String& name, const String& value);
    // The value of the newest field of that name (case ignored), or null when there is none.
    const String* value(const char* name) const;
    bool has(const char* name) const { return value(name) != nullptr; }
    void clear() { entries_.clear(); }
    size_t size() const { return entries_.size(); }

private:
    struct Entry {
        String name, value;
    };
    std::deque<Entry> entries_;
};

} // namespace qarvel
