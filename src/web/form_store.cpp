// The form store: the fields of a posted form, newest first.
#include "web/form_store.h"

namespace qarvel {

void FormStore::add(const String& name, const String& value) {
    // Field names are at most 1023 characters; a longer one is cut there.
    entries_.push_front({String(name, 0, 1023), value});
}

const String* FormStore::value(const char* name) const {
    for (const Entry& entry : entries_)
        if (entry.name.equalsIgnoreCase(name)) return &entry.value;
    return nullptr;
}

} // namespace qarvel
