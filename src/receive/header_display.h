// The labelled header lines of a retrieved message, in their fixed order, as the receive
// driver prints them in plain mode.
#pragma once

#include <cstdio>
#include <string>

#include "base/string.h"
#include "receive/receive_options.h"

namespace qarvel {

class MailboxReader;

// What the display shows of one message, taken from the reader's Message record.
struct DisplayedHeaders {
    String subject, date, receiptTo, importance, sensitivity, organization;
    String from, replyTo, to, cc;
    String messageId, mimeVersion, contentType;  // with -full only
    long long size = 0;
};

// Collects the display values of the message retrieved last; size is the message's size.
DisplayedHeaders collectHeaders(MailboxReader& reader, bool full, long long size);

// The header lines, each ended by "\n": the subject alone, then Date, the optional lines,
// From, Reply-To (when it differs from the sender), To, Cc, the -full lines and Size.
std::string formatHeaderLines(const DisplayedHeaders& headers, const ReceiveLabels& labels,
                              bool full, bool showSize);

// The mailbox-format separator line "From <address> <asctime date>\n" for a sender.
std::string mailboxFromLine(const String& sender, long long secondsSince1970);

// The bare address of a header value: the text inside the last "<...>", else the value
// without blanks around it.
String senderAddress(const String& value);

} // namespace qarvel
