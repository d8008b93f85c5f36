// The hand-over from the settings record to the objects a run uses, and the two main
// activities as the entry calls them: sending through the current sender and reading
// through the current reader.
#include "run/activity.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

#include "base/mail_log.h"
#include "base/run_failure.h"
#include "config/labels.h"
#include "config/process.h"
#include "config/secret_sources.h"
#include "config/settings.h"
#include "config/value_checks.h"
#include "net/host_address.h"
#include "net/tls_layer.h"
#include "receive/receive_driver.h"
#include "send/aliases.h"
#include "send/batch_sender.h"
#include "send/mx_delivery.h"
#include "send/send_driver.h"
#include "send/smtp_session.h"
#include "web/web_mail.h"

namespace qarvel {

namespace {

// Only levels above 1 switch the protocol traces on.
int traceLevel(const Settings& s) { return s.tools.verbose > 1 ? s.tools.verbose : 0; }


// Lines of a list file joined with ","; empty lines, lines that begin with a backslash or CR,
// and (unless hash lines are kept) lines that begin with "#" are skipped.
String readListFile(const String& path, bool keepHashLines) {
    std::ifstream in(path.c_str(), std::ios::binary);
    String joined;
    if (!in) {
        std::fprintf(stderr, "Could not open the recipient list file '%s': %s\n", path.c_str(), std::strerror(errno));
        return joined;
    }
    std::string line;
    while (in && std::getline(in, line)) {
        if (line.size() > 1023) line.resize(1023);
        if (line.empty() || line[0] == '\\' || line[0] == '\r') continue;
        if (line[0] == '#' && !keepHashLines) continue;
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
        if (!joined.empty()) joined += ',';
        joined += String(line);
    }
    return joined;
}

String readAlternativeText(const String& path) {
    std::ifstream in(path.c_str(), std::ios::binary);
    String text;
    std::string line;
    while (in && std::getline(in, line)) {
        if (line.size() > 1023) line.resize(1023);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        text += String(line);
        text += "\r\n";
    }
    return text;
}

// How the run's messages are composed: the content group, and what the run adds for the sender.
MessageStyle messageStyleOf(const Settings& s, const ProcessObjects& objects) {
    MessageStyle style{s.content};
    // The VPIM and NOVPIM keys: a voice message has part headers, any other none.
    if (objects.voice >= 0) style.voice = style.partHeader = objects.voice != 0;
    if (s.smtp.recipientLimit > 0) style.recipientLimit = s.smtp.recipientLimit;
    return style;
}

void handOverToSender(const Settings& s, ProcessObjects& objects, ProtocolObjects& protocols) {
    SenderSession& sender = protocols.sender(s.sender);
    sender.setConnectionOptions(s.connection, s.tools.verbose);
    sender.style() = messageStyleOf(s, objects);
    protocols.fileSender.refuseLostFile(s.tools.strict);
    // The switches of the SMTP dialogue, which the QMTP session speaks too.
    SmtpSession& smtp = protocols.smtp;
    SmtpSession& qmtp = protocols.qmtp;
    for (SmtpSession* session : {&smtp, &qmtp}) {
        session->setEsmtp(s.smtp.esmtp);
        session->setProbe(s.smtp.probe);
        session->setSkipRefused(s.smtp.goOnPastErrors);
    }
    protocols.nntp.setNoArchive(s.smtp.noArchive);
    // The attachments named on the command line and in the configuration file go to the
    // sender the run ended up choosing.
    for (const PendingAttachment& a : objects.attachments)
        sender.addAttachment(a.path, a.name, a.related != 0);
    objects.attachments.clear();
}

void handOverToReader(const Settings& s, const ProcessObjects& objects, MailboxReader& reader) {
    reader.setConnectionOptions(s.connection, s.tools.verbose);
    reader.setApop(s.receive.apop);
    reader.setHtml(s.content.html);
    reader.setWorkingFolder(objects.workingFolder);
}

// The port of the chosen sender's server: none for the file sender, which its host names.
String senderPort(const Settings& s) {
    if (s.sender == SenderKind::kFile) return String();
    if (s.smtp.news) return s.servers.nntpPort;
    if (s.sender == SenderKind::kQmtp) return s.servers.qmtpPort;
    if (s.sender == SenderKind::kImapUpload) return s.servers.imapPort;
    return s.servers.smtpPort;
}

SendDriverOptions sendOptions(const Settings& s) {
    SendDriverOptions o{s.addresses, s.content, s.smtp, s.servers, s.tools};
    o.user = s.receive.user;
    o.password = s.receive.password;
    o.showRate = s.receive.showRate;
    o.remove = s.receive.remove;
    o.cgi = s.web.cgi;
    o.url = s.web.url;
    o.sender = s.sender;
    // The upload goes to the IMAP server, news to the NNTP server.
    o.host = s.sender == SenderKind::kImapUpload ? s.servers.imapHost : s.smtp.news ? s.servers.nntpHost : s.servers.smtpHost;
    o.port = senderPort(s);
    o.labels = labels();
    return o;
}

BatchOptions batchOptions(const Settings& s) {
    BatchOptions o;
    o.layout = s.smtp.importBatch ? BatchLayout::kKeywords : BatchLayout::kHeaders;
    o.send = sendOptions(s);
    o.port = s.smtp.qmtp ? s.servers.qmtpPort : s.servers.smtpPort;
    // A batch that came with a web request names its attachments inside the files folder.
    if (s.web.cgi) o.confinedFolder = processObjects().workingFolder;
    o.book.aliasNames = &s.addresses.aliasNames;
    o.book.aliasValues = &s.addresses.aliasValues;
    const bool keepHashLines = s.addresses.keepHashLines;
    const String confined = o.confinedFolder;
    o.book.readListFile = [keepHashLines, confined](const String& path) {
        if (confined.empty()) return readListFile(path, keepHashLines);
        String name = path.filePart();
        if (name.empty() || name == "." || name == "..") return String();
        return readListFile(confined + "/" + name, keepHashLines);
    };
    return o;
}

// The mailbox's host and port. The file reader's host names the message file (or a folder
// of them); -file: names it as well and wins when both are given. A server written with its
// port ("host:10995", "[::1]:10995") is reached on that port, whatever -port:, -ssl or the
// port keys say, as a sender's host list is.
void mailboxAddress(const Settings& s, bool fileReader, ReceiveOptions& o) {
    o.host = s.receive.imap ? s.servers.imapHost : s.servers.pop3Host;
    if (fileReader) {
        if (!s.content.messageFile.empty()) o.host = s.content.messageFile;
        return;
    }
    o.port = s.receive.imap ? s.servers.imapPort : s.servers.pop3Port;
    if (HostPort entry = splitHostPort(o.host.view()); !entry.port.empty()) {
        o.host = entry.host;
        o.port = entry.port;
    }
}

ReceiveOptions receiveOptions(const Settings& s, const ProcessObjects& objects, bool fileReader) {
    ReceiveOptions o{s.receive, s.servers, s.addresses, s.content, s.smtp, s.tools};
    mailboxAddress(s, fileReader, o);
    // Replies, receipts and list copies go to the SMTP server: a port given with -port: for
    // the mailbox (which sets every port) is not the SMTP server's.
    const String& mailboxPort = s.receive.imap ? s.servers.imapPort : s.servers.pop3Port;
    o.smtpPort = !fileReader && s.servers.smtpPort == mailboxPort ? String(s.connection.ssl ? kSmtpTlsPort : kSmtpPort) : s.servers.smtpPort;
    o.cgi = s.web.cgi;
    o.fileSender = s.sender == SenderKind::kFile;
    o.workingFolder = objects.workingFolder;
    o.labels = labels();
    return o;
}

// The meter file may come from the configuration file, read after the senders were made.
void handOverMeterFile(const ProcessObjects& objects, ProtocolObjects& protocols) {
    protocols.smtp.meter.setFile(objects.meterFile);
    protocols.qmtp.meter.setFile(objects.meterFile);
}

int runSendDriver(Settings& s, ProtocolObjects& protocols) {
    SenderSession& sender = protocols.sender(s.sender);
    SendDriverOptions options = sendOptions(s);
    // Direct delivery asks the name server for the exchangers of the recipient's domain.
    options.hooks.routeDomain = [&s](const String& domain, Exchangers& exchangers) {
        MxRouteRequest request;
        request.dnsServer = s.servers.dnsServerHost;
        request.fallbackServer = s.servers.discoveredDnsServer;
        request.datagram = s.servers.dnsOverUdp;
        request.trace = traceLevel(s);
        request.verbose = s.tools.verbose != 0;
        request.quiet = s.tools.quiet;
        return lookUpExchangers(domain, request, exchangers);
    };
    // Ready-made messages (import mode, -t, -relay) go to the batch sender.
    options.hooks.sendBatch = [&s](SenderSession& sender, BatchText& text) {
        BatchOptions o = batchOptions(s);
        return runBatch(sender, text, o, &s.content.missingAttachments);
    };
    auto send = [&] { return runSendDriver(options, sender); };
    if (s.web.cgi) return runWebSend(s, options.hooks.writeCgiHead, send);
    return send();
}

// -syslog: the line of a mailbox read: the server, the TLS asked for, the user, the server's
// last reply and the run's exit status.
void logMailboxRun(const Settings& s, const ReceiveOptions& o, const MailboxReader& reader, int code) {
    std::string line = "host=" + o.host.str() + (o.port.empty() ? "" : ":" + o.port.str());
    line += std::string(" tls=") + (s.connection.ssl ? "ssl" : s.connection.tls ? "starttls" : "off");
    line += " user=" + logQuoted(s.receive.user.view());
    std::string reply = reader.lastReply();
    while (!reply.empty() && (reply.back() == '\n' || reply.back() == '\r')) reply.pop_back();
    // The exit status the run will have (-xit: the message count, no failure).
    const int status = runExitStatus(code, s.tools.strict);
    line += " reply=" + logQuoted(reply) + " exit=" + std::to_string(status);
    logToSyslog(status != 0 && !s.receive.exitWithCount, line);
}

int runReceiveDriver(Settings& s, ProcessObjects& objects, ProtocolObjects& protocols) {
    MailboxReader& reader = protocols.reader(s.reader);
    SenderSession* sender = &protocols.sender(s.sender);
    const bool readingFile = s.reader == ReaderKind::kFile;
    const ReceiveOptions o = receiveOptions(s, objects, readingFile);
    if (s.web.cgi) return runWebReceive(s, objects, o, reader, sender);
    const int code = runReceive(o, reader, sender);
    if (s.tools.syslog) logMailboxRun(s, o, reader, code);
    return code;
}

} // namespace

SenderSession& ProtocolObjects::sender(SenderKind kind) {
    switch (kind) {
    case SenderKind::kQmtp: return qmtp;
    case SenderKind::kNews: return nntp;
    case SenderKind::kImapUpload: return upload;
    case SenderKind::kFile: return fileSender;
    case SenderKind::kSmtp: break;
    }
    return smtp;
}

MailboxReader& ProtocolObjects::reader(ReaderKind kind) {
    switch (kind) {
    case ReaderKind::kImap: return imap;
    case ReaderKind::kFile: return fileReader;
    case ReaderKind::kPop3: break;
    }
    return pop3;
}

void prepareActivity(Settings& s, ProcessObjects& objects, ProtocolObjects& protocols) {
    // In IMAP mode a message with a sender address is stored into the -mbox: folder with
    // APPEND instead of being mailed.
    if (s.receive.imap && !s.addresses.from.empty()) {
        s.sender = SenderKind::kImapUpload;
        protocols.upload.setFolder(s.receive.mailbox);
        protocols.upload.setWorkingFolder(objects.workingFolder);
    }
    handOverMeterFile(objects, protocols);
    if (s.content.alternative && !s.content.alternativeFile.empty()) s.content.alternativeText = readAlternativeText(s.content.alternativeFile);
    handOverToSender(s, objects, protocols);
    if (!s.addresses.aliasFile.empty()) readAliasFile(s.addresses.aliasFile, s.addresses.aliasNames, s.addresses.aliasValues);
    // A list run streams its subscriber file itself.
    if (!s.addresses.toListFile.empty() && !readingWanted(s)) s.addresses.to = readListFile(s.addresses.toListFile, s.addresses.keepHashLines);
    if (!s.addresses.ccListFile.empty()) s.addresses.cc = readListFile(s.addresses.ccListFile, s.addresses.keepHashLines);
    if (!s.addresses.bccListFile.empty()) s.addresses.bcc = readListFile(s.addresses.bccListFile, s.addresses.keepHashLines);
    if (s.addresses.domain.empty()) s.addresses.domain = s.servers.smtpHost;
}

bool readingWanted(const Settings& s) {
    const bool wanted = !s.receive.user.empty() || (!s.connection.certificateFile.empty() && s.connection.level == 2) || s.web.authenticatedCgi;
    return wanted && !s.web.upload && !s.smtp.importBatch && s.addresses.from.empty();
}

int runMainActivity(Settings& s, ProcessObjects& objects, ProtocolObjects& protocols) {
    prepareActivity(s, objects, protocols);
    if (!userValuesFitTheirLines(s, stderr)) return failRun(Failure::kData);
    // The web-mail site keeps its own login: the password sources are for runs from a shell.
    LoginMechanism mechanism = LoginMechanism::kPassword;
    if (!s.web.cgi && !prepareCredentials(s, readingWanted(s), mechanism, stderr)) return 1;
    protocols.sender(s.sender).setLoginMechanism(mechanism);
    protocols.reader(s.reader).setLoginMechanism(mechanism);
    if (readingWanted(s)) {
        handOverToReader(s, objects, protocols.reader(s.reader));
        return runReceiveDriver(s, objects, protocols);
    }
    return runSendDriver(s, protocols);
}

} // namespace qarvel
