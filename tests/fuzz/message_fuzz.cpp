// Feeds arbitrary bytes to the message parser through the buffered stream source the file
// reader uses, with extraction on, once with each HTML choice.
#include <cstdint>
#include <cstdio>

#include "receive/line_source.h"
#include "receive/message_parser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static qarvel::Message message;
    qarvel::ParseSettings settings;
    settings.extract = 1;
    settings.workingFolder = "/tmp";
    for (int html = 0; html < 2; ++html) {
        FILE* in = size ? fmemopen(const_cast<uint8_t*>(data), size, "rb") : fopen("/dev/null", "rb");
        if (!in) return 0;
        settings.html = html;
        qarvel::StreamLineSource source(in);
        qarvel::MessageParser parser(source, settings, message);
        parser.run(size);
        fclose(in);
        while (message.nextPart()) {
        }
    }
    return 0;
}
