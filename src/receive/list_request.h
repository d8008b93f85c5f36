// How the list server reads a message that reached the list: what its subject asks for, the
// file a fetch request names, and the failed recipient a delivery report names. Everything
// here reads text that strangers wrote; nothing here touches a file or the network.
#pragma once

#include <string_view>

#include "base/string.h"

namespace qarvel {

enum class ListRequest {
    kHelp,          // no answer at all
    kSubscribe,
    kUnsubscribe,
    kBounce,        // a delivery report
    kFetch,         // one file of the fetch folder
    kIndex,         // the list of the fetch folder's files
    kDistribution,  // a contribution for every subscriber
};

// Judges a message by its subject (compared at its start, case ignored) and its sender.
// fetchWord is the list's own fetch word (besides "fetch" and "get"); with manual set,
// subscription requests and bounces are treated as contributions.
ListRequest judgeListRequest(const String& subject, const String& sender, bool manual,
                             const String& fetchWord);

// The file a fetch request names: the subject's second word (at most 1023 characters), or
// empty when there is none.
String fetchedName(const String& subject);

// True when a requested name could leave the fetch folder: it climbs (".."), uses a
// backslash, or starts at the root.
bool leavesFolder(const String& name);

// Finds, in the text of a delivery report, the recipient of a failed delivery: a line
// "Action:" that holds "failed" and the address after "RFC822;" on a "Final-Recipient:" line.
// Returns false when the report names no failed recipient.
bool failedRecipient(std::string_view report, String& address);

// True for an address fit for the subscriber file: one "@" with text on both sides, at most 254
// characters, and no control byte, blank, comma, quote, bracket or other character that would
// make it more (or other) than one plain address.
bool cleanAddress(std::string_view address);

// The one address a request comes from: the From field must be a single mailbox by the
// address grammar of RFC 5322 ("Ann <ann@x.org>", "\"Ann, A.\" <ann@x.org>", "ann@x.org" or
// "ann@x.org (Ann)", comments and blanks around) whose address is clean. Returns false for
// none, for several (whatever separates them: "<eve@x> <victim@y>" is two), for text after
// the angle address, a display name with specials outside quotes, and an address that is not
// clean.
bool requestAddress(const String& from, String& address);

// True for a delivery report the list may act on: a multipart/report of report-type
// delivery-status (RFC 3464; contentType is the message's own Content-Type), or a message from
// the mailer daemon (from is the message's own From).
bool isDeliveryReport(const String& contentType, const String& from);

// The index line of one file: the name, a blank and full stops to 50 characters, the size in
// KiB as "%8ld", "K   " and the modification time in the C library's date form.
String indexLine(const String& name, long long bytes, long long modifiedSince1970);

} // namespace qarvel
