// The command line of the system's sendmail: the program called as "sendmail" (or given
// -sendmail first) takes the options that cron, mail, git send-email and the other programs
// that mail through /usr/sbin/sendmail pass, and reads one message from standard input.
#pragma once

#include <string>
#include <vector>

#include "base/string.h"

namespace qarvel {

struct SendmailRequest {
    std::vector<String> recipients;  // the arguments after the options, split at commas
    bool fromHeaders = false;        // -t: To, Cc and Bcc of the message name recipients too
    bool dotIsText = false;          // -i, -oi: a line of a single "." does not end the input
    String envelopeSender;           // -f, -r
    String fullName;                 // -F: the name of the From line the message gains
    bool trace = false;              // -v: every command and reply
    bool printQueue = false;         // -bp: there is no queue, so it is empty
    bool eightBit = false;           // -B8BITMIME: the body may hold 8-bit text
};

// Reads the options the way getopt does ("-ti" is -t -i, "-fADDR" and "-f ADDR" are the same),
// up to "--" or the first argument that is no option; the rest are recipients. Returns "" or
// the complaint for standard error about the first option that is not taken (a value with a
// line break among them).
std::string parseSendmailArguments(const std::vector<std::string>& arguments, SendmailRequest& request);

} // namespace qarvel
