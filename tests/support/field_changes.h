// The settings record as its dump shows it, field by field, and the fields in which two such
// views differ: the tests of the key and option tables compare what a line changed.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <map>
#include <set>
#include <string>

#include "config/settings.h"
#include "config/settings_dump.h"
#include "support/text_lines.h"

namespace qarvel::test {

using FieldValues = std::map<std::string, std::string>;

inline FieldValues fieldsOf(const Settings& s) {
    char* text = nullptr;
    size_t length = 0;
    std::FILE* out = open_memstream(&text, &length);
    dumpSettings(s, out);
    std::fclose(out);
    FieldValues fields;
    for (const std::string& line : linesOf(std::string(text, length))) {
        const size_t eq = line.find('=');
        fields[line.substr(0, eq)] = line.substr(eq + 1);
    }
    std::free(text);
    return fields;
}

using FieldNames = std::set<std::string>;

// The names of the fields whose values differ.
inline FieldNames changedFields(const FieldValues& before, const FieldValues& after) {
    FieldNames names;
    for (const auto& [name, value] : before)
        if (after.at(name) != value) names.insert(name);
    return names;
}

}  // namespace qarvel::test
