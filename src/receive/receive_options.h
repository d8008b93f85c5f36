// ReceiveOptions: what one retrieval run reads: the settings groups it takes whole, and the
// few values the hand-over derives from the settings and the process objects (the connection
// group goes to the reader itself). The driver reads only this record, so a run can be driven
// (and tested) with any reader without the process-wide objects.
#pragma once

#include "base/display_labels.h"
#include "base/string.h"
#include "base/tool_settings.h"
#include "net/server_settings.h"
#include "receive/receive_settings.h"
#include "send/send_settings.h"

namespace qarvel {

class ReceivePages;

struct ReceiveOptions {
    // The groups, as the settings hold them.
    ReceiveSettings receive;
    ServerSettings servers;      // the SMTP host of replies and receipts, the -relay: host
    AddressSettings addresses;   // the sender of receipts; the list's files and addresses
    ContentSettings content;     // -raw, -html, -text, -encoding:, -hdr:
    SmtpSettings smtp;           // -limit: subscribers per transaction of a list copy
    ToolSettings tools;          // -v, -q, -log:

    // Derived by the hand-over. The mailbox's host and port; with the file reader the host is
    // the message file's path (or folder).
    String host{}, port{};
    // The SMTP server's port for replies, receipts and list copies: not the mailbox's.
    String smtpPort{};
    bool cgi = false;            // web mode; also keeps the password prompt away
    bool fileSender = false;     // list copies go to the file sender, which its host names
    String workingFolder = "/tmp";  // where -exec: temporary files are made
    Labels labels{};               // the words of the message display

    // A web request: the pages that replace the plain display (null on a console).
    ReceivePages* pages = nullptr;
};

// The IMAP folder of the run: -mbox:, else INBOX.
inline String mailboxOf(const ReceiveOptions& o) {
    return o.receive.mailbox.empty() ? String("INBOX") : o.receive.mailbox;
}

// List-server mode: a run that names a subscriber file (-tolist:).
inline bool listRun(const ReceiveOptions& o) { return !o.addresses.toListFile.empty(); }

} // namespace qarvel
