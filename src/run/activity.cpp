// The hand-over from the settings record to the objects a run uses, and the two main
// activities as the entry calls them: sending through the current sender and reading
// through the current reader.
#include "run/activity.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

#include "config/labels.h"
#include "config/process.h"
#include "config/secret_sources.h"
#include "config/settings.h"
#include "config/value_checks.h"
#include "net/tls_layer.h"
#include "receive/receive_driver.h"
#include "send/batch_sender.h"
#include "send/mx_delivery.h"
#include "send/send_driver.h"
#include "web/web_mail.h"

namespace qarvel {

namespace {

// Only levels above 1 switch the protocol traces on.
int traceLevel(const Settings& s) { return s.verbose > 1 ? s.verbose : 0; }


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

void readAliasFile(Settings& s) {
    std::ifstream in(s.aliasFile.c_str(), std::ios::binary);
    std::string line;
    while (in && std::getline(in, line)) {
        if (line.size() > 255) line.resize(255);
        if (line.empty() || line[0] == '#' || line[0] == '\\') continue;
        char name[256] = "", value[256] = "";
        if (std::sscanf(line.c_str(), "%255[^:]: %255[^#\t\r\n]", name, value) < 2) continue;
        s.aliasNames.add(String(name));
        s.aliasValues.add(String(value));
    }
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

// How the run's messages are composed, from the settings and the process objects.
MessageStyle messageStyleOf(const Settings& s, const ProcessObjects& objects) {
    MessageStyle style;
    style.organization = s.org;
    style.sensitivity = s.sens;
    style.date = s.date;
    style.extraHeader = s.hdr;
    style.priority = s.priority;
    style.zoneStyle = s.gmt;
    style.messageId = s.msgId != 0;
    style.returnReceipt = s.dsn != 0;
    style.dispositionNotification = s.notify != 0;
    style.hideRecipients = s.hide != 0;
    style.encodeHeaders = s.eh != 0;
    if (!s.mime.empty()) style.contentType = s.mime;
    if (!s.charset.empty()) style.charset = s.charset;
    style.charsetChosen = s.charsetChosen;
    style.mime = s.mimeType != 0;
    style.bodyEncoding = s.qp;
    style.eightBit = s.map8bit != 0;
    style.uuencode = s.uue != 0;
    style.html = s.html != 0;
    style.alternative = s.alt != 0;
    style.alternativeText = s.altText;
    style.inlineParts = s.inlineParts != 0;
    style.binary = s.binary != 0;
    style.text = s.text != 0;
    // The VPIM and NOVPIM keys: a voice message has part headers, any other none.
    if (objects.voice >= 0) style.voice = style.partHeader = objects.voice != 0;
    style.raw = s.raw != 0;
    if (s.limit > 0) style.recipientLimit = s.limit;
    return style;
}

// How the run's sender and reader connect.
ConnectionOptions connectionOptionsOf(const Settings& s) {
    ConnectionOptions o;
    o.timeoutSeconds = s.timeoutSeconds;
    o.traceLevel = traceLevel(s);
    o.ssl = s.ssl != 0;
    o.tls = s.tls != 0;
    o.tlsOptions = tlsOptionsOf(s);
    o.firewall = s.firewall;
    if (s.bufferSize > 0) o.bufferSize = static_cast<size_t>(s.bufferSize);
    return o;
}

void handOverToSender(const Settings& s, ProcessObjects& objects, ProtocolObjects& protocols) {
    SenderSession& sender = protocols.sender(s.sender);
    sender.setConnectionOptions(connectionOptionsOf(s));
    sender.style() = messageStyleOf(s, objects);
    // The switches of the SMTP dialogue, which the QMTP session speaks too.
    SmtpSession& smtp = protocols.smtp;
    SmtpSession& qmtp = protocols.qmtp;
    for (SmtpSession* session : {&smtp, &qmtp}) {
        session->setEsmtp(s.esmtp);
        session->setProbe(s.probe);
    }
    // The attachments named on the command line and in the configuration file go to the
    // sender the run ended up choosing.
    for (const PendingAttachment& a : objects.attachments)
        sender.addAttachment(a.path, a.name, a.related != 0);
    objects.attachments.clear();
}

void handOverToReader(const Settings& s, const ProcessObjects& objects, MailboxReader& reader) {
    reader.setConnectionOptions(connectionOptionsOf(s));
    reader.setApop(s.apop);
    reader.setHtml(s.html);
    reader.setWorkingFolder(objects.workingFolder);
}

SendDriverOptions sendOptions(const Settings& s) {
    SendDriverOptions o;
    o.labels = labels();
    o.smtpHost = s.smtpHost;
    o.nntpHost = s.nntpHost;
    o.smtpSender = s.sender == SenderKind::kSmtp;
    o.qmtpSender = s.sender == SenderKind::kQmtp;
    if (s.sender == SenderKind::kFile) o.port = String();
    else if (s.newsMode) o.port = s.nntpPort;
    else if (s.sender == SenderKind::kQmtp) o.port = s.qmtpPort;
    else if (s.sender == SenderKind::kImapUpload) o.port = s.imapPort;
    else o.port = s.smtpPort;
    o.newsMode = s.newsMode;
    o.noArchive = s.noArchive;
    o.dnsServerHost = s.dnsServerHost;
    o.from = s.from;
    o.replyTo = s.replyTo;
    o.to = s.to;
    o.cc = s.cc;
    o.bcc = s.bcc;
    o.subject = s.subject;
    o.messageText = s.messageText;
    o.etrnDomain = s.etrnDomain;
    o.messageFile = s.messageFile;
    o.url = s.url;
    o.user = s.user;
    o.password = s.password;
    o.cert = s.cert;
    o.header = s.header;
    o.toListFile = s.toListFile;
    o.ccListFile = s.ccListFile;
    o.bccListFile = s.bccListFile;
    for (const String& name : s.files.items) o.files.push_back(name);
    o.verbose = s.verbose;
    o.quiet = s.quiet;
    o.noStop = s.noStop;
    o.missingAttachments = s.missingAttachments;
    o.cgiMode = s.cgi;
    o.importMode = s.importMode;
    o.recipientsFromHeaders = s.recipientsFromHeaders;
    o.verify = s.verify;
    o.noMessageBody = s.noMessageBody;
    o.uuencode = s.uue;
    o.directMx = s.directMx;
    o.retries = s.retries;
    o.ssl = s.ssl;
    o.tls = s.tls;
    o.level = s.level;
    o.html = s.html;
    o.kbs = s.kbs;
    o.rm = s.rm;
    o.rmList = s.rmList;
    o.timeoutSeconds = s.timeoutSeconds;
    o.messageCount = s.count;  // 0 or less (-cnt:0, -cnt:abc): no copy at all
    return o;
}

BatchOptions batchOptions(const Settings& s) {
    BatchOptions o;
    o.layout = s.importMode ? BatchLayout::kKeywords : BatchLayout::kHeaders;
    o.to = s.to;
    o.cc = s.cc;
    o.bcc = s.bcc;
    o.relayHost = s.relayHost;
    o.newsMode = s.newsMode;
    o.count = s.count > 0 ? s.count : 1;
    o.rm = s.rm;
    o.strict = s.strict;
    o.host = s.smtpHost;
    o.port = s.qmtp ? s.qmtpPort : s.smtpPort;
    o.directMx = s.directMx;
    o.dnsUdp = s.dnsUdp;
    o.retries = s.retries;
    o.level = s.level;
    o.ssl = s.ssl;
    o.tls = s.tls;
    o.dnsServerHost = s.dnsServerHost;
    o.fallbackDnsServer = s.discoveredDnsServer;
    o.cert = s.cert;
    o.smtpPort = s.smtpPort;
    o.nntpPort = s.nntpPort;
    // A batch that came with a web request names its attachments inside the files folder.
    if (s.cgi) o.confinedFolder = processObjects().workingFolder;
    o.book.aliasNames = &s.aliasNames;
    o.book.aliasValues = &s.aliasValues;
    const bool keepHashLines = s.hash != 0;
    const String confined = o.confinedFolder;
    o.book.readListFile = [keepHashLines, confined](const String& path) {
        if (confined.empty()) return readListFile(path, keepHashLines);
        String name = path.filePart();
        if (name.empty() || name == "." || name == "..") return String();
        return readListFile(confined + "/" + name, keepHashLines);
    };
    o.status = sendOptions(s);
    return o;
}

ReceiveOptions receiveOptions(const Settings& s, const ProcessObjects& objects, bool fileReader) {
    ReceiveOptions o;
    if (fileReader) {
        // The mailbox host names the message file (or a folder of them); -file: names it as
        // well and wins when both are given.
        o.host = !s.messageFile.empty() ? s.messageFile : s.imap ? s.imapHost : s.pop3Host;
    } else if (s.imap) {
        o.host = s.imapHost;
        o.port = s.imapPort;
    } else {
        o.host = s.pop3Host;
        o.port = s.pop3Port;
    }
    o.user = s.user;
    o.password = s.password;
    o.certificate = s.cert;
    o.level = s.level;
    o.preauth = s.preauth;
    o.retries = s.retries;
    o.ssl = s.ssl;
    o.tls = s.tls;
    o.imap = s.imap;
    o.cgi = s.cgi;
    o.logFile = s.log;
    o.messageNumber = s.messageNumber;
    o.lastMessage = s.first;
    o.subjectPattern = s.pat;
    o.subjectNegate = s.patNegate;
    o.senderPattern = s.spat;
    o.senderNegate = s.spatNegate;
    o.brief = s.br;
    o.full = s.full;
    o.raw = s.raw;
    o.quiet = s.quiet;
    o.showSize = s.size;
    o.kbs = s.kbs;
    o.exitWithCount = s.xit;
    o.decodeHeaders = s.dh;
    o.umbox = s.umbox;
    o.html = s.html;
    o.separator = s.sep;
    o.extract = s.extract;
    o.extractFolder = s.extractFolder;
    o.textMode = s.text;
    o.unique = s.unique;
    o.execCommand = s.exec;
    o.filter = s.filter;
    o.harvestFile = s.harvest;
    o.receiptMode = s.receipt;
    o.relay = s.relayHost;
    o.remove = s.rm;
    o.undelete = s.unrm;
    // Replies, receipts and list copies go to the SMTP server: a port given with -port: for
    // the mailbox (which sets every port) is not the SMTP server's.
    const String& mailboxPort = s.imap ? s.imapPort : s.pop3Port;
    o.smtpPort = !fileReader && s.smtpPort == mailboxPort ? String(s.ssl ? "465" : "25") : s.smtpPort;
    o.smtpHost = s.smtpHost;
    o.from = s.from;
    o.workingFolder = objects.workingFolder;
    // List-server mode: a receive run that names a subscriber file (the CGI request's -tolist,
    // or -tolist: on the command line).
    o.list.subscriberFile = s.toListFile;
    o.list.listAddress = s.listServ;
    o.list.fetchFolder = s.fetch;
    o.list.owner = s.owner;
    o.list.header = s.hdr;
    o.list.priv = s.priv;
    o.list.manual = s.manual;
    o.list.dropAttachments = s.attachmentsShown ? 0 : 1;
    o.list.verbose = s.verbose;
    if (s.limit > 0) o.list.recipientsPerTransaction = s.limit;
    o.list.fileSender = s.sender == SenderKind::kFile;
    o.labels = labels();
    ReceiveOptions::Imap& imap = o.imapOptions;
    if (!s.mbox.empty()) imap.mailbox = s.mbox;
    imap.listPattern = s.listPattern;
    imap.listSubscribed = s.listSubscribed;
    imap.createMailbox = s.createMailbox;
    imap.deleteMailbox = s.deleteMailbox;
    imap.getAcl = s.getAcl;
    imap.myRights = s.myRights;
    imap.setAcl = s.setAcl;
    imap.deleteAcl = s.deleteAcl;
    imap.listRights = s.listRights;
    imap.command = s.imapCommand;
    imap.idle = s.idle;
    imap.sort = s.sort;
    imap.search = s.search;
    imap.partName = s.partName;
    imap.partStart = static_cast<unsigned long>(s.partStart);
    imap.partLength = static_cast<unsigned long>(s.partLength);
    imap.encoding = s.encoding;
    imap.moveTo = s.moveTo;
    imap.copyTo = s.copyTo;
    imap.bodyStructure = s.bs;
    imap.purge = s.purge;
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
        request.dnsServer = s.dnsServerHost;
        request.fallbackServer = s.discoveredDnsServer;
        request.datagram = s.dnsUdp != 0;
        request.trace = traceLevel(s);
        request.verbose = s.verbose != 0;
        request.quiet = s.quiet != 0;
        return lookUpExchangers(domain, request, exchangers);
    };
    // Ready-made messages (import mode, -t, -relay) go to the batch sender.
    options.hooks.sendBatch = [&s](SenderSession& sender, BatchText& text) {
        BatchOptions o = batchOptions(s);
        return runBatch(sender, text, o, &s.missingAttachments);
    };
    if (s.sender == SenderKind::kImapUpload) options.smtpHost = s.imapHost;  // the upload goes to the IMAP server
    auto send = [&] { return runSendDriver(options, sender, &protocols.smtp, &protocols.qmtp, &protocols.nntp); };
    if (s.cgi) return runWebSend(s, options.hooks.writeCgiHead, send);
    return send();
}

int runReceiveDriver(Settings& s, ProcessObjects& objects, ProtocolObjects& protocols) {
    MailboxReader& reader = protocols.reader(s.reader);
    SenderSession* sender = &protocols.sender(s.sender);
    const bool readingFile = s.reader == ReaderKind::kFile;
    if (s.cgi) return runWebReceive(s, objects, receiveOptions(s, objects, readingFile), reader, sender);
    return runReceive(receiveOptions(s, objects, readingFile), reader, sender);
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
    if (s.imap && !s.from.empty()) {
        s.sender = SenderKind::kImapUpload;
        protocols.upload.setFolder(s.mbox);
        protocols.upload.setWorkingFolder(objects.workingFolder);
    }
    handOverMeterFile(objects, protocols);
    if (s.alt && !s.altFile.empty()) s.altText = readAlternativeText(s.altFile);
    handOverToSender(s, objects, protocols);
    if (!s.aliasFile.empty()) readAliasFile(s);
    // A list run streams its subscriber file itself.
    if (!s.toListFile.empty() && !readingWanted(s)) s.to = readListFile(s.toListFile, s.hash != 0);
    if (!s.ccListFile.empty()) s.cc = readListFile(s.ccListFile, s.hash != 0);
    if (!s.bccListFile.empty()) s.bcc = readListFile(s.bccListFile, s.hash != 0);
    s.receiveTo = s.to;
    if (s.domain.empty()) s.domain = s.smtpHost;
}

bool readingWanted(const Settings& s) {
    const bool wanted = !s.user.empty() || (!s.cert.empty() && s.level == 2) || s.authenticatedCgi;
    return wanted && !s.uploadMode && !s.importMode && s.from.empty();
}

int runMainActivity(Settings& s, ProcessObjects& objects, ProtocolObjects& protocols) {
    prepareActivity(s, objects, protocols);
    if (!userValuesFitTheirLines(s, stderr)) return 1;
    // The web-mail site keeps its own login: the password sources are for runs from a shell.
    LoginMechanism mechanism = LoginMechanism::kPassword;
    if (!s.cgi && !prepareCredentials(s, readingWanted(s), mechanism, stderr)) return 1;
    protocols.sender(s.sender).setLoginMechanism(mechanism);
    protocols.reader(s.reader).setLoginMechanism(mechanism);
    if (readingWanted(s)) {
        handOverToReader(s, objects, protocols.reader(s.reader));
        return runReceiveDriver(s, objects, protocols);
    }
    return runSendDriver(s, protocols);
}

} // namespace qarvel
