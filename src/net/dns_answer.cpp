#include "net/dns_answer.h"

#include <cstdio>

namespace qarvel {

String dnsAnswerKey(unsigned value) {
    char key[16];
    std::snprintf(key, sizeof key, "%010u", value);
    return String(key);
}

void DnsAnswer::add(const DnsRecord& record) {
    bool keyed = record.type == kDnsTypeMx || record.type == kDnsTypeSrv;
    String key = dnsAnswerKey(keyed ? record.preference : 0);
    // In front of the first entry whose key is not smaller: newest first among equals.
    size_t at = 0;
    while (at < entries_.size() && entries_[at].key < key) ++at;
    entries_.insert(entries_.begin() + static_cast<std::ptrdiff_t>(at), Entry{key, record});
}

void DnsAnswer::appendTo(DnsRecordList& list) const {
    for (const Entry& entry : entries_) list.push_back(entry.record);
}

} // namespace qarvel
