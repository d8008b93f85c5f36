// XmlParser: the non-validating reader behind XmlNode::parse, with its limits.
#include "tools/xml_parser.h"

#include <algorithm>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/paths.h"
#include "net/http_client.h"
#include "tools/xml_document.h"

namespace qarvel {

using namespace std::literals;

namespace {

bool isSpace(int c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// Trailing colons and slashes removed and one "/" appended, so that "urn:x", "urn:x/" and
// "urn:x:" name the same namespace.
String normaliseNamespace(std::string_view uri) {
    while (!uri.empty() && (uri.back() == ':' || uri.back() == '/')) uri.remove_suffix(1);
    std::string out(uri);
    out += '/';
    return String(out);
}

// The value of a pseudo-attribute in the XML declaration ("version", "encoding").
std::string_view pseudoAttribute(std::string_view token, std::string_view key) {
    size_t at = 0;
    while ((at = token.find(key, at)) != std::string_view::npos) {
        size_t i = at + key.size();
        at = i;
        while (i < token.size() && isSpace(token[i])) ++i;
        if (i >= token.size() || token[i] != '=') continue;
        ++i;
        while (i < token.size() && isSpace(token[i])) ++i;
        if (i >= token.size() || (token[i] != '"' && token[i] != '\'')) continue;
        char quote = token[i++];
        size_t end = token.find(quote, i);
        if (end == std::string_view::npos) return {};
        return token.substr(i, end - i);
    }
    return {};
}

// A quoted literal at i (after blanks): its text, i moved behind it; empty when none.
bool quoted(std::string_view text, size_t& i, std::string_view& out) {
    while (i < text.size() && isSpace(text[i])) ++i;
    if (i >= text.size() || (text[i] != '"' && text[i] != '\'')) return false;
    char quote = text[i++];
    size_t end = text.find(quote, i);
    if (end == std::string_view::npos) return false;
    out = text.substr(i, end - i);
    i = end + 1;
    return true;
}

std::string_view word(std::string_view text, size_t& i) {
    while (i < text.size() && isSpace(text[i])) ++i;
    size_t start = i;
    while (i < text.size() && !isSpace(text[i]) && text[i] != '>' && text[i] != '"' && text[i] != '\'')
        ++i;
    return text.substr(start, i - start);
}

// Quotes and ">" decide where a tag ends, so no name may hold one: written back, it would move
// the end of the tag.
bool movesTagEnd(std::string_view name) { return name.find_first_of("\"'>") != std::string_view::npos; }

}  // namespace

XmlParser::XmlParser(XmlDocument& document, const String& folder, bool allowHttp)
    : document_(document), folder_(folder), allowHttp_(allowHttp) {}

int XmlParser::fail(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
    std::fputc('\n', stderr);
    return -1;
}

// ---------------------------------------------------------------- input frames

int XmlParser::peek() {
    for (;;) {
        Frame& top = frames_.back();
        if (top.cur < top.end) return static_cast<unsigned char>(*top.cur);
        if (frames_.size() == 1) return -1;
        frames_.pop_back();
    }
}

int XmlParser::get() {
    int c = peek();
    if (c >= 0) ++frames_.back().cur;
    return c;
}

// Only within the current frame: a token never starts in one expansion and ends in another
// in a way that this test has to see whole.
bool XmlParser::lookingAt(std::string_view text) {
    if (peek() < 0) return false;
    const Frame& top = frames_.back();
    return static_cast<size_t>(top.end - top.cur) >= text.size() &&
           std::memcmp(top.cur, text.data(), text.size()) == 0;
}

void XmlParser::skipWhitespace() {
    while (isSpace(peek())) {
        Frame& top = frames_.back();
        while (top.cur < top.end && isSpace(static_cast<unsigned char>(*top.cur))) ++top.cur;
    }
}

int XmlParser::pushText(const String& text) {
    if (frames_.size() > static_cast<size_t>(kXmlMaxEntityNesting))
        return fail("XML entities nested deeper than %d levels", kXmlMaxEntityNesting);
    expansion_ += text.length() + kXmlReferenceCost;
    if (expansion_ > kXmlMaxExpansion)
        return fail("XML entity expansion stopped: more than %zu bytes of replacement text",
                    kXmlMaxExpansion);
    frames_.push_back({text, text.c_str(), text.c_str() + text.length()});
    return 1;
}

int XmlParser::addNode(int32_t kind, std::string_view name) {
    uint32_t index = document_.newChild(open_, kind);
    document_.nodes_[index].name = document_.keep(name);
    return 1;
}

// ---------------------------------------------------------------- the token loop

int XmlParser::run(std::string_view input) {
    frames_.clear();
    frames_.push_back({String(), input.data(), input.data() + input.size()});
    for (;;) {
        skipWhitespace();
        int c = peek();
        if (c < 0) return 1;
        int result = c == '<' ? readMarkup() : readText();
        if (result < 0) return result;
    }
}

// Character data up to the next "<", references decoded and entities expanded.
int XmlParser::readText() {
    {
        // The common case: plain text inside one frame, taken as it stands.
        Frame& top = frames_.back();
        const char* p = top.cur;
        while (p < top.end && *p != '<' && *p != '&') ++p;
        if ((p < top.end && *p == '<') || (p == top.end && frames_.size() == 1)) {
            std::string_view text(top.cur, static_cast<size_t>(p - top.cur));
            top.cur = p;
            return addNode(kXmlText, text);
        }
    }
    std::string& text = scratch_;
    text.clear();
    for (;;) {
        int c = peek();
        if (c < 0 || c == '<') break;
        if (c != '&') {
            Frame& top = frames_.back();
            const char* p = top.cur;
            while (p < top.end && *p != '<' && *p != '&') ++p;
            text.append(top.cur, p);
            top.cur = p;
            continue;
        }
        get();
        std::string reference;
        bool closed = false;
        while (reference.size() < 255) {
            int r = peek();
            if (r < 0 || r == '<' || r == '&' || isSpace(r)) break;
            get();
            if (r == ';') {
                closed = true;
                break;
            }
            reference += static_cast<char>(r);
        }
        if (!closed || reference.empty()) {
            text += '&';
            text += reference;
            if (closed) text += ';';
            continue;
        }
        if (expandEntity(reference, text) < 0) return -1;
    }
    if (!text.empty()) addNode(kXmlText, text);
    return 1;
}

// One reference "&name;": an internal entity's text is read again in front of the rest of
// the input; an external entity's content likewise; anything else is decoded as it stands.
int XmlParser::expandEntity(const std::string& name, std::string& text) {
    if (name[0] != '#') {
        if (const String* replacement = document_.internalEntities().find(String(name)))
            return pushText(*replacement);
        if (const String* systemId = document_.externalEntities().find(String(name))) {
            std::string content;
            if (!readExternal(*systemId, content)) return 1;  // unreadable: no text
            return pushText(String(content));
        }
    }
    xmlUnescapeTo(text, std::string_view("&" + name + ";"));
    return 1;
}

int XmlParser::readMarkup() {
    get();  // "<"
    std::string& token = scratch_;
    token.clear();
    if (lookingAt("![CDATA[")) {
        for (int i = 0; i < 8; ++i) get();
        return addNode(kXmlCdata, readUntil("]]>", token));
    }
    if (lookingAt("!--")) {
        // The node holds "!-- text --": the terminator's dashes stay with it.
        std::string_view comment = readUntil("-->", token);
        const Frame& top = frames_.back();
        if (comment.data() != token.data() && comment.data() + comment.size() + 2 <= top.end)
            return addNode(kXmlDeclaration, std::string_view(comment.data(), comment.size() + 2));
        std::string whole(comment);
        whole += "--";
        return addNode(kXmlDeclaration, whole);
    }
    if (lookingAt("?")) {
        // "?target text?": the node keeps the question mark of the terminator.
        std::string_view instruction = readUntil("?>", token);
        std::string whole;
        const Frame& top = frames_.back();
        if (instruction.data() != token.data() && instruction.data() + instruction.size() + 1 <= top.end) {
            instruction = std::string_view(instruction.data(), instruction.size() + 1);
        } else {
            whole.assign(instruction);
            whole += '?';
            instruction = whole;
        }
        if (instruction.substr(0, 5) == "?xml "sv) readXmlDeclaration(instruction);
        return addNode(kXmlInstruction, instruction);
    }
    if (lookingAt("!")) {
        readBalanced(token);
        if (token.compare(0, 9, "!DOCTYPE ") == 0) readDoctype(token);
        return addNode(kXmlDeclaration, token);
    }
    std::string_view tag = readTag(token);
    if (!tag.empty() && tag[0] == '/') {
        endElement();
        return 1;
    }
    return startElement(tag);
}

// Everything up to the terminator (not kept), or to the end of the input.
std::string_view XmlParser::readUntil(std::string_view terminator, std::string& out) {
    Frame& top = frames_.back();
    std::string_view rest(top.cur, static_cast<size_t>(top.end - top.cur));
    size_t at = rest.find(terminator);
    if (at != std::string_view::npos || frames_.size() == 1) {
        if (at == std::string_view::npos) at = rest.size();
        top.cur += std::min(rest.size(), at + terminator.size());
        return rest.substr(0, at);
    }
    for (;;) {
        int c = get();
        if (c < 0) return out;
        out += static_cast<char>(c);
        if (out.size() >= terminator.size() &&
            out.compare(out.size() - terminator.size(), terminator.size(), terminator) == 0) {
            out.resize(out.size() - terminator.size());
            return out;
        }
    }
}

// A declaration up to its matching ">": nested "<" and ">" are counted (so a DOCTYPE keeps
// its internal subset), quoted literals and comments inside are taken whole.
void XmlParser::readBalanced(std::string& out) {
    int depth = 1;
    char quote = 0;
    for (;;) {
        int c = get();
        if (c < 0) return;
        if (quote) {
            if (c == quote) quote = 0;
        } else if (c == '"' || c == '\'') {
            quote = static_cast<char>(c);
        } else if (c == '<' && lookingAt("!--")) {
            out += '<';
            std::string comment;
            out += readUntil("-->", comment);
            out += "-->";
            continue;
        } else if (c == '<') {
            ++depth;
        } else if (c == '>' && --depth == 0) {
            return;
        }
        out += static_cast<char>(c);
    }
}

// A start or end tag up to ">", a ">" inside a quoted attribute value included.
std::string_view XmlParser::readTag(std::string& out) {
    {
        // The common case: the whole tag inside the current frame.
        Frame& top = frames_.back();
        char quote = 0;
        for (const char* p = top.cur; p < top.end; ++p) {
            char c = *p;
            if (quote) {
                if (c == quote) quote = 0;
            } else if (c == '"' || c == '\'') {
                quote = c;
            } else if (c == '>') {
                std::string_view tag(top.cur, static_cast<size_t>(p - top.cur));
                top.cur = p + 1;
                return tag;
            }
        }
    }
    char quote = 0;
    for (;;) {
        Frame& top = frames_.back();
        const char* p = top.cur;
        // Fast path over the plain bytes of the current frame.
        while (p < top.end && *p != '>' && *p != '"' && *p != '\'') ++p;
        if (quote == 0) {
            out.append(top.cur, p);
            top.cur = p;
        }
        int c = get();
        if (c < 0) return out;
        if (quote) {
            if (c == quote) quote = 0;
        } else if (c == '"' || c == '\'') {
            quote = static_cast<char>(c);
        } else if (c == '>') {
            return out;
        }
        out += static_cast<char>(c);
    }
}

int XmlParser::startElement(std::string_view token) {
    bool empty = false;
    while (!token.empty() && isSpace(token.back())) token.remove_suffix(1);
    if (!token.empty() && token.back() == '/') {
        empty = true;
        token.remove_suffix(1);
    }
    size_t i = 0;
    while (i < token.size() && !isSpace(token[i])) ++i;
    std::string_view elementName = token.substr(0, i);
    if (elementName.empty()) return 1;  // "<>" or "< x": nothing to open
    if (movesTagEnd(elementName))
        return fail("XML element name holds a quote: %.40s", std::string(elementName).c_str());
    if (!empty && depth_ >= kXmlMaxDepth)
        return fail("XML elements nested deeper than %d levels", kXmlMaxDepth);
    uint32_t element = document_.newChild(open_, kXmlElement);
    document_.nodes_[element].name = document_.keep(elementName);
    size_t firstAttribute = document_.attributes_.size();
    while (i < token.size()) {
        while (i < token.size() && isSpace(token[i])) ++i;
        size_t start = i;
        while (i < token.size() && !isSpace(token[i]) && token[i] != '=') ++i;
        std::string_view attrName = token.substr(start, i - start);
        if (attrName.empty()) {
            ++i;
            continue;
        }
        // Such an attribute is dropped with its value.
        bool dropped = movesTagEnd(attrName);
        while (i < token.size() && isSpace(token[i])) ++i;
        std::string_view value;
        if (i < token.size() && token[i] == '=') {
            ++i;
            if (!quoted(token, i, value)) value = word(token, i);
        }
        if (value.find('&') != std::string_view::npos) {
            value_.clear();
            xmlUnescapeTo(value_, value);
            value = value_;
        }
        if (dropped) continue;
        XmlDocument::Attribute a{document_.keep(attrName), document_.keep(value)};
        document_.attributes_[document_.attributes_.grow(1)] = a;
        int declared = 1;
        if (attrName == "xmlns"sv)
            declared = declareNamespace(":", value);
        else if (attrName.substr(0, 6) == "xmlns:"sv)
            declared = declareNamespace(std::string(attrName.substr(6)) + ":", value);
        if (declared < 0) return declared;
    }
    XmlDocument::Node& n = document_.nodes_[element];
    n.firstAttribute = static_cast<uint32_t>(firstAttribute);
    n.attributeCount = static_cast<uint32_t>(document_.attributes_.size() - firstAttribute);
    document_.sortAttributes(element);
    if (uint32_t uri = elementNamespace(elementName)) n.nameSpace = uri;
    if (!empty) {
        open_ = element;
        ++depth_;
    }
    return 1;
}

int XmlParser::declareNamespace(std::string prefix, std::string_view uri) {
    uint32_t index = document_.namespaceIndex(normaliseNamespace(uri).view());
    if (index == XmlDocument::kNamespaceLimit)
        return fail("XML document declares more than %u namespaces", XmlDocument::kNamespaceLimit - 1);
    namespaces_[std::move(prefix)] = index;
    return 1;
}

uint32_t XmlParser::elementNamespace(std::string_view elementName) const {
    size_t colon = elementName.find(':');
    std::string_view key = colon == std::string_view::npos ? ":"sv : elementName.substr(0, colon + 1);
    auto found = namespaces_.find(key);
    return found == namespaces_.end() ? 0 : found->second;
}

// Any end tag closes the element that is open: the parser does not check names.
void XmlParser::endElement() {
    if (open_ == 0) return;
    open_ = document_.nodes_[open_].parent;
    --depth_;
}

void XmlParser::readXmlDeclaration(std::string_view token) {
    std::string_view version = pseudoAttribute(token, "version");
    std::string_view encoding = pseudoAttribute(token, "encoding");
    if (!version.empty()) document_.version = String(version);
    if (!encoding.empty()) {
        document_.encoding = String(encoding);
        document_.utf8 = encoding == "utf-8"sv || encoding == "UTF-8"sv;
    }
}

// The entity declarations of the internal subset. The first declaration of a name counts.
void XmlParser::readDoctype(std::string_view token) {
    size_t at = 0;
    while ((at = token.find("<!", at)) != std::string_view::npos) {
        if (token.compare(at, 4, "<!--") == 0) {
            size_t end = token.find("-->", at + 4);
            if (end == std::string_view::npos) return;
            at = end + 3;
            continue;
        }
        if (token.compare(at, 8, "<!ENTITY") != 0) {
            at += 2;
            continue;
        }
        size_t i = at + 8;
        std::string_view entityName = word(token, i);
        if (entityName == "%"sv) {  // parameter entities only serve the DTD: not kept
            at = i;
            continue;
        }
        // The five predefined entities keep their meaning whatever the document declares:
        // the writer escapes with them, so a redefinition (one that refers to itself, say)
        // would change what a saved document reads back as.
        static constexpr std::string_view kPredefined[] = {"amp", "lt", "gt", "quot", "apos"};
        if (std::find(std::begin(kPredefined), std::end(kPredefined), entityName) != std::end(kPredefined)) {
            at = i;
            continue;
        }
        std::string_view value;
        if (quoted(token, i, value)) {
            if (!document_.internalEntities().find(String(entityName)))
                document_.internalEntities().insert(String(entityName), String(value));
        } else {
            std::string_view keyword = word(token, i);
            if (keyword == "PUBLIC"sv) {
                std::string_view publicId;
                quoted(token, i, publicId);
            }
            if ((keyword == "SYSTEM"sv || keyword == "PUBLIC"sv) && quoted(token, i, value) &&
                !document_.externalEntities().find(String(entityName)))
                document_.externalEntities().insert(String(entityName), String(value));
        }
        at = i;
    }
}

// ---------------------------------------------------------------- external entities

bool XmlParser::readExternal(const String& systemId, std::string& out) {
    if (systemId.startsWith("http:") || systemId.startsWith("https:")) {
        if (!allowHttp_) {
            std::fprintf(stderr, "External entity '%s' not fetched: http entities need -http\n",
                         systemId.c_str());
            return false;
        }
        return readHttp(systemId, out);
    }
    return readLocalFile(systemId, out);
}

bool XmlParser::readHttp(const String& url, std::string& out) {
    HttpClient client;
    client.setTimeout(kXmlHttpTimeout);
    String body;
    int result = client.fetchToString(body, url);
    if (result < 1) {
        std::fprintf(stderr, "External entity '%s' not fetched: %s\n", url.c_str(), client.statusText());
        return false;
    }
    if (body.length() > kXmlMaxExternalSize) {
        std::fprintf(stderr, "External entity '%s' not read: larger than %zu bytes\n", url.c_str(),
                     kXmlMaxExternalSize);
        return false;
    }
    out.assign(body.c_str(), body.length());
    return true;
}

// A local external entity names a file inside the document's folder: no absolute path, no
// "..", no other scheme, and no link that leads out of the folder.
bool XmlParser::readLocalFile(const String& systemId, std::string& out) {
    String relative = systemId.replaced('\\', '/');
    std::string_view path = relative.view();
    bool refused = path.empty() || path[0] == '/' || path.find(':') != std::string_view::npos;
    for (size_t start = 0; !refused && start <= path.size();) {
        size_t end = path.find('/', start);
        if (end == std::string_view::npos) end = path.size();
        if (path.substr(start, end - start) == ".."sv) refused = true;
        start = end + 1;
    }
    String folder = folder_.empty() ? String(".") : folder_;
    String full = joinPath(folder, relative);
    char realFolder[PATH_MAX], realFile[PATH_MAX];
    if (!refused && ::realpath(folder.c_str(), realFolder) && ::realpath(full.c_str(), realFile)) {
        size_t n = std::strlen(realFolder);
        bool inside = std::strncmp(realFile, realFolder, n) == 0 &&
                      (realFile[n] == '/' || (n == 1 && realFolder[0] == '/'));
        if (!inside) refused = true;
    }
    if (refused) {
        std::fprintf(stderr,
                     "External entity '%s' refused: only files in the document's folder are read\n",
                     systemId.c_str());
        return false;
    }
    // A file that exists but cannot be opened yet (held by another program) gets up to six
    // attempts one second apart; a missing file fails at once.
    int fd = -1;
    for (int attempt = 1; attempt <= 6; ++attempt) {
        fd = ::open(full.c_str(), O_RDONLY);
        if (fd >= 0 || errno == ENOENT || errno == ENOTDIR || errno == EISDIR || attempt == 6) break;
        ::sleep(1);
    }
    if (fd < 0) {
        std::fprintf(stderr, "External entity '%s' not read: %s\n", systemId.c_str(),
                     std::strerror(errno));
        return false;
    }
    char chunk[1024];
    ssize_t got;
    while ((got = ::read(fd, chunk, sizeof chunk)) > 0) {
        if (out.size() + static_cast<size_t>(got) > kXmlMaxExternalSize) {
            std::fprintf(stderr, "External entity '%s' not read: larger than %zu bytes\n",
                         systemId.c_str(), kXmlMaxExternalSize);
            ::close(fd);
            out.clear();
            return false;
        }
        out.append(chunk, static_cast<size_t>(got));
    }
    ::close(fd);
    return got == 0;
}

}  // namespace qarvel
