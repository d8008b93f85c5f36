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
    s.quiet = 1;
    s.br = 1;
    s.imapCommand = 1;
}

void listFolders(Settings& s, const String& pattern, int subscribed) {
    s.listPattern = pattern;
    s.listSubscribed = subscribed;
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
    s.dnsServerHost = s.smtpHost;
    printSrvRecords(s.dnsServerHost, plain(value), s.dnsUdp != 0, s.verbose > 1 ? s.verbose : 0);
    s.noop = 1;
}

void askTxt(Settings& s, ProcessObjects&, const char* value) {
    s.dnsServerHost = s.smtpHost;
    printTxtRecords(s.dnsServerHost, plain(value), s.dnsUdp != 0, s.verbose > 1 ? s.verbose : 0);
    s.noop = 1;
}

void probe(Settings& s, ProcessObjects&, const char* value) {
    s.dnsServerHost = s.smtpHost;
    s.to = value;
    s.from = value;
    s.probe = 1;
    s.noMessageBody = 1;
    s.directMx = 1;
}

void attach(Settings& s, ProcessObjects& objects, const char* value) {
    const String path = plain(value);
    if (queueAttachment(objects, path, String(), 0, s.missingAttachments)) s.attachments.add(path);
}

void post(Settings& s, ProcessObjects&, const char* value) {
    s.httpPost = 1;
    std::ifstream in(plain(value).c_str(), std::ios::binary);
    if (in) s.messageText = String(std::string(std::istreambuf_iterator<char>(in), {}));
}

void fetchUrl(Settings& s, ProcessObjects& objects, const char* value) {
    s.url = plain(value);
    queueUrl(s, objects);
}

void messageText(Settings& s, ProcessObjects&, const char* value) {
    s.first = s.messageNumber = readNumber(value);
    const int mode = s.escapeMode == 1 ? kEscapesControl : s.escapeMode == 2 ? kEscapesKept : kEscapesAll;
    s.messageText = unquoteValue(value, mode);
}

// Table order is the matching order. Each group follows the option tour of the usage help.
const Option kOptions[] = {
    // Receive actions and output.
    {"-exec:", kValue, false, [](Settings& s, ProcessObjects&, const char* v) { s.exec = plain(v); }},
    {"-filter:", kValue, false, [](Settings& s, ProcessObjects&, const char* v) { s.filter = plain(v); }},
    {"-hdr:", kValue, false, [](Settings& s, ProcessObjects&, const char* v) { s.hdr = unquoteValue(v, kEscapesControl); }},
    {"-etrn:", kValue, false, [](Settings& s, ProcessObjects&, const char* v) { s.etrnDomain = plain(v); s.noMessageBody = 1; }},
    {"-org:", kValue, false, [](Settings& s, ProcessObjects&, const char* v) { s.org = plain(v); }},
    {"-date:", kValue, false, [](Settings& s, ProcessObjects&, const char* v) { s.date = plain(v); }},
    {"-sens:", kValue, false, [](Settings& s, ProcessObjects&, const char* v) { s.sens = plain(v); }},
    {"-alias:", kValue, false, [](Settings& s, ProcessObjects&, const char* v) { s.aliasFile = plain(v); }},
    {"-referer:", kValue, false, [](Settings& s, ProcessObjects&, const char* v) { s.referer = plain(v); }},
    {"-listserv:", kValue, false, [](Settings& s, ProcessObjects&, const char* v) { s.listServ = plain(v); s.noStop = 1; s.extract = 1; }},
    {"-fetch:", kValue, false, [](Settings& s, ProcessObjects&, const char* v) { s.fetch = plain(v); }},
    {"-owner:", kValue, false, [](Settings& s, ProcessObjects&, const char* v) { s.owner = plain(v); }},

    // Addresses. The list files are read when the run starts (in a list run the to-list file
    // is the subscriber file).
    {"-tolist:", kValue, false, [](Settings& s, ProcessObjects&, const char* v) { s.toListFile = plain(v); }},
    {"-cclist:", kValue, false, [](Settings& s, ProcessObjects&, const char* v) { s.ccListFile = plain(v); }},
    {"-bcclist:", kValue, false, [](Settings& s, ProcessObjects&, const char* v) { s.bccListFile = plain(v); }},
    {"-to:", kValue, false, [](Settings& s, ProcessObjects&, const char* v) { appendAddress(s.to, v); s.toAsEntered = s.to; }},
    {"-cc:", kValue, false, [](Settings& s, ProcessObjects&, const char* v) { appendAddress(s.cc, v); }},
    {"-bcc:", kValue, false, [](Settings& s, ProcessObjects&, const char* v) { appendAddress(s.bcc, v); }},
    {"-from:", kValue, false, [](Settings& s, ProcessObjects&, const char* v) { s.from = plain(v); }},
    {"-replyto:", kValue, false, [](Settings& s, ProcessObjects&, const char* v) { s.replyTo = plain(v); }},
    {"-contact:", kValue, false, [](Settings& s, ProcessObjects&, const char* v) { s.contact = plain(v); }},

    // Dial-up, log and IMAP queries.
    {"-connect:", kValue, false, [](Settings& s, ProcessObjects& o, const char* v) { s.connect = unquoteValue(v, kEscapesAll); o.configRequested = 1; }},
    {"-disconnect", kFlag, false, [](Settings& s, ProcessObjects& o, const char*) { s.disconnect = "/disconnect"; o.configRequested = 1; }},
    {"-disconnect:", kValue, false, [](Settings& s, ProcessObjects& o, const char* v) { s.disconnect = withDisconnectSwitch(unquoteValue(v, kEscapesAll)); o.configRequested = 1; }},
    {"-log:", kValue, false, [](Settings& s, ProcessObjects&, const char* v) { s.log = plain(v); }},
    {"-sort:", kValue, true, [](Settings& s, ProcessObjects&, const char* v) { s.sort = plain(v); }},
    {"-search:", kValue, true, [](Settings& s, ProcessObjects&, const char* v) { s.search = plain(v); }},
    {"-ldapasdns", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.ldapAsDns = 1; }},
    {"-ldapcc", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.ldapCc = 1; }},
    {"-ldapbcc", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.ldapBcc = 1; }},
    {"-uid", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.uid = 1; }},
    {"-ssl", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.ssl = 1; s.pop3Port = "995"; s.imapPort = "993"; s.smtpPort = "465"; s.nntpPort = "563"; }},
    {"-tls", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.tls = 1; }},
    {"-hash", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.hash = 1; }},
    {"-gmt", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.gmt = 1; }},
    {"-utc", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.gmt = 2; }},
    {"-nogmt", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.gmt = 0; }},
    {"-noutc", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.gmt = 0; }},
    {"-relay", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.relayHost = "localhost"; s.recipientsFromHeaders = 1; s.raw = 1; }},
    {"-relay:", kValue, false, [](Settings& s, ProcessObjects&, const char* v) { s.relayHost = plain(v); s.recipientsFromHeaders = 1; s.raw = 1; }},
    {"-file:", kValue, false, [](Settings& s, ProcessObjects&, const char* v) { s.messageFile = plain(v); s.files.add(s.messageFile); }},
    {"-harvest:", kValue, false, [](Settings& s, ProcessObjects&, const char* v) { s.harvest = plain(v); }},
    {"-cert:", kValue, false, [](Settings& s, ProcessObjects&, const char* v) { s.cert = plain(v); }},
    {"-level:", kValue, false, [](Settings& s, ProcessObjects&, const char* v) { s.level = readNumber(v); }},
    {"-addr:", kValue, false, [](Settings& s, ProcessObjects&, const char* v) { s.pat = plain(v); s.patNegate = 0; }},
    {"-pat:", kValue, false, [](Settings& s, ProcessObjects&, const char* v) { s.pat = plain(v); s.patNegate = 0; }},
    {"-nopat:", kValue, false, [](Settings& s, ProcessObjects&, const char* v) { s.pat = plain(v); s.patNegate = 1; }},
    {"-spat:", kValue, false, [](Settings& s, ProcessObjects&, const char* v) { s.spat = plain(v); s.spatNegate = 0; }},
    {"-nospat:", kValue, false, [](Settings& s, ProcessObjects&, const char* v) { s.spat = plain(v); s.spatNegate = 1; }},
    {"-mime:", kValue, false, [](Settings& s, ProcessObjects&, const char* v) { s.mime = plain(v); }},
    {"-charset:", kValue, false, [](Settings& s, ProcessObjects&, const char* v) { s.charset = plain(v); s.charsetChosen = true; }},
    {"-encoding:", kValue, false, [](Settings& s, ProcessObjects&, const char* v) { s.encoding = plain(v); }},
    {"-getacl", kFlag, true, [](Settings& s, ProcessObjects&, const char*) { s.getAcl = 1; imapQuery(s); }},
    {"-setacl:", kValue, true, [](Settings& s, ProcessObjects&, const char* v) { s.setAcl = plain(v); imapQuery(s); }},
    {"-deleteacl:", kValue, true, [](Settings& s, ProcessObjects&, const char* v) { s.deleteAcl = plain(v); imapQuery(s); }},
    {"-myrights", kFlag, true, [](Settings& s, ProcessObjects&, const char*) { s.myRights = 1; imapQuery(s); }},
    {"-listrights:", kValue, true, [](Settings& s, ProcessObjects&, const char* v) { s.listRights = plain(v); imapQuery(s); }},
    {"-list:", kValue, false, [](Settings& s, ProcessObjects&, const char* v) { listFolders(s, plain(v), 0); }},
    {"-lsub:", kValue, false, [](Settings& s, ProcessObjects&, const char* v) { listFolders(s, plain(v), 1); }},
    {"-list", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { listFolders(s, "%", s.listSubscribed); }},
    {"-lsub", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { listFolders(s, "%", 1); }},
    {"-part:", kValue, true, [](Settings& s, ProcessObjects&, const char* v) {
         char name[256] = "";
         unsigned long start = 0, length = 0;
         std::sscanf(v, "%255[^:]:%lu:%lu", name, &start, &length);
         s.partName = name;
         s.partStart = static_cast<long>(start);
         s.partLength = static_cast<long>(length);
     }},
    {"-mbox:", kValue, true, [](Settings& s, ProcessObjects&, const char* v) { s.mbox = plain(v); }},
    {"-move:", kValue, true, [](Settings& s, ProcessObjects&, const char* v) { s.moveTo = plain(v); }},
    {"-copy:", kValue, true, [](Settings& s, ProcessObjects&, const char* v) { s.copyTo = plain(v); }},
    {"-create:", kValue, true, [](Settings& s, ProcessObjects&, const char* v) { s.createMailbox = plain(v); imapQuery(s); }},
    {"-delete:", kValue, true, [](Settings& s, ProcessObjects&, const char* v) { s.deleteMailbox = plain(v); imapQuery(s); }},

    // Immediate actions.
    {"-probe:", kValue, false, probe},
    {"-srv:", kValue, false, askSrv},
    {"-txt:", kValue, false, askTxt},
    {"-a:", kValue, false, attach},
    {"-sfile:", kValue, false, [](Settings& s, ProcessObjects&, const char* v) { s.subject = firstLineOf(plain(v), 255); }},
    {"-post:", kValue, false, post},
    {"-url:", kValue, false, fetchUrl},

    // Message and sending switches.
    {"-noatt", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.attachmentsShown = 0; s.extract = 1; }},
    {"-esmtp", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.esmtp = 1; }},
    {"-noesmtp", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.esmtp = 0; }},
    {"-qmtp", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.qmtp = 1; s.sender = SenderKind::kQmtp; }},
    {"-dh", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.dh = 1; }},
    {"-eh", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.eh = 1; }},
    {"-nodh", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.dh = 0; }},
    {"-noeh", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.eh = 0; }},
    {"-size", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.size = 1; }},
    {"-inline", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.inlineParts = 1; }},
    {"-8", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.map8bit = 1; s.qp = 0; }},
    {"-msgid", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.msgId = 1; }},
    {"-high", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.priority = 1; }},
    {"-low", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.priority = 2; }},
    {"-normal", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.priority = 3; }},
    {"-notify", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.dsn = 1; s.notify = 1; }},
    {"-mdn", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.notify = 1; s.receipt = 1; }},
    {"-dsn", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.dsn = 1; }},
    {"-receipt", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.receipt = 2; }},
    {"-priv", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.priv = 1; }},
    {"-open", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.open = 1; }},
    {"-manual", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.manual = 1; }},
    {"-bs", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.bs = 1; }},
    {"-noesc", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.escapeMode = 1; }},
    {"--noesc", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.escapeMode = 2; }},
    // A message file has no login step: like the MAIL key, -mail reads it pre-authenticated.
    {"-mail", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.user = s.password = "dummy"; s.preauth = 1; s.reader = ReaderKind::kFile; }},
    {"-mf", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.sender = SenderKind::kFile; }},
    {"-preauth", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.preauth = 1; }},
    {"-alt:", kValue, false, [](Settings& s, ProcessObjects&, const char* v) { s.altFile = plain(v); s.altText = String(); s.alt = 1; }},
    {"-alt", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.altFile = s.altText = String(); s.alt = 1; }},
    {"-hide", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.hide = 1; }},
    {"-ns", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.noStop = 1; }},
    {"-xit", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.xit = 1; }},
    {"-noarchive", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.noArchive = 1; }},
    {"-news", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { enterNewsMode(s); }},
    {"-import", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.importMode = 1; }},
    {"-verify", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.verify = 1; s.gmt = 0; }},
    {"-uue", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.uue = 1; s.binary = 1; }},
    {"-binary", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.binary = 1; }},
    {"-text", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.text = 1; }},
    {"-t", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.recipientsFromHeaders = 1; s.raw = 1; }},
    {"-unique", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.unique = 1; }},
    {"-nomsg", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.noMessageBody = 1; }},

    // Tool switches.
    {"-xml", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.xml = 1; s.noop = 1; }},
    {"-sap", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.sap = 1; s.noop = 1; }},
    {"-udp", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.udp = 1; s.noop = 1; }},
    {"-mcastdump", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.mcastDump = 1; }},
    {"-rawsock", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.rawSock = 1; }},
    {"-noop", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.noop = 1; }},
    {"-decode:base64", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.decodeBase64 = 1; s.noop = 1; }},
    {"-decode:uue", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.noop = 1; }},
    {"-decode:qp", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.noop = 1; }},
    {"-encode:base64", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.encodeBase64 = 1; s.noop = 1; }},
    {"-encode:uue", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.noop = 1; }},
    {"-encode:qp", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.noop = 1; }},

    // Receive switches.
    {"-q", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.quiet = 1; }},
    {"-quiet", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.quiet = 1; }},
    {"-v", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.verbose = 1; }},
    {"-v:", kValue, false, [](Settings& s, ProcessObjects&, const char* v) { s.verbose = readNumber(v); }},
    {"-dnsudp", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.dnsUdp = 1; }},
    {"-raw", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.raw = 1; s.br = 0; }},
    {"-umbox", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.umbox = 1; }},
    {"-ipv6", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.ipv6 = 1; }},
    {"-kbs", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.kbs = 1; }},
    {"-br", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.br = 1; }},
    {"-full", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.full = 1; }},
    {"-extract", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.extract = 1; }},
    // A folder given to -extract: is where the attachments go, which asks for them as well.
    {"-extract:", kValue, false, [](Settings& s, ProcessObjects&, const char* v) { s.extractFolder = plain(v); s.extract = 1; }},
    {"-purge", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.purge = 1; }},
    {"-pu", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.purge = 1; }},
    {"-rm", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.rm = 1; s.unrm = 0; }},
    {"-unrm", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.rm = 1; s.unrm = 1; }},
    {"-rmlist", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.rmList = 1; }},
    {"-rmfile:", kValue, false, [](Settings& s, ProcessObjects&, const char* v) { s.rmFile = plain(v); }},
    {"-http11", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.http11 = 1; }},
    {"-nohttp11", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.http11 = 0; }},

    // Other value options.
    {"-wrap:", kValue, false, [](Settings& s, ProcessObjects&, const char* v) { s.wrap = readNumber(v); }},
    {"-user:", kValue, false, [](Settings& s, ProcessObjects&, const char* v) { s.user = v; }},
    // Each password source replaces the others given before it; -passcmd: and -passfile: come
    // before -pass:, which begins them.
    {"-passcmd:", kValue, false, [](Settings& s, ProcessObjects&, const char* v) { s.passCommand = plain(v); s.passFile = s.password = String(); }},
    {"-passfile:", kValue, false, [](Settings& s, ProcessObjects&, const char* v) { s.passFile = plain(v); s.passCommand = s.password = String(); }},
    {"-pass:", kValue, false, [](Settings& s, ProcessObjects&, const char* v) { s.password = v; s.passCommand = s.passFile = String(); }},
    {"-auth:", kValue, false, [](Settings& s, ProcessObjects&, const char* v) { s.authMechanism = plain(v); }},
    {"-requiretls", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.requireTls = 1; }},
    {"-use_mime:", kValue, false, [](Settings& s, ProcessObjects&, const char* v) { s.mimeType = readNumber(v); }},
    {"-mimetype:", kValue, false, [](Settings& s, ProcessObjects&, const char* v) { s.mimeType = readNumber(v); }},
    {"-severy:", kValue, false, [](Settings& s, ProcessObjects&, const char* v) { const int n = readNumber(v); s.every = n < 0 ? 1 : n; }},
    {"-every:", kValue, false, [](Settings& s, ProcessObjects&, const char* v) { const long n = readNumber(v) * 60L; s.every = n < 60 ? 60 : static_cast<int>(n > 2147483647L ? 2147483647L : n); }},
    {"-qp:", kValue, false, [](Settings& s, ProcessObjects&, const char* v) { s.qp = readNumber(v); s.map8bit = 0; }},
    {"-map_8bit:", kValue, false, [](Settings& s, ProcessObjects&, const char* v) { s.qp = readNumber(v); s.map8bit = 0; }},
    {"-cnt:", kValue, false, [](Settings& s, ProcessObjects&, const char* v) { s.count = readNumber(v); }},
    {"-limit:", kValue, false, [](Settings& s, ProcessObjects&, const char* v) { s.limit = readNumber(v); }},
    {"-msglen:", kValue, false, [](Settings& s, ProcessObjects&, const char* v) { s.msgLen = readNumber(v); }},
    {"-msg:", kValue, false, messageText},
    {"-header:", kValue, false, [](Settings& s, ProcessObjects&, const char* v) { s.header = plain(v); }},
    // The highest message processed: that many after the message number.
    {"-first:", kValue, false, [](Settings& s, ProcessObjects&, const char* v) { const long long n = static_cast<long long>(s.messageNumber) + readNumber(v); s.first = static_cast<int>(std::clamp<long long>(n, -2147483647LL - 1, 2147483647LL)); }},
    {"-retries:", kValue, false, [](Settings& s, ProcessObjects&, const char* v) { s.retries = readNumber(v); }},
    {"-idle:", kValue, false, [](Settings& s, ProcessObjects&, const char* v) { s.idle = readNumber(v); }},
    {"-idle", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.idle = 2147483647; }},
    {"-s:", kValue, false, [](Settings& s, ProcessObjects&, const char* v) { s.subject = plain(v); }},
    {"-masq:", kValue, false, [](Settings& s, ProcessObjects&, const char* v) { s.masq = plain(v); }},
    {"-sep:", kValue, false, [](Settings& s, ProcessObjects&, const char* v) { s.sep = unquoteValue(v, kEscapesAll); }},

    // Mailbox protocol and TLS choices.
    {"-imap", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.imap = 1; s.reader = ReaderKind::kImap; }},
    // The usage offers "-html [-alt]" for sending: the message text (or -file:) is HTML.
    {"-html", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.html = 1; }},
    {"-cafile:", kValue, false, [](Settings& s, ProcessObjects&, const char* v) { s.caFile = plain(v); }},
    {"-key:", kValue, false, [](Settings& s, ProcessObjects&, const char* v) { s.keyFile = plain(v); }},
    {"-insecure", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.insecure = 1; }},
    {"-apop", kFlag, false, [](Settings& s, ProcessObjects&, const char*) { s.apop = 1; }},
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
            if (option.imapOnly && !s.imap) continue;
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
            s.imapHost = s.pop3Host = s.smtpHost = s.nntpHost = host;
            s.dnsServerHost = s.capHost = host;
            // A path (the file of -mf, the folder of -mail) is no network host: it never
            // becomes the proxy of the -url: downloads.
            if (host.view().find_first_of("/\\") == std::string_view::npos) s.proxyHost = host;
        } else if (std::strncmp(a, "-if:", 4) == 0) {
            s.localInterface = plain(a + 4);
        } else if (std::strncmp(a, "-firewall:", 10) == 0) {
            s.firewall = plain(a + 10);
        } else if (std::strncmp(a, "-port:", 6) == 0) {
            const String port = plain(a + 6);
            s.imapPort = s.pop3Port = s.qmtpPort = s.smtpPort = port;
            s.nntpPort = s.capPort = s.proxyPort = port;
        } else if (std::strncmp(a, "-tmo:", 5) == 0) {
            s.timeoutSeconds = readNumber(plain(a + 5).c_str());
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
