// The body structure of an IMAP message: one BodyPart per part, read from a BODYSTRUCTURE
// answer.
#pragma once

#include <cstddef>
#include <vector>

#include "base/string.h"

namespace qarvel {

// One part of a message's body structure.
struct BodyPart {
    String section = "1";  // "1", "1.2", ...
    String contentType;    // "TEXT/PLAIN"
    String contentId, description, encoding, charset, name, type, md5, fileName;
    String disposition, language;
    double size = 0;
    double lines = 0;
    int depth = 0;
};

// Parses a BODYSTRUCTURE text (from its first "(") into parts, leaves first and each multipart
// after its children. Returns the number of parts.
size_t parseBodyStructure(const char* text, std::vector<BodyPart>& parts);

} // namespace qarvel
