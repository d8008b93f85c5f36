// The label table: the fixed words of the web-mail pages, the message display and the
// verbose send report. Each has an English default; a site replaces any of the configurable
// ones with "STRING_" lines in its configuration file.
#pragma once

#include <string>
#include <vector>

#include "base/string.h"
#include "receive/receive_options.h"
#include "send/send_driver.h"

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

// The process-wide table. The labels keep their values for the whole process, so a label
// replaced in one run of a repeated command stays replaced in the next.
const Labels& labels();

// Puts every label back to its default (done once at process start).
void resetLabels();

// When the configuration line begins with a label key (any case), the rest of its first
// word is skipped and up to 255 characters after the blanks, up to CR or LF, become the
// label exactly as written. Returns 1 when the line was a label line, else 0.
int replaceLabel(const char* line);

// The label keys (STRING_...), in table order.
std::vector<std::string> labelKeyNames();

// The labels of the message display and of the verbose send report.
void copyReceiveLabels(ReceiveLabels& labels);
void copySendLabels(SendReportLabels& labels);

} // namespace qarvel
