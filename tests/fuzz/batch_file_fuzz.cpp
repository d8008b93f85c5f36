// Feeds arbitrary bytes to the batch file reader in both layouts, with aliases and a list-file
// reader that answers without touching the disk, from memory and from two streams read in
// blocks. Every message ends on a later line than the one before; in the header layout the
// pieces of a message never add up to more than the input; attachment names keep their bound.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "send/batch_file.h"

namespace {

void readAll(qarvel::BatchText& text, qarvel::BatchLayout layout, bool relay,
             const qarvel::AddressBook& book, size_t size) {
    qarvel::BatchFileReader reader(text, layout, relay, book);
    qarvel::BatchMessage m;
    long last = 0;
    size_t messages = 0, bytes = 0;
    while (reader.next(m)) {
        if (m.lastLine <= last && messages > 0) std::abort();
        if (++messages > size + 1) std::abort();
        bytes += m.body.size();
        std::string_view piece;
        bool lineEnds;
        while (reader.bodyPiece(piece, lineEnds)) bytes += piece.size() + (lineEnds ? 2 : 0);
        last = reader.lineNumber();
        // Every line end may have become CR LF, nothing more.
        if (layout == qarvel::BatchLayout::kHeaders && bytes > 2 * size + 2) std::abort();
        for (const qarvel::BatchAttachment& a : m.attachments)
            if (a.file.length() > 255 || a.name.length() > 255) std::abort();
    }
}

} // namespace

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
            qarvel::BatchText memory(text);
            readAll(memory, layout, relay, book, size);
        }
        // The same bytes as two files, cut in the middle.
        size_t half = size / 2;
        std::FILE* one = half ? fmemopen(const_cast<uint8_t*>(data), half, "rb") : nullptr;
        std::FILE* two = size > half ? fmemopen(const_cast<uint8_t*>(data + half), size - half, "rb") : nullptr;
        std::vector<std::FILE*> streams;
        for (std::FILE* f : {one, two})
            if (f) streams.push_back(f);
        qarvel::BatchText files(streams);
        readAll(files, layout, false, book, size);
        for (std::FILE* f : streams) std::fclose(f);
    }
    return 0;
}
