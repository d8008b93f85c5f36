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

void readAliasFile(Settings& s) {
    std::ifstream in(s.addresses.aliasFile.c_str(), std::ios::binary);
    std::string line;
    while (in && std::getline(in, line)) {
        if (line.size() > 255) line.resize(255);
        if (line.empty() || line[0] == '#' || line[0] == '\\') continue;
        char name[256] = "", value[256] = "";
        if (std::sscanf(line.c_str(), "%255[^:]: %255[^#\t\r\n]", name, value) < 2) continue;
        s.addresses.aliasNames.add(String(name));
        s.addresses.aliasValues.add(String(value));
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
    style.organization = s.content.organization;
    style.sensitivity = s.content.sensitivity;
    style.date = s.content.date;
    style.extraHeader = s.content.extraHeaders;
    style.priority = s.content.priority;
    style.zoneStyle = s.content.universalTime;
    style.messageId = s.content.messageId;
    style.returnReceipt = s.content.returnReceipt;
    style.dispositionNotification = s.content.dispositionNotification;
    style.hideRecipients = s.content.hideRecipients;
    style.encodeHeaders = s.content.encodeHeaders;
    if (!s.content.contentType.empty()) style.contentType = s.content.contentType;
    if (!s.content.charset.empty()) style.charset = s.content.charset;
    style.charsetChosen = s.content.charsetChosen;
    style.mime = s.content.mimeLevel != 0;
    style.bodyEncoding = s.content.quotedPrintable;
    style.eightBit = s.content.eightBit;
    style.uuencode = s.content.uuencode;
    style.html = s.content.html;
    style.alternative = s.content.alternative;
    style.alternativeText = s.content.alternativeText;
    style.inlineParts = s.content.inlineAttachments;
    style.binary = s.content.binaryAttachments;
    style.text = s.content.textAttachments;
    // The VPIM and NOVPIM keys: a voice message has part headers, any other none.
    if (objects.voice >= 0) style.voice = style.partHeader = objects.voice != 0;
    style.raw = s.content.raw;
    if (s.smtp.recipientLimit > 0) style.recipientLimit = s.smtp.recipientLimit;
    return style;
}

// How the run's sender and reader connect.
ConnectionOptions connectionOptionsOf(const Settings& s) {
    ConnectionOptions o;
    o.timeoutSeconds = s.servers.timeoutSeconds;
    o.traceLevel = traceLevel(s);
    o.ssl = s.servers.implicitTls;
    o.tls = s.servers.startTls;
    o.tlsOptions = tlsOptionsOf(s);
    o.firewall = s.servers.firewall;
    if (s.servers.bufferSize > 0) o.bufferSize = static_cast<size_t>(s.servers.bufferSize);
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
        session->setEsmtp(s.smtp.esmtp);
        session->setProbe(s.smtp.probe);
    }
    // The attachments named on the command line and in the configuration file go to the
    // sender the run ended up choosing.
    for (const PendingAttachment& a : objects.attachments)
        sender.addAttachment(a.path, a.name, a.related != 0);
    objects.attachments.clear();
}

void handOverToReader(const Settings& s, const ProcessObjects& objects, MailboxReader& reader) {
    reader.setConnectionOptions(connectionOptionsOf(s));
    reader.setApop(s.receive.apop);
    reader.setHtml(s.content.html);
    reader.setWorkingFolder(objects.workingFolder);
}

SendDriverOptions sendOptions(const Settings& s) {
    SendDriverOptions o;
    o.labels = labels();
    o.smtpHost = s.servers.smtpHost;
    o.nntpHost = s.servers.nntpHost;
    o.smtpSender = s.sender == SenderKind::kSmtp;
    o.qmtpSender = s.sender == SenderKind::kQmtp;
    if (s.sender == SenderKind::kFile) o.port = String();
    else if (s.smtp.news) o.port = s.servers.nntpPort;
    else if (s.sender == SenderKind::kQmtp) o.port = s.servers.qmtpPort;
    else if (s.sender == SenderKind::kImapUpload) o.port = s.servers.imapPort;
    else o.port = s.servers.smtpPort;
    o.newsMode = s.smtp.news;
    o.noArchive = s.smtp.noArchive;
    o.dnsServerHost = s.servers.dnsServerHost;
    o.from = s.addresses.from;
    o.replyTo = s.addresses.replyTo;
    o.to = s.addresses.to;
    o.cc = s.addresses.cc;
    o.bcc = s.addresses.bcc;
    o.subject = s.content.subject;
    o.messageText = s.content.messageText;
    o.etrnDomain = s.smtp.etrnDomain;
    o.messageFile = s.content.messageFile;
    o.url = s.web.url;
    o.user = s.receive.user;
    o.password = s.receive.password;
    o.cert = s.servers.certificateFile;
    o.header = s.content.leadingText;
    o.toListFile = s.addresses.toListFile;
    o.ccListFile = s.addresses.ccListFile;
    o.bccListFile = s.addresses.bccListFile;
    for (const String& name : s.content.files.items) o.files.push_back(name);
    o.verbose = s.tools.verbose;
    o.quiet = s.tools.quiet;
    o.noStop = s.smtp.goOnPastErrors;
    o.missingAttachments = s.content.missingAttachments;
    o.cgiMode = s.web.cgi;
    o.importMode = s.smtp.importBatch;
    o.recipientsFromHeaders = s.smtp.recipientsFromHeaders;
    o.verify = s.smtp.verifySender;
    o.noMessageBody = s.content.noMessageText;
    o.uuencode = s.content.uuencode;
    o.directMx = s.servers.directToMx;
    o.retries = s.servers.retries;
    o.ssl = s.servers.implicitTls;
    o.tls = s.servers.startTls;
    o.level = s.servers.securityLevel;
    o.html = s.content.html;
    o.kbs = s.receive.showRate;
    o.rm = s.receive.remove;
    o.rmList = s.tools.removeListFiles;
    o.timeoutSeconds = s.servers.timeoutSeconds;
    o.messageCount = s.smtp.sendCount;  // 0 or less (-cnt:0, -cnt:abc): no copy at all
    return o;
}

BatchOptions batchOptions(const Settings& s) {
    BatchOptions o;
    o.layout = s.smtp.importBatch ? BatchLayout::kKeywords : BatchLayout::kHeaders;
    o.to = s.addresses.to;
    o.cc = s.addresses.cc;
    o.bcc = s.addresses.bcc;
    o.relayHost = s.servers.relayHost;
    o.newsMode = s.smtp.news;
    o.count = s.smtp.sendCount > 0 ? s.smtp.sendCount : 1;
    o.rm = s.receive.remove;
    o.strict = s.tools.strict;
    o.host = s.servers.smtpHost;
    o.port = s.smtp.qmtp ? s.servers.qmtpPort : s.servers.smtpPort;
    o.directMx = s.servers.directToMx;
    o.dnsUdp = s.servers.dnsOverUdp;
    o.retries = s.servers.retries;
    o.level = s.servers.securityLevel;
    o.ssl = s.servers.implicitTls;
    o.tls = s.servers.startTls;
    o.dnsServerHost = s.servers.dnsServerHost;
    o.fallbackDnsServer = s.servers.discoveredDnsServer;
    o.cert = s.servers.certificateFile;
    o.smtpPort = s.servers.smtpPort;
    o.nntpPort = s.servers.nntpPort;
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
    o.status = sendOptions(s);
    return o;
}

ReceiveOptions receiveOptions(const Settings& s, const ProcessObjects& objects, bool fileReader) {
    ReceiveOptions o;
    if (fileReader) {
        // The mailbox host names the message file (or a folder of them); -file: names it as
        // well and wins when both are given.
        o.host = !s.content.messageFile.empty() ? s.content.messageFile : s.receive.imap ? s.servers.imapHost : s.servers.pop3Host;
    } else if (s.receive.imap) {
        o.host = s.servers.imapHost;
        o.port = s.servers.imapPort;
    } else {
        o.host = s.servers.pop3Host;
        o.port = s.servers.pop3Port;
    }
    o.user = s.receive.user;
    o.password = s.receive.password;
    o.certificate = s.servers.certificateFile;
    o.level = s.servers.securityLevel;
    o.preauth = s.receive.preauthenticated;
    o.retries = s.servers.retries;
    o.ssl = s.servers.implicitTls;
    o.tls = s.servers.startTls;
    o.imap = s.receive.imap;
    o.cgi = s.web.cgi;
    o.logFile = s.tools.logFile;
    o.messageNumber = s.receive.messageNumber;
    o.lastMessage = s.receive.lastMessage;
    o.subjectPattern = s.receive.subjectPattern;
    o.subjectNegate = s.receive.subjectPatternNegated;
    o.senderPattern = s.receive.senderPattern;
    o.senderNegate = s.receive.senderPatternNegated;
    o.brief = s.receive.brief;
    o.full = s.receive.fullHeaders;
    o.raw = s.content.raw;
    o.quiet = s.tools.quiet;
    o.showSize = s.receive.showSize;
    o.kbs = s.receive.showRate;
    o.exitWithCount = s.receive.exitWithCount;
    o.decodeHeaders = s.receive.decodeHeaders;
    o.umbox = s.receive.unixMailbox;
    o.html = s.content.html;
    o.separator = s.receive.separator;
    o.extract = s.receive.extract;
    o.extractFolder = s.receive.extractFolder;
    o.textMode = s.content.textAttachments;
    o.unique = s.receive.uniqueNames;
    o.execCommand = s.receive.execCommand;
    o.filter = s.receive.filter;
    o.harvestFile = s.receive.harvestFile;
    o.receiptMode = s.receive.readReceipt;
    o.relay = s.servers.relayHost;
    o.remove = s.receive.remove;
    o.undelete = s.receive.keepMessages;
    // Replies, receipts and list copies go to the SMTP server: a port given with -port: for
    // the mailbox (which sets every port) is not the SMTP server's.
    const String& mailboxPort = s.receive.imap ? s.servers.imapPort : s.servers.pop3Port;
    o.smtpPort = !fileReader && s.servers.smtpPort == mailboxPort ? String(s.servers.implicitTls ? "465" : "25") : s.servers.smtpPort;
    o.smtpHost = s.servers.smtpHost;
    o.from = s.addresses.from;
    o.workingFolder = objects.workingFolder;
    // List-server mode: a receive run that names a subscriber file (the CGI request's -tolist,
    // or -tolist: on the command line).
    o.list.subscriberFile = s.addresses.toListFile;
    o.list.listAddress = s.addresses.listAddress;
    o.list.fetchFolder = s.receive.fetchFolder;
    o.list.owner = s.addresses.listOwner;
    o.list.header = s.content.extraHeaders;
    o.list.priv = s.receive.listPrivate;
    o.list.manual = s.receive.listManual;
    o.list.dropAttachments = s.receive.showAttachments ? 0 : 1;
    o.list.verbose = s.tools.verbose;
    if (s.smtp.recipientLimit > 0) o.list.recipientsPerTransaction = s.smtp.recipientLimit;
    o.list.fileSender = s.sender == SenderKind::kFile;
    o.labels = labels();
    ReceiveOptions::Imap& imap = o.imapOptions;
    if (!s.receive.mailbox.empty()) imap.mailbox = s.receive.mailbox;
    imap.listPattern = s.receive.folderPattern;
    imap.listSubscribed = s.receive.subscribedOnly;
    imap.createMailbox = s.receive.createMailbox;
    imap.deleteMailbox = s.receive.deleteMailbox;
    imap.getAcl = s.receive.getAcl;
    imap.myRights = s.receive.myRights;
    imap.setAcl = s.receive.setAcl;
    imap.deleteAcl = s.receive.deleteAcl;
    imap.listRights = s.receive.listRights;
    imap.command = s.receive.imapCommand;
    imap.idle = s.receive.idleSeconds;
    imap.sort = s.receive.sort;
    imap.search = s.receive.search;
    imap.partName = s.receive.partName;
    imap.partStart = static_cast<unsigned long>(s.receive.partStart);
    imap.partLength = static_cast<unsigned long>(s.receive.partLength);
    imap.encoding = s.content.encoding;
    imap.moveTo = s.receive.moveTo;
    imap.copyTo = s.receive.copyTo;
    imap.bodyStructure = s.receive.listParts;
    imap.purge = s.receive.purge;
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
    if (s.sender == SenderKind::kImapUpload) options.smtpHost = s.servers.imapHost;  // the upload goes to the IMAP server
    auto send = [&] { return runSendDriver(options, sender, &protocols.smtp, &protocols.qmtp, &protocols.nntp); };
    if (s.web.cgi) return runWebSend(s, options.hooks.writeCgiHead, send);
    return send();
}

int runReceiveDriver(Settings& s, ProcessObjects& objects, ProtocolObjects& protocols) {
    MailboxReader& reader = protocols.reader(s.reader);
    SenderSession* sender = &protocols.sender(s.sender);
    const bool readingFile = s.reader == ReaderKind::kFile;
    if (s.web.cgi) return runWebReceive(s, objects, receiveOptions(s, objects, readingFile), reader, sender);
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
    if (s.receive.imap && !s.addresses.from.empty()) {
        s.sender = SenderKind::kImapUpload;
        protocols.upload.setFolder(s.receive.mailbox);
        protocols.upload.setWorkingFolder(objects.workingFolder);
    }
    handOverMeterFile(objects, protocols);
    if (s.content.alternative && !s.content.alternativeFile.empty()) s.content.alternativeText = readAlternativeText(s.content.alternativeFile);
    handOverToSender(s, objects, protocols);
    if (!s.addresses.aliasFile.empty()) readAliasFile(s);
    // A list run streams its subscriber file itself.
    if (!s.addresses.toListFile.empty() && !readingWanted(s)) s.addresses.to = readListFile(s.addresses.toListFile, s.addresses.keepHashLines);
    if (!s.addresses.ccListFile.empty()) s.addresses.cc = readListFile(s.addresses.ccListFile, s.addresses.keepHashLines);
    if (!s.addresses.bccListFile.empty()) s.addresses.bcc = readListFile(s.addresses.bccListFile, s.addresses.keepHashLines);
    if (s.addresses.domain.empty()) s.addresses.domain = s.servers.smtpHost;
}

bool readingWanted(const Settings& s) {
    const bool wanted = !s.receive.user.empty() || (!s.servers.certificateFile.empty() && s.servers.securityLevel == 2) || s.web.authenticatedCgi;
    return wanted && !s.web.upload && !s.smtp.importBatch && s.addresses.from.empty();
}

int runMainActivity(Settings& s, ProcessObjects& objects, ProtocolObjects& protocols) {
    prepareActivity(s, objects, protocols);
    if (!userValuesFitTheirLines(s, stderr)) return 1;
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
