// Feeds arbitrary bytes to what the system's sendmail reads from its caller: the message for
// the spool file (with and without -i) and an address header's value. The file never holds a
// line of a single "." (the ready-made path would end the message there), never grows beyond
// the input with its dots doubled, its line ends and the three lines added, and keeps no Bcc
// line among the fields it read; no address is empty or longer than the value it came from.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>

#include "base/temp_file.h"
#include "send/header_addresses.h"
#include "send/message_spool.h"

namespace {

void spoolChecked(std::string_view text, bool dotEnds, const qarvel::String& folder) {
    qarvel::SpoolRules rules;
    rules.dotEnds = dotEnds;
    rules.from = "Fuzz <fuzz@example.org>";
    rules.domain = "example.org";
    qarvel::MessageSpool spool;
    if (!spool.readText(text, rules, folder)) std::abort();
    std::ifstream in(spool.path(), std::ios::binary);
    const std::string written((std::istreambuf_iterator<char>(in)), {});
    if (written.size() > 2 * text.size() + 512) std::abort();
    const std::string header = written.substr(0, written.find("\n\n"));
    if (written.rfind(".\n", 0) == 0 || written.find("\n.\n") != std::string::npos) std::abort();
    if (header.size() < qarvel::MessageSpool::kHeaderLimit &&
        (header.rfind("Bcc:", 0) == 0 || header.find("\nBcc:") != std::string::npos))
        std::abort();
    if (spool.headerRecipients().size() > text.size()) std::abort();
}

// The folder of the spool files, removed when the fuzzer ends (each file goes with its spool).
struct SpoolFolder {
    std::string path = qarvel::makeTempFolder("", "sendmail-fuzz-");
    ~SpoolFolder() { ::rmdir(path.c_str()); }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const SpoolFolder folder;
    std::string_view text(reinterpret_cast<const char*>(data), size);
    for (const qarvel::String& a : qarvel::headerAddresses(text))
        if (a.empty() || a.length() > size) std::abort();
    spoolChecked(text, true, qarvel::String(folder.path));
    spoolChecked(text, false, qarvel::String(folder.path));
    return 0;
}
