// The IMAP steps of a retrieval run.
#include "receive/imap_run.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstring>

namespace qarvel {

namespace {

void failed(const char* text) { fprintf(stderr, "%s\n", text); }

} // namespace

bool runImapManagement(ImapReader& reader, const ReceiveOptions& options) {
    const ReceiveSettings& o = options.receive;
    const String folder = mailboxOf(options);
    if (o.getAcl) {
        StringList identifiers, rights;
        if (reader.getAcl(folder, identifiers, rights) <= 0) failed("IMAP operation failed");
        auto right = rights.begin();
        for (const String& identifier : identifiers) {
            printf("%s %s\n", identifier.c_str(), right != rights.end() ? right->c_str() : "");
            if (right != rights.end()) ++right;
        }
    }
    if (!o.setAcl.empty()) {
        char identifier[256] = "", rights[256] = "";
        sscanf(o.setAcl.c_str(), "%255[^:]:%255s", identifier, rights);
        if (reader.setAcl(folder, String(identifier), String(rights)) <= 0) failed("IMAP operation failed");
    }
    if (!o.deleteAcl.empty() && reader.deleteAcl(folder, o.deleteAcl) <= 0) failed("IMAP operation failed");
    if (!o.listRights.empty()) {
        String required;
        StringList optional;
        if (reader.listRights(folder, o.listRights, required, optional) <= 0) {
            failed("IMAP operation failed");
        } else {
            printf("%s", required.c_str());
            for (const String& group : optional) printf(" %s", group.c_str());
            printf("\n");
        }
    }
    if (o.myRights) {
        String rights;
        if (reader.myRights(folder, rights) <= 0) failed("IMAP operation failed");
        else printf("%s\n", rights.c_str());
    }
    if (!o.createMailbox.empty() && reader.createFolder(o.createMailbox) <= 0)
        failed("IMAP create folder failed");
    if (!o.deleteMailbox.empty() && reader.deleteFolder(o.deleteMailbox) <= 0)
        failed("IMAP delete folder failed");
    if (!o.folderPattern.empty()) {
        if (reader.listFolders(o.folderPattern, o.subscribedOnly) <= 0) {
            failed("IMAP operation failed");
        } else {
            String name;
            while (reader.nextFolderName(name) > 0) printf("%s\n", name.c_str());
        }
    }
    fflush(stdout);
    return o.imapCommand;
}

int selectImapFolder(ImapReader& reader, const ReceiveOptions& options) {
    const String folder = mailboxOf(options);
    int r = reader.selectFolder(folder, 0);
    if (r < 1) {
        fprintf(stderr, "Could not select folder '%s'\n", folder.c_str());
        return r < 0 ? r : -1;
    }
    return 1;
}

int orderImapMessages(ImapReader& reader, const ReceiveOptions& options, int count) {
    const ReceiveSettings& o = options.receive;
    if (o.idleSeconds > 0 && reader.idle() > 0) {
        // New mail ends the wait; the folder is then read afresh. The wait has one end however
        // many other lines come meanwhile (Dovecot says "* OK Still here" every two minutes).
        using Clock = std::chrono::steady_clock;
        const Clock::time_point end = Clock::now() + std::chrono::seconds(o.idleSeconds);
        while (reader.messageCount() == count) {
            const long long left = std::chrono::ceil<std::chrono::seconds>(end - Clock::now()).count();
            if (left <= 0 || reader.idleWait(static_cast<int>(std::min<long long>(left, INT_MAX))) <= 0) break;
        }
        reader.idleEnd();
        if (reader.idleDone() > 0 && selectImapFolder(reader, options) > 0) count = reader.messageCount();
    }
    if (o.sort.empty() && o.search.empty()) return count;
    int r = kReaderNotDone;
    if (!o.sort.empty()) {
        reader.fetchSizes(1, 0);
        r = reader.sort(o.sort, o.search);
    }
    // A server without SORT still searches: the messages chosen stay the ones asked for.
    if (r == kReaderNotDone && !o.search.empty()) r = reader.search(o.search);
    if (r > 0) return reader.messageCount();
    failed("IMAP operation failed");
    if (r == kReaderNotDone) return count;  // SORT not offered: every message, in arrival order
    // A refused SORT or SEARCH (a server that takes no 8-bit text in it, say) chooses no
    // message: none is read, and none deleted or moved as if it had been chosen.
    const char* reply = reader.lastReply();
    fprintf(stderr, "%.*s\n", static_cast<int>(strcspn(reply, "\r\n")), reply);
    return -1;
}

int listImapParts(ImapReader& reader, int n) {
    int r = reader.fetchStructure(n);
    if (r < 1) return r;
    for (const BodyPart& part : reader.bodyParts()) {
        if (part.section.empty()) continue;  // a multipart holds no data of its own
        printf("part:%s,MIME=%s,charset=%s,,encoding=%s,name=%s,size=%.0f\n", part.section.c_str(),
               part.contentType.c_str(), part.charset.c_str(), part.encoding.c_str(),
               (part.fileName.empty() ? part.name : part.fileName).c_str(), part.size);
    }
    fflush(stdout);
    return r;
}

} // namespace qarvel
