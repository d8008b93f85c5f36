#include "receive/header_display.h"

#include <ctime>

#include "receive/mailbox_reader.h"

namespace qarvel {

DisplayedHeaders collectHeaders(MailboxReader& reader, bool full, long long size) {
    DisplayedHeaders h;
    h.subject = reader.subject();
    h.date = reader.date();
    h.receiptTo = reader.dispositionNotificationTo();
    const char* priority = reader.priorityName();
    h.importance = priority ? priority : "";
    h.sensitivity = reader.sensitivity();
    h.organization = reader.headerValue("Organization");
    h.from = reader.sender();
    h.replyTo = reader.replyAddress();
    h.to = reader.to();
    h.cc = reader.cc();
    if (full) {
        h.messageId = reader.headerValue("Message-ID");
        h.mimeVersion = reader.headerValue("MIME-Version");
        h.contentType = reader.headerValue("Content-Type");
    }
    h.size = size;
    return h;
}

namespace {

void addLine(std::string& out, const String& label, const String& value) {
    out.append(label.c_str(), label.length());
    out += ": ";
    out.append(value.c_str(), value.length());
    out += '\n';
}

// Lines that appear only when their value is not empty.
void addOptional(std::string& out, const String& label, const String& value) {
    if (!value.empty()) addLine(out, label, value);
}

} // namespace

std::string formatHeaderLines(const DisplayedHeaders& h, const ReceiveLabels& labels, bool full,
                              bool showSize) {
    std::string out(h.subject.c_str(), h.subject.length());
    out += '\n';
    addLine(out, labels.date, h.date.empty() ? String("[unknown]") : h.date);
    addOptional(out, labels.receiptTo, h.receiptTo);
    addOptional(out, labels.importance, h.importance);
    addOptional(out, labels.sensitivity, h.sensitivity);
    addOptional(out, labels.organization, h.organization);
    addLine(out, labels.from, h.from.empty() ? String("[unknown]") : h.from);
    if (!(h.replyTo == h.from)) addOptional(out, labels.replyTo, h.replyTo);
    addLine(out, labels.to, h.to.empty() ? String("[unknown]") : h.to);
    addOptional(out, labels.cc, h.cc);
    if (full) {
        addOptional(out, "Message-Id", h.messageId);
        addOptional(out, "Mime-Version", h.mimeVersion);
        addOptional(out, "Content-Type", h.contentType);
    }
    if (showSize) addLine(out, labels.size, String(std::to_string(h.size).c_str()) + " bytes");
    return out;
}

String senderAddress(const String& value) {
    std::string text(value.c_str(), value.length());
    size_t close = text.rfind('>');
    size_t open = close == std::string::npos ? std::string::npos : text.rfind('<', close);
    if (open != std::string::npos) return String(text.substr(open + 1, close - open - 1).c_str());
    size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return String();
    size_t last = text.find_last_not_of(" \t\r\n");
    return String(text.substr(first, last - first + 1).c_str());
}

std::string mailboxFromLine(const String& sender, long long secondsSince1970) {
    String address = senderAddress(sender);
    if (address.empty() || address == "[unknown]") address = "MAILER-DAEMON";
    // A blank would end the address field of the separator line.
    std::string bare(address.c_str(), address.length());
    for (char& c : bare)
        if (c == ' ' || c == '\t') c = '_';
    time_t when = static_cast<time_t>(secondsSince1970);
    struct tm parts {};
    gmtime_r(&when, &parts);
    char date[64];
    strftime(date, sizeof date, "%a %b %e %H:%M:%S %Y", &parts);
    return "From " + bare + " " + date + "\n";
}

} // namespace qarvel
