// Feeds arbitrary bytes to the DNS response decoder, in both of its name modes.
#include <cstddef>
#include <cstdint>

#include "net/dns_message.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace qarvel;
    if (size > 65535) return 0; // a TCP response cannot be longer
    for (int mode = 0; mode < 2; ++mode) {
        DnsAnswer answer;
        DnsDecodeOptions options;
        options.nameServerNames = mode == 1;
        decodeDnsResponse(data, size, options, answer);
        DnsRecordList list;
        answer.appendTo(list);
        for (const DnsRecord& r : list)
            if (r.name.length() >= kDnsNameBufferSize) __builtin_trap();
    }
    return 0;
}
