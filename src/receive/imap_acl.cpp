// The IMAP4 reader's access-control commands and their replies.
#include "receive/imap_reader.h"

#include <strings.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace qarvel {

namespace {

// Tokens kept of one access-control reply line.
constexpr size_t kAclTokensMax = 10000;

// ACL replies: quoted tokens with backslash escapes, other tokens up to white space.
std::vector<std::string> aclTokens(const char* line) {
    std::vector<std::string> tokens;
    const char* p = line;
    while (*p && *p != '\r' && *p != '\n' && tokens.size() < kAclTokensMax) {
        while (*p && *p != '\r' && *p != '\n' && isspace(static_cast<unsigned char>(*p))) ++p;
        if (!*p || *p == '\r' || *p == '\n') break;
        std::string token;
        if (*p == '"') {
            ++p;
            while (*p && *p != '"' && *p != '\r' && *p != '\n') {
                if (*p == '\\' && p[1] && p[1] != '\r' && p[1] != '\n') ++p;
                token += *p++;
            }
            if (*p == '"') ++p;
        } else {
            while (*p && !isspace(static_cast<unsigned char>(*p))) token += *p++;
        }
        tokens.push_back(token);
    }
    return tokens;
}

} // namespace

// ---------------------------------------------------------------- access control

int ImapReader::aclCommand() {
    aclLines_.clear();
    for (;;) {
        int r = readResponse();
        if (r < 1) {
            printf("IMAP OK() didn't complete\n");
            return r;
        }
        if (reply_[0] != '*') break;
        aclLines_.push_back(aclTokens(reply_.data() + 1));
    }
    return judgeTagged();
}

int ImapReader::setAcl(const String& folder, const String& identifier, const String& rights) {
    if (!connected()) return kReaderFailed;
    if (!core_.capabilities().acl) return kReaderNotDone;
    return command("%lu SETACL %s %s %s\r\n", nextTag(), ImapCore::quoted(folder).c_str(),
                   ImapCore::quoted(identifier).c_str(), ImapCore::quoted(rights).c_str());
}

int ImapReader::deleteAcl(const String& folder, const String& identifier) {
    if (!connected()) return kReaderFailed;
    if (!core_.capabilities().acl) return kReaderNotDone;
    return command("%lu DELETEACL %s %s\r\n", nextTag(), ImapCore::quoted(folder).c_str(),
                   ImapCore::quoted(identifier).c_str());
}

int ImapReader::getAcl(const String& folder, StringList& identifiers, StringList& rights) {
    if (!connected()) return kReaderFailed;
    if (!core_.capabilities().acl) return kReaderNotDone;
    int r = sendCommand("%lu GETACL %s\r\n", nextTag(), ImapCore::quoted(folder).c_str());
    if (r < 1) return r;
    r = aclCommand();
    for (const auto& tokens : aclLines_) {
        // ACL folder (identifier rights)...
        if (tokens.size() < 2 || strcasecmp(tokens[0].c_str(), "ACL") != 0) continue;
        for (size_t i = 2; i + 1 < tokens.size(); i += 2) {
            identifiers.add(String(tokens[i]));
            rights.add(String(tokens[i + 1]));
        }
    }
    return r;
}

int ImapReader::listRights(const String& folder, const String& identifier, String& required,
                           StringList& optional) {
    if (!connected()) return kReaderFailed;
    if (!core_.capabilities().acl) return kReaderNotDone;
    int r = sendCommand("%lu LISTRIGHTS %s %s\r\n", nextTag(), ImapCore::quoted(folder).c_str(),
                        ImapCore::quoted(identifier).c_str());
    if (r < 1) return r;
    r = aclCommand();
    for (const auto& tokens : aclLines_) {
        if (tokens.size() < 4 || strcasecmp(tokens[0].c_str(), "LISTRIGHTS") != 0) continue;
        required = String(tokens[3]);
        for (size_t i = 4; i < tokens.size(); ++i) optional.add(String(tokens[i]));
    }
    return r;
}

int ImapReader::myRights(const String& folder, String& rights) {
    if (!connected()) return kReaderFailed;
    if (!core_.capabilities().acl) return kReaderNotDone;
    int r = sendCommand("%lu MYRIGHTS %s\r\n", nextTag(), ImapCore::quoted(folder).c_str());
    if (r < 1) return r;
    r = aclCommand();
    for (const auto& tokens : aclLines_)
        if (tokens.size() >= 3 && strcasecmp(tokens[0].c_str(), "MYRIGHTS") == 0) rights = String(tokens[2]);
    return r;
}

} // namespace qarvel
