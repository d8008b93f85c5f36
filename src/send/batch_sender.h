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
    // Command-line recipients replace the file's (to first, then cc, then bcc).
    String to, cc, bcc;
    String relayHost;
    int newsMode = 0;
    long count = 1;
    int rm = 0;  // remove a sent message's attachment files

    // Where the messages go without direct delivery (to reconnect after a dropped session).
    String host, port;
    // Direct delivery: each message is routed to its first recipient's exchangers.
    int directMx = 0, dnsUdp = 0, retries = 0, level = 0, ssl = 0, tls = 0;
    String dnsServerHost, fallbackDnsServer, cert, smtpPort = "25", nntpPort = "119";

    // Attachment names from a text that came through a web request stay inside this folder
    // (cut at their last "/" or "\"); empty means names are used as written.
    String confinedFolder;
    AddressBook book;
    SendDriverOptions status;  // what the status wrapper prints
    // Ready-made messages under -strict: one without recipients is reported and never reaches
    // the server, and one that did not go out fails the run (after the others went out).
    bool strict = false;
};

// Sends the messages of text. Returns the number of messages handled: each one sent and each
// one skipped for a missing sender, recipient or body; 0 when nothing was handled, and under
// -strict 0 as well when a message of Internet messages could not go out (one without any
// recipient is then reported with its last line and never reaches the server). Missing attachment files are
// counted in *missingAttachments (when given).
int runBatch(SenderSession& sender, BatchText& text, BatchOptions& options,
             int* missingAttachments = nullptr);

} // namespace qarvel
