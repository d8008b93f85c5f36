// The -strict check of the command line and the configuration file against the option,
// key and label tables.
#include "config/strict_check.h"

#include <cstdlib>
#include <cstring>
#include <strings.h>
#include <vector>

#include "config/command_line.h"
#include "config/config_file.h"
#include "config/config_line.h"
#include "config/labels.h"

namespace qarvel {

namespace {

// The first word of a configuration line: up to a blank, a tab or a CR.
std::string firstWord(const char* line) {
    return std::string(line, std::strcspn(line, " \t\r"));
}

// The keys a web request reads from the same file for itself.
const std::vector<std::string> kWebKeys = {"QARVEL_PATH", "UPLOAD_LIMIT", "FONT", "TITLE", "BACKGROUND",
                                           "TEXT", "BGCOLOR", "HEADER", "TRAILER"};

bool isKeyOrLabel(const std::string& word) {
    for (const auto& names : {configKeyNames(), labelKeyNames(), kWebKeys})
        for (const std::string& name : names)
            if (strcasecmp(name.c_str(), word.c_str()) == 0) return true;
    return false;
}

bool isOption(const char* argument) {
    for (const std::string& name : optionNames()) {
        const bool takesValue = !name.empty() && name.back() == ':';
        if (takesValue ? std::strncmp(argument, name.c_str(), name.size()) == 0 : name == argument) return true;
    }
    return false;
}

}  // namespace

bool strictRequested(int argc, char** argv, const String& configFile, bool configRead) {
    for (int i = 1; i < argc; ++i)
        if (argv[i] && std::strcmp(argv[i], "-strict") == 0) return true;
    if (const char* value = std::getenv("QARVEL_STRICT"); value && std::strcmp(value, "1") == 0) return true;
    if (!configRead) return false;
    bool found = false;
    forEachConfigLine(configFile, 4095, [&](const char* line) {
        if (strcasecmp(firstWord(line).c_str(), "STRICT") == 0) found = true;
    });
    return found;
}

std::string unknownOption(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (!argv[i]) continue;
        if (std::strcmp(argv[i], "-xml") == 0) break;
        if (!isOption(argv[i])) return std::string("Unknown option: ") + argv[i];
    }
    return std::string();
}

std::string unknownConfigKey(const String& configFile) {
    std::string fault;
    int number = 0;
    forEachConfigLine(configFile, 4095, [&](const char* line) {
        ++number;
        const std::string word = firstWord(line);
        if (!fault.empty() || word.empty() || word[0] == '#' || isKeyOrLabel(word)) return;
        fault = configFile.str() + ":" + std::to_string(number) + ": unknown key " + word;
    });
    return fault;
}

}  // namespace qarvel
