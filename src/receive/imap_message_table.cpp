// The per-message sizes and UIDs of an IMAP folder, kept as they arrive.
#include "receive/imap_message_table.h"

#include <algorithm>

namespace qarvel {

namespace {
bool before(const auto& entry, uint32_t n) { return entry.number < n; }
} // namespace

ImapMessageTable::Entry& ImapMessageTable::at(uint32_t n) {
    // Answers come in ascending order, so the usual case is an append.
    if (entries_.empty() || entries_.back().number < n) {
        entries_.push_back(Entry{n, 0, 0});
        return entries_.back();
    }
    auto it = std::lower_bound(entries_.begin(), entries_.end(), n, before<Entry>);
    if (it == entries_.end() || it->number != n) it = entries_.insert(it, Entry{n, 0, 0});
    return *it;
}

const ImapMessageTable::Entry* ImapMessageTable::find(uint32_t n) const {
    auto it = std::lower_bound(entries_.begin(), entries_.end(), n, before<Entry>);
    return it != entries_.end() && it->number == n ? &*it : nullptr;
}

uint32_t ImapMessageTable::uid(uint32_t n) const {
    const Entry* e = find(n);
    return e ? e->uid : 0;
}

uint32_t ImapMessageTable::size(uint32_t n) const {
    const Entry* e = find(n);
    return e ? e->size : 0;
}

void ImapMessageTable::expunge(uint32_t n) {
    auto it = std::lower_bound(entries_.begin(), entries_.end(), n, before<Entry>);
    if (it != entries_.end() && it->number == n) it = entries_.erase(it);
    for (; it != entries_.end(); ++it) --it->number;
}

} // namespace qarvel
