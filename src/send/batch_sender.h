// The batch sender: sends every message of a text of ready-made messages (the keyword layout
// of import mode, or Internet messages whose headers name the recipients) through the current
// sender. Each message is checked, routed, sent, counted and reported on its own, so one bad
// message never stops the ones after it.
#pragma once

#include <string>

#include "base/string.h"
#include "send/batch_file.h"
#include "send/send_driver.h"

namespace qarvel {

class SenderSession;

struct BatchOptions {
    BatchLayout layout = BatchLayout::kKeywords;
    // The run's send options: the settings groups (command-line recipients replace the
    // file's, to first, then cc, then bcc), and what the status wrapper prints.
    SendDriverOptions send;
    // The port of the SMTP (or QMTP) server the run's session went to, for a message that
    // lost it; with direct delivery the exchangers take the SMTP (or NNTP) port.
    String port;

    // Attachment names from a text that came through a web request stay inside this folder
    // (cut at their last "/" or "\"); empty means names are used as written.
    String confinedFolder;
    AddressBook book;
};

// Sends the messages of text. Returns the number of messages handled: each one sent and each
// one skipped for a missing sender, recipient or body; 0 when nothing was handled, and under
// -strict 0 as well when a message of Internet messages could not go out (one without any
// recipient is then reported with its last line and never reaches the server). Missing attachment files are
// counted in *missingAttachments (when given).
int runBatch(SenderSession& sender, BatchText& text, BatchOptions& options,
             int* missingAttachments = nullptr);

} // namespace qarvel
