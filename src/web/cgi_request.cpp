// A web request turned into settings: the option query, the CGI and template keys.
#include "web/cgi_request.h"

#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "config/config_file.h"
#include "config/config_line.h"
#include "config/process.h"
#include "config/request_modes.h"
#include "config/settings.h"
#include "receive/attachment_file.h"
#include "web/web_routines.h"

namespace qarvel {

void CgiRequest::release() {
    if (!uploadPath.empty()) std::remove(uploadPath.c_str());
    if (!uploadFolder.empty()) rmdir(uploadFolder.c_str());
    *this = CgiRequest();
}

CgiRequest& cgiRequest() {
    static CgiRequest request;
    return request;
}

namespace {

// The value of a configuration line that begins with key (case ignored): the text after the
// first word and its blanks up to the line end, at most limit characters, without
// surrounding double quotes. Null when the line is not that key's.
bool keyValue(const std::string& line, const char* key, size_t limit, String& value) {
    const size_t length = std::strlen(key);
    if (line.size() < length || strncasecmp(line.c_str(), key, length) != 0) return false;
    size_t start = line.find_first_of(" \t");
    if (start == std::string::npos) return false;
    start = line.find_first_not_of(" \t", start);
    if (start == std::string::npos) return false;
    std::string text = line.substr(start, limit);
    text = text.substr(0, text.find_first_of("\r\n"));
    if (text.size() >= 2 && text.front() == '"' && text.back() == '"') text = text.substr(1, text.size() - 2);
    value = String(text);
    return true;
}

// The lines of the configuration file, read under the rule for settings files (a refused file
// gives none; the entry's early pass has said why).
template <typename Visit>
void scanConfig(const String& path, Visit visit) {
    forEachConfigLine(path, 16383, [&](const char* line) { visit(std::string(line)); });
}

// The keys read from the configuration file for every web request.
void readCgiConfiguration(Settings& s, ProcessObjects& objects, CgiRequest& request) {
    scanConfig(objects.configFile, [&](const std::string& line) {
        String v;
        if (keyValue(line, "QARVEL_PATH", 1023, v)) objects.workingFolder = v;
        else if (keyValue(line, "MIME", 1023, v)) s.content.contentType = v;
        else if (keyValue(line, "CHARSET", 1023, v)) { s.content.charset = v; s.content.charsetChosen = true; }
        else if (keyValue(line, "EXTRACT", 1023, v)) { s.receive.extractFolder = v; s.receive.extract = true; }
        else if (keyValue(line, "UPLOAD_LIMIT", 1023, v)) request.uploadLimit = std::atoll(v.c_str());
    });
}

// The page template keys, read for a request that carries -config.
void readPageTemplate(Settings& s, ProcessObjects& objects) {
    scanConfig(objects.configFile, [&](const std::string& line) {
        String v;
        if (keyValue(line, "FONT", 1023, v)) s.web.font = v;
        else if (keyValue(line, "TITLE", 1023, v)) {
            s.web.title = v;
            s.web.pageHeader = "<h2><center>" + v.str() + "</center></h2>";
        } else if (keyValue(line, "BACKGROUND", 1023, v)) s.web.background = " background=\"" + v.str() + "\"";
        else if (keyValue(line, "TEXT", 1023, v)) s.web.textColor = " text=\"" + v.str() + "\"";
        else if (keyValue(line, "BGCOLOR", 1023, v)) s.web.backgroundColor = " bgcolor=\"" + v.str() + "\"";
        else if (keyValue(line, "HEADER", 16383, v)) s.web.pageHeader = v;
        else if (keyValue(line, "TRAILER", 16383, v)) s.web.trailer = v;
    });
}

// The query as one text of blank-separated options with colons: the arguments joined, the
// three entities read, "&" and "?" as blanks and "=" as colons.
std::string queryText(int argc, char** argv) {
    std::string text;
    for (int i = 1; i < argc; ++i) {
        if (i > 1) text += ' ';
        text += argv[i];
    }
    String replaced = String(text).replaced("&amp;", "&").replaced("&lt;", "<").replaced("&gt;", ">");
    text = replaced.str();
    for (char& c : text) {
        if (c == '&' || c == '?') c = ' ';
        else if (c == '=') c = ':';
    }
    return text;
}

// A recipient list grows in a buffer of its own and becomes the setting once the query is read:
// a query of many recipients costs no more than its bytes.
void appendRecipient(std::string& list, const String& value) {
    const String v = value.replaced("\"", "");
    if (v.empty()) return;
    if (!list.empty()) list += ',';
    list += v.view();
}

enum class Kind { kValue, kSwitch };

struct Context {
    Settings& s;
    ProcessObjects& objects;
    CgiRequest& request;
    FILE* out;
    String base;     // the files folder and "/"
    std::string to = s.addresses.to.str(), cc = s.addresses.cc.str(), bcc = s.addresses.bcc.str();
    bool stop = false;
};

// A file named by a request: relative to the files folder, never leaving it.
bool requestFile(Context& c, const String& name, String& path) {
    if (!isSafeRelativeName(name)) {
        std::fputs("Attempted path indirection\n", stderr);
        c.stop = true;
        return false;
    }
    path = c.base + name;
    struct stat info;
    if (lstat(path.c_str(), &info) == 0 && !staysInside(c.objects.workingFolder, name)) {
        std::fputs("Attempted path indirection\n", stderr);
        c.stop = true;
        return false;
    }
    return true;
}

void setHosts(Settings& s, const String& host) {
    s.servers.smtpHost = s.servers.pop3Host = s.servers.imapHost = s.servers.nntpHost = host;
}

// The download announced by -get:, served after the login by the pages.
void announceDownload(Context& c, const String& name) {
    if (!isSafeRelativeName(name) || name.find('/') != String::npos) {
        std::fputs("Attempted path indirection\n", stderr);
        c.stop = true;
        return;
    }
    // The name goes into header lines: no quote may end the parameter early.
    const String shown = name.replaced('"', '_');
    c.request.getFile = name;
    const char* type = contentTypeFor(name);
    c.request.contentType = String(type) + "; name=\"" + shown.str() + "\"";
    // Only plain text and pictures are shown in the browser: an attached page or script
    // would otherwise run with the site's links (and their credentials) in reach.
    const bool showInline = std::strncmp(type, "text/plain", 10) == 0 || std::strncmp(type, "image/", 6) == 0;
    std::fprintf(c.out, "Content-Disposition: %sfilename=\"%s\"\r\n", showInline ? "inline; " : "attachment; ",
                 shown.c_str());
    std::fputs("Pragma: no-cache\r\n", c.out);
    std::fprintf(c.out, "Content-Location: /%s\r\n", urlEncode(name, false).c_str());
}

using Action = void (*)(Context&, const String&);

struct CgiOption {
    const char* name;
    Kind kind;
    Action action;
};

// Matching order: a name that begins with another option's name comes first (-tolist before
// -to, -auth and -alt before -a, -sort and -search before -s).
const CgiOption kCgiOptions[] = {
    {"-tolist", Kind::kValue, [](Context& c, const String& v) { String p; if (requestFile(c, v, p)) c.s.addresses.toListFile = p; }},
    {"-cclist", Kind::kValue, [](Context& c, const String& v) { String p; if (requestFile(c, v, p)) c.s.addresses.ccListFile = p; }},
    {"-bcclist", Kind::kValue, [](Context& c, const String& v) { String p; if (requestFile(c, v, p)) c.s.addresses.bccListFile = p; }},
    {"-to", Kind::kValue, [](Context& c, const String& v) { appendRecipient(c.to, v); }},
    {"-cc", Kind::kValue, [](Context& c, const String& v) { appendRecipient(c.cc, v); }},
    {"-bcc", Kind::kValue, [](Context& c, const String& v) { appendRecipient(c.bcc, v); }},
    {"-host", Kind::kValue, [](Context& c, const String& v) { setHosts(c.s, v); }},
    {"-sort", Kind::kValue, [](Context& c, const String& v) { c.s.receive.sort = v; }},
    {"-search", Kind::kValue, [](Context& c, const String& v) { c.s.receive.search = v; }},
    {"-s", Kind::kValue, [](Context& c, const String& v) { c.s.content.subject = v; }},
    {"-from", Kind::kValue, [](Context& c, const String& v) { c.s.addresses.from = v; }},
    {"-user", Kind::kValue, [](Context& c, const String& v) { c.s.receive.user = v; }},
    {"-pass", Kind::kValue, [](Context& c, const String& v) { c.s.receive.password = v; }},
    {"-masq", Kind::kValue, [](Context& c, const String& v) { c.s.addresses.masquerade = v; }},
    {"-mime", Kind::kValue, [](Context& c, const String& v) { c.s.content.contentType = v; }},
    {"-mbox", Kind::kValue, [](Context& c, const String& v) { c.s.receive.mailbox = v; }},
    {"-redirect", Kind::kValue, [](Context& c, const String& v) { c.s.web.redirect = v; }},
    {"-msg", Kind::kValue, [](Context& c, const String& v) { c.s.receive.messageNumber = c.s.receive.lastMessage = std::atoi(v.c_str()); }},
    {"-file", Kind::kValue, [](Context& c, const String& v) {
        String p;
        if (!requestFile(c, v, p)) return;
        c.s.content.messageFile = p;
        c.s.content.files.add(p);
    }},
    {"-auth", Kind::kSwitch, [](Context& c, const String&) { c.s.web.authenticatedCgi = true; }},
    {"-alt", Kind::kSwitch, [](Context& c, const String&) { c.s.content.alternative = true; }},
    {"-a", Kind::kValue, [](Context& c, const String& v) {
        String p;
        if (!requestFile(c, v, p)) return;
        if (queueAttachment(c.objects, p, String(), 0, c.s.content.missingAttachments)) c.s.content.attachments.add(p);
    }},
    {"-url", Kind::kValue, [](Context& c, const String& v) {
        c.s.web.url = v.replaced("\"", "");
        queueUrl(c.s, c.objects);
    }},
    {"-use_mime", Kind::kValue, [](Context& c, const String& v) { c.s.content.mimeLevel = std::atoi(v.c_str()); }},
    {"-qp", Kind::kValue, [](Context& c, const String& v) { c.s.content.quotedPrintable = std::atoi(v.c_str()); }},
    {"-map_8bit", Kind::kValue, [](Context& c, const String& v) { c.s.content.eightBit = std::atoi(v.c_str()) != 0; }},
    {"-bufsiz", Kind::kValue, [](Context& c, const String& v) { c.s.connection.bufferSize = std::atoi(v.c_str()); }},
    {"-uue", Kind::kSwitch, [](Context& c, const String&) { c.s.content.uuencode = true; }},
    {"-news", Kind::kSwitch, [](Context& c, const String&) { enterNewsMode(c.s); }},
    {"-noarchive", Kind::kSwitch, [](Context& c, const String&) { c.s.smtp.noArchive = true; }},
    {"-noatt", Kind::kSwitch, [](Context& c, const String&) { c.request.noAttachments = 1; }},
    {"-upload", Kind::kSwitch, [](Context& c, const String&) { c.s.web.upload = true; c.request.upload = 1; }},
    {"-config", Kind::kSwitch, [](Context& c, const String&) {
        // A web server passes the query as one argument, so the entry's scan never saw this
        // switch: the site's servers and ports are read here.
        if (!c.objects.configRequested) readConfigMain(c.objects.configFile, c.s, c.objects);
        c.request.configRead = 1;
        c.objects.configRequested = 1;
        readPageTemplate(c.s, c.objects);
    }},
    {"-reply", Kind::kSwitch, [](Context& c, const String&) { c.request.reply = 1; }},
    {"-forward", Kind::kSwitch, [](Context& c, const String&) { c.request.forward = 1; }},
    {"-html", Kind::kSwitch, [](Context& c, const String&) { c.s.content.html = true; }},
    {"-binary", Kind::kSwitch, [](Context& c, const String&) { c.s.content.binaryAttachments = true; }},
    {"-text", Kind::kSwitch, [](Context& c, const String&) { c.s.content.textAttachments = true; }},
    {"-quiet", Kind::kSwitch, [](Context& c, const String&) { c.s.tools.quiet = true; }},
    {"-verify", Kind::kSwitch, [](Context& c, const String&) { c.s.smtp.verifySender = true; }},
    {"-br", Kind::kSwitch, [](Context& c, const String&) { c.s.receive.brief = true; }},
    {"-unique", Kind::kSwitch, [](Context& c, const String&) { c.s.receive.uniqueNames = true; }},
    {"-extract", Kind::kSwitch, [](Context& c, const String&) { c.s.receive.extract = true; }},
    {"-purge", Kind::kSwitch, [](Context& c, const String&) { c.s.receive.purge = true; }},
    {"-pu", Kind::kSwitch, [](Context& c, const String&) { c.s.receive.purge = true; }},
    {"-rm", Kind::kSwitch, [](Context& c, const String&) { c.s.receive.remove = true; c.s.receive.keepMessages = false; }},
    {"-unrm", Kind::kSwitch, [](Context& c, const String&) { c.s.receive.remove = true; c.s.receive.keepMessages = true; }},
    {"-import", Kind::kSwitch, [](Context& c, const String&) { c.s.smtp.importBatch = true; }},
    {"-logout", Kind::kSwitch, [](Context& c, const String&) { c.request.logout = 1; }},
    {"-imap", Kind::kSwitch, [](Context& c, const String&) { c.s.receive.imap = true; c.s.reader = ReaderKind::kImap; }},
    {"-t", Kind::kSwitch, [](Context& c, const String&) { c.s.smtp.recipientsFromHeaders = true; c.s.content.raw = true; }},
    {"-post", Kind::kSwitch, [](Context& c, const String&) { c.request.post = 1; }},
    {"-get", Kind::kValue, [](Context& c, const String& v) { announceDownload(c, v); }},
};

const CgiOption* findOption(const std::string& name) {
    for (const CgiOption& option : kCgiOptions) {
        const size_t length = std::strlen(option.name);
        if (option.kind == Kind::kSwitch ? name == option.name : name.compare(0, length, option.name) == 0)
            return &option;
    }
    return nullptr;
}

} // namespace

const char* contentTypeFor(const String& name) {
    const size_t dot = name.view().rfind('.');
    if (dot == std::string_view::npos) return "application/octet-stream";
    const String extension(name, dot);
    if (extension.startsWithIgnoreCase(".htm", 4)) return "text/html";
    static const char* const kTypes[][2] = {
        {".txt", "text/plain"}, {".gif", "image/gif"}, {".jpg", "image/jpeg"}, {".jp2", "image/jp2"},
        {".png", "image/png"},  {".zip", "application/x-zip-compressed"},
    };
    for (const auto& type : kTypes)
        if (extension.equalsIgnoreCase(type[0])) return type[1];
    return "application/octet-stream";
}

String attachmentFolder(const String& workingFolder, const String& user) {
    return workingFolder + "/qarvel.tmp/~" + safeFileName(user.replaced('/', '_')).str();
}

int readCgiRequest(int argc, char** argv, Settings& s, ProcessObjects& objects, FILE* out) {
    if (argc < 2 || std::strncmp(argv[1], "-cgi", 4) != 0) return 1;
    CgiRequest& request = cgiRequest();
    request.active = 1;
    request.contentType = "text/html";
    s.web.cgi = true;
    readCgiConfiguration(s, objects, request);

    Context c{s, objects, request, out, objects.workingFolder + "/"};
    const std::string text = queryText(argc, argv);
    size_t at = text.find("-cgi") + 4;
    while (!c.stop && (at = text.find('-', at)) != std::string::npos) {
        // The name runs to a colon or a blank; only a colon brings a value, so a switch never
        // takes the option after it as its value.
        const size_t nameEnd = std::min(text.find_first_of(": ", at), text.size());
        std::string name = text.substr(at, std::min<size_t>(nameEnd - at, 255));
        at = nameEnd;
        String value;
        if (at < text.size() && text[at] == ':') {
            const size_t valueEnd = std::min(text.find(' ', at + 1), text.size());
            value = withoutLineBreaks(urlDecode(String(text.substr(at + 1, std::min<size_t>(valueEnd - at - 1, 255)))));
            at = valueEnd;
        }
        const CgiOption* option = findOption(name);
        if (!option) {
            std::fprintf(out, "NOT MATCHED: %s\n", withoutLineBreaks(String(name)).c_str());
            continue;
        }
        option->action(c, value);
    }
    s.addresses.to = String(c.to);
    s.addresses.cc = String(c.cc);
    s.addresses.bcc = String(c.bcc);
    if (c.stop) {
        std::fputs("Status: 403 FORBIDDEN\r\nContent-Type: text/html; charset=utf-8\r\n\r\n<html><head><title>Forbidden</title>"
                   "</head><body>Attempted path indirection</body></html>\n", out);
        return 0;
    }
    std::fprintf(out, "Content-Type: %s\r\n", request.contentType.c_str());
    if (!s.content.html) std::fputs("Pragma: no-cache\r\n", out);
    return 1;
}

} // namespace qarvel
