// The IMAP steps of a retrieval run.
#include "receive/imap_run.h"

#include <cstdio>

namespace qarvel {

namespace {

void failed(const char* text) { fprintf(stderr, "%s\n", text); }

} // namespace

bool runImapManagement(ImapReader& reader, const ReceiveOptions& options) {
    const ReceiveOptions::Imap& o = options.imapOptions;
    const String& folder = o.mailbox;
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
    if (!o.listPattern.empty()) {
        if (reader.listFolders(o.listPattern, o.listSubscribed) <= 0) {
            failed("IMAP operation failed");
        } else {
            String name;
            while (reader.nextFolderName(name) > 0) printf("%s\n", name.c_str());
        }
    }
    fflush(stdout);
    return o.command != 0;
}

int selectImapFolder(ImapReader& reader, const ReceiveOptions& options) {
    const String& folder = options.imapOptions.mailbox.empty() ? String("INBOX") : options.imapOptions.mailbox;
    int r = reader.selectFolder(folder, 0);
    if (r < 1) {
        fprintf(stderr, "Could not select folder '%s'\n", folder.c_str());
        return r < 0 ? r : -1;
    }
    return 1;
}

int orderImapMessages(ImapReader& reader, const ReceiveOptions& options, int count) {
    const ReceiveOptions::Imap& o = options.imapOptions;
    if (o.idle > 0 && reader.idle() > 0) {
        // New mail ends the wait; the folder is then read afresh.
        while (reader.messageCount() == count) {
            int left = reader.idleWait(o.idle);
            if (left <= 0) break;
        }
        reader.idleEnd();
        if (reader.idleDone() > 0 && selectImapFolder(reader, options) > 0) count = reader.messageCount();
    }
    if (!o.sort.empty()) {
        reader.fetchSizes(1, 0);
        if (reader.sort(o.sort, o.search) > 0) return reader.messageCount();
        failed("IMAP operation failed");
    } else if (!o.search.empty()) {
        if (reader.search(o.search) > 0) return reader.messageCount();
        failed("IMAP operation failed");
    }
    return count;
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
