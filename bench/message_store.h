// What the benchmark programs do with each message they read, in the same way for every reader:
// the five main header fields and the body into OUTDIR/n/headers and OUTDIR/n/body, the
// attachments next to them. The work matches what the other tools of a job write.
#pragma once

#include <sys/stat.h>

#include <cstdio>
#include <string>

#include "receive/message.h"

namespace qarvel::bench {

inline bool writeText(const std::string& path, const std::string& text) {
    FILE* f = fopen(path.c_str(), "wb");
    if (!f) return false;
    bool ok = fwrite(text.data(), 1, text.size(), f) == text.size();
    return fclose(f) == 0 && ok;
}

// Source: a reader or a message, with subject(), sender(), to(), cc(), date(). nextPart gives
// the next part (nullptr at the end), partName the name of the part given last. Returns the
// number of parts written, -1 on error.
template <class Source, class NextPart, class PartName>
int storeMessage(const Source& source, const std::string& body, const std::string& outdir, int n,
                 NextPart nextPart, PartName partName) {
    std::string dir = outdir + "/" + std::to_string(n);
    mkdir(dir.c_str(), 0755);
    std::string headers = source.subject().str() + "\n" + source.sender().str() + "\n" +
                          source.to().str() + "\n" + source.cc().str() + "\n" +
                          source.date().str() + "\n";
    if (!writeText(dir + "/headers", headers)) return -1;
    if (!writeText(dir + "/body", body)) return -1;
    int parts = 0;
    while (const MessagePart* part = nextPart()) {
        String name = partName();
        if (writeAttachment(dir.c_str(), name, *part, false, true) != kWriteOk) return -1;
        ++parts;
    }
    return parts;
}

}  // namespace qarvel::bench
