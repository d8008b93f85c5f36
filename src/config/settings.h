// Settings: the one process-wide record of everything a run can be told, filled in layers
// (defaults, configuration file, command line, CGI request), later layers overwriting earlier
// ones field by field, in groups after the tables of the configuration. Strings are empty when
// not set.
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

    // The servers, their ports and how the connections to them are made.
    struct Servers {
        String smtpHost, pop3Host, imapHost, nntpHost, ldapHost;
        String smtpPort, qmtpPort, pop3Port, imapPort, nntpPort;
        // The name server of the look-ups, and the one the system names (found at the start).
        String dnsServerHost, discoveredDnsServer;
        String proxyHost, proxyPort, firewall, localInterface, relayHost;
        int timeoutSeconds = 300;
        int retries = 0;
        int bufferSize = 4096;
        // -level:N; 2 with a client certificate reads mail without a user name.
        int securityLevel = 0;
        bool implicitTls = false, startTls = false, preferIpv6 = false;
        // Mail goes straight to the recipient's mail exchangers (-probe:).
        bool directToMx = false;
        bool dnsOverUdp = false, ldapAsDnsServer = false;
        // TLS extras: the client certificate and key, the CA file, skipping verification.
        String certificateFile, keyFile, caFile;
        bool insecure = false;
    } servers;

    // Senders, recipients and the list files and aliases they come from.
    struct Addresses {
        String from, to, cc, bcc, replyTo, contact, masquerade, domain;
        String toListFile, ccListFile, bccListFile, aliasFile;
        // The list files keep the lines that begin with # (-hash).
        bool keepHashLines = false;
        StringList aliasNames, aliasValues;
        // The mailing list's own address and its owner.
        String listAddress, listOwner;
    } addresses;

    // The message: its text, headers, attachments and how they are encoded.
    struct Content {
        String subject, messageText, contentType, charset, encoding;
        // A charset was given (-charset:, CHARSET): every text goes out under it. Without one,
        // UTF-8 text beyond ASCII is labelled utf-8 and other text keeps the default charset.
        bool charsetChosen = false;
        // MIME level (0: no MIME headers) and quoted-printable mode (0: off).
        int mimeLevel = 1, quotedPrintable = 1;
        // 1 high, 2 low, 3 normal; 0 no priority header.
        int priority = 0;
        // The Date header: 0 local time, 1 GMT, 2 UTC.
        int universalTime = 0;
        // How backslashes of -msg: and HDR are read: 0 all escapes, 1 control escapes only,
        // 2 taken as written.
        int escapeMode = 0;
        // Attachments that could not be found or downloaded.
        int missingAttachments = 0;
        bool noMessageText = false, eightBit = false, uuencode = false, binaryAttachments = false;
        bool textAttachments = false, inlineAttachments = false, html = false, alternative = false;
        bool messageId = false, encodeHeaders = true, hideRecipients = false;
        bool returnReceipt = false, dispositionNotification = false;
        // The message is sent (or read) as it is, headers included.
        bool raw = false;
        String alternativeText, alternativeFile, organization, date, sensitivity;
        // Extra header lines, and text put before the message text.
        String extraHeaders, leadingText;
        String messageFile;
        StringList attachments, files;
    } content;

    // Sending and posting.
    struct Smtp {
        String etrnDomain;
        int recipientLimit = 0;
        int sendCount = 1;
        bool esmtp = false, qmtp = false, verifySender = false, probe = false;
        bool recipientsFromHeaders = false, importBatch = false, news = false, noArchive = false;
        // Go on past a missing attachment or a refused recipient (-ns).
        bool goOnPastErrors = false;
    } smtp;

    // Reading mail: the login, the messages chosen and what is done with each.
    struct Receive {
        // The password may come from a command or a file instead (-passcmd:, -passfile:); with a
        // bearer mechanism (-auth:xoauth2, -auth:oauthbearer) it is an OAuth2 token. requireTls:
        // no password or token over a connection without TLS (-requiretls).
        String user, password, passwordCommand, passwordFile, authMechanism;
        bool requireTls = false, apop = false, imap = false, preauthenticated = false;
        String mailbox;
        // The first message read and the highest one.
        int messageNumber = 1, lastMessage = 2147483647;
        // 1 answers read-receipt requests (-mdn), 2 sends one for every message (-receipt).
        int readReceipt = 0;
        int idleSeconds = 0;
        String subjectPattern, senderPattern, harvestFile, filter, execCommand, separator;
        bool subjectPatternNegated = false, senderPatternNegated = false;
        String folderPattern, partName, moveTo, copyTo, createMailbox, deleteMailbox;
        String setAcl, deleteAcl, listRights, search, sort, extractFolder;
        long partStart = 0, partLength = 0;
        bool subscribedOnly = false, getAcl = false, myRights = false, imapCommand = false;
        bool extract = false, showAttachments = true, uniqueNames = false;
        bool remove = false, keepMessages = false, purge = false;
        bool brief = false, fullHeaders = false, decodeHeaders = true, showSize = false;
        bool showRate = false, listParts = false, unixMailbox = false, exitWithCount = false;
        // A list run: the folder of the files "fetch NAME" sends, and how the list answers.
        String fetchFolder;
        bool listPrivate = false, listManual = false;
    } receive;

    // CGI, web pages and URL downloads.
    struct Web {
        bool cgi = false, authenticatedCgi = false, upload = false, http11 = false, post = false;
        String scripts, referer, url, destination, redirect;
        String font, title, pageHeader, trailer, background, textColor, backgroundColor;
    } web;

    // Run control and the tools.
    struct Tools {
        int verbose = 0;
        int everySeconds = 0;
        bool quiet = false, noop = false, xml = false, sap = false, udp = false, rawSocket = false;
        bool multicastDump = false, decodeBase64 = false, encodeBase64 = false;
        // -strict, STRICT or QARVEL_STRICT=1: besides refusing unknown words, a ready-made
        // message without recipients is reported instead of sent, and any message that fails
        // fails the run.
        bool strict = false;
        String removeFile, logFile, meter, dialer, connect, disconnect;
        bool removeListFiles = false;
    } tools;
};

// The initial form (firstTime) gives every string its default (or empties it); the clearing
// form empties every string, defaults included. Both give the numbers, flags and choices their
// initial values and leave the lists and the time-out alone; the discovered DNS server becomes
// "localhost" in both. One table of the fields drives this and the settings dump.
void resetSettings(Settings& s, bool firstTime);

// The process-wide record.
Settings& settings();

// The TLS options of the run (-cafile:, -cert:, -key:, -insecure, the trace level), for every
// connection it opens.
TlsOptions tlsOptionsOf(const Settings& s);

} // namespace qarvel
