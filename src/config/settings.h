// Settings: the one process-wide record of everything a run can be told, filled in layers
// (defaults, configuration file, command line, CGI request), later layers overwriting earlier
// ones field by field. Strings are empty when not set; flags are ints (0 off, 1 on).
#pragma once

#include "base/string.h"
#include "base/string_list.h"

namespace qarvel {

struct TlsOptions;

// The sender and the mailbox reader of a run, as the options and keys choose them; the entry
// maps the choice to its protocol objects.
enum class SenderKind { kSmtp, kQmtp, kNews, kImapUpload, kFile };
enum class ReaderKind { kPop3, kImap, kFile };

struct Settings {
    SenderKind sender = SenderKind::kSmtp;
    ReaderKind reader = ReaderKind::kPop3;

    // Servers and ports.
    String smtpHost, pop3Host, imapHost, nntpHost, capHost, dnsServerHost, discoveredDnsServer;
    String ldapHost, smtpPort, qmtpPort, pop3Port, imapPort, nntpPort, capPort, ldapPort;
    String bindDn, bindPwd, proxyHost, proxyPort, firewall, localInterface, relayHost;
    int timeoutSeconds = 300;
    int ipv6 = 0, ssl = 0, tls = 0, level = 0, directMx = 0, dnsUdp = 0, retries = 0;
    int bufferSize = 4096;
    String cert;
    // TLS extras: CA file, skipping verification, client key.
    String caFile, keyFile;
    int insecure = 0;
    // POP3: log in with APOP when the server's greeting offers a time stamp (-apop).
    int apop = 0;

    // Addresses and recipients.
    String from, to, toAsEntered, receiveTo, cc, bcc, toListFile, ccListFile, bccListFile;
    String replyTo, contact, masq, domain, aliasFile, owner, listServ;
    StringList aliasNames, aliasValues;
    int ldapCc = 0, ldapBcc = 0, ldapAsDns = 0;

    // Message content and headers.
    String subject, messageText, mime, charset, encoding;
    // A charset was given (-charset:, CHARSET): every text goes out under it. Without one,
    // UTF-8 text beyond ASCII is labelled utf-8 and other text keeps the default charset.
    bool charsetChosen = false;
    int noMessageBody = 0, mimeType = 1, qp = 1, map8bit = 0, uue = 0, binary = 0, text = 0;
    int html = 0, alt = 0, inlineParts = 0, priority = 0, msgId = 0, gmt = 0, dh = 1, eh = 1;
    int hide = 0, wrap = 72, limit = 0, escapeMode = 0, missingAttachments = 0;
    String altText, altFile, org, date, sens, hdr, messageFile;
    StringList attachments, files;

    // SMTP and news behaviour.
    int esmtp = 0, qmtp = 0, size = 0, dsn = 0, notify = 0, receipt = 0, verify = 0, probe = 0;
    int raw = 0, recipientsFromHeaders = 0, importMode = 0, uploadMode = 0, newsMode = 0;
    int noArchive = 0, noStop = 0, priv = 0, open = 0, manual = 0, bs = 0, train = 0;
    int patNegate = 0, spatNegate = 0;
    String etrnDomain, harvest, pat, spat;

    // Receiving and mailbox actions.
    // The password may come from a command or a file instead (-passcmd:, -passfile:); with a
    // bearer mechanism (-auth:xoauth2, -auth:oauthbearer) it is an OAuth2 token. requireTls: no
    // password or token over a connection without TLS (-requiretls).
    String passCommand, passFile, authMechanism;
    int requireTls = 0;
    String user, password, mbox, listPattern, partName, moveTo, copyTo, createMailbox;
    String deleteMailbox, setAcl, deleteAcl, listRights, search, sort, header, filter, exec;
    String extractFolder, rmFile, sep;
    int imap = 0, preauth = 0, first = 2147483647, messageNumber = 1, count = 1, msgLen = 0;
    int listSubscribed = 0, getAcl = 0, myRights = 0, extract = 0, attachmentsShown = 1;
    long partStart = 0, partLength = 0;
    int rm = 0, unrm = 0, purge = 0, rmList = 0, br = 0, full = 0, unique = 0, hash = 0, kbs = 0;
    int uid = 0, umbox = 0, idle = 0, imapCommand = 0, quiet = 0;

    // Web (CGI and HTTP).
    int cgi = 0, http11 = 0, httpPost = 0, authenticatedCgi = 0;
    String scripts, fetch, referer, url, dest;
    String font, title, pageHeader, trailer, background, textColor, bgColor, redirect;
    String dialer, connect, disconnect, log;

    // Run control and tools.
    int verbose = 0, every = 0, noop = 0, xml = 0, sap = 0, udp = 0, rawSock = 0, mcastDump = 0;
    int decodeBase64 = 0, encodeBase64 = 0, xit = 0;
    // -strict, STRICT or QARVEL_STRICT=1: besides refusing unknown words, a ready-made message
    // without recipients is reported instead of sent, and any message that fails fails the run.
    bool strict = false;
    String meter;
};

// The initial form (firstTime) empties every string and sets the defaults; the clearing form
// empties every string, defaults included. Both give the integers their initial values and
// leave the lists alone; the discovered DNS server becomes "localhost" in both.
void resetSettings(Settings& s, bool firstTime);

// The process-wide record.
Settings& settings();

// The TLS options of the run (-cafile:, -cert:, -key:, -insecure, the trace level), for every
// connection it opens.
TlsOptions tlsOptionsOf(const Settings& s);

} // namespace qarvel
