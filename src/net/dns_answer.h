// DnsAnswer: the records of one response in key order (preference or priority, else 0).
// Records with equal keys keep the newest first, so of two exchangers with the same
// preference the one that came later in the response is tried first.
#pragma once

#include <cstddef>

#include "base/ordered_map.h"
#include "net/dns_record.h"

namespace qarvel {

class DnsAnswer {
public:
    // Files the record under its key: the preference for MX and SRV records, else 0.
    void add(const DnsRecord& record);
    size_t count() const { return map_.count(); }
    // Appends every record, in key order, to the end of the list.
    void appendTo(DnsRecordList& list) const;
    void clear() { map_.clear(); }

private:
    BasicOrderedMap<DnsRecord> map_;
};

} // namespace qarvel
