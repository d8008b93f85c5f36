// MessageStyle: how a sender composes a message (its header lines, its body and parts, how
// many recipients go in one transaction), filled once from the run's settings and handed to
// the sender whole.
#pragma once

#include "base/string.h"

namespace qarvel {

struct MessageStyle {
    // Header lines.
    String organization, sensitivity, date;  // date empty: the moment of sending
    String extraHeader;                      // user header lines, in place of X-Mailer
    int priority = 0;                        // 0 none, 1 high, 2 low
    int zoneStyle = 0;                       // see formatDateHeader
    bool messageId = false;                  // a Message-ID line
    bool returnReceipt = false;              // Return-Receipt-To, and DSN on success
    bool dispositionNotification = false;    // Disposition-Notification-To
    bool hideRecipients = false;             // only the last To address is shown
    bool encodeHeaders = true;               // text beyond ASCII as encoded words

    // The body and its parts.
    String contentType = "text/plain";
    String charset = "us-ascii";
    // A charset was chosen: every text goes out under it. Without one, UTF-8 text beyond
    // ASCII is labelled utf-8 and other text keeps the charset above.
    bool charsetChosen = false;
    bool mime = true;                        // MIME headers at all
    int bodyEncoding = 1;                    // 0 none, 1 quoted-printable, 2 base64
    bool eightBit = false;                   // unencoded text is 8bit, not 7bit
    bool uuencode = false;
    bool html = false;
    bool alternative = false;                // HTML with a plain-text alternative
    String alternativeText;                  // empty: made from the HTML
    bool inlineParts = false;                // attachments shown inline
    bool binary = false, text = false;       // every attachment taken as binary / as text
    bool voice = false;                      // a voice message
    bool partHeader = false;                 // parts named by Content-ID get their header
    // Raw: the body is ready-made message data, sent as it is after the envelope.
    bool raw = false;

    // Delivery.
    int recipientLimit = 2147483647;         // recipients per transaction
};

} // namespace qarvel
