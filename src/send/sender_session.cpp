// SenderSession: session operations, the data sink and the header and single-part body writer.
#include "send/sender_session.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string_view>

#include "base/encoded_word.h"
#include "base/line_breaks.h"
#include "base/string_list.h"
#include "net/dns_discovery.h"
#include "net/host_address.h"
#include "net/winsock_error.h"
#include "send/addresses.h"
#include "send/body_encoding.h"
#include "send/mime_body.h"
#include "net/failure_cause.h"

namespace qarvel {

namespace {

// Output is handed to the socket in blocks of this size (the sink batches small pieces).
constexpr size_t kDataBlockSize = 16384;
// Raw bodies are sent in pieces of this size (encoded ones go through send/body_encoding).
constexpr size_t kRawPiece = 8192;

bool randomSeeded = false;

const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                               "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

} // namespace

// ---------------------------------------------------------------- construction

SenderSession::SenderSession() : Connection(0, '\n') {
    if (!randomSeeded) {
        randomSeeded = true;
        std::srand(static_cast<unsigned>(std::time(nullptr)));
    }
    setTimeout(300);
    commandBuffer_.assign(bufferSize_, '\0');
    out_.reserve(kDataBlockSize);
}

SenderSession::~SenderSession() {
    if (isOpen()) disconnect();
    releaseFiles(false);
}

void SenderSession::setConnectionOptions(const ConnectionOptions& options, int verbose) {
    Connection::setConnectionOptions(options, verbose);
    firewall_ = options.firewall;
    // No size (-bufsiz:0 or text) keeps the usual one.
    const int size = options.bufferSize > 0 ? options.bufferSize : ConnectionOptions{}.bufferSize;
    bufferSize_ = static_cast<size_t>(std::max(size, 16));
    commandBuffer_.assign(bufferSize_, '\0');
}

void SenderSession::setReplyLine(const char* text) {
    std::snprintf(reply_, sizeof reply_, "%s", text ? text : "");
}

// ---------------------------------------------------------------- session operations

int SenderSession::disconnect() {
    releaseFiles(false);
    if (isOpen()) quit();
    reply_[0] = '\0';
    std::fill(commandBuffer_.begin(), commandBuffer_.end(), '\0');
    int result = close();
    commandBuffer_.clear();
    commandBuffer_.shrink_to_fit();
    out_.clear();
    return result;
}

int SenderSession::connectSession(const String& host, const String& port, int, const String&) {
    hostList_ = host;
    lastPort_ = port;
    if (commandBuffer_.empty()) commandBuffer_.assign(bufferSize_, '\0');
    std::fill(commandBuffer_.begin(), commandBuffer_.end(), '\0');
    reply_[0] = '\0';

    int result = kSessionRefused;
    for (const HostPort& entry : hostListEntries(host.str(), port.str())) {
        result = open(entry.host, entry.port);
        if (result > 0) break;
    }
    if (result < 1) return result;
    if (!firewall_.empty()) {
        int sent = send(firewall_.c_str(), static_cast<int>(firewall_.length()));
        if (sent < 1) return sent;
    }
    return readReply();
}

int SenderSession::readReply() {
    if (!isOpen()) return kSessionRefused;
    int n = readLine(reply_, static_cast<int>(sizeof reply_ - 1));
    if (n < 1) {
        reply_[0] = '\0';
        close();
        return n;
    }
    reply_[n] = '\0';
    if (traceLevel_) echo(reply_, static_cast<size_t>(n));
    if (!std::isdigit(static_cast<unsigned char>(reply_[0]))) return kSessionClosed;
    return reply_[0] < '4' ? kSessionOk : kSessionRefused;
}

// QUIT ends the session: the connection is closed after the reply, so a later disconnect
// does not send a second QUIT and wait for an answer that never comes.
int SenderSession::quit() {
    setTimeout(30);
    int sent = sendCommand("QUIT\r\n");
    int result = sent < 1 ? sent : readReply();
    close();
    return result;
}

int SenderSession::upgradeWithStartTls(const char* goCode) {
    int result = command("STARTTLS\r\n");
    if (result < 1 || (goCode && std::strncmp(replyLine(), goCode, std::strlen(goCode)) != 0)) {
        std::fprintf(stderr, "STARTTLS refused by the server: %s", replyLine());
        close();
        return result < 0 ? result : kSessionRefused;
    }
    result = startTls(connectedHost());
    if (result < 1) {
        setReplyLine("TLS negotiation failed\n");
        close();
        return result < 0 ? result : kSessionRefused;
    }
    return kSessionOk;
}

int SenderSession::loadRecipientFile(const String&) { return 0; }

int SenderSession::reportProgress(int) { return 0; }

// ---------------------------------------------------------------- command loop

int SenderSession::vsendCommand(const char* format, va_list args) {
    if (commandBuffer_.empty()) commandBuffer_.assign(bufferSize_, '\0');
    if (!grouping_) return sendFormatted(commandBuffer_, traceLevel_ != 0, format, args);
    // In a group the command is gathered under the same rules (one line per format, the
    // buffer's size), and a command that breaks them spoils the whole group.
    std::string text;
    if (!formatOneLinePerFormat(text, format, args) || text.size() >= commandBuffer_.size()) {
        groupSpoilt_ = true;
        return -1;
    }
    if (traceLevel_) echo(text.data(), text.size());
    group_ += text;
    return static_cast<int>(text.size());
}

void SenderSession::beginGroup() {
    grouping_ = true;
    groupSpoilt_ = false;
    group_.clear();
}

int SenderSession::sendGroup() {
    grouping_ = false;
    if (groupSpoilt_) {
        std::fprintf(stderr, "A command of the group does not fit the %zu-byte command buffer; none sent\n",
                     commandBuffer_.size());
        return -1;
    }
    int sent = 1;
    for (size_t done = 0; done < group_.size() && sent >= 1; done += static_cast<size_t>(sent))
        sent = send(group_.data() + done, static_cast<int>(std::min<size_t>(group_.size() - done, 1 << 30)));
    group_.clear();
    return sent;
}

bool SenderSession::appendGroupToData() {
    grouping_ = false;
    if (!groupSpoilt_) out_.insert(out_.end(), group_.begin(), group_.end());
    group_.clear();
    return !groupSpoilt_;
}

// ---------------------------------------------------------------- data sink

// A send that fails in the data phase closes the connection: the peer is somewhere inside the
// message, so a QUIT would only be more message data and its reply would never come.
int SenderSession::sendBlock(const char* data, size_t length) {
    size_t done = 0;
    while (done < length) {
        size_t piece = std::min(length - done, static_cast<size_t>(1) << 30);
        int sent = send(data + done, static_cast<int>(piece));
        if (sent < 1 || static_cast<size_t>(sent) < piece) {
            close();
            return sent < 1 ? sent : kSessionClosed;  // a short send ends the writer
        }
        done += piece;
    }
    return kSessionOk;
}

int SenderSession::flushData() {
    if (out_.empty()) return kSessionOk;
    int result = sendBlock(out_.data(), out_.size());
    sending_.add(static_cast<int64_t>(out_.size()));
    out_.clear();
    return result;
}

int SenderSession::writeData(const char* data, size_t length) {
    if (traceLevel_ >= 3 && length) echo(data, length);
    // A peer that reads data up to a line of a single "." takes one leading "." off every line
    // it receives, so every line that begins with one gets a second (message files are
    // written the same way). A counted upload turns this off and sends the bytes as they are.
    const bool stuff = dotStuffing_ != 0;
    size_t i = 0;
    while (i < length) {
        if (out_.size() >= kDataBlockSize) {
            int r = flushData();
            if (r < 1) return r;
        }
        if (atLineStart_ && stuff && data[i] == '.') {
            out_.push_back('.');
            ++bytesSent_;
        }
        // Copy a run up to and including the next line feed (or up to the block's end).
        size_t room = kDataBlockSize - std::min(out_.size(), kDataBlockSize);
        if (room == 0) room = 1;
        size_t limit = std::min(length - i, room);
        const void* lf = std::memchr(data + i, '\n', limit);
        size_t run = lf ? static_cast<size_t>(static_cast<const char*>(lf) - (data + i)) + 1 : limit;
        out_.insert(out_.end(), data + i, data + i + run);
        bytesSent_ += static_cast<uint32_t>(run);
        atLineStart_ = data[i + run - 1] == '\n';
        i += run;
    }
    return static_cast<int>(std::min(length, static_cast<size_t>(2147483647)));
}

int SenderSession::writeHeader(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string line;
    bool formatted = formatOneLinePerFormat(line, format, args);
    va_end(args);
    if (!formatted) return kSessionRefused;
    // A header line always ends its own line: without it the next field would be glued on.
    if (line.empty() || line.back() != '\n') line += "\r\n";
    return writeHeaderText(line);
}

int SenderSession::writeHeaderLine(std::string_view line) {
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.remove_suffix(1);
    std::string text(line);
    blankLineBreaksInPlace(text);
    text += "\r\n";
    return writeHeaderText(text);
}

int SenderSession::writeHeaderBlock(std::string_view block) {
    std::string fault = headerBlockFault(block);
    if (!fault.empty()) {
        std::fprintf(stderr, "Extra header text refused: %s\n", fault.c_str());
        return kSessionRefused;
    }
    size_t pos = 0;
    while (pos < block.size()) {
        size_t end = block.find_first_of("\r\n", pos);
        if (end == std::string_view::npos) end = block.size();
        int r = writeHeaderLine(block.substr(pos, end - pos));
        if (r < 1) return r;
        pos = end;
        if (pos < block.size() && block[pos] == '\r') ++pos;
        if (pos < block.size() && block[pos] == '\n') ++pos;
    }
    return kSessionOk;
}

int SenderSession::writeHeaderText(const std::string& text) {
    if (traceLevel_ == 2) echo(text.data(), text.size());
    int r = writeData(text.data(), text.size());
    return r < 0 || (r == 0 && !text.empty()) ? r : kSessionOk;
}

int SenderSession::endData() {
    if (!noTerminator_) {
        if (!atLineStart_) {
            out_.push_back('\r');
            out_.push_back('\n');
        }
        static const char kEnd[] = ".\r\n";
        out_.insert(out_.end(), kEnd, kEnd + 3);
        atDataEnd();
    }
    atLineStart_ = true;
    const int result = flushData();
    sending_.finish();
    return result;
}

void SenderSession::addExpected(int64_t delta) {
    int64_t total = static_cast<int64_t>(totalExpected_) + delta;
    totalExpected_ = static_cast<uint32_t>(std::clamp<int64_t>(total, 0, 0xffffffffLL));
}

void SenderSession::reportProgressNow() {
    if (totalExpected_ == 0) return;
    uint64_t percent = static_cast<uint64_t>(bytesCounted_) * 100 / totalExpected_;
    reportProgress(static_cast<int>(std::min<uint64_t>(percent, 100)));
}

void SenderSession::beginMessage(size_t length) {
    bytesSent_ = 0;
    bytesCounted_ = 0;
    totalExpected_ = static_cast<uint32_t>(std::min<size_t>(length, 0xffffffffu));
    messageSent_ = false;
    atLineStart_ = true;
    out_.clear();
    lastAttachmentCount_ = static_cast<int>(attachmentFiles_.size());
}

// ---------------------------------------------------------------- attachments

int SenderSession::addAttachment(const String& path, const String& name, bool related) {
    struct stat st;
    if (path.empty() || ::stat(path.c_str(), &st) != 0) return 0;
    if (related) {
        relatedFiles_.push_back(path);
        relatedNames_.push_back(name);
    } else {
        attachmentFiles_.push_back(path);
        attachmentNames_.push_back(name);
    }
    return 1;
}

void SenderSession::releaseFiles(bool force) {
    if (force) {
        for (const String& f : attachmentFiles_) std::remove(f.c_str());
        for (const String& f : relatedFiles_) std::remove(f.c_str());
    }
    attachmentFiles_.clear();
    attachmentNames_.clear();
    relatedFiles_.clear();
    relatedNames_.clear();
}

bool SenderSession::hasMultipartBody() const {
    return !style_.raw && style_.mime() &&
           ((style_.html && style_.alternative) || !attachmentFiles_.empty() || !relatedFiles_.empty());
}

// ---------------------------------------------------------------- the header writer

int SenderSession::writeRecipientText(const char* header, const String& list, bool applyHide) {
    std::vector<String> entries = splitRecipientText(list);
    bool first = true;
    for (size_t k = 0; k < entries.size(); ++k) {
        bool more = k + 1 < entries.size();
        if (applyHide && style_.hideRecipients && more) break;
        std::string_view e = entries[k].view();
        if (e.empty() || e.front() == '\\') continue;
        while (!e.empty() && (e.front() == ' ' || e.front() == '!')) e.remove_prefix(1);
        String value = headerText(String(e), true);
        int r = first ? writeHeader("%s: %s%s\r\n", header, value.c_str(), more ? "," : "")
                      : writeHeader("\t%s%s\r\n", value.c_str(), more ? "," : "");
        if (r < 1) return r;
        first = false;
    }
    return kSessionOk;
}

int SenderSession::startMessage(size_t length, bool hasBcc) {
    beginMessage(length);
    reportProgressNow();
    // Blind copies mark the message as bulk mail.
    return hasBcc ? writeHeader("Precedence: bulk\r\n") : kSessionOk;
}

int SenderSession::sendMessage(const String& from, const String& replyTo, const String& to,
                               const String& subject, const char* body, size_t length,
                               const String& base, const String& cc, const String& bcc,
                               const String& errorsTo) {
    int r = startMessage(length, !bcc.empty());
    if (r < 1) return r;
    if (!style_.raw) {
        if (news_) {
            std::string groups;
            for (const String* list : {&to, &cc}) {
                for (const String& entry : splitRecipientText(*list)) {
                    std::string_view e = entry.view();
                    if (e.empty() || e.front() == '\\') continue;
                    while (!e.empty() && (e.front() == ' ' || e.front() == '!')) e.remove_prefix(1);
                    if (!groups.empty()) groups += ',';
                    groups += e;
                }
            }
            if ((r = writeHeaderLine("Newsgroups: " + groups)) < 1) return r;
        } else {
            if ((r = writeRecipientText("To", to, true)) < 1) return r;
            if ((r = writeRecipientText("Cc", cc, false)) < 1) return r;
        }
    }
    return writeMessage(from, replyTo, subject, body, length, base, errorsTo);
}

int SenderSession::sendMessageToLists(const String& from, const String& replyTo,
                                      const StringList& to, const String& subject,
                                      const char* body, size_t length, const String& base,
                                      const StringList& cc, const StringList& bcc,
                                      const String& errorsTo) {
    int r = startMessage(length, !bcc.empty());
    if (r < 1) return r;
    if (!style_.raw) {
        for (const String& entry : to)
            if ((r = writeHeader("To: %s\r\n", headerText(entry, true).c_str())) < 1)
                return r;
        for (const String& entry : cc)
            if ((r = writeHeader("Cc: %s\r\n", headerText(entry, true).c_str())) < 1)
                return r;
    }
    return writeMessage(from, replyTo, subject, body, length, base, errorsTo);
}

int SenderSession::sendMessageId() {
    int r;
    if (!style_.keptMessageId.empty()) {
        if ((r = writeHeader("Message-ID: %s\r\n", style_.keptMessageId.c_str())) < 1) return r;
    } else if (style_.messageId) {
        r = writeHeader("Message-ID: %lu.%lu@%s\r\n", static_cast<unsigned long>(std::time(nullptr)),
                        static_cast<unsigned long>(std::clock()), hostList_.c_str());
        if (r < 1) return r;
    }
    if (!style_.extraHeaders.empty()) return writeHeaderBlock(style_.extraHeaders.view());
    return writeHeader("X-Mailer: QARVEL (%s %s)\r\n", __DATE__, __TIME__);
}

String formatDateHeader(int zoneStyle, long long secondsSince1970) {
    std::time_t now = static_cast<std::time_t>(secondsSince1970);
    char text[96];
    struct tm t;
    if (zoneStyle == 1 || zoneStyle == 2) {
        gmtime_r(&now, &t);
        std::snprintf(text, sizeof text, "%s, %02d %s %d %02d:%02d:%02d %s", kDays[t.tm_wday % 7],
                      t.tm_mday, kMonths[t.tm_mon % 12], t.tm_year + 1900, t.tm_hour, t.tm_min,
                      t.tm_sec, zoneStyle == 1 ? "GMT" : "UTC");
    } else {
        localtime_r(&now, &t);
        long offset = t.tm_gmtoff / 60;  // minutes east of UTC, summer time included
        char sign = offset < 0 ? '-' : '+';
        if (offset < 0) offset = -offset;
        std::snprintf(text, sizeof text, "%s, %02d %s %d %02d:%02d:%02d %c%04u", kDays[t.tm_wday % 7],
                      t.tm_mday, kMonths[t.tm_mon % 12], t.tm_year + 1900, t.tm_hour, t.tm_min,
                      t.tm_sec, sign, static_cast<unsigned>(offset / 60 * 100 + offset % 60));
    }
    return String(text);
}

int SenderSession::writeMessage(const String& from, const String& replyTo, const String& subject,
                                const char* body, size_t length, const String& base,
                                const String& errorsTo) {
    int r;
    reportProgressNow();
    auto address = [this](const String& a) { return headerText(a, true); };
    auto text = [this](const String& a) { return headerText(a, false); };
    if (!style_.raw) {
        if (!from.empty() && (r = writeHeader("From: %s\r\n", address(from).c_str())) < 1) return r;
        if (!replyTo.empty()) {
            String a = address(replyTo);
            if ((r = writeHeader("Reply-To: %s\r\n", a.c_str())) < 1) return r;
            if ((r = writeHeader("Originator: %s\r\n", a.c_str())) < 1) return r;
            if ((r = writeHeader("Sender: %s\r\n", a.c_str())) < 1) return r;
        }
        if (!errorsTo.empty() && (r = writeHeader("Errors-To: %s\r\n", address(errorsTo).c_str())) < 1)
            return r;
        if (!subject.empty() && (r = writeHeader("Subject: %s\r\n", text(subject).c_str())) < 1) return r;
        if (!style_.organization.empty() &&
            (r = writeHeader("Organization: %s\r\n", text(style_.organization).c_str())) < 1)
            return r;
        if (!style_.sensitivity.empty() &&
            (r = writeHeader("Sensitivity: %s\r\n", text(style_.sensitivity).c_str())) < 1)
            return r;
        if (style_.mime() &&
            (r = writeHeader(style_.voice ? "MIME-Version: 1.0 (Voice 2.0)\r\n" : "MIME-Version: 1.0\r\n")) < 1)
            return r;
        if ((r = sendMessageId()) < 1) return r;
        const char* priorityWord = style_.priority == 1 ? "High" : style_.priority == 2 ? "Low" : "Normal";
        int priorityNumber = style_.priority == 1 ? 2 : style_.priority == 2 ? 4 : 3;
        if (style_.priority && (r = writeHeader("X-Priority: %d (%s)\r\n", priorityNumber, priorityWord)) < 1)
            return r;
        const String& receiptTo = replyTo.empty() ? from : replyTo;
        if (style_.returnReceipt &&
            (r = writeHeader("Return-Receipt-To: %s\r\n", address(receiptTo).c_str())) < 1)
            return r;
        if (style_.dispositionNotification &&
            (r = writeHeader("Disposition-Notification-To: %s\r\n", address(receiptTo).c_str())) < 1)
            return r;
        if (style_.priority && (r = writeHeader("Importance: %s\r\n", priorityWord)) < 1) return r;
        String date = style_.date.empty() ? formatDateHeader(style_.universalTime, std::time(nullptr)) : style_.date;
        if ((r = writeHeader("Date: %s\r\n", date.c_str())) < 1) return r;
    }

    if (hasMultipartBody()) {
        if ((r = writeMultipartBody(*this, body, length)) < 1) return r;
        if ((r = writeData("\r\n\r\n")) < 1) return r;
        messageSent_ = true;
        if ((r = endData()) < 1) return r;
        if (noTerminator_) return kSessionOk;
        if (traceLevel_) echo("data sent1\n", 11);
        return readReply();
    }

    if ((r = writeSinglePartBody(body, length, base)) < 1) return r;
    if ((r = writeData("\r\n")) < 1) return r;
    if ((r = endData()) < 1) return r;
    if (traceLevel_) echo("data sent2\n", 11);
    bytesCounted_ = std::max(bytesCounted_, static_cast<uint32_t>(std::min<size_t>(length, 0xffffffffu)));
    reportProgressNow();
    messageSent_ = true;
    if (noTerminator_) return kSessionOk;
    return readReply();
}

int SenderSession::writeSinglePartBody(const char* body, size_t length, const String& base) {
    int r;
    if (style_.raw) return writeReadyMadeText(body, length);
    bool mimeEncoded = style_.mime() && !style_.uuencode;
    if (mimeEncoded) {
        if (style_.html && !base.empty() && (r = writeHeader("Content-Base: %s\r\n", base.c_str())) < 1)
            return r;
        if ((r = writeHeader("Content-Type: %s; charset=%s\r\n",
                             style_.html ? "text/html" : style_.bodyType().c_str(),
                             textCharset(std::string_view(body, length)).c_str())) < 1)
            return r;
        const char* cte = style_.quotedPrintable == 2 ? "base64"
                          : style_.quotedPrintable == 1 ? "quoted-printable"
                                                        : unencodedLabel(style_.eightBit, std::string_view(body, length));
        if ((r = writeHeader("Content-Transfer-Encoding: %s\r\n", cte)) < 1) return r;
    } else if (style_.uuencode) {
        if ((r = writeHeader("Content-Type: text/plain; charset=us-ascii\r\n")) < 1) return r;
        if ((r = writeHeader("Content-Transfer-Encoding: X-UUencode\r\n")) < 1) return r;
    }
    if ((r = writeData("\r\n")) < 1) return r;

    bool base64 = mimeEncoded && style_.quotedPrintable == 2 && length > 0;
    bool qp = mimeEncoded && style_.quotedPrintable == 1 && length > 0;
    if (qp) return writeQuotedPrintable(*this, body, length, false, true);
    if (base64 || style_.uuencode)
        return writeBase64OrUuencoded(*this, body, length, style_.uuencode,
                                      base.empty() ? String("noname.dat") : base);
    // Plain text: line by line (the sink stuffs the dots).
    if (length && (r = writeData(body, length)) < 1) return r;
    bytesCounted_ += static_cast<uint32_t>(std::min<size_t>(length, 0xffffffffu));
    return kSessionOk;
}

// Raw text is message data already: its dots are stuffed as far as its writer wanted them
// (a line ".." stands for "."), so it goes out as it is. Only a line of a single "." would end
// the data early; it gets a second dot and arrives as it was written.
int SenderSession::writeReadyMadeText(const char* body, size_t length) {
    const bool stuffing = dotStuffing_;
    dotStuffing_ = false;
    int r = kSessionOk;
    auto pieces = [&](size_t from, size_t to) {
        for (size_t done = from; done < to && r >= 1; done += kRawPiece) {
            size_t piece = std::min(kRawPiece, to - done);
            if ((r = writeData(body + done, piece)) >= 1) bytesCounted_ += static_cast<uint32_t>(piece);
        }
    };
    size_t written = 0;
    for (size_t line = 0; stuffing && line < length && r >= 1;) {
        const void* lf = std::memchr(body + line, '\n', length - line);
        size_t next = lf ? static_cast<size_t>(static_cast<const char*>(lf) - body) + 1 : length;
        std::string_view text(body + line, next - line);
        using std::literals::operator""sv;
        if (text == "."sv || text == ".\n"sv || text == ".\r"sv || text == ".\r\n"sv) {
            pieces(written, line);
            if (r >= 1) r = writeData(".", 1);
            written = line;
        }
        line = next;
    }
    pieces(written, length);
    bool lineStart = true;
    bool lineEnds = true;
    std::string_view piece;
    while (readyMadeRest_ && r >= 1 && readyMadeRest_->nextPiece(piece, lineEnds)) {
        if (stuffing && lineStart && lineEnds && piece.compare(".") == 0) r = writeData(".", 1);
        if (r >= 1 && !piece.empty()) r = writeData(piece.data(), piece.size());
        if (r >= 1 && lineEnds) r = writeData("\r\n", 2);
        bytesCounted_ += static_cast<uint32_t>(piece.size() + (lineEnds ? 2 : 0));
        lineStart = lineEnds;
    }
    dotStuffing_ = stuffing;
    return r < 1 ? r : kSessionOk;
}

String SenderSession::headerText(const String& value, bool address) const {
    // Blanked before encoding: an encoded word must not carry a line break either.
    return encodeWord(textCharset(value.view()), style_.encodeHeaders, blankLineBreaks(value.view()), address);
}

String SenderSession::greetingDomain() {
    String name = localName();
    if (name.find('.') == String::npos) {
        String primary, secondary, domain;
        findDnsServers(primary, secondary, domain);
        if (!domain.empty()) name = name + "." + domain;
    }
    return name;
}

void reportConnectFailure(const SenderSession& sender, const String& host, const String& port, int result) {
    std::fprintf(stderr, "Could not connect to server: %s:%s, error= %s\n", host.c_str(), port.c_str(),
                 describeError(sender.failureCode(result)).c_str());
}

int openSession(SenderSession& sender, const String& host, const String& port) {
    const ConnectionOptions& c = sender.connectionOptions();
    const String certificate = c.presentedCertificate();
    Failure cause = Failure::kNone;
    const int result = sender.connectWithRetries([&] { return sender.connectSession(host, port, c.level, certificate); },
                                                 [&](int failed) {
                                                     reportConnectFailure(sender, host, port, failed);
                                                     cause = sender.failureOf(failed);
                                                 });
    if (result < 1) noteFailure(cause);
    return result;
}

Failure SenderSession::failureOf(int result) const { return sessionFailure(*this, result, replyLine()); }

} // namespace qarvel
