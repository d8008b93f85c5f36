// The settings groups of the sending side: the addresses, the message content and the SMTP
// (and news) behaviour. Settings holds them; the send driver, the batch sender and the
// senders' message style take them whole.
#pragma once

#include "base/string.h"
#include "base/string_list.h"

namespace qarvel {

// The sender of a run, as the options and keys choose it; the entry maps the choice to its
// protocol object.
enum class SenderKind { kSmtp, kQmtp, kNews, kImapUpload, kFile };

// Senders, recipients and the list files and aliases they come from (group `addresses`).
struct AddressSettings {
    String from, to, cc, bcc, replyTo, contact, masquerade, domain;
    String toListFile, ccListFile, bccListFile, aliasFile;
    // The list files keep the lines that begin with # (-hash).
    bool keepHashLines = false;
    StringList aliasNames, aliasValues;
    // The MAIL FROM of every ready-made message (-t), in place of its From or Reply-To line:
    // the system's sendmail sets it from -f, FROM or the user.
    String envelopeSender;
    // The mailing list's own address and its owner.
    String listAddress, listOwner;
};

// The message: its text, headers, attachments and how they are encoded (group `content`).
struct ContentSettings {
    String subject, messageText, contentType, charset, encoding;
    // A charset was given (-charset:, CHARSET): every text goes out under it. Without one,
    // UTF-8 text beyond ASCII is labelled utf-8 and other text keeps the default charset.
    bool charsetChosen = false;
    // MIME level (0: no MIME headers) and quoted-printable mode (0: off).
    int mimeLevel = 1, quotedPrintable = 1;
    // 1 high, 2 low, 3 normal; 0 no priority header.
    int priority = 0;
    // The Date header: 0 local time, 1 GMT, 2 UTC.
    int universalTime = 0;
    // How backslashes of -msg: and HDR are read: 0 all escapes, 1 control escapes only,
    // 2 taken as written.
    int escapeMode = 0;
    // Attachments that could not be found or downloaded.
    int missingAttachments = 0;
    bool noMessageText = false, eightBit = false, uuencode = false, binaryAttachments = false;
    bool textAttachments = false, inlineAttachments = false, html = false, alternative = false;
    bool messageId = false, encodeHeaders = true, hideRecipients = false;
    bool returnReceipt = false, dispositionNotification = false;
    // The message is sent (or read) as it is, headers included.
    bool raw = false;
    String alternativeText, alternativeFile, organization, date, sensitivity;
    // Extra header lines, and text put before the message text.
    String extraHeaders, leadingText;
    String messageFile;
    StringList attachments, files;
};

// Sending and posting (group `smtp`).
struct SmtpSettings {
    String etrnDomain;
    int recipientLimit = 0;
    int sendCount = 1;
    bool esmtp = false, qmtp = false, verifySender = false, probe = false;
    bool recipientsFromHeaders = false, importBatch = false, news = false, noArchive = false;
    // Go on past a missing attachment or a refused recipient (-ns).
    bool goOnPastErrors = false;
};

} // namespace qarvel
