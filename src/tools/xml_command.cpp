// The -xml run and the safe save of a changed document.
#include "tools/xml_command.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "base/text.h"
#include "base/temp_file.h"
#include "base/paths.h"
#include "tools/xml_document.h"

namespace qarvel {

namespace {

// Values are scanned at most this long, as the command line's other values are.
constexpr size_t kFieldWidth = 255;

String withoutQuotes(std::string_view value) {
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
        value = value.substr(1, value.size() - 2);
    return String(value);
}

// The value of "-step:value": after the first ":", up to the first blank, at most 255 bytes,
// without surrounding double quotes.
String stepValue(const char* arg) {
    const char* colon = std::strchr(arg, ':');
    std::string_view rest = colon ? std::string_view(colon + 1) : std::string_view();
    size_t end = 0;
    while (end < rest.size() && end < kFieldWidth && !std::strchr(" \t\r\n\v\f", rest[end])) ++end;
    return withoutQuotes(rest.substr(0, end));
}

// "-axis:name:attribute:value:n": each field up to the next ":" (at most 255 bytes), any of
// them may be empty; the count is decimal, empty or missing meaning 0.
struct AxisArguments {
    String name, attr, value;
    int n = 0;
};

AxisArguments axisArguments(const char* arg) {
    AxisArguments a;
    const char* p = std::strchr(arg, ':');
    p = p ? p + 1 : arg + std::strlen(arg);
    String* fields[] = {&a.name, &a.attr, &a.value};
    for (String* field : fields) {
        const char* end = std::strchr(p, ':');
        size_t length = end ? static_cast<size_t>(end - p) : std::strlen(p);
        *field = String(p, length < kFieldWidth ? length : kFieldWidth);
        p += length;
        if (*p == ':') ++p;
    }
    a.n = static_cast<int>(std::strtol(p, nullptr, 10));
    return a;
}

using Axis = XmlNode (XmlNode::*)(int, const String&, const String&, const String&) const;

const struct {
    const char* prefix;
    Axis axis;
} kAxes[] = {
    {"-child:", &XmlNode::child},
    {"-descendant:", &XmlNode::descendant},
    {"-following:", &XmlNode::followingInTree},
    {"-preceding:", &XmlNode::preceding},
    {"-fsibling:", &XmlNode::siblingForward},
    {"-psibling:", &XmlNode::siblingBackward},
    {"-ancestor:", &XmlNode::ancestor},
};

class FileSink : public XmlSink {
public:
    explicit FileSink(FILE* file) : file_(file) {}
    bool failed = false;
    char last = '\n';

protected:
    void deliver(const char* data, size_t length) override {
        if (length > 0 && std::fwrite(data, 1, length, file_) != length) failed = true;
        if (length > 0) last = data[length - 1];
    }

private:
    FILE* file_;
};

// The whole file into one string; false when it cannot be opened.
bool readWholeFile(const String& path, std::string& out) {
    FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return false;
    struct stat st {};
    if (::fstat(::fileno(file), &st) == 0 && S_ISREG(st.st_mode)) out.reserve(static_cast<size_t>(st.st_size));
    char block[1024];
    size_t got;
    while ((got = std::fread(block, 1, sizeof block, file)) > 0) out.append(block, got);
    bool ok = !std::ferror(file);
    std::fclose(file);
    return ok;
}

// The steps that "-add:" gives: its value read as XML, its top nodes appended to `to`, each
// taking the namespace of its new parent.
void addParsed(XmlNode to, const String& value) {
    XmlDocument fragment;
    fragment.parse(value.str());
    for (XmlNode node = fragment.node().firstChild(); node; node = node.next()) to.addCopy(node);
}

}  // namespace

int saveXmlDocument(const XmlNode& document, const String& path) {
    TempFile temp = TempFile::beside(path);
    if (!temp.valid()) {
        std::fprintf(stderr, "Could not write '%s': %s\n", path.c_str(), std::strerror(errno));
        return -1;
    }
    if (!temp.setModeOf(path)) temp.setMode(TempFile::newFileMode());
    FILE* file = temp.stream("wb");
    bool ok = file != nullptr;
    if (ok) {
        FileSink sink(file);
        document.write(sink, 0, kXmlWriteEscaped);
        sink.flush();
        ok = !sink.failed && temp.sync();
        ok = temp.close() && ok;
    }
    if (!ok) {
        std::fprintf(stderr, "Could not write '%s': %s\n", path.c_str(), std::strerror(errno));
        return -1;
    }
    // Only now, with the new text safely on disk, does the old file become the backup.
    String backup = path + ".BAK";
    std::remove(backup.c_str());
    std::rename(path.c_str(), backup.c_str());
    if (!temp.moveTo(path)) {
        std::fprintf(stderr, "Could not write '%s': %s\n", path.c_str(), std::strerror(errno));
        return -1;
    }
    return 1;
}

int runXmlCommand(int count, char** args) {
    String file = count > 0 ? withoutQuotes(args[0]) : String();
    std::string input;
    if (file.empty() || !readWholeFile(file, input)) {
        std::fprintf(stderr, "File '%s' not found\n", file.c_str());
        return 1;
    }
    bool allowHttp = false;
    for (int i = 1; i < count; ++i)
        if (std::strcmp(args[i], "-http") == 0) allowHttp = true;

    XmlDocument document;
    if (document.parse(std::move(input), pathDirectory(file), allowHttp) < 0) return 1;

    XmlNode current = document.node();
    bool changed = false, save = false;
    String saveName = file;
    for (int i = 1; i < count; ++i) {
        const char* arg = args[i];
        if (std::strcmp(arg, "-dbg") == 0) {
            gXmlQueryDebug = true;
        } else if (startsWith(arg, "-save:")) {
            if (current) {
                saveName = withoutQuotes(arg + 6);
                save = true;
            }
        } else if (std::strcmp(arg, "-save") == 0) {
            if (current) save = true;
        } else if (std::strcmp(arg, "-drop") == 0) {
            if (current) {
                current.remove();
                changed = true;
            }
        } else if (startsWith(arg, "-set:")) {
            if (current) {
                current.setName(stepValue(arg).view());
                changed = true;
            }
        } else if (startsWith(arg, "-add:")) {
            if (current) {
                addParsed(current, stepValue(arg));
                changed = true;
            }
        } else if (std::strcmp(arg, "-root") == 0) {
            if (current) current = current.descendant(0, "#element", String(), String());
        } else if (startsWith(arg, "-id:")) {
            if (current) current = current.findById(stepValue(arg));
        } else {
            for (const auto& row : kAxes) {
                if (!startsWith(arg, row.prefix)) continue;
                if (current) {
                    AxisArguments a = axisArguments(arg);
                    current = (current.*row.axis)(a.n, a.name, a.attr, a.value);
                }
                break;
            }
        }
    }
    gXmlQueryDebug = false;

    if (changed && save) return saveXmlDocument(document.node(), saveName) > 0 ? 0 : 1;
    if (!changed && !current) {
        std::printf("NOT FOUND\n");
        return 0;
    }
    std::fflush(stdout);
    FileSink sink(stdout);
    (changed ? document.node() : current).write(sink, 0, 0);
    sink.flush();
    // A text node has no line end of its own.
    if (sink.last != '\n') std::fputc('\n', stdout);
    std::fflush(stdout);
    return 0;
}

}  // namespace qarvel
