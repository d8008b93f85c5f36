// The web request readers over arbitrary input: the first line is the option query, the rest
// is read once as a url-encoded body and once as a multipart body. Whatever comes in, no
// setting bound for a header or command may hold a line break, and no upload may stay behind
// after the request is released.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

#include "config/process.h"
#include "config/settings.h"
#include "web/cgi_request.h"
#include "web/form_reader.h"

using namespace qarvel;

namespace {

const std::string& uploadFolder() {
    static std::string folder = [] {
        char name[] = "/tmp/qarvel-cgi-fuzz-XXXXXX";
        return std::string(mkdtemp(name) ? name : "/tmp");
    }();
    return folder;
}

bool hasLineBreak(const String& text) { return text.find('\r') != String::npos || text.find('\n') != String::npos; }

void checkHeaders(const Settings& s) {
    const Settings::Addresses& a = s.addresses;
    for (const String* field : {&a.to, &a.cc, &a.bcc, &a.from, &a.replyTo, &s.content.subject, &s.receive.user,
                                &s.receive.password, &s.servers.smtpHost, &s.servers.pop3Host, &s.receive.mailbox})
        if (hasLineBreak(*field)) std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    const size_t lineEnd = input.find('\n');
    std::string query = "-cgi:" + input.substr(0, lineEnd);
    const std::string body = lineEnd == std::string::npos ? std::string() : input.substr(lineEnd + 1);
    // An argument is a C string: it ends at the first NUL. A URL to attach would be fetched
    // over the network, which a fuzz run must not do.
    query = query.c_str();
    for (size_t at = 0; (at = query.find("-url", at)) != std::string::npos;) query[++at] = 'x';

    Settings s;
    resetSettings(s, true);
    ProcessObjects objects;
    objects.workingFolder = uploadFolder();
    objects.configFile = "/nonexistent/qarvel.txt";
    FILE* out = std::fopen("/dev/null", "w");
    char* argv[] = {const_cast<char*>("qarvel"), query.data(), nullptr};
    cgiRequest().release();
    readCgiRequest(2, argv, s, objects, out);
    checkHeaders(s);

    applyUrlEncoded(String(body), s);
    checkHeaders(s);

    FILE* in = fmemopen(const_cast<char*>(body.data()), body.size() + 1, "rb");
    if (in) {
        cgiRequest().upload = 1;
        if (readMultipart(in, static_cast<long long>(body.size()), uploadFolder(), cgiRequest()) == kFormOk)
            readForm(in, s, objects, cgiRequest(), out);
        std::fclose(in);
        checkHeaders(s);
    }
    const String upload = cgiRequest().uploadPath;
    cgiRequest().release();
    if (!upload.empty() && access(upload.c_str(), F_OK) == 0) std::abort();
    std::fclose(out);
    return 0;
}
