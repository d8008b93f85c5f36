// The help text as data (every option and configuration key with its one line, grouped by
// activity) and the --help and --version answers printed from it.
#include "config/help_text.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include <openssl/crypto.h>
#include <openssl/opensslv.h>

#include "qarvel_version.h"
#include "base/run_failure.h"
#include "net/openssl_on_demand.h"

namespace qarvel {

namespace {

// Groups in the order they are listed.
constexpr const char* kSend = "Sending a message";
constexpr const char* kContent = "Message text, attachments and headers";
constexpr const char* kDelivery = "SMTP, QMTP, file and news delivery";
constexpr const char* kRead = "Reading mail (POP3, IMAP, message files)";
constexpr const char* kActions = "What happens to the messages read";
constexpr const char* kImap = "IMAP (after -imap)";
constexpr const char* kWeb = "Web mail (behind a web server)";
constexpr const char* kList = "Mailing lists (a receive run over the list's mailbox)";
constexpr const char* kNet = "Servers, connections and TLS";
constexpr const char* kHttp = "HTTP downloads (-url:)";
constexpr const char* kDns = "DNS";
constexpr const char* kTools = "Tools";
constexpr const char* kRun = "Run control";
constexpr const char* kHelp = "Help";
constexpr const char* kInert = "Accepted, without effect";

const HelpLine kOptionLines[] = {
    {"-from:", kSend, "ADDR", "sender address; a run with a sender sends, even with -user:"},
    {"-to:", kSend, "ADDR", "recipient (repeat it, or join addresses with \",\")"},
    {"-cc:", kSend, "ADDR", "copy recipient (repeatable)"},
    {"-bcc:", kSend, "ADDR", "blind copy recipient (repeatable)"},
    {"-tolist:", kSend, "FILE", "recipients from a file, one a line (in a list run: the subscribers)"},
    {"-cclist:", kSend, "FILE", "copy recipients from a file, one a line"},
    {"-bcclist:", kSend, "FILE", "blind copy recipients from a file, one a line"},
    {"-replyto:", kSend, "ADDR", "Reply-To address"},
    {"-s:", kSend, "TEXT", "subject"},
    {"-sfile:", kSend, "FILE", "subject: the first line of FILE"},
    {"-msg:", kSend, "TEXT", "message text (\\r, \\n, \\t: line ends, tab); when reading: the message number"},
    {"-file:", kSend, "FILE", "message text from FILE (repeatable); with -mail: the message file to read"},
    {"-nomsg", kSend, "", "send without a message text"},
    {"-cnt:", kSend, "N", "send the message N times"},
    {"-alias:", kSend, "FILE", "alias file of \"NAME: ADDRESS\" lines for the recipient lists"},
    {"-t", kSend, "", "send the ready-made messages of -file: (recipients from To, Cc, Bcc)"},
    {"-import", kSend, "", "send the keyword batch file of -file: (To:, From:, ... up to Contents:, then the text)"},
    {"-news", kSend, "", "post an article to the newsgroups of -to: over NNTP (-host:, -port:)"},
    {"-relay", kSend, "", "as -t, with the To lines only naming the recipients"},
    {"-relay:", kSend, "HOST", "as -relay; when reading, pass each message on through HOST"},
    {"-noesc", kSend, "", "-msg: keeps a backslash before other characters (\\r, \\n, \\t still apply)"},
    {"--noesc", kSend, "", "-msg: is taken exactly as written"},

    {"-a:", kContent, "FILE", "attach FILE (repeatable)"},
    {"-html", kContent, "", "the message text is HTML"},
    {"-alt", kContent, "", "with -html: add a plain-text alternative made from the HTML"},
    {"-alt:", kContent, "FILE", "with -html: the plain-text alternative is FILE"},
    {"-inline", kContent, "", "attachments marked for showing inline"},
    {"-mime:", kContent, "TYPE", "media type of the message text"},
    {"-charset:", kContent, "NAME", "character set of the message text"},
    {"-8", kContent, "", "8-bit text goes as it is (no quoted-printable)"},
    {"-qp:", kContent, "N", "quoted-printable mode of the text (0 off)"},
    {"-map_8bit:", kContent, "N", "the same as -qp:"},
    {"-binary", kContent, "", "attachments are sent as binary data"},
    {"-text", kContent, "", "attachments sent as text; extraction writes every part as text"},
    {"-uue", kContent, "", "attachments are uuencoded in the text instead of MIME parts"},
    {"-use_mime:", kContent, "N", "MIME level: 0 writes no MIME headers"},
    {"-mimetype:", kContent, "N", "the same as -use_mime:"},
    {"-hdr:", kContent, "LINES", "extra header lines (\\r\\n between them)"},
    {"-header:", kContent, "TEXT", "text put before the message text"},
    {"-org:", kContent, "TEXT", "Organization header"},
    {"-date:", kContent, "TEXT", "Date header value instead of the current time"},
    {"-sens:", kContent, "TEXT", "Sensitivity header"},
    {"-high", kContent, "", "high priority (X-Priority and Importance headers)"},
    {"-low", kContent, "", "low priority"},
    {"-normal", kContent, "", "normal priority"},
    {"-msgid", kContent, "", "add a Message-ID header"},
    {"-gmt", kContent, "", "Date header in GMT"},
    {"-utc", kContent, "", "Date header in UTC"},
    {"-nogmt -noutc", kContent, "", "Date header in local time (the default)"},
    {"-hide", kContent, "", "a recipient list of several addresses is left out of the header"},
    {"-eh", kContent, "", "header text outside ASCII is written as encoded words (the default)"},
    {"-noeh", kContent, "", "header text is written as it is"},
    {"-notify", kContent, "", "Return-Receipt-To and Disposition-Notification-To headers"},
    {"-dsn", kContent, "", "Return-Receipt-To header"},
    {"-mdn", kContent, "", "Disposition-Notification-To header; when reading, answer such requests"},
    {"-verify", kContent, "", "refuse a sender address that is not plausible"},

    {"-esmtp", kDelivery, "", "greet with EHLO: AUTH with -user: and -pass:, pipelining"},
    {"-noesmtp", kDelivery, "", "greet with HELO (the default)"},
    {"-qmtp", kDelivery, "", "send over QMTP (port 209)"},
    {"-mf", kDelivery, "", "write the message into the file named by -host: instead of sending it"},
    {"-probe:", kDelivery, "ADDR", "ask ADDR's mail exchangers whether they accept it; sends nothing"},
    {"-etrn:", kDelivery, "DOMAIN", "ask the server to run its queue for DOMAIN (ETRN); sends nothing"},
    {"-ns", kDelivery, "", "go on past a missing attachment or a refused recipient"},
    {"-limit:", kDelivery, "N", "at most N recipients per SMTP transaction"},
    {"-retries:", kDelivery, "N", "connection attempts after the first"},
    {"-noarchive", kDelivery, "", "news posting: add \"X-no-archive: yes\""},

    {"-user:", kRead, "NAME", "user name (taken as written); a run with it and no -from: reads mail"},
    {"-pass:", kRead, "WORD", "password (taken as written); visible to local users in the process list"},
    {"-passcmd:", kRead, "CMD", "password or token: the first output line of CMD (run by /bin/sh once per run)"},
    {"-passfile:", kRead, "FILE", "password or token: the first line of FILE (mode 600)"},
    {"-auth:", kRead, "MECH", "xoauth2 or oauthbearer: the password is an OAuth2 token (SMTP, POP3, IMAP; TLS only)"},
    {"-requiretls", kRead, "", "never send a password without TLS (-tls or -ssl): end the run instead"},
    {"-apop", kRead, "", "POP3: log in with APOP when the server offers it"},
    {"-imap", kRead, "", "read over IMAP instead of POP3"},
    {"-mail", kRead, "", "read message files (-file: or -host: names a file or a folder); no login"},
    {"-preauth", kRead, "", "the session is already logged in"},
    {"-br", kRead, "", "brief listing: the main header lines of each message"},
    {"-full", kRead, "", "show more header lines (Message-ID, MIME-Version, Content-Type)"},
    {"-raw", kRead, "", "write each message as it is, headers included"},
    {"-first:", kRead, "N", "read N messages after the one of -msg:"},
    {"-umbox", kRead, "", "write the messages as a Unix mailbox (From lines)"},
    {"-sep:", kRead, "TEXT", "separator written after each message"},
    {"-dh", kRead, "", "decode encoded words in header values (the default)"},
    {"-nodh", kRead, "", "show header values as they are"},
    {"-kbs", kRead, "", "report the transfer rate"},
    {"-size", kRead, "", "show each message's size"},
    {"-xit", kRead, "", "exit status is the number of messages"},

    {"-extract", kActions, "", "write the attachments into the working folder"},
    {"-extract:", kActions, "DIR", "write the attachments into DIR"},
    {"-noatt", kActions, "", "extract the attachments, and do not show them"},
    {"-unique", kActions, "", "an extracted file never replaces one of the same name"},
    {"-rm", kActions, "", "delete each message once it was written whole and synced"},
    {"-unrm", kActions, "", "keep messages that -rm would delete"},
    {"-exec:", kActions, "CMD", "run CMD for each message, the body on its standard input"},
    {"-filter:", kActions, "TEXT", "retrieve the messages without showing them"},
    {"-pat:", kActions, "PATTERN", "only messages whose subject matches (wildcards * and ?)"},
    {"-addr:", kActions, "PATTERN", "the same as -pat:"},
    {"-nopat:", kActions, "PATTERN", "only messages whose subject does not match"},
    {"-spat:", kActions, "PATTERN", "only messages whose sender matches"},
    {"-nospat:", kActions, "PATTERN", "only messages whose sender does not match"},
    {"-harvest:", kActions, "FILE", "append each sender's address to FILE"},
    {"-maildir:", kActions, "DIR", "deliver each message whole into the Maildir DIR"},
    {"-mboxfile:", kActions, "FILE", "append each message whole to the mbox file FILE"},
    {"-seen:", kActions, "FILE", "only messages not in FILE, which records those delivered"},
    {"-receipt", kActions, "", "send a read receipt for every message"},

    {"-mbox:", kImap, "NAME", "the folder (default INBOX); with -from: where the message is stored"},
    {"-search:", kImap, "CRITERIA", "only the messages found by SEARCH"},
    {"-sort:", kImap, "CRITERIA", "the messages in the order of SORT"},
    {"-part:", kImap, "SECTION:START:LENGTH", "fetch one body part (with -msg:)"},
    {"-encoding:", kImap, "NAME", "decode the part of -part: (base64, quoted-printable)"},
    {"-bs", kImap, "", "list a message's parts instead of fetching it"},
    {"-move:", kImap, "FOLDER", "move each message read into FOLDER"},
    {"-copy:", kImap, "FOLDER", "copy each message read into FOLDER"},
    {"-create:", kImap, "FOLDER", "create FOLDER"},
    {"-delete:", kImap, "FOLDER", "delete FOLDER"},
    {"-list", kImap, "", "list the folders"},
    {"-list:", kImap, "PATTERN", "list the folders that match PATTERN"},
    {"-lsub", kImap, "", "list the subscribed folders"},
    {"-lsub:", kImap, "PATTERN", "list the subscribed folders that match PATTERN"},
    {"-getacl", kImap, "", "show the folder's access-control list"},
    {"-setacl:", kImap, "ID:RIGHTS", "give ID the RIGHTS on the folder"},
    {"-deleteacl:", kImap, "ID", "take ID's rights on the folder away"},
    {"-listrights:", kImap, "ID", "show the rights that may be given to ID"},
    {"-myrights", kImap, "", "show your own rights on the folder"},
    {"-idle", kImap, "", "wait with IDLE for new mail"},
    {"-idle:", kImap, "SECONDS", "wait with IDLE at most SECONDS"},
    {"-purge -pu", kImap, "", "expunge the deleted messages at the end"},

    {"-cgi", kWeb, "", "answer a web server's request: the web-mail pages (see the manual)"},

    {"-listserv:", kList, "ADDR", "the list's address"},
    {"-owner:", kList, "ADDR", "the list owner: envelope sender of copies, their Reply-To with -priv"},
    {"-fetch:", kList, "DIR", "the folder of files that \"fetch NAME\" sends"},
    {"-priv", kList, "", "contributions carry the owner as Reply-To"},
    {"-manual", kList, "", "requests and reports are contributions too"},

    {"-host:", kNet, "NAME", "the server (every kind), or the file of -mf and -mail; NAME:PORT names the port too (it beats -port: and -ssl)"},
    {"-port:", kNet, "PORT", "the port (every kind)"},
    {"-ssl", kNet, "", "TLS from the first byte (ports 465, 995, 993, 563)"},
    {"-tls", kNet, "", "STARTTLS (SMTP, IMAP, NNTP) or STLS (POP3)"},
    {"-cafile:", kNet, "FILE", "check the server's certificate against FILE instead of the system store"},
    {"-insecure", kNet, "", "do not check the server's certificate (a warning says so)"},
    {"-cert:", kNet, "FILE", "client certificate"},
    {"-key:", kNet, "FILE", "the client certificate's key"},
    {"-level:", kNet, "N", "security level; 2 with -cert: reads mail without a user name"},
    {"-tmo:", kNet, "SECONDS", "network time-out (default 300)"},
    {"-if:", kNet, "ADDR", "the multicast interface of the test modes (an address; for IPv6 also a name)"},
    {"-firewall:", kNet, "TEXT", "a line sent to the server right after connecting"},
    {"-ipv6", kNet, "", "IPv6 addresses of a host are tried before IPv4 ones"},

    {"-url:", kHttp, "URL", "download URL (http or https) as an attachment; URL|NAME names the file"},
    {"-post:", kHttp, "FILE", "the download is a POST of FILE's contents (or the message text)"},
    {"-referer:", kHttp, "URL", "Referer of the download"},
    {"-http11", kHttp, "", "download with HTTP/1.1: the downloads from one server share a connection"},
    {"-nohttp11", kHttp, "", "download with HTTP/1.0 (the default)"},

    {"-srv:", kDns, "DOMAIN:SERVICE:PROTO", "print the SRV records, asking the name server -host:"},
    {"-txt:", kDns, "NAME", "print the TXT records, asking the name server -host:"},
    {"-dnsudp", kDns, "", "passed to the resolver, which still asks over TCP"},

    {"-xml", kTools, "FILE STEPS", "edit an XML file (navigation and change steps follow)"},
    {"-encode:base64", kTools, "", "base64 filter: standard input to standard output"},
    {"-decode:base64", kTools, "", "base64 filter back"},
    {"-sap", kTools, "", "print the sessions announced on the SAP multicast group"},
    {"-udp", kTools, "", "listen for datagrams on -host: and -port:"},
    {"-rawsock", kTools, "", "report the ICMP packets from -host: (root only)"},
    {"-mcastdump", kTools, "", "the test modes report sizes only; with -v:N they send"},

    {"-config", kRun, "", "read the configuration file (QARVEL_CONFIG, else qarvel.txt)"},
    {"-config:", kRun, "FILE", "read the configuration file FILE"},
    {"-syslog", kRun, "", "a line for the system log (facility mail) per message sent and per mailbox read"},
    {"-sendmail", kRun, "", "first argument only: be the system's sendmail (its command line, one message on standard input)"},
    {"-strict", kRun, "", "rules for scripts: an unknown option (exit 64) or key (78) ends the run; exit status by cause"},
    {"-v", kRun, "", "say more"},
    {"-v:", kRun, "N", "trace level: 2 echoes every command and reply, 3 the message data too"},
    {"-q -quiet", kRun, "", "quiet: no progress lines, no message display"},
    {"-log:", kRun, "FILE", "append all output to FILE"},
    {"-noop", kRun, "", "stop after the tools, send or read nothing"},
    {"-every:", kRun, "MINUTES", "run again every MINUTES (at least 1)"},
    {"-severy:", kRun, "SECONDS", "run again every SECONDS"},
    {"-meter:", kRun, "FILE", "write the percentage sent into FILE, at most once a second"},
    {"-rmfile:", kRun, "FILE", "delete FILE after the run"},
    {"-rmlist", kRun, "", "delete the recipient list files after sending"},
    {"-hash", kRun, "", "list files keep the lines that begin with #"},
    {"-connect:", kRun, "TEXT", "run the DIALER command with TEXT before the run"},
    {"-disconnect", kRun, "", "run the DIALER command with /disconnect at the end"},
    {"-disconnect:", kRun, "TEXT", "run the DIALER command with TEXT at the end"},
    {"-free", kRun, "", "leave the terminal: a new session, the standard streams to /dev/null"},
    {"-osver", kRun, "", "print the kernel's release numbers"},

    {"--help -h", kHelp, "", "this text"},
    {"--version", kHelp, "", "the version of qarvel and of its TLS library"},

    {"-ldapasdns -ldapcc -ldapbcc", kInert, "", "LDAP look-ups are not built in"},
    {"-uid -open -contact: -wrap: -msglen: -masq:", kInert, "", "kept for old command lines"},
    {"-decode:uue -decode:qp -encode:uue -encode:qp", kInert, "", "stop after the tools like -noop; no filter runs"},
};

const HelpLine kKeyLines[] = {
    {"HOST NOHOST", kNet, "NAME", "the SMTP, POP3, IMAP and NNTP host"},
    {"SMTP_HOST QMTP_HOST", kNet, "NAME", "the SMTP host (overrides -host:)"},
    {"POP3_HOST", kNet, "NAME", "the POP3 host"},
    {"IMAP_HOST", kNet, "NAME", "the IMAP host"},
    {"NNTP_HOST", kNet, "NAME", "the news host"},
    {"SMTP_PORT SMTP", kNet, "PORT", "the SMTP port (overrides -port:)"},
    {"QMTP_PORT", kNet, "PORT", "the QMTP port"},
    {"POP3_PORT POP3", kNet, "PORT", "the POP3 port"},
    {"IMAP_PORT IMAP4", kNet, "PORT", "the IMAP port"},
    {"NNTP_PORT NNTP", kNet, "PORT", "the news port"},
    {"PROXY_HOST PROXY_PORT", kNet, "VALUE", "the HTTP proxy (read even without -config)"},
    {"FIREWALL NOFIREWALL", kNet, "TEXT", "a line sent to the server right after connecting"},
    {"SSL NOSSL", kNet, "", "TLS from the first byte, as -ssl (port keys of the file keep their ports), or not"},
    {"TLS NOTLS", kNet, "", "STARTTLS or STLS, as -tls, or not"},
    {"CAFILE NOCAFILE", kNet, "FILE", "check the server's certificate against FILE, as -cafile:"},
    {"INSECURE NOINSECURE", kNet, "", "do not check the server's certificate, as -insecure, or check it"},
    {"CERT NOCERT", kNet, "FILE", "client certificate, as -cert:"},
    {"KEY NOKEY", kNet, "FILE", "the client certificate's key, as -key:"},
    {"LEVEL", kNet, "N", "security level, as -level:"},
    {"IPV6 NOIPV6", kNet, "", "IPv6 addresses first, or the resolver's order"},
    {"RETRIES NORETRIES", kNet, "N", "connection attempts after the first"},
    {"NOMX", kNet, "", "direct MX delivery off"},

    {"FROM NOFROM", kSend, "ADDR", "sender address"},
    {"TO NOTO", kSend, "ADDRS", "recipients (TO alone clears them)"},
    {"CC NOCC", kSend, "ADDRS", "copy recipients"},
    {"BCC NOBCC", kSend, "ADDRS", "blind copy recipients"},
    {"REPLY-TO NOREPLY-TO REPLYTO NOREPLYTO", kSend, "ADDR", "Reply-To address"},
    {"SUBJECT NOSUBJECT", kSend, "TEXT", "subject"},
    {"DOMAIN NODOMAIN", kSend, "NAME", "the mail domain (else the SMTP host)"},
    {"ALIASES NOALIASES", kSend, "FILE", "alias file, as -alias: (the system's sendmail reads /etc/aliases without it)"},
    {"FILE NOFILE", kSend, "FILE", "message text from FILE"},
    {"A", kSend, "FILE", "attach FILE (one line per file)"},
    {"I", kSend, "FILE|NAME", "a related (inline) part, NAME its content id"},
    {"P", kSend, "FILE|NAME", "a related part"},
    {"URL NOURL", kSend, "URL", "download URL as an attachment, as -url:"},
    {"NOALT", kSend, "", "no plain-text alternative"},
    {"NOHTML", kSend, "", "the text is not HTML"},
    {"MIME NOMIME", kSend, "TYPE", "media type of the message text"},
    {"CHARSET NOCHARSET", kSend, "NAME", "character set of the message text"},
    {"QP NOQP", kSend, "N", "quoted-printable mode of the text"},
    {"BINARY NOBINARY", kSend, "", "attachments as binary data, or not"},
    {"TEXT NOTEXT", kSend, "", "attachments as text, or not"},
    {"INLINE NOINLINE", kSend, "", "attachments shown inline, or not"},
    {"ORG NOORG", kSend, "TEXT", "Organization header"},
    {"SENS NOSENS", kSend, "TEXT", "Sensitivity header"},
    {"HIGH LOW NORMAL", kSend, "", "priority"},
    {"HDR", kSend, "LINES", "extra header lines"},
    {"MSGID", kSend, "", "add a Message-ID header"},
    {"GMT NOGMT UTC NOUTC", kSend, "", "Date header in GMT, UTC or local time"},
    {"DH NODH", kSend, "", "decode encoded header words when reading, or not"},
    {"EH NOEH", kSend, "", "encode header text outside ASCII, or not"},
    {"ESC NOESC NONOESC", kSend, "", "how backslashes of -msg: and HDR are read (as -noesc, --noesc)"},
    {"LIMIT NOLIMIT", kSend, "N", "recipients per SMTP transaction"},
    {"VPIM NOVPIM", kSend, "", "voice message headers on or off"},

    {"ESMTP NOESMTP", kDelivery, "", "greet with EHLO, or HELO"},
    {"QMTP NOQMTP", kDelivery, "", "send over QMTP, or SMTP"},
    {"MF NOMF", kDelivery, "", "write into the -host: file, or send over SMTP"},
    {"NONEWS", kDelivery, "", "mail instead of news"},
    {"NOARCHIVE ARCHIVE", kDelivery, "", "add \"X-no-archive: yes\" to news, or not"},
    {"SIZE NOSIZE", kDelivery, "", "show message sizes when reading"},
    {"NOTIFY NONOTIFY", kDelivery, "", "receipt request headers"},
    {"DSN NODSN", kDelivery, "", "Return-Receipt-To header"},
    {"MDN NOMDN", kDelivery, "", "Disposition-Notification-To header, and answering it"},
    {"RECEIPT NORECEIPT", kDelivery, "", "send a read receipt for every message read"},
    {"NS NONS", kDelivery, "", "go on past a missing attachment, or not"},
    {"RAW NORAW", kDelivery, "", "messages as they are, or not"},
    {"NOIMPORT", kDelivery, "", "import mode off"},

    {"USER NOUSER", kRead, "NAME", "user name"},
    {"PASS NOPASS", kRead, "WORD", "password (the file must then be mode 600)"},
    {"PASSCMD NOPASSCMD", kRead, "CMD", "password or token from a command, as -passcmd:"},
    {"PASSFILE NOPASSFILE", kRead, "FILE", "password or token from the first line of FILE, as -passfile:"},
    {"AUTH NOAUTH", kRead, "MECH", "xoauth2 or oauthbearer, as -auth:, or a password login"},
    {"APOP NOAPOP", kRead, "", "POP3: log in with APOP, as -apop, or not"},
    {"REQUIRETLS NOREQUIRETLS", kRead, "", "no password without TLS, as -requiretls, or not"},
    {"MAIL", kRead, "", "read message files, as -mail"},
    {"NOMAIL NOIMAP", kRead, "", "read over POP3"},
    {"IMAP", kRead, "", "read over IMAP, as -imap"},
    {"PREAUTH", kRead, "N", "the session is already logged in"},
    {"MSG NOMSG", kRead, "N", "the first message read"},
    {"FIRST NOFIRST", kRead, "N", "the last message read, or no limit"},
    {"MSGLEN NOMSGLEN", kRead, "N", "maximum message length"},
    {"BR NOBR", kRead, "", "brief listing, or not"},
    {"FULL NOFULL", kRead, "", "more header lines, or not"},
    {"UMBOX NOUMBOX", kRead, "", "Unix mailbox output, or not"},
    {"SEP", kRead, "TEXT", "separator after each message"},
    {"KBS NOKBS", kRead, "", "report the transfer rate, or not"},
    {"QUIET NOQUIET", kRead, "", "quiet, or not"},
    {"SORT", kRead, "CRITERIA", "IMAP SORT order"},
    {"IDLE NOIDLE", kRead, "", "wait with IDLE for new mail, or not"},
    {"EXTRACT NOEXTRACT", kActions, "DIR", "write the attachments into DIR, or not"},
    {"NOATT", kActions, "", "attachments not shown"},
    {"UNIQUE NOUNIQUE", kActions, "", "extracted files never replace others, or may"},
    {"RM NORM", kActions, "", "delete the messages read, or keep them"},
    {"PU NOPU", kActions, "", "IMAP: expunge at the end, or not"},
    {"PAT", kActions, "PATTERN", "only messages whose subject matches"},
    {"NOPAT", kActions, "PATTERN", "only messages whose subject does not match"},
    {"SPAT NOSPAT", kActions, "PATTERN", "only messages whose sender matches"},
    {"HARVEST NOHARVEST", kActions, "FILE", "collect the senders' addresses in FILE"},
    {"MAILDIR NOMAILDIR", kActions, "DIR", "deliver the messages into the Maildir DIR, or not"},
    {"MBOXFILE NOMBOXFILE", kActions, "FILE", "append the messages to the mbox file FILE, or not"},
    {"SEEN NOSEEN", kActions, "FILE", "fetch only messages not recorded in FILE, or all"},

    {"METER", kRun, "FILE", "progress file (read even without -config)"},
    {"LOG NOLOG", kRun, "FILE", "append all output to FILE"},
    {"STRICT", kRun, "", "as -strict"},
    {"SYSLOG NOSYSLOG", kRun, "", "as -syslog, or not"},
    {"NOOP NONOOP", kRun, "", "stop after the tools, or not"},
    {"EVERY", kRun, "MINUTES", "run again every MINUTES"},
    {"SEVERY", kRun, "SECONDS", "run again every SECONDS"},
    {"RMFILE NORMFILE", kRun, "FILE", "delete FILE after the run"},
    {"RMLIST", kRun, "", "delete the recipient list files after sending"},
    {"HASH NOHASH", kRun, "", "list files keep the lines that begin with #, or not"},
    {"DIALER", kRun, "CMD", "the dial-up command of -connect: and -disconnect"},
    {"CONNECT", kRun, "TEXT", "dial before the run"},
    {"DISCONNECT", kRun, "TEXT", "dial at the end"},
    {"SCRIPTS", kRun, "PATH", "the web pages' script path"},
    {"REFERER NOREFERER", kHttp, "URL", "Referer of downloads"},
    {"DEST NODEST", kHttp, "URL", "Destination header of a POST download"},

    {"LDAPASDNS NOLDAPASDNS LDAPCC NOLDAPCC LDAPBCC NOLDAPBCC", kInert, "", "LDAP look-ups are not built in"},
    {"LDAP_PORT BINDDN BINDPWD CAP_HOST CAP_PORT CONTACT NOCONTACT", kInert, "VALUE", "kept for old files"},
    {"SEARCH NOSEARCH ATTRIB NOATTRIB NOPGP TRAIN NOTRAIN NOUID UID", kInert, "", "kept for old files"},
};

} // namespace

std::span<const HelpLine> optionHelp() { return kOptionLines; }
std::span<const HelpLine> keyHelp() { return kKeyLines; }

namespace {

// "-to:ADDR", "FROM ADDR, NOFROM": the names of a row as the help shows them.
std::string shownNames(const HelpLine& line) {
    std::string names = line.names, shown;
    size_t start = 0;
    for (bool first = true; start < names.size(); first = false) {
        size_t end = names.find(' ', start);
        if (end == std::string::npos) end = names.size();
        if (!first) shown += ", ";
        shown += names.substr(start, end - start);
        // "-to:ADDR" takes its value in the same argument; "-xml FILE" and "FROM ADDR" do not.
        if (first && *line.value) shown += (shown.back() == ':' ? "" : " ") + std::string(line.value);
        start = end + 1;
    }
    return shown;
}

void printGroups(std::FILE* out, std::span<const HelpLine> lines) {
    const char* group = nullptr;
    for (const HelpLine& line : lines) {
        if (!group || std::strcmp(group, line.group) != 0) {
            group = line.group;
            std::fprintf(out, "\n%s:\n", group);
        }
        const std::string names = shownNames(line);
        if (names.size() > 24) std::fprintf(out, "  %s\n  %-24s %s\n", names.c_str(), "", line.text);
        else std::fprintf(out, "  %-24s %s\n", names.c_str(), line.text);
    }
}

} // namespace

void printHelp(std::FILE* out) {
    std::fprintf(out,
                 "qarvel %s: a command-line Internet mail tool. It sends a message (SMTP, QMTP, a file,\n"
                 "news), reads mailboxes (POP3, IMAP, message files), serves web mail behind a web\n"
                 "server, runs mailing lists, and has DNS, HTTP, XML and base64 tools.\n\n"
                 "Usage: qarvel -host:SERVER -from:ADDR -to:ADDR [-s:SUBJECT] [-msg:TEXT] [-a:FILE] ...\n"
                 "       qarvel -host:SERVER -user:NAME -pass:WORD [-imap] [-br | -extract:DIR] [-rm] ...\n"
                 "       qarvel --help | --version\n\n"
                 "An option is a hyphen and a word, with a colon before its value in the same\n"
                 "argument (-to:you@example.org); case matters; an argument that is no option is ignored.\n",
                 QARVEL_VERSION);
    printGroups(out, kOptionLines);
    std::fprintf(out,
                 "\nConfiguration file: lines \"KEY value\", keys in any case, read with -config (the file\n"
                 "named by QARVEL_CONFIG, else qarvel.txt) or -config:FILE. Host and port keys override\n"
                 "-host: and -port:; the command line overrides every other key. Web pages read more\n"
                 "keys (TITLE, HEADER, TRAILER, FONT, BACKGROUND, TEXT, BGCOLOR, UPLOAD_LIMIT, STRING_...).\n");
    printGroups(out, kKeyLines);
    std::fprintf(out,
                 "\nEnvironment:\n"
                 "  QARVEL_CONFIG            the configuration file (default qarvel.txt)\n"
                 "  QARVEL_PATH              the working folder for temporary files (default /tmp)\n"
                 "  QARVEL_RESOLV_CONF       read instead of /etc/resolv.conf\n"
                 "  QARVEL_DUMP_SETTINGS     when set, the settings of the run go to standard error\n"
                 "  QARVEL_STRICT            1: as -strict\n"
                 "  QARVEL_PASSWORD          the password when none is given (after -pass:, -passcmd:,\n"
                 "                           -passfile:, PASS, PASSCMD; before ~/.netrc)\n"
                 "  GATEWAY_INTERFACE        set by a web server: then -cgi is required\n"
                 "\nExit status: 0 success, 1 failure (with -xit the number of messages); under -strict a\n"
                 "failed run ends with the status of its cause:\n");
    for (const FailureStatus& row : failureStatuses()) std::fprintf(out, "  %-3d %s\n", row.status, row.meaning);
    std::fprintf(out, "\nThe manual: man qarvel.\n");
}

void printVersion(std::FILE* out) {
    const char* loaded = openSslLoaded() ? OpenSSL_version(OPENSSL_VERSION) : "not loaded";
    std::fprintf(out, "qarvel %s\nTLS: %s (built with %s)\n", QARVEL_VERSION, loaded, OPENSSL_VERSION_TEXT);
}

int answerHelpRequest(int argc, char** argv) {
    // A web server's arguments are a request, never a question for the help.
    if (std::getenv("GATEWAY_INTERFACE")) return -1;
    for (int i = 1; i < argc; ++i) {
        if (!argv[i]) continue;
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            printHelp(stdout);
            return 0;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            printVersion(stdout);
            return 0;
        }
    }
    return -1;
}

} // namespace qarvel
