// The send driver: checks, body gathering, server choice, connect with retries, login,
// the message copies with their status lines, ETRN.
#pragma once

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "base/display_labels.h"
#include "base/string.h"
#include "base/tool_settings.h"
#include "net/server_settings.h"
#include "send/send_settings.h"

namespace qarvel {

class SenderSession;
class BatchText;


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

// What one sending run reads: the settings groups it takes whole (the connection group goes
// to the sender itself), the few values of the groups above this floor, and what the
// hand-over derives.
struct SendDriverOptions {
    // The groups, as the settings hold them.
    AddressSettings addresses;
    ContentSettings content;
    SmtpSettings smtp;
    ServerSettings servers;
    ToolSettings tools;
    // From the receive and web groups: the login, -kbs, -rm (the attachment and -file: files
    // are removed after sending), the web mode and the -url: name.
    String user{}, password{};
    bool showRate = false, remove = false, cgi = false;
    String url{};

    // Derived by the hand-over: the chosen sender (the SMTP session asks for ETRN, the QMTP
    // one sends the message instead) and its server's host and port (no port for the file
    // sender, which its host names).
    SenderKind sender = SenderKind::kSmtp;
    String host{}, port{};
    Labels labels{};  // To, Cc, Bcc, From and Subject name the lines of the verbose report
    SendDriverHooks hooks{};
};

// -syslog: the line of one message (or of a run that failed before any message went): where
// it went and how (TLS, the login), its envelope, the server's last reply and the exit status.
void logMessageLine(const SenderSession& sender, const SendDriverOptions& options, const String& from,
                    const std::vector<const String*>& recipients, int status);

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

// Runs one sending activity with the given sender (the session the run chose; an SMTP session
// asks for ETRN). Returns the exit code: 0 on success, 1 on any failure.
int runSendDriver(const SendDriverOptions& options, SenderSession& sender);

} // namespace qarvel
