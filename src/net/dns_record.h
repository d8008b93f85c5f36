// The records a DNS answer is decoded into, and the answer map that keeps them in key order.
#pragma once

#include <cstdint>
#include <vector>

#include "base/string.h"

namespace qarvel {

// Record types the resolver asks for (numeric values of the wire format).
enum DnsRecordType : int {
    kDnsTypeA = 1,
    kDnsTypeNs = 2,
    kDnsTypeMx = 15,
    kDnsTypeTxt = 16,
    kDnsTypeAaaa = 28,
    kDnsTypeSrv = 33,
};

// One decoded answer record.
struct DnsRecord {
    String name;             // MX exchanger, SRV target; trailing '.' removed
    String text;             // A: dotted address; TXT: the text; NS: the name server
    uint32_t ttl = 0;        // the record's time to live
    uint16_t preference = 0; // MX preference or SRV priority
    uint16_t port = 0;       // SRV
    uint16_t weight = 0;     // SRV
    uint16_t type = 0;       // the record type

    // The host a connection should go to: the exchanger or target name, else the address.
    const String& host() const { return name.empty() ? text : name; }
};

using DnsRecordList = std::vector<DnsRecord>;

// The ten-digit zero-padded key of a record ("%010u"), so that text order is numeric order.
String dnsAnswerKey(unsigned value);

} // namespace qarvel
