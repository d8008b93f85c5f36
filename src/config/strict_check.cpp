// The -strict check of the command line and the configuration file against the option,
// key and label tables.
#include "config/strict_check.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <strings.h>
#include <vector>

#include "config/command_line.h"
#include "config/config_file.h"
#include "config/config_line.h"
#include "config/help_text.h"
#include "config/labels.h"
#include "config/option_values.h"
#include "net/socket.h"

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

// The option an argument is, or "" for none.
std::string optionOf(const char* argument) {
    for (const std::string& name : optionNames()) {
        const bool takesValue = !name.empty() && name.back() == ':';
        if (takesValue ? std::strncmp(argument, name.c_str(), name.size()) == 0 : name == argument) return name;
    }
    return std::string();
}

// The number options and the least value each takes (-port: is a port, or a service name).
struct NumberOption {
    const char* name;
    long least, most;
};
const NumberOption kNumbers[] = {
    {"-cnt:", 1, 1000000},  {"-tmo:", 1, 86400 * 365}, {"-port:", 1, 65535},     {"-limit:", 0, 1000000},
    {"-retries:", 0, 1000}, {"-v:", 0, 9},             {"-every:", 0, 525600},   {"-severy:", 0, 31536000},
    {"-first:", 0, 2147483647}, {"-level:", 0, 9},     {"-idle:", 0, 2147483647}, {"-qp:", 0, 9},
    {"-map_8bit:", 0, 9},   {"-use_mime:", 0, 9},      {"-mimetype:", 0, 9},
};

// The placeholder of an option's value in the help ("FILE" for -a:).
std::string placeholderOf(const std::string& option) {
    for (const HelpLine& line : optionHelp()) {
        const std::string names = std::string(" ") + line.names + " ";
        if (names.find(" " + option + " ") != std::string::npos) return line.value;
    }
    return "VALUE";
}

bool wholeNumberIn(const std::string& text, long least, long most) {
    if (text.empty() || text.size() > 12) return false;
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(text.c_str(), &end, 10);
    return errno == 0 && *end == '\0' && std::isdigit(static_cast<unsigned char>(text.back())) && value >= least &&
           value <= most;
}

// What is wrong with an option's value, else "".
std::string valueFault(const std::string& option, const char* argument) {
    for (const NumberOption& number : kNumbers) {
        if (option != number.name) continue;
        const std::string value = unquoteValue(argument + option.size(), kEscapesKept).str();
        if (wholeNumberIn(value, number.least, number.most)) return std::string();
        if (option == "-port:" && !value.empty() && !std::isdigit(static_cast<unsigned char>(value[0])) &&
            servicePort(String(value)) > 0)
            return std::string();
        std::string range = "a whole number from " + std::to_string(number.least) + " to " + std::to_string(number.most);
        if (option == "-port:") range = "a port number or service name";
        return std::string("Bad value: ") + argument + " (" + placeholderOf(option) + ": " + range + ")";
    }
    return std::string();
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
        const std::string option = optionOf(argv[i]);
        if (option.empty()) {
            const std::string withColon = std::string(argv[i]) + ":";
            if (!optionOf(withColon.c_str()).empty() && optionOf(withColon.c_str()) == withColon)
                return std::string(argv[i]) + " needs a value: " + withColon + placeholderOf(withColon);
            return std::string("Unknown option: ") + argv[i];
        }
        if (std::string fault = valueFault(option, argv[i]); !fault.empty()) return fault;
    }
    return std::string();
}

std::vector<std::string> unknownOptions(int argc, char** argv) {
    std::vector<std::string> unknown;
    for (int i = 1; i < argc; ++i) {
        if (!argv[i]) continue;
        if (std::strcmp(argv[i], "-xml") == 0) break;
        if (optionOf(argv[i]).empty()) unknown.push_back(argv[i]);
    }
    return unknown;
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
