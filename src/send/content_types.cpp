// The content-type table by file extension and the one loop that walks it.
#include "send/content_types.h"

#include <cstring>
#include <strings.h>

namespace qarvel {

namespace {

enum class Match {
    kExact,       // the extension equals the row's, case ignored
    kPrefix,      // the extension begins with the row's ("htm" matches "html")
    kExactOrText, // kExact, or any extension at all when -text is set
};

struct ContentTypeRow {
    const char* extension;
    Match match;
    const char* type;
};

// Tested in this order; the first matching row wins.
const ContentTypeRow kContentTypes[] = {
    {"htm", Match::kPrefix, "text/html"},
    {"css", Match::kExact, "text/css"},
    {"txt", Match::kExactOrText, "text/plain"},
    {"eml", Match::kExact, "message/rfc822"},
    {"gif", Match::kExact, "image/gif"},
    {"jpg", Match::kExact, "image/jpeg"},
    {"jp2", Match::kExact, "image/jpeg2"},
    {"mov", Match::kExact, "video/quicktime"},
    {"mp3", Match::kExact, "audio/mpeg"},
    {"mpg", Match::kExact, "video/mpeg"},
    {"pdf", Match::kExact, "application/pdf"},
    {"png", Match::kExact, "image/png"},
    {"ps", Match::kExact, "application/postscript"},
    {"smil", Match::kExact, "application/smil"},
    {"tif", Match::kPrefix, "image/tiff"},
    {"vcf", Match::kExact, "text/directory"},
    {"wav", Match::kExact, "audio/wav"},
    {"xml", Match::kExact, "text/xml"},
    {"zip", Match::kExact, "application/x-zip-compressed"},
};

constexpr FileContentType kBinaryType = {"application/octet-stream", true};

bool rowMatches(const ContentTypeRow& row, const String& extension, bool textFlag) {
    switch (row.match) {
    case Match::kPrefix:
        return strncasecmp(extension.c_str(), row.extension, std::strlen(row.extension)) == 0;
    case Match::kExactOrText:
        if (textFlag) return true;
        [[fallthrough]];
    case Match::kExact:
        return strcasecmp(extension.c_str(), row.extension) == 0;
    }
    return false;
}

} // namespace

String fileExtension(const String& path) {
    std::string_view p = path.view();
    size_t slash = p.find_last_of("/\\");
    std::string_view name = slash == std::string_view::npos ? p : p.substr(slash + 1);
    size_t dot = name.rfind('.');
    if (dot == std::string_view::npos) return String();
    return String(name.substr(dot + 1));
}

FileContentType contentTypeForPath(const String& path, bool textFlag, bool binaryFlag) {
    if (binaryFlag) return kBinaryType;
    String extension = fileExtension(path);
    for (const ContentTypeRow& row : kContentTypes)
        if (rowMatches(row, extension, textFlag)) return {row.type, false};
    return kBinaryType;
}

} // namespace qarvel
