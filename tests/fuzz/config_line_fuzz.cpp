// Feeds arbitrary text to the configuration reader, line by line, and then the same lines
// to the command-line parser as arguments. Options that ask the network or read files
// named by the input are left out.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "config/command_line.h"
#include "config/config_file.h"
#include "config/labels.h"
#include "config/process.h"
#include "config/settings.h"

namespace {

bool leftOut(const std::string& argument) {
    for (const char* prefix : {"-srv:", "-txt:", "-post:", "-sfile:", "-a:", "-url:"})
        if (argument.compare(0, std::strlen(prefix), prefix) == 0) return true;
    return false;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool quiet = std::freopen("/dev/null", "w", stderr) != nullptr;
    (void)quiet;
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> lines;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }

    qarvel::Settings s;
    qarvel::ProcessObjects objects;
    qarvel::resetSettings(s, true);
    qarvel::resetLabels();
    std::vector<char*> argv{const_cast<char*>("qarvel")};
    for (std::string& line : lines) {
        if (line.size() > 4095) line.resize(4095);
        // "A ", "P " and "I " ask the file system about the name they are given.
        if (line.size() < 2 || line[1] != ' ') qarvel::applyConfigLine(line.c_str(), s, objects);
        if (!leftOut(line)) argv.push_back(line.data());
    }
    qarvel::parseCommandLine(static_cast<int>(argv.size()), argv.data(), s, objects);
    return 0;
}
