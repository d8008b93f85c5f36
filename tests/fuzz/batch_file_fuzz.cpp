// Feeds arbitrary bytes to the batch file reader in both layouts, with aliases and a list-file
// reader that answers without touching the disk. Every message ends on a later line than the
// one before; in the header layout every message text is a piece of the input; attachment
// names keep their bound.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "send/batch_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    static qarvel::StringList names, values;
    if (names.empty()) {
        names.add("team");
        values.add("a@x.org,b@x.org");
        names.add("boss@y.org");
        values.add("chief@y.org");
    }
    qarvel::AddressBook book{&names, &values, [](const qarvel::String& path) { return path; }};
    for (auto layout : {qarvel::BatchLayout::kKeywords, qarvel::BatchLayout::kHeaders}) {
        for (bool relay : {false, true}) {
            qarvel::BatchFileReader reader(text, layout, relay, book);
            qarvel::BatchMessage m;
            long last = 0;
            int messages = 0;
            while (reader.next(m)) {
                if (m.lastLine <= last && messages > 0) std::abort();
                last = m.lastLine;
                if (++messages > static_cast<int>(size) + 1) std::abort();
                if (layout == qarvel::BatchLayout::kHeaders && text.find(m.body) == std::string_view::npos)
                    std::abort();
                for (const qarvel::BatchAttachment& a : m.attachments)
                    if (a.file.length() > 255 || a.name.length() > 255) std::abort();
            }
        }
    }
    return 0;
}
