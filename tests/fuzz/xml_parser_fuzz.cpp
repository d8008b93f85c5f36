// Any bytes as an XML document: the parse ends (within its limits), every query walks the
// tree, and what the writer makes of the tree reads back to the same text.
#include <cstddef>
#include <cstdint>
#include <string>

#include "tools/xml_node.h"

using namespace qarvel;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 1 << 16) return 0;
    std::string_view input(reinterpret_cast<const char*>(data), size);
    // External entities point into a folder that does not exist, so nothing is read.
    const String folder("/nonexistent-qarvel-fuzz");
    XmlNode doc;
    if (doc.parse(input, folder) < 0) return 0;

    const char* patterns[] = {"", "*", "#text", "#pi", "#element", "a"};
    XmlNode* root = doc.descendant(0, "#element", "", "");
    XmlNode* start = root ? root : &doc;
    for (const char* p : patterns) {
        for (int n : {0, 2, -1, -3}) {
            doc.descendant(n, p, "", "");
            start->child(n, p, "id", "");
            start->followingInTree(n, p, "", "");
            start->siblingBackward(n, p, "", "");
            start->ancestor(n, p, "", "");
        }
    }
    doc.findById("1");

    std::string once;
    doc.write(once, 0, kXmlWriteEscaped);
    XmlNode again;
    if (again.parse(once, folder) < 0) __builtin_trap();
    std::string twice;
    again.write(twice, 0, kXmlWriteEscaped);
    if (once != twice) __builtin_trap();
    return 0;
}
