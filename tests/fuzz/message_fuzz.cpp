// Feeds arbitrary bytes to the message parser through the buffered stream source the file
// reader uses, with extraction on, once with each HTML choice and once with the parts written
// straight into an extraction folder. Property: parts that are never named leave nothing in
// that folder once the message is dropped.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "receive/line_source.h"
#include "receive/message_parser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static qarvel::Message message;
    static const std::string folder = [] {
        std::string path = "/tmp/qarvel-message-fuzz-" + std::to_string(getpid());
        atexit([] { rmdir(("/tmp/qarvel-message-fuzz-" + std::to_string(getpid())).c_str()); });
        return path;
    }();
    qarvel::ParseSettings settings;
    settings.extract = 1;
    settings.workingFolder = "/tmp";
    for (int pass = 0; pass < 3; ++pass) {
        FILE* in = size ? fmemopen(const_cast<uint8_t*>(data), size, "rb") : fopen("/dev/null", "rb");
        if (!in) return 0;
        settings.html = pass == 1;
        if (pass == 2 && (mkdir(folder.c_str(), 0700) == 0 || errno == EEXIST))
            settings.partFolder = qarvel::FolderHandle::open(folder.c_str());
        qarvel::StreamLineSource source(in);
        qarvel::MessageParser parser(source, settings, message);
        parser.run(size);
        fclose(in);
        while (message.nextPart()) {
        }
    }
    message.clear();
    if (DIR* dir = opendir(folder.c_str())) {
        while (dirent* entry = readdir(dir))
            if (std::string(entry->d_name) != "." && std::string(entry->d_name) != "..") abort();
        closedir(dir);
    }
    return 0;
}
