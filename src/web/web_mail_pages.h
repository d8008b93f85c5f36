// The pages of one receive run of the web-mail site: what the receive driver shows through
// ReceivePages, written as HTML. IMAP folder pages add their folder bar in showMailbox.
#pragma once

#include <cstdio>

#include "receive/receive_pages.h"
#include "web/web_pages.h"

namespace qarvel {

struct CgiRequest;

class WebMailPages : public ReceivePages {
public:
    WebMailPages(const PageSession& session, const CgiRequest& request, const String& workingFolder,
                 bool list, bool deleting, bool showSize, FILE* out = stdout);

    bool serveAfterLogin(MailboxReader& reader) override;
    void showMailbox(int count, MailboxReader& reader) override;
    void showMessage(int counter, int n, MailboxReader& reader) override;

    // After the run: the driver's messages (escaped), the empty compose form when no message
    // was answered, and the trailer. Nothing after a served file.
    void finish(const std::string& messages);

    bool served() const { return served_; }
    const PageSession& session() const { return session_; }

private:
    void saveAttachments(MailboxReader& reader);
    // IMAP: the folder selector, the message count and the create field.
    void writeFolderBar(int count, MailboxReader& reader);
    String fromAddress() const;

    PageSession session_;
    const CgiRequest& request_;
    String folder_;          // where this user's attachments are saved and served from
    bool list_, deleting_, showSize_;
    FILE* out_;
    bool served_ = false, tableOpen_ = false, answered_ = false;
};

} // namespace qarvel
