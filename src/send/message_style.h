// MessageStyle: how a sender composes a message: the content group of the settings as the run
// set it (header lines, body, parts and their encodings), and what the run adds for the
// sender (a voice message, the recipients of one transaction). Handed to the sender whole.
#pragma once

#include "send/send_settings.h"

namespace qarvel {

struct MessageStyle : ContentSettings {
    bool voice = false;                      // a voice message (VPIM)
    bool partHeader = false;                 // parts named by Content-ID get their header
    int recipientLimit = 2147483647;         // recipients per transaction (-limit:)
    String keptMessageId = String();         // the Message-ID to send (a list copy keeps its
                                             // contribution's); empty: one made with messageId

    // The body's type and charset, with their defaults when none is set.
    String bodyType() const { return contentType.empty() ? String("text/plain") : contentType; }
    String bodyCharset() const { return charset.empty() ? String("us-ascii") : charset; }
    bool mime() const { return mimeLevel != 0; }
};

} // namespace qarvel
