// The send driver: checks, body gathering, server choice, connect with retries, login,
// the message copies with their status lines, ETRN.
#pragma once

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "base/display_labels.h"
#include "base/string.h"

namespace qarvel {

class SenderSession;
class BatchText;

class SmtpSession;
class QmtpSession;
class NntpSession;

// Hooks for the paths that other parts supply: direct MX delivery (route the first
// recipient's domain; returns the ordered exchanger hosts, or fills error and returns empty),
// and the batch sender of ready-made messages.
struct SendDriverHooks {
    // Returns hosts with their preferences in order; an empty result stops the run after
    // the hook has printed its message.
    std::function<int(const String& domain, std::vector<std::pair<String, int>>& exchangers)> routeDomain;
    std::function<int(SenderSession& sender, BatchText& text)> sendBatch;
    // Writes the head of the CGI result page (after the driver ended the response headers).
    std::function<void()> writeCgiHead;
};

// What one sending run needs from the settings record (the entry fills it from settings()).
struct SendDriverOptions {
    String smtpHost = "localhost", nntpHost = "localhost", dnsServerHost;
    // The chosen sender as far as the driver must know it: the port of its server (none for
    // the file sender, which its host names), and whether it is the SMTP session (the one
    // that asks for ETRN) or the QMTP one (which has no ETRN and sends the message instead).
    String port = "25";
    bool smtpSender = true, qmtpSender = false;
    String from, replyTo, to, cc, bcc, subject, messageText, etrnDomain, messageFile, url;
    String user, password, cert, header, toListFile, ccListFile, bccListFile;
    std::vector<String> files;  // the -file: names
    int verbose = 0, quiet = 0, noStop = 0, missingAttachments = 0, cgiMode = 0, importMode = 0;
    int recipientsFromHeaders = 0, verify = 0, noMessageBody = 0, uuencode = 0, directMx = 0;
    int retries = 0, ssl = 0, tls = 0, level = 0, html = 0, kbs = 0, rm = 0, rmList = 0;
    int timeoutSeconds = 300;
    // News mode: the recipients are newsgroups, the server is the NNTP host and port.
    int newsMode = 0, noArchive = 0;
    long messageCount = 1;
    Labels labels;  // To, Cc, Bcc, From and Subject name the lines of the verbose report
    SendDriverHooks hooks;
};

// The status wrapper: sends the message count times through a connected sender, printing the
// status line of each copy ("Could not send: " and "Status: " on failure). Returns 1 when
// every copy was sent, 0 after the first failure. errorsTo, when given, is the envelope
// sender (and the Errors-To line).
int sendWithStatus(SenderSession& sender, const String& from, const String& replyTo,
                   const String& to, const String& cc, const String& bcc, const String& subject,
                   const std::string& body, long count, const String& url,
                   const SendDriverOptions& options, const String& errorsTo = String());

// A domain written as four dotted numbers (three dots or more, no letters): a route host as
// it is, without a DNS query.
bool isDottedAddress(const String& domain);

// Runs one sending activity with the given sender (smtp and qmtp are the process's SMTP and
// QMTP sessions, given the no-stop flag, smtp asking for ETRN when it is the sender; nntp its
// news session, given the no-archive flag; any may be null). Returns the exit code: 0 on success, 1 on any failure.
int runSendDriver(const SendDriverOptions& options, SenderSession& sender, SmtpSession* smtp,
                  QmtpSession* qmtp, NntpSession* nntp = nullptr);

} // namespace qarvel
