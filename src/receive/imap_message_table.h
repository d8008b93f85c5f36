// ImapMessageTable: the size and the UID of each message of the selected folder that the server
// has told about, by message number. It holds only what arrived: a count announced by the server
// ("* 4294967295 EXISTS") sizes nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace qarvel {

class ImapMessageTable {
public:
    void clear() { std::vector<Entry>().swap(entries_); }
    // Records what a FETCH told of message n; a value the FETCH did not carry stays as it was.
    void setUid(uint32_t n, uint32_t uid) { at(n).uid = uid; }
    void setSize(uint32_t n, uint32_t size) { at(n).size = size; }
    // 0 when nothing is known of message n.
    uint32_t uid(uint32_t n) const;
    uint32_t size(uint32_t n) const;
    // Message n is gone: every later message moves down by one.
    void expunge(uint32_t n);
    size_t known() const { return entries_.size(); }

private:
    struct Entry {
        uint32_t number = 0, uid = 0, size = 0;
    };
    Entry& at(uint32_t n);
    const Entry* find(uint32_t n) const;

    std::vector<Entry> entries_;  // by number, ascending
};

} // namespace qarvel
