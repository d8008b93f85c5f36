// Feeds arbitrary server output to the IMAP reader: greeting, login, folder selection with the
// sizes, a listing, a sort, every message fetched with extraction, a body structure, a single
// part, the access-control replies and the logout. The first byte splits the input: the rest
// goes to the body-structure parser alone when it is odd, and to the upload session (connect,
// login, one APPEND) when it is "$".
#include <cstdint>
#include <string>
#include <vector>

#include "../support/scripted_socket.h"
#include "receive/imap_reader.h"
#include "send/imap_upload_session.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 0 && (data[0] & 1)) {
        std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
        std::vector<qarvel::BodyPart> parts;
        qarvel::parseBodyStructure(text.c_str(), parts);
        return 0;
    }
    if (size > 0 && data[0] == '$') {
        qarvel::ScriptedSocket<qarvel::ImapUploadSession> upload(
            std::string(reinterpret_cast<const char*>(data) + 1, size - 1));
        if (upload.connectSession("127.0.0.1", "143") > 0 && upload.authenticate("user", "password") > 0)
            upload.sendMessage("a@example.test", "", "b@example.test", "s", "body\r\n", 6, "", "", "", "");
        upload.disconnect();
        return 0;
    }
    qarvel::ScriptedSocket<qarvel::ImapReader> imap(std::string(reinterpret_cast<const char*>(data), size));
    imap.setExtract(1);
    imap.setWorkingFolder("/tmp");
    std::string sink;
    imap.setBodySink([&sink](const char* d, size_t n) {
        if (sink.size() < (1u << 20)) sink.append(d, n);
        return true;
    });
    if (imap.open("127.0.0.1", "143", nullptr, 0) >= 0 && imap.login("user", "password") > 0 &&
        imap.selectFolder("INBOX", 0) > 0) {
        imap.fetchSizes(1, 0);
        imap.listFolders("*", 0);
        qarvel::String name;
        while (imap.nextFolderName(name) > 0) {
        }
        int count = imap.messageCount();
        // The next FETCH goes ahead of each answer; the commands after it read what is owed.
        imap.setRetrievalPlan([count](int n) { return n < count && n < 20 ? n + 1 : 0; });
        for (int n = 1; n <= count && n <= 20 && imap.connected(); ++n) {
            if (imap.retrieve(n) < 1) break;
            while (imap.nextPart()) {
            }
            imap.fetchStructure(n);
            imap.retrievePart(n, "1", "base64", 0, 0);
            imap.deleteMessage(n);
        }
        qarvel::StringList ids, rights;
        imap.getAcl("INBOX", ids, rights);
        qarvel::String mine;
        imap.myRights("INBOX", mine);
        imap.sort("ARRIVAL", "ALL");
    }
    imap.close();
    return 0;
}
