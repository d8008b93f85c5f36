// Arbitrary text as a host entry (-host:, host lists, URLs, configuration keys): no crash, and
// the split gives back only bytes of the entry: the host and the port are pieces of it.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "net/host_address.h"

using namespace qarvel;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 4096) return 0;
    std::string_view entry(reinterpret_cast<const char*>(data), size);
    HostPort split = splitHostPort(entry);
    if (split.host.length() + split.port.length() > entry.size()) __builtin_trap();
    if (!split.host.empty() && entry.find(split.host.view()) == std::string_view::npos) __builtin_trap();
    if (!split.port.empty() && entry.substr(entry.size() - split.port.length()) != split.port.view())
        __builtin_trap();
    isAddressLiteral(entry);
    unbracketed(entry);
    return 0;
}
