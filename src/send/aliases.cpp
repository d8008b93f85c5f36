// The alias file and the mapping of local names.
#include "send/aliases.h"

#include <strings.h>

#include <algorithm>
#include <fstream>
#include <string>

#include "base/text.h"
#include "send/addresses.h"

namespace qarvel {

namespace {

// How deep one alias may lead to another (postmaster -> root -> alice ...).
constexpr int kAliasDepth = 8;

const String* aliasValue(std::string_view name, const StringList& names, const StringList& values) {
    auto value = values.begin();
    for (const String& n : names) {
        if (value == values.end()) break;
        std::string_view key = trimBlanks(n.view());
        if (key.size() == name.size() && strncasecmp(key.data(), name.data(), key.size()) == 0) return &*value;
        ++value;
    }
    return nullptr;
}

bool isLocal(std::string_view address) { return address.find('@') == std::string_view::npos; }

void addOnce(std::vector<String>& out, const String& address) {
    if (std::find(out.begin(), out.end(), address) == out.end()) out.push_back(address);
}

struct Mapping {
    const StringList& names;
    const StringList& values;
    const String& domain;
    std::FILE* err;
    std::vector<String>& out;

    void qualify(const String& name) { addOnce(out, domain.empty() ? name : name + "@" + domain); }

    void map(const String& recipient, int depth, bool viaDefault) {
        String address = envelopeAddress(recipient);
        std::string_view a = address.view();
        if (a.empty()) return;
        if (a.front() == '|' || a.front() == '/' || startsWithNoCase(a, ":include:")) {
            if (err) std::fprintf(err, "sendmail: alias value '%s' is a program or a file, which a relay cannot deliver to: left out\n", address.c_str());
            return;
        }
        if (!isLocal(a)) {
            addOnce(out, address);
            return;
        }
        const String* value = depth < kAliasDepth ? aliasValue(a, names, values) : nullptr;
        if (!value && !viaDefault && depth < kAliasDepth) {
            value = aliasValue("default", names, values);
            viaDefault = value != nullptr;
        }
        // A name that maps to itself ("root: root") is the address it names.
        if (!value || (splitRecipientText(*value).size() == 1 && envelopeAddress(*value) == address)) {
            qualify(address);
            return;
        }
        for (const String& entry : splitRecipientText(*value)) map(entry, depth + 1, viaDefault);
    }
};

} // namespace

void readAliasFile(const String& path, StringList& names, StringList& values) {
    std::ifstream in(path.c_str(), std::ios::binary);
    std::string line;
    while (in && std::getline(in, line)) {
        if (line.size() > 255) line.resize(255);
        if (line.empty() || line[0] == '#' || line[0] == '\\') continue;
        char name[256] = "", value[256] = "";
        if (std::sscanf(line.c_str(), "%255[^:]: %255[^#\t\r\n]", name, value) < 2) continue;
        names.add(String(name));
        values.add(String(value));
    }
}

std::vector<String> mapLocalRecipients(const std::vector<String>& recipients, const StringList& names,
                                       const StringList& values, const String& domain, std::FILE* err) {
    std::vector<String> out;
    Mapping mapping{names, values, domain, err, out};
    for (const String& r : recipients) mapping.map(r, 0, false);
    return out;
}

} // namespace qarvel
