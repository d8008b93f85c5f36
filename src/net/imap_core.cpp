// The IMAP protocol knowledge shared by the reader and the upload session.
#include "net/imap_core.h"

#include <strings.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>

#include "base/text.h"
#include "net/host_address.h"

namespace qarvel {

unsigned long imapNumberAfter(const char* text, const char* word, unsigned long fallback) {
    const char* at = locateNoCase(text, word);
    if (!at) return fallback;
    unsigned long value = 0;
    if (sscanf(at, "%*s %lu", &value) != 1) return fallback;
    return value;
}

namespace {

using Capabilities = ImapCore::Capabilities;

// The capability words this client acts on, and the flag each one sets.
struct CapabilityWord {
    const char* word;
    bool Capabilities::*flag;
};

const CapabilityWord kCapabilityWords[] = {
    {" STARTTLS", &Capabilities::startTls},
    {" UIDPLUS", &Capabilities::uidPlus},
    {" IDLE", &Capabilities::idle},
    {" SORT", &Capabilities::sort},
    {" ACL", &Capabilities::acl},
    {" USERLOGOUT", &Capabilities::userLogout},
    {" AUTH=LOGIN", &Capabilities::authLogin},
    {" AUTH=PLAIN", &Capabilities::authPlain},
    {" AUTH=CRAM-MD5", &Capabilities::authCramMd5},
    {" AUTH=XOAUTH2", &Capabilities::authXoauth2},
    {" AUTH=OAUTHBEARER", &Capabilities::authOauthBearer},
    {" SASL-IR", &Capabilities::saslIr},
};

}  // namespace

void ImapCore::readCapabilities(const char* line) {
    for (const CapabilityWord& c : kCapabilityWords) caps_.*c.flag = locateNoCase(line, c.word) != nullptr;
    caps_.known = true;
}

ImapCore::Status ImapCore::judge(const char* line, unsigned long* tagSeen) const {
    unsigned long tag = 0;
    char status[256] = "";
    int scanned = isdigit(static_cast<unsigned char>(line[0])) ? sscanf(line, "%lu %255s", &tag, status) : 0;
    if (tagSeen) *tagSeen = tag;
    if (scanned < 2 || tag != awaited()) return Status::kOtherTag;
    return strcasecmp(status, "OK") == 0 ? Status::kOk : Status::kRefused;
}

bool ImapCore::findReferral(const char* line, Referral& out) {
    const char* at = locateNoCase(line, "[REFERRAL ");
    if (!at) return false;
    at += 10;
    while (*at == ' ') ++at;
    if (strncasecmp(at, "IMAP://", 7) != 0) return false;
    at += 7;
    // The server part ends at the path (or the end of the code); the user at ";" or "@".
    size_t length = strcspn(at, "/] \r\n");
    const char* end = at + length;
    const char* mark = static_cast<const char*>(memchr(at, '@', length));
    if (!mark) return false;
    size_t userLength = strcspn(at, ";@");
    const char* host = mark + 1;
    if (host == end || static_cast<size_t>(end - host) > 255 || userLength > 255) return false;
    out.user = String(at, userLength);
    std::string server(host, static_cast<size_t>(end - host));
    std::string port;
    if (server[0] == '[') {
        size_t close = server.find(']');
        if (close == std::string::npos) return false;
        if (close + 1 < server.size() && server[close + 1] == ':') port = server.substr(close + 2);
        server = server.substr(1, close - 1);
    } else if (size_t colon = server.rfind(':'); colon != std::string::npos) {
        port = server.substr(colon + 1);
        server.resize(colon);
    }
    if (server.empty()) return false;
    out.host = String(server);
    out.port = String(port);
    return true;
}

bool ImapCore::namesServer(const String& hostList, const String& port, const String& host,
                           const String& targetPort) {
    for (const HostPort& entry : hostListEntries(hostList.str(), port.str()))
        if (strcasecmp(entry.host.c_str(), host.c_str()) == 0 && entry.port == targetPort) return true;
    return false;
}

String ImapCore::quoted(const String& text) {
    std::string out = "\"";
    for (size_t i = 0; i < text.length(); ++i) {
        char c = text.c_str()[i];
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    out += '"';
    return String(out.data(), out.size());
}

String ImapCore::stripQuotes(const String& text) {
    const char* s = text.c_str();
    size_t length = text.length();
    if (length && s[0] == '"') { ++s; --length; }
    if (length && s[length - 1] == '"') --length;
    return String(s, length);
}

String ImapCore::quotedLogin(const String& text) { return quoted(stripQuotes(text)); }

} // namespace qarvel
