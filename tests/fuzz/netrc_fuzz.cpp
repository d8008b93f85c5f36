// Arbitrary text as a ~/.netrc file: no crash, and what an entry gives back are words of the
// text (a quoted word without its quotes and escapes is at most as long as the text).
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "config/secret_sources.h"

using namespace qarvel;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 16384) return 0;
    std::string_view text(reinterpret_cast<const char*>(data), size);
    for (const char* user : {"", "alice"}) {
        NetrcLogin login = netrcLookup(text, "mail.example", user);
        if (login.login.length() + login.password.length() > text.size()) __builtin_trap();
        if (!login.found && !(login.login.empty() && login.password.empty())) __builtin_trap();
    }
    return 0;
}
