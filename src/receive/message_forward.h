// Read receipts and forwarding: the messages that the receive driver sends through the
// current sender.
#pragma once

#include "base/string.h"
#include "receive/receive_options.h"

namespace qarvel {

class MailboxReader;
class SenderSession;

// Sends a read receipt for the message retrieved last to the address, through the sender,
// quietly. Returns the send result (above 0 success).
int sendReadReceipt(SenderSession& sender, MailboxReader& reader, const ReceiveOptions& options,
                    const String& to);

// Forwards the message retrieved last (raw: its header block and undecoded body) to the
// relay host. On failure prints "Could not connect to relay: ..." or "Could not send to
// relay: ..." on stderr and returns a result of 0 or below.
int forwardMessage(SenderSession& sender, MailboxReader& reader, const ReceiveOptions& options);

} // namespace qarvel
