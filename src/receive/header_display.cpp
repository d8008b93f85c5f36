// The labelled header lines of a retrieved message, in their fixed order.
#include "receive/header_display.h"

#include <cstring>
#include <ctime>

#include "base/charset.h"
#include "receive/mailbox_reader.h"
#include "receive/message.h"

namespace qarvel {

String shownText(const String& text, const String& charset, HeaderForm form) {
    if (form == HeaderForm::kBytes) return text;
    std::string utf8 = textAsUtf8(text.view(), charset.view());
    if (form == HeaderForm::kLocale) {
        // The C locale names no charset at all; terminals of today read UTF-8 then.
        static const std::string locale = localeCharset();
        if (locale != "ANSI_X3.4-1968") utf8 = utf8As(utf8, locale);
    }
    return String(utf8);
}

DisplayedHeaders collectHeaders(MailboxReader& reader, bool full, long long size, HeaderForm form) {
    const FieldCharsets& charsets = reader.message().fieldCharsets;
    const String none;
    DisplayedHeaders h;
    h.subject = shownText(reader.subject(), charsets.subject, form);
    h.date = shownText(reader.date(), charsets.date, form);
    h.receiptTo = shownText(reader.dispositionNotificationTo(), charsets.notificationTo, form);
    const char* priority = reader.priorityName();
    h.importance = priority ? priority : "";
    h.sensitivity = shownText(reader.sensitivity(), charsets.sensitivity, form);
    h.organization = shownText(reader.headerValue("Organization"), none, form);
    // The sender and the reply address fall back on each other.
    const Message& m = reader.message();
    h.from = shownText(reader.sender(), m.from.empty() ? charsets.replyTo : charsets.from, form);
    h.replyTo = shownText(reader.replyAddress(), m.replyTo.empty() ? charsets.from : charsets.replyTo, form);
    h.to = shownText(reader.to(), charsets.to, form);
    h.cc = shownText(reader.cc(), charsets.cc, form);
    if (full) {
        h.messageId = reader.headerValue("Message-ID");
        h.mimeVersion = reader.headerValue("MIME-Version");
        h.contentType = reader.headerValue("Content-Type");
    }
    h.size = size;
    return h;
}

std::string visibleText(const String& text) {
    std::string out;
    out.reserve(text.length());
    for (size_t i = 0; i < text.length(); ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if ((c < 0x20 && c != '\t') || c == 0x7F) {
            out += '^';
            out += static_cast<char>(c ^ 0x40);
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

namespace {

// Collects the labelled lines; values pass through visibleText when the output is a terminal.
class HeaderLines {
public:
    explicit HeaderLines(bool visible) : visible_(visible) {}
    void value(const String& text) {
        if (visible_) out_ += visibleText(text);
        else out_.append(text.c_str(), text.length());
    }
    void line(const String& label, const String& text) {
        out_.append(label.c_str(), label.length());
        out_ += ": ";
        value(text);
        out_ += '\n';
    }
    // Lines that appear only when their value is not empty.
    void optional(const String& label, const String& text) {
        if (!text.empty()) line(label, text);
    }
    std::string& text() { return out_; }

private:
    bool visible_;
    std::string out_;
};

} // namespace

std::string formatHeaderLines(const DisplayedHeaders& h, const Labels& labels, bool full,
                              bool showSize, bool visibleControls) {
    HeaderLines out(visibleControls);
    out.value(h.subject);
    out.text() += '\n';
    out.line(labels.date, h.date.empty() ? String("[unknown]") : h.date);
    out.optional(labels.receiptTo, h.receiptTo);
    out.optional(labels.importance, h.importance);
    out.optional(labels.sensitivity, h.sensitivity);
    out.optional(labels.organization, h.organization);
    out.line(labels.from, h.from.empty() ? String("[unknown]") : h.from);
    if (!(h.replyTo == h.from)) out.optional(labels.replyTo, h.replyTo);
    out.line(labels.to, h.to.empty() ? String("[unknown]") : h.to);
    out.optional(labels.cc, h.cc);
    if (full) {
        out.optional("Message-Id", h.messageId);
        out.optional("Mime-Version", h.mimeVersion);
        out.optional("Content-Type", h.contentType);
    }
    if (showSize) out.line(labels.size, String(std::to_string(h.size).c_str()) + " bytes");
    return std::move(out.text());
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
        if (static_cast<unsigned char>(c) <= ' ' || c == 0x7F) c = '_';
    time_t when = static_cast<time_t>(secondsSince1970);
    struct tm parts {};
    gmtime_r(&when, &parts);
    char date[64];
    strftime(date, sizeof date, "%a %b %e %H:%M:%S %Y", &parts);
    return "From " + bare + " " + date + "\n";
}

bool writeMailboxBody(FILE* out, const char* data, size_t length) {
    size_t start = 0;
    while (start < length) {
        const void* lf = memchr(data + start, '\n', length - start);
        size_t end = lf ? static_cast<size_t>(static_cast<const char*>(lf) - data) + 1 : length;
        size_t quotes = start;
        while (quotes < end && data[quotes] == '>') ++quotes;
        if (end - quotes >= 5 && memcmp(data + quotes, "From ", 5) == 0 && fputc('>', out) == EOF)
            return false;
        if (fwrite(data + start, 1, end - start, out) != end - start) return false;
        start = end;
    }
    return true;
}

} // namespace qarvel
