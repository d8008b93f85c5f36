// Feeds arbitrary bytes as a message file to the file mailbox reader, with extraction on.
// Properties: a retrieval that succeeds has read the file to its last byte (a message file
// is deleted on the strength of it), its copy as received (-maildir:) is the file with at most
// its stuffed dots and its last "." line taken out, and the names the parser made up for unnamed parts are
// all different and stay inside the folder.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>

#include "receive/file_mailbox_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string path = "/tmp/qarvel-message-file-fuzz-" + std::to_string(getpid()) + ".eml";
    FILE* out = fopen(path.c_str(), "wb");
    if (!out) return 0;
    if (size) fwrite(data, 1, size, out);
    fclose(out);

    qarvel::FileMailboxReader reader;
    reader.setWorkingFolder("/tmp");
    reader.setExtract(1);
    std::string copy;
    reader.setRawSink([&copy](const char* bytes, size_t length) { copy.append(bytes, length); });
    if (reader.open(path.c_str(), "", nullptr, 0) < 1) abort();
    if (reader.retrieve(1) >= 1) {
        if (reader.message().bytesRead != size) abort();
        // Every byte of the copy is the file's, in order: a dot or the end line may be left out.
        const char* file = reinterpret_cast<const char*>(data);
        size_t at = 0;
        for (char c : copy) {
            while (at < size && file[at] != c && file[at] == '.') ++at;
            if (at >= size || file[at] != c) abort();
            ++at;
        }
        std::set<std::string> generated;
        while (const qarvel::MessagePart* part = reader.nextPart()) {
            const qarvel::String& name = part->fileName;
            if (name.empty() || name == "." || name == ".." || name.find('/') != qarvel::String::npos) abort();
            if (part->generatedName && !generated.insert(name.str()).second) abort();
        }
    }
    reader.close();
    unlink(path.c_str());
    return 0;
}
