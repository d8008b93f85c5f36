// ReceiveOptions: what one retrieval run needs to know, gathered from the settings record and
// the label table by runReceiveDriver. The driver reads only this record, so a run can be
// driven (and tested) with any reader without the process-wide objects.
#pragma once

#include "base/display_labels.h"
#include "base/string.h"

namespace qarvel {

class ReceivePages;

// The highest message number when none is set.
constexpr int kNoMessageLimit = 2147483647;

// List-server mode: a run whose messages are requests to a mailing list and contributions to
// it. The mode is on when a subscriber file is named.
struct ListServerOptions {
    String subscriberFile;   // the subscribers, one address a line
    String listAddress;      // -listserv:, else the user id, "@" and the mailbox host
    String fetchFolder = "fetch";  // -fetch: the folder of fetchable files, and its word
    String owner;            // -owner: the reply address under -priv, the envelope sender of copies
    String header;           // -hdr: the user's header lines, before the list's own
    int priv = 0;
    int manual = 0;          // subscriptions and bounces are left to a person
    int dropAttachments = 0; // -noatt: a contribution's attachments are named, not sent
    int verbose = 0;
    // Subscribers per SMTP transaction of a distribution (-limit:, else 100): the unit in
    // which progress is recorded.
    int recipientsPerTransaction = 100;
    // The copies go to the file sender (-mf), which its host names without a port.
    bool fileSender = false;
};

struct ReceiveOptions {
    // Server and credentials. With the file reader the host is the message file's path.
    String host, port;
    String user, password;
    String certificate;
    int level = 0;
    int preauth = 0;
    int retries = 0;
    int ssl = 0, tls = 0;  // the certificate name is passed to open only with one of these
    int imap = 0;       // IMAP mode: the folder, flag and ordering steps (ImapReader)
    int cgi = 0;        // web mode; also keeps the password prompt away
    String logFile;     // a log file keeps the password prompt away too

    // The range of messages: from messageNumber while n <= lastMessage.
    int messageNumber = 1;
    int lastMessage = kNoMessageLimit;

    // Filters: -pat:/-nopat: on the subject, -spat:/-nospat: on the sender.
    String subjectPattern;
    int subjectNegate = 0;
    String senderPattern;
    int senderNegate = 0;

    // Output and reader switches.
    int brief = 0;         // -br: headers only (unless relaying)
    int full = 0;          // -full
    int raw = 0;           // -raw, -t, -relay:
    int quiet = 0;         // -q
    int showSize = 0;      // -size
    int kbs = 0;           // -kbs
    int exitWithCount = 0; // -xit
    int decodeHeaders = 1; // -dh / -nodh
    int umbox = 0;         // -umbox
    int html = 0;
    String separator;      // -sep:

    // Extraction.
    int extract = 0;
    String extractFolder;
    int textMode = 0;      // -text
    int unique = 0;        // -unique

    // Per-message actions.
    String execCommand;    // -exec:
    String filter;         // -filter:: retrieve only
    String harvestFile;    // -harvest:
    int receiptMode = 0;   // 1 -mdn (to Disposition-Notification-To), 2 -receipt (always)
    String relay;          // -relay:
    int remove = 0;        // -rm / -unrm
    int undelete = 0;      // -unrm

    // The sender's side of receipts and forwarding.
    String smtpPort = "25";
    String smtpHost;       // where read receipts go
    String from;           // the receipt's sender address

    String workingFolder = "/tmp";  // where -exec: temporary files are made

    ListServerOptions list;

    Labels labels;  // the words of the message display

    // IMAP: the folder, its management, access control, order and single parts.
    struct Imap {
        String mailbox = "INBOX";      // -mbox:
        String listPattern;            // -list:, -lsub:, -list, -lsub
        int listSubscribed = 0;
        String createMailbox, deleteMailbox;
        int getAcl = 0, myRights = 0;
        String setAcl, deleteAcl, listRights;  // setAcl: "identifier:rights"
        int command = 0;               // a management run: no message is processed
        int idle = 0;                  // seconds to wait with IDLE for new mail
        String sort, search;
        String partName;               // -part: section, offset and length
        unsigned long partStart = 0, partLength = 0;
        String encoding;               // -encoding: of the part
        String moveTo, copyTo;
        int bodyStructure = 0;         // -bs: list the parts instead of fetching
        int purge = 0;                 // -purge: expunge the deleted messages at the end
    } imapOptions;

    // A web request: the pages that replace the plain display (null on a console).
    ReceivePages* pages = nullptr;
};

} // namespace qarvel
