// The receive driver: one retrieval run over the current mailbox reader — credentials,
// connect and login, the message loop with its filters, display, extraction, commands,
// receipts, forwarding and deletion, then QUIT and the statistics.
#pragma once

#include "receive/receive_options.h"

namespace qarvel {

class MailboxReader;
class SenderSession;

// Exit codes of a run (under -xit the message count is returned instead).
constexpr int kReceiveSuccess = 0;
constexpr int kReceiveFailed = 1;

// One run with the given options over a reader; the sender (may be null) carries read
// receipts and forwarded messages. Every path that opened the reader closes it (QUIT).
int runReceive(const ReceiveOptions& options, MailboxReader& reader, SenderSession* sender);

} // namespace qarvel
