// Read receipts and forwards, sent through the sender.
#include "receive/message_forward.h"

#include <cstdio>
#include <ctime>
#include <string>

#include "base/line_breaks.h"
#include "base/run_failure.h"
#include "receive/header_display.h"
#include "receive/mailbox_reader.h"
#include "send/sender_session.h"
#include "net/winsock_error.h"

namespace qarvel {

// --- read receipts ---

int sendReadReceipt(SenderSession& sender, MailboxReader& reader, const ReceiveOptions& options,
                    const String& to) {
    String subject = "Read: " + reader.subject() + " (RECEIPT)";
    std::string body = "Your message\r\n\r\n";
    // Text from the received message stays on its line here as in the header.
    body += "  To: " + blankLineBreaks(reader.to().view()).str() + "\r\n";
    body += "  Subject: " + blankLineBreaks(reader.subject().view()).str() + "\r\n";
    body += "  Date: " + blankLineBreaks(reader.date().view()).str() + "\r\n\r\n";
    char when[64];
    time_t now = time(nullptr);
    struct tm parts {};
    gmtime_r(&now, &parts);
    strftime(when, sizeof when, "%a, %d %b %Y %H:%M:%S GMT", &parts);
    body += "was read on " + std::string(when) + ".\r\n";

    String from = options.addresses.from.empty() ? options.receive.user : options.addresses.from;
    // The receipt is an ordinary composed message, sent without traces.
    int savedTrace = sender.traceLevel();
    const bool savedRaw = sender.style().raw;
    sender.setTraceLevel(0);
    sender.style().raw = false;
    int result = sender.connectSession(options.servers.smtpHost, options.smtpPort);
    if (result > 0) {
        result = sender.sendMessage(from, String(), to, subject, body.data(), body.size(),
                                    String(), String(), String(), String());
        sender.quit();
    }
    sender.disconnect();
    sender.setTraceLevel(savedTrace);
    sender.style().raw = savedRaw;
    return result;
}

// --- forwarding ---

namespace {

// The header lines kept when a message is sent on, in this order.
const char* const kForwardedHeaders[] = {
    "Return-Path", "Received", "From", "Sender", "Reply-To", "To", "Cc", "Subject", "Date",
    "Message-ID", "In-Reply-To", "References", "MIME-Version", "Content-Type",
    "Content-Transfer-Encoding", "Content-Disposition", "Disposition-Notification-To",
    "Importance", "X-Priority", "Sensitivity", "Organization",
};

} // namespace

void appendWithCrLf(std::string& out, const char* data, size_t length) {
    out.reserve(out.size() + length + length / 32);
    for (size_t i = 0; i < length; ++i) {
        char c = data[i];
        if (c == '\r') {
            out += "\r\n";
            if (i + 1 < length && data[i + 1] == '\n') ++i;
        } else if (c == '\n') {
            out += "\r\n";
        } else {
            out += c;
        }
    }
}

int forwardMessage(SenderSession& sender, MailboxReader& reader, const ReceiveOptions& options) {
    std::string text;
    for (const char* name : kForwardedHeaders) {
        String value = reader.headerValue(name);
        if (value.empty()) continue;
        // The copy goes out raw, past the header writer: a decoded value that holds a line
        // break must not become a header field of its own.
        text += name;
        text += ": ";
        text += blankLineBreaks(value.view()).str();
        text += "\r\n";
    }
    text += "\r\n";
    appendWithCrLf(text, reader.body(), reader.bodyLength());
    // Raw text is sent as message data as it stands: the decoded body's leading dots are
    // stuffed here.
    std::string data;
    data.reserve(text.size() + text.size() / 64);
    bool lineStart = true;
    for (char c : text) {
        if (lineStart && c == '.') data += '.';
        data += c;
        lineStart = c == '\n';
    }

    String recipients = reader.message().toText;
    if (!reader.message().ccText.empty())
        recipients = recipients.empty() ? reader.message().ccText
                                        : recipients + "," + reader.message().ccText;
    String from = senderAddress(reader.sender());
    if (from == "[unknown]") from = options.addresses.from;

    // Raw: the header block above goes out as it is, followed by the body.
    const bool savedRaw = sender.style().raw;
    sender.style().raw = true;
    int result = sender.connectSession(options.servers.relayHost, options.smtpPort);
    if (result <= 0) {
        fprintf(stderr, "Could not connect to relay: %s, error= %s\n", options.servers.relayHost.c_str(),
                describeError(sender.failureCode(result)).c_str());
        noteFailure(sender.failureOf(result));
        sender.disconnect();
        sender.style().raw = savedRaw;
        return result;
    }
    result = sender.sendMessage(from, String(), recipients, reader.subject(), data.data(),
                                data.size(), String(), String(), String(), String());
    if (result <= 0) {
        fprintf(stderr, "Could not send to relay: %s, error= %d\n", options.servers.relayHost.c_str(), result);
        noteFailure(sender.failureOf(result));
    }
    sender.quit();
    sender.disconnect();
    sender.style().raw = savedRaw;
    return result;
}

} // namespace qarvel
