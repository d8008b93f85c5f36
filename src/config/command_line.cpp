#include "config/command_line.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

#include "config/option_values.h"
#include "config/process.h"
#include "config/request_modes.h"
#include "config/settings.h"
#include "net/dns_tools.h"

namespace qarvel {

namespace {

// What an option does with its value (the rest of the argument; empty for flags).
using OptionAction = void (*)(Settings& s, ProcessObjects& objects, const char* value);

enum OptionForm { kFlag, kValue };

struct Option {
    const char* name;
    OptionForm form;
    bool imapOnly;  // tested only while IMAP mode is on
    OptionAction act;
};

String plain(const char* value) { return unquoteValue(value, kEscapesKept); }

void appendAddress(String& list, const char* value) {
    if (!list.empty()) list += ',';
    list += plain(value);
}

void imapQuery(Settings& s) {
    s.tools.quiet = true;
    s.receive.brief = true;
    s.receive.imapCommand = true;
}

void listFolders(Settings& s, const String& pattern, bool subscribed) {
    s.receive.folderPattern = pattern;
    s.receive.subscribedOnly = subscribed;
    imapQuery(s);
}

String firstLineOf(const String& path, size_t limit) {
    std::ifstream in(path.c_str(), std::ios::binary);
    std::string line;
    if (!in || !std::getline(in, line)) return String();
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
    if (line.size() > limit) line.resize(limit);
    return String(line);
}

// The network look-ups go to the SMTP host as name server.
void askSrv(Settings& s, ProcessObjects&, const char* value) {
    s.servers.dnsServerHost = s.servers.smtpHost;
    printSrvRecords(s.servers.dnsServerHost, plain(value), s.servers.dnsOverUdp, s.tools.verbose > 1 ? s.tools.verbose : 0);
    s.tools.noop = true;
}

void askTxt(Settings& s, ProcessObjects&, const char* value) {
    s.servers.dnsServerHost = s.servers.smtpHost;
    printTxtRecords(s.servers.dnsServerHost, plain(value), s.servers.dnsOverUdp, s.tools.verbose > 1 ? s.tools.verbose : 0);
    s.tools.noop = true;
}

void probe(Settings& s, ProcessObjects&, const char* value) {
    s.servers.dnsServerHost = s.servers.smtpHost;
    s.addresses.to = value;
    s.addresses.from = value;
    s.smtp.probe = true;
    s.content.noMessageText = true;
    s.servers.directToMx = true;
}

void attach(Settings& s, ProcessObjects& objects, const char* value) {
    const String path = plain(value);
    if (queueAttachment(objects, path, String(), 0, s.content.missingAttachments)) s.content.attachments.add(path);
}

void post(Settings& s, ProcessObjects&, const char* value) {
    s.web.post = true;
    std::ifstream in(plain(value).c_str(), std::ios::binary);
    if (in) s.content.messageText = String(std::string(std::istreambuf_iterator<char>(in), {}));
}

void fetchUrl(Settings& s, ProcessObjects& objects, const char* value) {
    s.web.url = plain(value);
    queueUrl(s, objects);
}

void messageText(Settings& s, ProcessObjects&, const char* value) {
    s.receive.lastMessage = s.receive.messageNumber = readNumber(value);
    const int mode = s.content.escapeMode == 1 ? kEscapesControl : s.content.escapeMode == 2 ? kEscapesKept : kEscapesAll;
    s.content.messageText = unquoteValue(value, mode);
}

// The options kept for old command lines: taken, and nothing follows from them.
void ignored(Settings&, ProcessObjects&, const char*) {}

// Table order is the matching order. Each group follows the option tour of the usage help.
const Option kOptions[] = {
    // Receive actions and output.
    {"-exec:", kValue, false, [](Settings& s, ProcessObjects&, const char* v) { s.receive.execCommand = plain(v); }},
    {"-filter:", kValue, false, [](Settings& s, ProcessObjects&, const char* v) { s.receive.filter = plain(v); }},
    {"-hdr:", kValue, false, [](Settings& s, ProcessObjects&, const char* v) { s.content.extraHeaders = unquoteValue(v, kEscapesControl); }},
    {"-etrn:", kValue, false, [](Settings& s, ProcessObjects&, const char* v) { s.smtp.etrnDomain = plain(v); s.content.noMessageText = true; }},
    {"-org:", kValue, false, [](Settings& s, ProcessObjects&, const char* v) { s.content.organization = plain(v); }},
    {"-date:", kValue, false, [](Settings& s, ProcessObjects&, const char* v) { s.content.date = plain(v); }},
    {"-sens:", kValue, false, [](Settings& s, ProcessObjects&, const char* v) { s.content.sensitivity = plain(v); }},
    {"-alias:", kValue, false, [](Settings& s, ProcessObjects&, const char* v) { s.addresses.aliasFile = plain(v); }},
    {"-referer:", kValue, false, [](Settings& s, ProcessObjects&, const char* v) { s.web.referer = plain(v); }},
    {"-listserv:", kValue, false, [](Settings& s, ProcessObjects&, const char* v) { s.addresses.listAddress = plain(v); s.smtp.goOnPastErrors = true; s.receive.extract = true; }},
    {"-fetch:", kValue, false, [](Settings& s, ProcessObjects&, const char* v) { s.receive.fetchFolder = plain(v); }},
    {"-owner:", kValue, false, [](Settings& s, ProcessObjects&, const char* v) { s.addresses.listOwner = plain(v); }},

    // Addresses. The list files are read when the run starts (in a list run the to-list file
    // is the subscriber file).
    {"-tolist:", kValue, false, [](Settings& s, ProcessObjects&, const char* v) { s.addresses.toListFile = plain(v); }},
    {"-cclist:", kValue, false, [](Settings& s, ProcessObjects&, const char* v) { s.addresses.ccListFile = plain(v); }},
    {"-bcclist:", kValue, false, [](Settings& s, ProcessObjects&, const char* v) { s.addresses.bccListFile = plain(v); }},
    {"-to:", kValue, false, [](Settings& s, ProcessObjects&, const char* v) { appendAddress(s.addresses.to, v); }},
    {"-cc:", kValue, false, [](Settings& s, ProcessObjects&, const char* v) { appendAddress(s.addresses.cc, v); }},
    {"-bcc:", kValue, false, [](Settings& s, ProcessObjects&, const char* v) { appendAddress(s.addresses.bcc, v); }},
    {"-from:", kValue, false, [](Settings& s, ProcessObjects&, const char* v) { s.addresses.from = plain(v); }},
    {"-replyto:", kValue, false, [](Settings& s, ProcessObjects&, const char* v) { s.addresses.replyTo = plain(v); }},
    {"-contact:", kValue, false, [](Settings& s, ProcessObjects&, const char* v) { s.addresses.contact = plain(v); }},

    // Dial-up, log and IMAP queries.
    {"-connect:", kValue, false, [](Settings& s, ProcessObjects& o, const char* v) { s.tools.connect = unquoteValue(v, kEscapesAll); o.configRequested = 1; }},
    {"-disconnect", kFlag, false, [](Settings& s, ProcessObjects& o, const char*) { s.tools.disconnect = "/disconnect"; o.configRequested = 1; }},
    {"-disconnect:", kValue, false, [](Settings& s, ProcessObjects& o, const char* v) { s.tools.disconnect = withDisconnectSwitch(unquoteValue(v, kEscapesAll)); o.configRequested = 1; }},
    {"-log:", kValue, false, [](Settings& s, ProcessObjects&, const char* v) { s.tools.logFile = plain(v); }},
    {"-sort:", kValue, true, [](Settings& s, ProcessObjects&, const char* v) { s.receive.sort = plain(v); }},
    {"-search:", kValue, true, [](Settings& s, ProcessObjects&, const char* v) { s.receive.search = plain(v); }},
    {"-ldapasdns", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.servers.ldapAsDnsServer = true; }},
    {"-ldapcc", kFlag, false, ignored},
    {"-ldapbcc", kFlag, false, ignored},
    {"-uid", kFlag, false, ignored},
    {"-ssl", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.connection.ssl = true; useImplicitTlsPorts(s.servers); }},
    {"-tls", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.connection.tls = true; }},
    {"-hash", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.addresses.keepHashLines = true; }},
    {"-gmt", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.content.universalTime = 1; }},
    {"-utc", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.content.universalTime = 2; }},
    {"-nogmt", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.content.universalTime = 0; }},
    {"-noutc", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.content.universalTime = 0; }},
    {"-relay", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.servers.relayHost = "localhost"; s.smtp.recipientsFromHeaders = true; s.content.raw = true; }},
    {"-relay:", kValue, false, [](Settings& s, ProcessObjects&, const char* v) { s.servers.relayHost = plain(v); s.smtp.recipientsFromHeaders = true; s.content.raw = true; }},
    {"-file:", kValue, false, [](Settings& s, ProcessObjects&, const char* v) { s.content.messageFile = plain(v); s.content.files.add(s.content.messageFile); }},
    {"-harvest:", kValue, false, [](Settings& s, ProcessObjects&, const char* v) { s.receive.harvestFile = plain(v); }},
    {"-maildir:", kValue, false, [](Settings& s, ProcessObjects&, const char* v) { s.receive.maildir = plain(v); }},
    {"-mboxfile:", kValue, false, [](Settings& s, ProcessObjects&, const char* v) { s.receive.mboxFile = plain(v); }},
    {"-seen:", kValue, false, [](Settings& s, ProcessObjects&, const char* v) { s.receive.seenFile = plain(v); }},
    {"-cert:", kValue, false, [](Settings& s, ProcessObjects&, const char* v) { s.connection.certificateFile = plain(v); }},
    {"-level:", kValue, false, [](Settings& s, ProcessObjects&, const char* v) { s.connection.level = readNumber(v); }},
    {"-addr:", kValue, false, [](Settings& s, ProcessObjects&, const char* v) { s.receive.subjectPattern = plain(v); s.receive.subjectPatternNegated = false; }},
    {"-pat:", kValue, false, [](Settings& s, ProcessObjects&, const char* v) { s.receive.subjectPattern = plain(v); s.receive.subjectPatternNegated = false; }},
    {"-nopat:", kValue, false, [](Settings& s, ProcessObjects&, const char* v) { s.receive.subjectPattern = plain(v); s.receive.subjectPatternNegated = true; }},
    {"-spat:", kValue, false, [](Settings& s, ProcessObjects&, const char* v) { s.receive.senderPattern = plain(v); s.receive.senderPatternNegated = false; }},
    {"-nospat:", kValue, false, [](Settings& s, ProcessObjects&, const char* v) { s.receive.senderPattern = plain(v); s.receive.senderPatternNegated = true; }},
    {"-mime:", kValue, false, [](Settings& s, ProcessObjects&, const char* v) { s.content.contentType = plain(v); }},
    {"-charset:", kValue, false, [](Settings& s, ProcessObjects&, const char* v) { s.content.charset = plain(v); s.content.charsetChosen = true; }},
    {"-encoding:", kValue, false, [](Settings& s, ProcessObjects&, const char* v) { s.content.encoding = plain(v); }},
    {"-getacl", kFlag, true, [](Settings& s, ProcessObjects&, const char*) { s.receive.getAcl = true; imapQuery(s); }},
    {"-setacl:", kValue, true, [](Settings& s, ProcessObjects&, const char* v) { s.receive.setAcl = plain(v); imapQuery(s); }},
    {"-deleteacl:", kValue, true, [](Settings& s, ProcessObjects&, const char* v) { s.receive.deleteAcl = plain(v); imapQuery(s); }},
    {"-myrights", kFlag, true, [](Settings& s, ProcessObjects&, const char*) { s.receive.myRights = true; imapQuery(s); }},
    {"-listrights:", kValue, true, [](Settings& s, ProcessObjects&, const char* v) { s.receive.listRights = plain(v); imapQuery(s); }},
    {"-list:", kValue, false, [](Settings& s, ProcessObjects&, const char* v) { listFolders(s, plain(v), false); }},
    {"-lsub:", kValue, false, [](Settings& s, ProcessObjects&, const char* v) { listFolders(s, plain(v), true); }},
    {"-list", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { listFolders(s, "%", s.receive.subscribedOnly); }},
    {"-lsub", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { listFolders(s, "%", true); }},
    {"-part:", kValue, true, [](Settings& s, ProcessObjects&, const char* v) {
         char name[256] = "";
         unsigned long start = 0, length = 0;
         std::sscanf(v, "%255[^:]:%lu:%lu", name, &start, &length);
         s.receive.partName = name;
         s.receive.partStart = static_cast<long>(start);
         s.receive.partLength = static_cast<long>(length);
     }},
    {"-mbox:", kValue, true, [](Settings& s, ProcessObjects&, const char* v) { s.receive.mailbox = plain(v); }},
    {"-move:", kValue, true, [](Settings& s, ProcessObjects&, const char* v) { s.receive.moveTo = plain(v); }},
    {"-copy:", kValue, true, [](Settings& s, ProcessObjects&, const char* v) { s.receive.copyTo = plain(v); }},
    {"-create:", kValue, true, [](Settings& s, ProcessObjects&, const char* v) { s.receive.createMailbox = plain(v); imapQuery(s); }},
    {"-delete:", kValue, true, [](Settings& s, ProcessObjects&, const char* v) { s.receive.deleteMailbox = plain(v); imapQuery(s); }},

    // Immediate actions.
    {"-probe:", kValue, false, probe},
    {"-srv:", kValue, false, askSrv},
    {"-txt:", kValue, false, askTxt},
    {"-a:", kValue, false, attach},
    {"-sfile:", kValue, false, [](Settings& s, ProcessObjects&, const char* v) { s.content.subject = firstLineOf(plain(v), 255); }},
    {"-post:", kValue, false, post},
    {"-url:", kValue, false, fetchUrl},

    // Message and sending switches.
    {"-noatt", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.receive.showAttachments = false; s.receive.extract = true; }},
    {"-esmtp", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.smtp.esmtp = true; }},
    {"-noesmtp", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.smtp.esmtp = false; }},
    {"-qmtp", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.smtp.qmtp = true; s.sender = SenderKind::kQmtp; }},
    {"-dh", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.receive.decodeHeaders = true; }},
    {"-eh", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.content.encodeHeaders = true; }},
    {"-nodh", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.receive.decodeHeaders = false; }},
    {"-noeh", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.content.encodeHeaders = false; }},
    {"-size", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.receive.showSize = true; }},
    {"-inline", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.content.inlineAttachments = true; }},
    {"-8", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.content.eightBit = true; s.content.quotedPrintable = 0; }},
    {"-msgid", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.content.messageId = true; }},
    {"-high", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.content.priority = 1; }},
    {"-low", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.content.priority = 2; }},
    {"-normal", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.content.priority = 3; }},
    {"-notify", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.content.returnReceipt = true; s.content.dispositionNotification = true; }},
    {"-mdn", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.content.dispositionNotification = true; s.receive.readReceipt = 1; }},
    {"-dsn", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.content.returnReceipt = true; }},
    {"-receipt", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.receive.readReceipt = 2; }},
    {"-priv", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.receive.listPrivate = true; }},
    {"-open", kFlag, false, ignored},
    {"-manual", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.receive.listManual = true; }},
    {"-bs", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.receive.listParts = true; }},
    {"-noesc", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.content.escapeMode = 1; }},
    {"--noesc", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.content.escapeMode = 2; }},
    // A message file has no login step: like the MAIL key, -mail reads it pre-authenticated.
    {"-mail", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.receive.user = s.receive.password = "dummy"; s.receive.preauthenticated = true; s.reader = ReaderKind::kFile; }},
    {"-mf", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.sender = SenderKind::kFile; }},
    {"-preauth", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.receive.preauthenticated = true; }},
    {"-alt:", kValue, false, [](Settings& s, ProcessObjects&, const char* v) { s.content.alternativeFile = plain(v); s.content.alternativeText = String(); s.content.alternative = true; }},
    {"-alt", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.content.alternativeFile = s.content.alternativeText = String(); s.content.alternative = true; }},
    {"-hide", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.content.hideRecipients = true; }},
    {"-ns", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.smtp.goOnPastErrors = true; }},
    {"-xit", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.receive.exitWithCount = true; }},
    {"-noarchive", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.smtp.noArchive = true; }},
    {"-news", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { enterNewsMode(s); }},
    {"-import", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.smtp.importBatch = true; }},
    {"-verify", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.smtp.verifySender = true; s.content.universalTime = 0; }},
    {"-uue", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.content.uuencode = true; s.content.binaryAttachments = true; }},
    {"-binary", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.content.binaryAttachments = true; }},
    {"-text", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.content.textAttachments = true; }},
    {"-t", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.smtp.recipientsFromHeaders = true; s.content.raw = true; }},
    {"-unique", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.receive.uniqueNames = true; }},
    {"-nomsg", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.content.noMessageText = true; }},

    // Tool switches.
    {"-xml", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.tools.xml = true; s.tools.noop = true; }},
    {"-sap", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.tools.sap = true; s.tools.noop = true; }},
    {"-udp", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.tools.udp = true; s.tools.noop = true; }},
    {"-mcastdump", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.tools.multicastDump = true; }},
    {"-rawsock", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.tools.rawSocket = true; }},
    {"-noop", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.tools.noop = true; }},
    {"-decode:base64", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.tools.decodeBase64 = true; s.tools.noop = true; }},
    {"-decode:uue", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.tools.noop = true; }},
    {"-decode:qp", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.tools.noop = true; }},
    {"-encode:base64", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.tools.encodeBase64 = true; s.tools.noop = true; }},
    {"-encode:uue", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.tools.noop = true; }},
    {"-encode:qp", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.tools.noop = true; }},

    // Receive switches.
    {"-q", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.tools.quiet = true; }},
    {"-syslog", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.tools.syslog = true; }},
    {"-quiet", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.tools.quiet = true; }},
    {"-v", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.tools.verbose = 1; }},
    {"-v:", kValue, false, [](Settings& s, ProcessObjects&, const char* v) { s.tools.verbose = readNumber(v); }},
    {"-dnsudp", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.servers.dnsOverUdp = true; }},
    {"-raw", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.content.raw = true; s.receive.brief = false; }},
    {"-umbox", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.receive.unixMailbox = true; }},
    {"-ipv6", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.connection.preferIpv6 = true; }},
    {"-kbs", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.receive.showRate = true; }},
    {"-br", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.receive.brief = true; }},
    {"-full", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.receive.fullHeaders = true; }},
    {"-extract", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.receive.extract = true; }},
    // A folder given to -extract: is where the attachments go, which asks for them as well.
    {"-extract:", kValue, false, [](Settings& s, ProcessObjects&, const char* v) { s.receive.extractFolder = plain(v); s.receive.extract = true; }},
    {"-purge", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.receive.purge = true; }},
    {"-pu", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.receive.purge = true; }},
    {"-rm", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.receive.remove = true; s.receive.keepMessages = false; }},
    {"-unrm", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.receive.remove = true; s.receive.keepMessages = true; }},
    {"-rmlist", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.tools.removeListFiles = true; }},
    {"-rmfile:", kValue, false, [](Settings& s, ProcessObjects&, const char* v) { s.tools.removeFile = plain(v); }},
    {"-http11", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.web.http11 = true; }},
    {"-nohttp11", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.web.http11 = false; }},

    // Other value options.
    {"-wrap:", kValue, false, ignored},
    {"-user:", kValue, false, [](Settings& s, ProcessObjects&, const char* v) { s.receive.user = v; }},
    // Each password source replaces the others given before it; -passcmd: and -passfile: come
    // before -pass:, which begins them.
    {"-passcmd:", kValue, false, [](Settings& s, ProcessObjects&, const char* v) { s.receive.passwordCommand = plain(v); s.receive.passwordFile = s.receive.password = String(); }},
    {"-passfile:", kValue, false, [](Settings& s, ProcessObjects&, const char* v) { s.receive.passwordFile = plain(v); s.receive.passwordCommand = s.receive.password = String(); }},
    {"-pass:", kValue, false, [](Settings& s, ProcessObjects&, const char* v) { s.receive.password = v; s.receive.passwordCommand = s.receive.passwordFile = String(); }},
    {"-auth:", kValue, false, [](Settings& s, ProcessObjects&, const char* v) { s.receive.authMechanism = plain(v); }},
    {"-requiretls", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.receive.requireTls = true; }},
    {"-use_mime:", kValue, false, [](Settings& s, ProcessObjects&, const char* v) { s.content.mimeLevel = readNumber(v); }},
    {"-mimetype:", kValue, false, [](Settings& s, ProcessObjects&, const char* v) { s.content.mimeLevel = readNumber(v); }},
    {"-severy:", kValue, false, [](Settings& s, ProcessObjects&, const char* v) { const int n = readNumber(v); s.tools.everySeconds = n < 0 ? 1 : n; }},
    {"-every:", kValue, false, [](Settings& s, ProcessObjects&, const char* v) { const long n = readNumber(v) * 60L; s.tools.everySeconds = n < 60 ? 60 : static_cast<int>(n > 2147483647L ? 2147483647L : n); }},
    {"-qp:", kValue, false, [](Settings& s, ProcessObjects&, const char* v) { s.content.quotedPrintable = readNumber(v); s.content.eightBit = false; }},
    {"-map_8bit:", kValue, false, [](Settings& s, ProcessObjects&, const char* v) { s.content.quotedPrintable = readNumber(v); s.content.eightBit = false; }},
    {"-cnt:", kValue, false, [](Settings& s, ProcessObjects&, const char* v) { s.smtp.sendCount = readNumber(v); }},
    {"-limit:", kValue, false, [](Settings& s, ProcessObjects&, const char* v) { s.smtp.recipientLimit = readNumber(v); }},
    {"-msglen:", kValue, false, ignored},
    {"-msg:", kValue, false, messageText},
    {"-header:", kValue, false, [](Settings& s, ProcessObjects&, const char* v) { s.content.leadingText = plain(v); }},
    // The highest message processed: that many after the message number.
    {"-first:", kValue, false, [](Settings& s, ProcessObjects&, const char* v) { const long long n = static_cast<long long>(s.receive.messageNumber) + readNumber(v); s.receive.lastMessage = static_cast<int>(std::clamp<long long>(n, -2147483647LL - 1, 2147483647LL)); }},
    {"-retries:", kValue, false, [](Settings& s, ProcessObjects&, const char* v) { s.connection.retries = readNumber(v); }},
    {"-idle:", kValue, false, [](Settings& s, ProcessObjects&, const char* v) { s.receive.idleSeconds = readNumber(v); }},
    {"-idle", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.receive.idleSeconds = 2147483647; }},
    {"-s:", kValue, false, [](Settings& s, ProcessObjects&, const char* v) { s.content.subject = plain(v); }},
    {"-masq:", kValue, false, [](Settings& s, ProcessObjects&, const char* v) { s.addresses.masquerade = plain(v); }},
    {"-sep:", kValue, false, [](Settings& s, ProcessObjects&, const char* v) { s.receive.separator = unquoteValue(v, kEscapesAll); }},

    // Mailbox protocol and TLS choices.
    {"-imap", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.receive.imap = true; s.reader = ReaderKind::kImap; }},
    // The usage offers "-html [-alt]" for sending: the message text (or -file:) is HTML.
    {"-html", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.content.html = true; }},
    {"-cafile:", kValue, false, [](Settings& s, ProcessObjects&, const char* v) { s.connection.caFile = plain(v); }},
    {"-key:", kValue, false, [](Settings& s, ProcessObjects&, const char* v) { s.connection.keyFile = plain(v); }},
    {"-insecure", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.connection.insecure = true; }},
    {"-apop", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.receive.apop = true; }},
};

bool matches(const Option& option, const char* argument) {
    if (option.form == kFlag) return std::strcmp(argument, option.name) == 0;
    return std::strncmp(argument, option.name, std::strlen(option.name)) == 0;
}

// The options of the entry's early scans below, and -cgi, which the entry looks for itself.
const char* const kScannedOptions[] = {"-host:", "-if:", "-firewall:", "-port:", "-tmo:", "-config:",
                                       "-config", "-meter:", "-free", "-osver", "-cgi", "-strict"};

} // namespace

std::vector<std::string> optionNames() {
    std::vector<std::string> names;
    for (const Option& option : kOptions) names.push_back(option.name);
    for (const char* name : kScannedOptions) names.push_back(name);
    return names;
}

void parseCommandLine(int argc, char** argv, Settings& s, ProcessObjects& objects) {
    for (int i = 1; i < argc; ++i) {
        const char* argument = argv[i];
        if (!argument) continue;
        for (const Option& option : kOptions) {
            if (option.imapOnly && !s.receive.imap) continue;
            if (!matches(option, argument)) continue;
            const char* value = option.form == kValue ? argument + std::strlen(option.name) : "";
            option.act(s, objects, value);
            break;
        }
    }
}

int scanProcessOptions(int argc, char** argv, ProcessObjects& objects, bool& detach) {
    int osVersion = 0;
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        if (std::strncmp(a, "-meter:", 7) == 0) objects.meterFile = plain(a + 7);
        else if (std::strcmp(a, "-free") == 0) detach = true;
        else if (std::strcmp(a, "-osver") == 0) osVersion = 1;
    }
    return osVersion;
}

void scanRunOptions(int argc, char** argv, Settings& s, ProcessObjects& objects) {
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        if (std::strncmp(a, "-host:", 6) == 0) {
            const String host = plain(a + 6);
            s.servers.imapHost = s.servers.pop3Host = s.servers.smtpHost = s.servers.nntpHost = host;
            s.servers.dnsServerHost = host;
            // A path (the file of -mf, the folder of -mail) is no network host: it never
            // becomes the proxy of the -url: downloads.
            if (host.view().find_first_of("/\\") == std::string_view::npos) s.servers.proxyHost = host;
        } else if (std::strncmp(a, "-if:", 4) == 0) {
            s.connection.localInterface = plain(a + 4);
        } else if (std::strncmp(a, "-firewall:", 10) == 0) {
            s.connection.firewall = plain(a + 10);
        } else if (std::strncmp(a, "-port:", 6) == 0) {
            const String port = plain(a + 6);
            s.servers.imapPort = s.servers.pop3Port = s.servers.qmtpPort = s.servers.smtpPort = port;
            s.servers.nntpPort = s.servers.proxyPort = port;
        } else if (std::strncmp(a, "-tmo:", 5) == 0) {
            s.connection.timeoutSeconds = readNumber(plain(a + 5).c_str());
        } else if (std::strncmp(a, "-config:", 8) == 0) {
            objects.configFile = plain(a + 8);
            objects.configRequested = kConfigNamed;
        } else if (std::strcmp(a, "-config") == 0) {
            if (!objects.configRequested) objects.configRequested = 1;
        } else if (std::strncmp(a, "-meter:", 7) == 0) {
            objects.meterFile = plain(a + 7);
        }
    }
}

} // namespace qarvel
