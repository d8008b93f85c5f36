// Labels: the fixed words of the web-mail pages, the message display and the verbose send
// report, each with its English default. One record for every page and report that shows them.
#pragma once

#include "base/string.h"

namespace qarvel {

struct Labels {
    String size = "Size";
    String folder = "<== Folder";
    String moveTo = "Move to ==>";
    String deleteButton = "Delete";
    String undeleteButton = "Undelete";
    String forward = "Forward...";
    String reply = "Reply...";
    String newsgroup = "Newsgroup?";
    String trace = "Trace?";
    String send = "Send";
    String view = "View...";
    String create = "Create ==>";
    String compose = "Compose...";
    String purge = "Purge";
    String logout = "Logout";
    String date = "Date";
    String from = "From";
    String replyTo = "Reply-To";
    String bcc = "Bcc";
    String cc = "Cc";
    String to = "To";
    String importance = "Importance";
    String sensitivity = "Sensitivity";
    String organization = "Organization";
    String receiptTo = "Disposition-Notification-To";
    String subject = "Subject";
    String wrote = "Wrote:";
    String thereAre = "There are";
    String messagesWaiting = "messages waiting";
    String deletedMessage = "Deleted message #";
    String undeletedMessage = "Undeleted message #";
    String inlineAttachment = "Inline attachment?";
    // Header names the pages use; not replaceable.
    String contentType = "Content-Type";
    String mimeVersion = "Mime-Version";
    String messageId = "Message-Id";
};

} // namespace qarvel
