// Any bytes as an XML document: the parse ends within its limits, every query walks the tree,
// and what the writer makes of the tree reads back to the same tree (compared with text
// trimmed, as indentation may join the end of a text, and attributes sorted) whenever the
// names in it are plain names that can be written back as they are.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "tools/xml_document.h"

using namespace qarvel;

namespace {

bool plainName(std::string_view name) {
    if (name.empty()) return false;
    for (char c : name)
        if (!std::isalnum(static_cast<unsigned char>(c)) && !std::strchr("_.:-", c)) return false;
    return true;
}

std::string trimmed(std::string_view text) {
    const char* blanks = " \t\r\n";
    size_t start = text.find_first_not_of(blanks);
    if (start == std::string_view::npos) return {};
    return std::string(text.substr(start, text.find_last_not_of(blanks) - start + 1));
}

// A line per node in document order; false when a name cannot be written back as it is.
// Texts next to each other (an end tag that closed nothing stood between them) are written
// as one, so they count as one.
bool signature(XmlNode node, std::string& out) {
    std::string text;
    auto flushText = [&] {
        std::string t = trimmed(text);
        if (!t.empty()) out += "2 " + t + "\n";  // a text of blanks alone is not read again
        text.clear();
    };
    for (XmlNode c = node.firstChild(); c; c = c.next()) {
        if (c.kind() == kXmlText) {
            text += c.name();
            continue;
        }
        flushText();
        std::string line = std::to_string(c.kind()) + " ";
        if (c.kind() == kXmlDeclaration && !c.name().starts_with("!--")) {
            return false;
        } else {
            line += c.name();
        }
        if (c.kind() == kXmlElement) {
            if (!plainName(c.name())) return false;
            std::vector<std::pair<std::string, std::string>> attributes;
            bool plain = true;
            c.forEachAttribute([&](std::string_view key, std::string_view value) {
                plain = plain && plainName(key);
                attributes.emplace_back(key, value);
                return true;
            });
            if (!plain) return false;
            std::sort(attributes.begin(), attributes.end());
            for (const auto& [key, value] : attributes) line += " " + key + "=" + value;
        }
        out += line;
        out += '\n';
        if (!signature(c, out)) return false;
        out += "end\n";
    }
    flushText();
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 1 << 16) return 0;
    std::string_view input(reinterpret_cast<const char*>(data), size);
    // External entities point into a folder that does not exist, so nothing is read.
    const String folder("/nonexistent-qarvel-fuzz");
    XmlDocument document;
    if (document.parse(std::string(input), folder) < 0) return 0;
    XmlNode doc = document.node();

    const char* patterns[] = {"", "*", "#text", "#pi", "#element", "a"};
    XmlNode root = doc.descendant(0, "#element", "", "");
    XmlNode start = root ? root : doc;
    for (const char* p : patterns) {
        for (int n : {0, 2, -1, -3}) {
            doc.descendant(n, p, "", "");
            start.child(n, p, "id", "");
            start.followingInTree(n, p, "", "");
            start.siblingBackward(n, p, "", "");
            start.ancestor(n, p, "", "");
        }
    }
    doc.findById("1");

    std::string once;
    doc.write(once, 0, kXmlWriteEscaped);
    XmlDocument again;
    if (again.parse(once, folder) < 0) __builtin_trap();
    std::string before, after;
    if (!signature(doc, before)) return 0;
    signature(again.node(), after);
    if (before != after) __builtin_trap();
    return 0;
}
