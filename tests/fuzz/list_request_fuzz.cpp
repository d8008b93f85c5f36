// Feeds arbitrary bytes to the list server's readers of strangers' text: the first line as a
// subject (and a report's Content-Type) and sender for the judging and the fetch name, the
// whole input as a delivery report.
// The fetch name stays within its bound and holds no blank or line end; a failed recipient
// holds no line end; a name judged safe holds no "..", backslash or leading "/"; the address a
// request comes from is one clean address (one "@", no blank, comma or control byte).
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "receive/list_request.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view input(reinterpret_cast<const char*>(data), size);
    size_t cut = input.find('\n');
    std::string_view subject = input.substr(0, cut);
    std::string_view sender = cut == std::string_view::npos ? std::string_view() : input.substr(cut + 1, 300);
    for (bool manual : {false, true})
        qarvel::judgeListRequest(qarvel::String(subject), qarvel::String(sender), manual, "files");
    qarvel::isDeliveryReport(qarvel::String(subject), qarvel::String(sender));

    qarvel::String name = qarvel::fetchedName(qarvel::String(subject));
    if (name.length() > 1023) std::abort();
    for (char c : name.view())
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n') std::abort();
    if (!qarvel::leavesFolder(name)) {
        std::string_view n = name.view();
        if (n.find("..") != std::string_view::npos || n.find('\\') != std::string_view::npos ||
            (!n.empty() && n.front() == '/'))
            std::abort();
    }

    qarvel::String address;
    if (qarvel::requestAddress(qarvel::String(sender), address)) {
        std::string_view a = address.view();
        if (!qarvel::cleanAddress(a) || a.find('@') != a.rfind('@')) std::abort();
        for (char c : a)
            if (static_cast<unsigned char>(c) <= ' ' || c == ',' || c == 0x7F) std::abort();
    }

    if (qarvel::failedRecipient(input, address)) {
        if (address.empty() || address.length() > 1023) std::abort();
        if (address.view().find('\n') != std::string_view::npos) std::abort();
    }
    return 0;
}
