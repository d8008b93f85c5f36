// DnsAnswer: the records of one response, in key order.
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
    map_.insert(dnsAnswerKey(keyed ? record.preference : 0), record);
}

void DnsAnswer::appendTo(DnsRecordList& list) const {
    map_.forEach([&list](const String&, const DnsRecord& record) {
        list.push_back(record);
        return true;
    });
}

} // namespace qarvel
