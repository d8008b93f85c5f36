// The IMAP steps of a retrieval run: folder management and access control, the folder
// selection, IDLE and the sorted or searched order, and the part listing. The receive driver
// calls them in IMAP mode; each takes the IMAP reader and the run's options.
#pragma once

#include "receive/imap_reader.h"
#include "receive/receive_options.h"

namespace qarvel {

// Access control, create, delete and list; returns true when the run is a management run
// (no message is then processed). Failures are reported and the run goes on.
bool runImapManagement(ImapReader& reader, const ReceiveOptions& options);

// Selects the -mbox: folder (the sizes come with each message). 1, or the failure.
int selectImapFolder(ImapReader& reader, const ReceiveOptions& options);

// IDLE while the count stays as it is, then the sort or search order. Returns the count of
// messages the loop walks, or -1 when the server refused the sort or search.
int orderImapMessages(ImapReader& reader, const ReceiveOptions& options, int count);

// One "part:" line per part of message n's body structure. The result of the fetch.
int listImapParts(ImapReader& reader, int n);

} // namespace qarvel
