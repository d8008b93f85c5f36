// Content types of attached files, chosen by the file's extension from one table.
#pragma once

#include "base/string.h"

namespace qarvel {

struct FileContentType {
    const char* type;  // the MIME type written into the part header
    bool binary;       // the file counts as binary ("; type=Binary", never a text encoding)
};

// The extension of a path: the text after the last '.' that follows the last '/' or '\'
// (empty when there is none).
String fileExtension(const String& path);

// The content type for a file: with binaryFlag (-binary) every file is
// "application/octet-stream" and binary; otherwise the table is walked in order, and with
// textFlag (-text) an extension that matched nothing before the plain-text row is plain text.
FileContentType contentTypeForPath(const String& path, bool textFlag, bool binaryFlag);

} // namespace qarvel
