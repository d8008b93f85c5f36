// The body structure parser: a BODYSTRUCTURE answer read into BodyPart records.
#include "receive/body_structure.h"

#include <strings.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

namespace qarvel {

namespace {

class StructureTokens {
public:
    explicit StructureTokens(const char* text) : p_(text) {}
    // Skips spaces and "(" (each raising the depth); false at the end of the text.
    bool skipOpen() {
        while (*p_ == ' ' || *p_ == '(') {
            if (*p_ == '(') ++depth_;
            ++p_;
        }
        return *p_ != '\0';
    }
    // The next token: a quoted string or an atom up to a space or ")".
    std::string next() {
        skipOpen();
        std::string token;
        if (*p_ == '"') {
            ++p_;
            while (*p_ && *p_ != '"') {
                if (*p_ == '\\' && p_[1]) ++p_;
                token += *p_++;
            }
            if (*p_ == '"') ++p_;
        } else {
            while (*p_ && *p_ != ' ' && *p_ != ')' && *p_ != '(') token += *p_++;
        }
        skipCloseAndSpaces();
        return token;
    }
    void skipCloseAndSpaces() {
        while (*p_ == ' ' || *p_ == ')') {
            if (*p_ == ')') --depth_;
            ++p_;
        }
    }
    // Skips one parenthesised group (or an atom/string) without reading it.
    void skipValue() {
        while (*p_ == ' ') ++p_;
        if (*p_ != '(') { next(); return; }
        int level = 0;
        bool quoted = false;
        for (; *p_; ++p_) {
            if (quoted) {
                if (*p_ == '\\' && p_[1]) ++p_;
                else if (*p_ == '"') quoted = false;
                continue;
            }
            if (*p_ == '"') quoted = true;
            else if (*p_ == '(') ++level;
            else if (*p_ == ')' && --level == 0) { ++p_; break; }
        }
        while (*p_ == ' ') ++p_;
    }
    char peek() {
        while (*p_ == ' ') ++p_;
        return *p_;
    }
    int depth() const { return depth_; }
    bool atEnd() const { return *p_ == '\0'; }

private:
    const char* p_;
    int depth_ = 0;
};

bool isMultipartSubtype(const std::string& word) {
    static const char* const kSubtypes[] = {"MIXED", "ALTERNATIVE", "RELATED", "PARALLEL",
                                            "REPORT", "DIGEST", "SIGNED", "ENCRYPTED",
                                            "VOICE-MESSAGE"};
    for (const char* s : kSubtypes)
        if (strcasecmp(word.c_str(), s) == 0) return true;
    return false;
}

// The section number of a part at depth: the counters of the levels below the outermost,
// joined with "."; "1" for a body that is not multipart.
String sectionNumber(const std::vector<int>& counters, int depth) {
    std::string section;
    for (int level = 2; level <= depth; ++level) {
        if (!section.empty()) section += '.';
        section += std::to_string(counters[static_cast<size_t>(level)]);
    }
    return section.empty() ? String("1") : String(section);
}

// The fields of a part up to its size: type and subtype, the parameters that are kept, the
// content id, the description, the encoding.
void readPartHead(StructureTokens& t, BodyPart& part, std::string& type, std::string& subtype) {
    type = t.next();
    subtype = t.next();
    part.contentType = String(type + "/" + subtype);
    if (t.peek() == '(') {
        int paramDepth = t.depth() + 1;
        t.skipOpen();
        while (!t.atEnd() && t.depth() >= paramDepth) {
            std::string attribute = t.next();
            if (t.depth() < paramDepth) break;
            std::string value = t.next();
            if (strcasecmp(attribute.c_str(), "charset") == 0) part.charset = String(value);
            else if (strcasecmp(attribute.c_str(), "name") == 0) part.name = String(value);
            else if (strcasecmp(attribute.c_str(), "type") == 0) part.type = String(value);
        }
    } else {
        t.next();  // NIL
    }
    std::string id = t.next();
    if (strcasecmp(id.c_str(), "NIL") != 0) part.contentId = String(id);
    std::string description = t.next();
    if (strcasecmp(description.c_str(), "NIL") != 0) part.description = String(description);
    part.encoding = String(t.next());
    part.size = atof(t.next().c_str());
}

// The rest of a part after its encoding and size: line count, extension data, up to the
// part's closing parenthesis (depth back below startDepth).
void readPartTail(StructureTokens& t, BodyPart& part, const std::string& type,
                  const std::string& subtype, int startDepth) {
    if (strcasecmp(type.c_str(), "TEXT") == 0) {
        part.lines = atof(t.next().c_str());
    } else if (strcasecmp(type.c_str(), "MESSAGE") == 0 && strcasecmp(subtype.c_str(), "RFC822") == 0) {
        t.skipValue();  // envelope
        t.skipValue();  // inner body structure
        t.skipCloseAndSpaces();
        if (t.depth() >= startDepth) part.lines = atof(t.next().c_str());
    }
    if (t.depth() < startDepth) return;
    // Extension data: MD5, then a disposition list.
    std::string md5 = t.next();
    if (strcasecmp(md5.c_str(), "NIL") != 0) part.md5 = String(md5);
    if (t.depth() < startDepth) return;
    if (t.peek() == '(') {
        int dispositionDepth = t.depth() + 1;
        part.disposition = String(t.next());
        while (!t.atEnd() && t.depth() >= dispositionDepth && t.peek() != ')') {
            if (t.peek() == 'N' || t.peek() == 'n') { t.next(); continue; }  // NIL parameters
            std::string attribute = t.next();
            if (t.depth() < dispositionDepth) break;
            std::string value = t.next();
            if (strcasecmp(attribute.c_str(), "filename") == 0) part.fileName = String(value);
        }
        t.skipCloseAndSpaces();
    }
    // Anything further (language, location) is skipped up to the part's end.
    int guard = 0;
    while (!t.atEnd() && t.depth() >= startDepth && ++guard < 1000) {
        if (t.peek() == '(') t.skipValue();
        else t.next();
    }
}

} // namespace

size_t parseBodyStructure(const char* text, std::vector<BodyPart>& parts) {
    parts.clear();
    const char* start = strchr(text, '(');
    if (!start) return 0;
    StructureTokens t(start);
    // counters[level]: the position of the open group at that level among its siblings.
    std::vector<int> counters(1, 0);
    size_t guard = 0;
    while (!t.atEnd() && ++guard < 100000) {  // bounds the parts of a hostile answer too
        int before = t.depth();
        t.skipOpen();
        if (t.atEnd()) break;
        int depth = t.depth();
        if (depth <= 0) break;
        if (depth == before) {
            // No group opened: the subtype that ends the multipart open at this level.
            std::string subtype = t.next();
            if (!isMultipartSubtype(subtype)) break;
            BodyPart multi;
            multi.contentType = String("MULTIPART/") + String(subtype);
            multi.depth = depth;
            multi.section = "";
            parts.push_back(multi);
            int skipGuard = 0;
            while (!t.atEnd() && t.depth() >= depth && ++skipGuard < 1000) {
                if (t.peek() == '(') t.skipValue();
                else t.next();
            }
            continue;
        }
        for (int level = std::max(before + 1, 0); level <= depth; ++level) {  // a malformed answer can give a negative level
            counters.resize(static_cast<size_t>(level) + 1, 0);
            ++counters[static_cast<size_t>(level)];
        }
        BodyPart part;
        part.depth = depth;
        part.section = sectionNumber(counters, depth);
        std::string type, subtype;
        readPartHead(t, part, type, subtype);
        if (t.depth() >= depth) readPartTail(t, part, type, subtype, depth);
        parts.push_back(part);
    }
    return parts.size();
}

} // namespace qarvel
