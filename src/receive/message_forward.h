// Read receipts and forwarding: the messages that the receive driver sends through the
// current sender.
#pragma once

#include <cstddef>
#include <string>

#include "base/string.h"
#include "receive/receive_options.h"

namespace qarvel {

class MailboxReader;
class SenderSession;

// Sends a read receipt for the message retrieved last to the address, through the sender,
// quietly. Returns the send result (above 0 success).
int sendReadReceipt(SenderSession& sender, MailboxReader& reader, const ReceiveOptions& options,
                    const String& to);

// Appends the text with every line end written as CR LF: a bare CR and a bare LF each become
// CR LF, so that no line of a forwarded body can end where the mail server does not see a
// line end (a bare CR before "." would otherwise hide an end of data from this side).
void appendWithCrLf(std::string& out, const char* data, size_t length);

// Forwards the message retrieved last (raw: its header block and undecoded body) to the
// relay host. On failure prints "Could not connect to relay: ..." or "Could not send to
// relay: ..." on stderr and returns a result of 0 or below.
int forwardMessage(SenderSession& sender, MailboxReader& reader, const ReceiveOptions& options);

} // namespace qarvel
