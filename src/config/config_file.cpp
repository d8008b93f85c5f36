#include "config/config_file.h"

#include <cerrno>
#include <cstddef>
#include <cstring>

#include "config/config_line.h"
#include "config/labels.h"
#include "config/option_values.h"
#include "config/process.h"
#include "config/secret_sources.h"
#include "config/settings.h"
#include "config/user_file.h"

namespace qarvel {

namespace {

using S = Settings;
using O = ProcessObjects;

// What a key does with the line's value (already taken with the key's format).
using KeyAction = void (*)(S& s, O& objects, const String& value);

// How much of the line a key takes as its value.
enum ValueFormat {
    kNoValue = 0,
    kShort = 255,
    kLong = 1023,
};

struct ConfigKey {
    const char* name;
    ValueFormat format;
    KeyAction act;
};

String plain(const String& value) { return unquoteValue(value.c_str(), kEscapesKept); }
int number(const String& value) { return readNumber(value.c_str()); }

// The common shapes of a key: a string set from the value or cleared, a flag set to a fixed
// value, a number read from the value.
// Each names the field by its group and its member in the group.
template <auto Group, auto Field>
void setText(S& s, O&, const String& v) { (s.*Group).*Field = plain(v); }

template <auto Group, auto Field>
void clearText(S& s, O&, const String&) { (s.*Group).*Field = String(); }

template <auto Group, auto Field, auto Value>
void setFlag(S& s, O&, const String&) { (s.*Group).*Field = Value; }

template <auto Group, auto Field>
void setNumber(S& s, O&, const String& v) { (s.*Group).*Field = number(v); }

void noEffect(S&, O&, const String&) {}

void setAllHosts(S& s, const String& host) { s.servers.smtpHost = s.servers.pop3Host = s.servers.imapHost = s.servers.nntpHost = host; }

void mailboxFile(S& s, O&, const String&) {
    s.receive.user = s.receive.password = "dummy";
    s.receive.preauthenticated = true;
    s.receive.imap = false;
    s.smtp.news = false;
    s.reader = ReaderKind::kFile;
    s.sender = SenderKind::kSmtp;
}

void mailboxServer(S& s, O&, const String&) {
    s.receive.imap = false;
    s.reader = ReaderKind::kPop3;
    s.sender = SenderKind::kSmtp;
}

void imapMode(S& s, O&, const String&) {
    s.receive.imap = true;
    s.reader = ReaderKind::kImap;
}

void noNews(S& s, O&, const String&) {
    s.content.quotedPrintable = 1;
    s.smtp.news = false;
    s.sender = SenderKind::kSmtp;
}

void attachFile(S& s, O& o, const String& v) {
    const String path = plain(v);
    if (queueAttachment(o, path, String(), 0, s.content.missingAttachments)) s.content.attachments.add(path);
}

// "file|name": the file up to the first "|", the name up to the next one.
void splitInclude(const String& value, String& file, String& name) {
    const size_t bar = value.find('|');
    if (bar == String::npos) {
        file = String(value, 0, value.length() > 255 ? 255 : value.length());
        return;
    }
    if (bar == 0) return;
    file = String(value, 0, bar > 255 ? 255 : bar);
    if (bar > 255) return;
    const size_t start = bar + 1;
    size_t end = value.find('|', start);
    if (end == String::npos) end = value.length();
    if (end - start > 255) end = start + 255;
    name = String(value, start, end - start);
}

template <int Related>
void includeFile(S&, O& o, const String& v) {
    String file, name;
    splitInclude(plain(v), file, name);
    if (Related == 1 && name.empty()) name = file;
    int notCounted = 0;
    queueAttachment(o, file, name, Related, notCounted);
}

void extraHeader(S& s, O&, const String& v) {
    s.content.extraHeaders = unquoteValue(v.c_str(), s.content.escapeMode == 1 || s.content.escapeMode == 2 ? kEscapesControl : kEscapesAll);
}

// Matching order: the first key that begins the line wins, so a key that begins with a
// shorter key (MSGID and MSGLEN before MSG, NOMSGLEN before NOMSG) must come first.
const ConfigKey kKeys[] = {
    {"STRICT", kNoValue, noEffect},  // the entry reads it for its -strict check
    {"SEARCH", kShort, noEffect},
    {"NOSEARCH", kNoValue, noEffect},
    {"ATTRIB", kShort, noEffect},
    {"NOATTRIB", kNoValue, noEffect},
    {"DOMAIN", kShort, setText<&S::addresses, &S::Addresses::domain>},
    {"NODOMAIN", kNoValue, clearText<&S::addresses, &S::Addresses::domain>},
    {"LDAPASDNS", kNoValue, setFlag<&S::servers, &S::Servers::ldapAsDnsServer, true>},
    {"NOLDAPASDNS", kNoValue, setFlag<&S::servers, &S::Servers::ldapAsDnsServer, false>},
    {"LDAPCC", kNoValue, noEffect},
    {"NOLDAPCC", kNoValue, noEffect},
    {"LDAPBCC", kNoValue, noEffect},
    {"NOLDAPBCC", kNoValue, noEffect},
    {"ALIASES", kShort, setText<&S::addresses, &S::Addresses::aliasFile>},
    {"NOALIASES", kNoValue, clearText<&S::addresses, &S::Addresses::aliasFile>},
    {"HOST", kShort, [](S& s, O&, const String& v) { setAllHosts(s, plain(v)); }},
    {"NOHOST", kNoValue, [](S& s, O&, const String&) { setAllHosts(s, String()); }},
    {"FIREWALL", kShort, setText<&S::connection, &ConnectionOptions::firewall>},
    {"NOFIREWALL", kNoValue, clearText<&S::connection, &ConnectionOptions::firewall>},
    {"NNTP_HOST", kShort, setText<&S::servers, &S::Servers::nntpHost>},
    {"BINDDN", kShort, noEffect},
    {"BINDPWD", kShort, noEffect},
    {"SMTP_HOST", kShort, setText<&S::servers, &S::Servers::smtpHost>},
    {"QMTP_HOST", kShort, setText<&S::servers, &S::Servers::smtpHost>},
    {"POP3_HOST", kShort, setText<&S::servers, &S::Servers::pop3Host>},
    {"IMAP_HOST", kShort, setText<&S::servers, &S::Servers::imapHost>},
    {"CAP_HOST", kShort, noEffect},
    {"LDAP_PORT", kShort, noEffect},
    {"SMTP_PORT", kShort, setText<&S::servers, &S::Servers::smtpPort>},
    {"QMTP_PORT", kShort, setText<&S::servers, &S::Servers::qmtpPort>},
    {"SMTP", kShort, setText<&S::servers, &S::Servers::smtpPort>},
    {"NNTP_PORT", kShort, setText<&S::servers, &S::Servers::nntpPort>},
    {"NNTP", kShort, setText<&S::servers, &S::Servers::nntpPort>},
    {"POP3_PORT", kShort, setText<&S::servers, &S::Servers::pop3Port>},
    {"POP3", kShort, setText<&S::servers, &S::Servers::pop3Port>},
    {"IMAP_PORT", kShort, setText<&S::servers, &S::Servers::imapPort>},
    {"CAP_PORT", kShort, noEffect},
    {"IMAP4", kShort, setText<&S::servers, &S::Servers::imapPort>},
    {"NOIMAP", kNoValue, mailboxServer},
    // Switches IMAP mode on (the counterpart of NOIMAP).
    {"IMAP", kNoValue, imapMode},
    {"UMBOX", kNoValue, setFlag<&S::receive, &S::Receive::unixMailbox, true>},
    {"NOUMBOX", kNoValue, setFlag<&S::receive, &S::Receive::unixMailbox, false>},
    // Before MAIL and MBOX, which begin them.
    {"MAILDIR", kLong, setText<&S::receive, &S::Receive::maildir>},
    {"NOMAILDIR", kNoValue, clearText<&S::receive, &S::Receive::maildir>},
    {"MBOXFILE", kLong, setText<&S::receive, &S::Receive::mboxFile>},
    {"NOMBOXFILE", kNoValue, clearText<&S::receive, &S::Receive::mboxFile>},
    {"MAIL", kNoValue, mailboxFile},
    {"NOMAIL", kNoValue, mailboxServer},
    {"MF", kNoValue, [](S& s, O&, const String&) { s.sender = SenderKind::kFile; }},
    {"NOMF", kNoValue, [](S& s, O&, const String&) { s.sender = SenderKind::kSmtp; }},
    {"NONEWS", kNoValue, noNews},
    {"FIRST", kShort, setNumber<&S::receive, &S::Receive::lastMessage>},
    {"NOOP", kNoValue, setFlag<&S::tools, &S::Tools::noop, true>},
    {"NONOOP", kNoValue, setFlag<&S::tools, &S::Tools::noop, false>},
    {"ESC", kNoValue, setFlag<&S::content, &S::Content::escapeMode, 0>},
    {"NOESC", kNoValue, setFlag<&S::content, &S::Content::escapeMode, 1>},
    {"NONOESC", kNoValue, setFlag<&S::content, &S::Content::escapeMode, 2>},
    {"UNIQUE", kNoValue, setFlag<&S::receive, &S::Receive::uniqueNames, true>},
    {"NOUNIQUE", kNoValue, setFlag<&S::receive, &S::Receive::uniqueNames, false>},
    {"NOALT", kNoValue, [](S& s, O&, const String&) { s.content.alternative = false; s.content.alternativeText = s.content.alternativeFile = String(); }},
    {"EVERY", kShort, [](S& s, O&, const String& v) { s.tools.everySeconds = static_cast<int>(number(v) * 60LL > 2147483647LL ? 2147483647LL : number(v) * 60LL); }},
    {"SEVERY", kShort, setNumber<&S::tools, &S::Tools::everySeconds>},
    {"NOFIRST", kNoValue, setFlag<&S::receive, &S::Receive::lastMessage, 2147483647>},
    {"MSGID", kNoValue, setFlag<&S::content, &S::Content::messageId, true>},
    {"MSGLEN", kLong, noEffect},
    {"MSG", kShort, [](S& s, O&, const String& v) { s.receive.lastMessage = s.receive.messageNumber = number(v); }},
    {"NOMSGLEN", kNoValue, noEffect},
    {"NOMSG", kNoValue, [](S& s, O&, const String&) { s.receive.lastMessage = -1; s.receive.messageNumber = 1; }},
    {"PREAUTH", kShort, setNumber<&S::receive, &S::Receive::preauthenticated>},
    {"MIME", kShort, setText<&S::content, &S::Content::contentType>},
    {"NOMIME", kNoValue, clearText<&S::content, &S::Content::contentType>},
    {"NOHTML", kNoValue, setFlag<&S::content, &S::Content::html, false>},
    {"NOPGP", kNoValue, noEffect},
    {"KBS", kNoValue, setFlag<&S::receive, &S::Receive::showRate, true>},
    {"NOKBS", kNoValue, setFlag<&S::receive, &S::Receive::showRate, false>},
    {"BR", kNoValue, setFlag<&S::receive, &S::Receive::brief, true>},
    {"NOBR", kNoValue, setFlag<&S::receive, &S::Receive::brief, false>},
    {"FULL", kNoValue, setFlag<&S::receive, &S::Receive::fullHeaders, true>},
    {"NOFULL", kNoValue, setFlag<&S::receive, &S::Receive::fullHeaders, false>},
    {"HASH", kNoValue, setFlag<&S::addresses, &S::Addresses::keepHashLines, true>},
    {"NOHASH", kNoValue, setFlag<&S::addresses, &S::Addresses::keepHashLines, false>},
    {"GMT", kNoValue, setFlag<&S::content, &S::Content::universalTime, 1>},
    {"NOGMT", kNoValue, setFlag<&S::content, &S::Content::universalTime, 0>},
    {"UTC", kNoValue, setFlag<&S::content, &S::Content::universalTime, 2>},
    {"NOUTC", kNoValue, setFlag<&S::content, &S::Content::universalTime, 0>},
    {"CHARSET", kShort, [](S& s, O&, const String& v) { s.content.charset = plain(v); s.content.charsetChosen = true; }},
    {"NOCHARSET", kNoValue, [](S& s, O&, const String&) { s.content.charset = String(); s.content.charsetChosen = false; }},
    {"REFERER", kShort, setText<&S::web, &S::Web::referer>},
    {"NOREFERER", kNoValue, clearText<&S::web, &S::Web::referer>},
    {"DEST", kShort, setText<&S::web, &S::Web::destination>},
    {"NODEST", kNoValue, clearText<&S::web, &S::Web::destination>},
    {"URL", kLong, [](S& s, O& o, const String& v) { s.web.url = plain(v); queueUrl(s, o); }},
    {"NOURL", kNoValue, clearText<&S::web, &S::Web::url>},
    {"TRAIN", kNoValue, noEffect},
    {"NOTRAIN", kNoValue, noEffect},
    {"VPIM", kNoValue, [](S&, O& o, const String&) { o.voice = 1; }},
    {"NOVPIM", kNoValue, [](S&, O& o, const String&) { o.voice = 0; }},
    {"A ", kLong, attachFile},
    {"P ", kLong, includeFile<2>},
    {"I ", kLong, includeFile<1>},
    {"SUBJECT", kLong, setText<&S::content, &S::Content::subject>},
    {"NOSUBJECT", kNoValue, clearText<&S::content, &S::Content::subject>},
    {"FROM", kShort, setText<&S::addresses, &S::Addresses::from>},
    {"NOFROM", kNoValue, clearText<&S::addresses, &S::Addresses::from>},
    {"CONTACT", kShort, setText<&S::addresses, &S::Addresses::contact>},
    {"NOCONTACT", kNoValue, clearText<&S::addresses, &S::Addresses::contact>},
    {"TO", kLong, [](S& s, O&, const String& v) { s.addresses.to = plain(v); }},
    {"NOTO", kNoValue, clearText<&S::addresses, &S::Addresses::to>},
    {"CC", kLong, setText<&S::addresses, &S::Addresses::cc>},
    {"NOCC", kNoValue, clearText<&S::addresses, &S::Addresses::cc>},
    {"BCC", kLong, setText<&S::addresses, &S::Addresses::bcc>},
    {"NOBCC", kNoValue, clearText<&S::addresses, &S::Addresses::bcc>},
    {"REPLY-TO", kShort, setText<&S::addresses, &S::Addresses::replyTo>},
    {"NOREPLY-TO", kNoValue, clearText<&S::addresses, &S::Addresses::replyTo>},
    {"REPLYTO", kShort, setText<&S::addresses, &S::Addresses::replyTo>},
    {"NOREPLYTO", kNoValue, clearText<&S::addresses, &S::Addresses::replyTo>},
    {"EXTRACT", kLong, [](S& s, O&, const String& v) { s.receive.extractFolder = plain(v); s.receive.extract = true; }},
    {"NOEXTRACT", kNoValue, [](S& s, O&, const String&) { s.receive.extractFolder = String(); s.receive.extract = false; }},
    {"USER", kLong, setText<&S::receive, &S::Receive::user>},
    {"NOUSER", kNoValue, clearText<&S::receive, &S::Receive::user>},
    // The password sources replace each other, as their options do; PASSCMD and PASSFILE
    // come before PASS, which begins them.
    {"PASSCMD", kLong, [](S& s, O&, const String& v) { s.receive.passwordCommand = plain(v); s.receive.passwordFile = s.receive.password = String(); }},
    {"PASSFILE", kLong, [](S& s, O&, const String& v) { s.receive.passwordFile = plain(v); s.receive.passwordCommand = s.receive.password = String(); }},
    {"PASS", kLong, [](S& s, O&, const String& v) { s.receive.password = plain(v); s.receive.passwordCommand = s.receive.passwordFile = String(); }},
    {"NOPASSCMD", kNoValue, clearText<&S::receive, &S::Receive::passwordCommand>},
    {"NOPASSFILE", kNoValue, clearText<&S::receive, &S::Receive::passwordFile>},
    {"NOPASS", kNoValue, clearText<&S::receive, &S::Receive::password>},
    {"REQUIRETLS", kNoValue, setFlag<&S::receive, &S::Receive::requireTls, true>},
    {"NOREQUIRETLS", kNoValue, setFlag<&S::receive, &S::Receive::requireTls, false>},
    {"AUTH", kShort, setText<&S::receive, &S::Receive::authMechanism>},
    {"NOAUTH", kNoValue, clearText<&S::receive, &S::Receive::authMechanism>},
    {"APOP", kNoValue, setFlag<&S::receive, &S::Receive::apop, true>},
    {"NOAPOP", kNoValue, setFlag<&S::receive, &S::Receive::apop, false>},
    {"ORG", kLong, setText<&S::content, &S::Content::organization>},
    {"NOORG", kNoValue, clearText<&S::content, &S::Content::organization>},
    {"SENS", kLong, setText<&S::content, &S::Content::sensitivity>},
    {"NOSENS", kNoValue, clearText<&S::content, &S::Content::sensitivity>},
    {"PAT", kLong, [](S& s, O&, const String& v) { s.receive.subjectPattern = plain(v); s.receive.subjectPatternNegated = false; }},
    {"NOPAT", kLong, [](S& s, O&, const String& v) { s.receive.subjectPattern = plain(v); s.receive.subjectPatternNegated = true; }},
    {"SPAT", kLong, setText<&S::receive, &S::Receive::senderPattern>},
    {"NOSPAT", kLong, setText<&S::receive, &S::Receive::senderPattern>},
    {"NOATT", kNoValue, setFlag<&S::receive, &S::Receive::showAttachments, false>},
    {"SYSLOG", kNoValue, setFlag<&S::tools, &S::Tools::syslog, true>},
    {"NOSYSLOG", kNoValue, setFlag<&S::tools, &S::Tools::syslog, false>},
    {"QUIET", kNoValue, setFlag<&S::tools, &S::Tools::quiet, true>},
    {"NOQUIET", kNoValue, setFlag<&S::tools, &S::Tools::quiet, false>},
    {"HIGH", kNoValue, setFlag<&S::content, &S::Content::priority, 1>},
    {"LOW", kNoValue, setFlag<&S::content, &S::Content::priority, 2>},
    {"NORMAL", kNoValue, setFlag<&S::content, &S::Content::priority, 3>},
    {"DH", kNoValue, setFlag<&S::receive, &S::Receive::decodeHeaders, true>},
    {"NODH", kNoValue, setFlag<&S::receive, &S::Receive::decodeHeaders, false>},
    {"EH", kNoValue, setFlag<&S::content, &S::Content::encodeHeaders, true>},
    {"NOEH", kNoValue, setFlag<&S::content, &S::Content::encodeHeaders, false>},
    {"NOTIFY", kNoValue, [](S& s, O&, const String&) { s.content.returnReceipt = s.content.dispositionNotification = true; }},
    {"NONOTIFY", kNoValue, [](S& s, O&, const String&) { s.content.returnReceipt = s.content.dispositionNotification = false; }},
    {"MDN", kNoValue, [](S& s, O&, const String&) { s.content.dispositionNotification = true; s.receive.readReceipt = 1; }},
    {"NOMDN", kNoValue, [](S& s, O&, const String&) { s.content.dispositionNotification = false; s.receive.readReceipt = 0; }},
    {"QP", kShort, setNumber<&S::content, &S::Content::quotedPrintable>},
    {"NOQP", kNoValue, setFlag<&S::content, &S::Content::quotedPrintable, 0>},
    {"DSN", kNoValue, setFlag<&S::content, &S::Content::returnReceipt, true>},
    {"NODSN", kNoValue, setFlag<&S::content, &S::Content::returnReceipt, false>},
    {"SIZE", kNoValue, setFlag<&S::receive, &S::Receive::showSize, true>},
    {"NOSIZE", kNoValue, setFlag<&S::receive, &S::Receive::showSize, false>},
    {"PU", kNoValue, setFlag<&S::receive, &S::Receive::purge, true>},
    {"NOPU", kNoValue, setFlag<&S::receive, &S::Receive::purge, false>},
    // SSL takes the ports of TLS from the first byte, as -ssl does (readConfigMain lets the
    // port keys of the same file keep theirs).
    {"SSL", kNoValue, [](S& s, O&, const String&) { s.connection.ssl = true; useImplicitTlsPorts(s.servers); }},
    {"NOSSL", kNoValue, setFlag<&S::connection, &ConnectionOptions::ssl, false>},
    {"TLS", kNoValue, setFlag<&S::connection, &ConnectionOptions::tls, true>},
    {"NOTLS", kNoValue, setFlag<&S::connection, &ConnectionOptions::tls, false>},
    {"CAFILE", kLong, setText<&S::connection, &ConnectionOptions::caFile>},
    {"NOCAFILE", kNoValue, clearText<&S::connection, &ConnectionOptions::caFile>},
    {"INSECURE", kNoValue, setFlag<&S::connection, &ConnectionOptions::insecure, true>},
    {"NOINSECURE", kNoValue, setFlag<&S::connection, &ConnectionOptions::insecure, false>},
    {"CERT", kLong, setText<&S::connection, &ConnectionOptions::certificateFile>},
    {"NOCERT", kNoValue, clearText<&S::connection, &ConnectionOptions::certificateFile>},
    {"KEY", kLong, setText<&S::connection, &ConnectionOptions::keyFile>},
    {"NOKEY", kNoValue, clearText<&S::connection, &ConnectionOptions::keyFile>},
    {"LEVEL", kShort, setNumber<&S::connection, &ConnectionOptions::level>},
    {"RMLIST", kNoValue, setFlag<&S::tools, &S::Tools::removeListFiles, true>},
    {"RMFILE", kLong, setText<&S::tools, &S::Tools::removeFile>},
    {"NORMFILE", kNoValue, clearText<&S::tools, &S::Tools::removeFile>},
    {"RM", kNoValue, setFlag<&S::receive, &S::Receive::remove, true>},
    {"NORM", kNoValue, setFlag<&S::receive, &S::Receive::remove, false>},
    {"LIMIT", kLong, setNumber<&S::smtp, &S::Smtp::recipientLimit>},
    {"NOLIMIT", kNoValue, setFlag<&S::smtp, &S::Smtp::recipientLimit, 0>},
    {"RETRIES", kLong, setNumber<&S::connection, &ConnectionOptions::retries>},
    {"NORETRIES", kNoValue, setFlag<&S::connection, &ConnectionOptions::retries, 0>},
    {"NORAW", kNoValue, setFlag<&S::content, &S::Content::raw, false>},
    {"RAW", kNoValue, setFlag<&S::content, &S::Content::raw, true>},
    {"NOIPV6", kNoValue, setFlag<&S::connection, &ConnectionOptions::preferIpv6, false>},
    {"IPV6", kNoValue, setFlag<&S::connection, &ConnectionOptions::preferIpv6, true>},
    {"NOUID", kNoValue, noEffect},
    {"UID", kNoValue, noEffect},
    {"NS", kNoValue, setFlag<&S::smtp, &S::Smtp::goOnPastErrors, true>},
    {"NONS", kNoValue, setFlag<&S::smtp, &S::Smtp::goOnPastErrors, false>},
    {"INLINE", kNoValue, setFlag<&S::content, &S::Content::inlineAttachments, true>},
    {"NOINLINE", kNoValue, setFlag<&S::content, &S::Content::inlineAttachments, false>},
    {"BINARY", kNoValue, setFlag<&S::content, &S::Content::binaryAttachments, true>},
    {"NOBINARY", kNoValue, setFlag<&S::content, &S::Content::binaryAttachments, false>},
    {"TEXT", kNoValue, setFlag<&S::content, &S::Content::textAttachments, true>},
    {"NOTEXT", kNoValue, setFlag<&S::content, &S::Content::textAttachments, false>},
    {"NOIMPORT", kNoValue, setFlag<&S::smtp, &S::Smtp::importBatch, false>},
    // The setting is a "no archive" switch: NOARCHIVE turns it on, ARCHIVE off.
    {"NOARCHIVE", kNoValue, setFlag<&S::smtp, &S::Smtp::noArchive, true>},
    {"ARCHIVE", kNoValue, setFlag<&S::smtp, &S::Smtp::noArchive, false>},
    {"NOIDLE", kNoValue, setFlag<&S::receive, &S::Receive::idleSeconds, 0>},
    {"IDLE", kNoValue, setFlag<&S::receive, &S::Receive::idleSeconds, 2147483647>},
    {"RECEIPT", kNoValue, setFlag<&S::receive, &S::Receive::readReceipt, 2>},
    {"NORECEIPT", kNoValue, setFlag<&S::receive, &S::Receive::readReceipt, 0>},
    {"SORT", kLong, setText<&S::receive, &S::Receive::sort>},
    {"SEP", kLong, [](S& s, O&, const String& v) { s.receive.separator = unquoteValue(v.c_str(), kEscapesControl); }},
    {"SCRIPTS", kLong, setText<&S::web, &S::Web::scripts>},
    {"DIALER", kShort, setText<&S::tools, &S::Tools::dialer>},
    {"CONNECT", kShort, [](S& s, O&, const String& v) { s.tools.connect = unquoteValue(v.c_str(), kEscapesAll); }},
    {"DISCONNECT", kShort, [](S& s, O&, const String& v) { s.tools.disconnect = withDisconnectSwitch(unquoteValue(v.c_str(), kEscapesAll)); }},
    {"LOG", kShort, setText<&S::tools, &S::Tools::logFile>},
    {"NOLOG", kNoValue, clearText<&S::tools, &S::Tools::logFile>},
    {"HARVEST", kShort, setText<&S::receive, &S::Receive::harvestFile>},
    {"NOHARVEST", kNoValue, clearText<&S::receive, &S::Receive::harvestFile>},
    {"SEEN", kLong, setText<&S::receive, &S::Receive::seenFile>},
    {"NOSEEN", kNoValue, clearText<&S::receive, &S::Receive::seenFile>},
    {"FILE", kShort, [](S& s, O&, const String& v) { s.content.messageFile = plain(v); s.content.files.add(s.content.messageFile); }},
    {"NOFILE", kNoValue, clearText<&S::content, &S::Content::messageFile>},
    {"NOMX", kNoValue, setFlag<&S::servers, &S::Servers::directToMx, false>},
    {"ESMTP", kNoValue, setFlag<&S::smtp, &S::Smtp::esmtp, true>},
    {"NOESMTP", kNoValue, setFlag<&S::smtp, &S::Smtp::esmtp, false>},
    {"QMTP", kNoValue, [](S& s, O&, const String&) { s.smtp.qmtp = true; s.sender = SenderKind::kQmtp; }},
    {"NOQMTP", kNoValue, [](S& s, O&, const String&) { s.smtp.qmtp = false; s.sender = SenderKind::kSmtp; }},
    {"HDR", kShort, extraHeader},
};

// The three keys of the early pass, with the 1023-character value format.
const ConfigKey kEarlyKeys[] = {
    {"PROXY_HOST", kLong, setText<&S::servers, &S::Servers::proxyHost>},
    {"PROXY_PORT", kLong, setText<&S::servers, &S::Servers::proxyPort>},
    {"METER", kLong, [](S&, O& o, const String& v) { o.meterFile = plain(v); }},
};

template <size_t N>
const ConfigKey* firstMatch(const ConfigKey (&keys)[N], const char* line) {
    for (const ConfigKey& key : keys)
        if (lineStartsWithKey(line, key.name)) return &key;
    return nullptr;
}

bool isKey(const ConfigKey* key, const char* name) { return key && std::strcmp(key->name, name) == 0; }

// The keys whose value is a secret: a file that holds one must be private to its owner.
bool isSecretKey(const ConfigKey* key) { return isKey(key, "PASS") || isKey(key, "BINDPWD"); }

bool isPortKey(const ConfigKey* key) {
    for (const char* name : {"SMTP_PORT", "QMTP_PORT", "SMTP", "NNTP_PORT", "NNTP", "POP3_PORT", "POP3", "IMAP_PORT", "IMAP4"})
        if (isKey(key, name)) return true;
    return false;
}

template <size_t N>
int applyFirstMatch(const ConfigKey (&keys)[N], const char* line, S& s, O& objects) {
    for (const ConfigKey& key : keys) {
        if (!lineStartsWithKey(line, key.name)) continue;
        key.act(s, objects, key.format == kNoValue ? String() : lineValue(line, key.format));
        return 1;
    }
    return 0;
}

} // namespace

int applyConfigLine(const char* line, Settings& s, ProcessObjects& objects) {
    if (applyFirstMatch(kKeys, line, s, objects)) return 1;
    replaceLabel(line);
    return 0;
}

std::vector<std::string> configKeyNames() {
    std::vector<std::string> names;
    for (const ConfigKey& key : kKeys) names.push_back(key.name);
    for (const ConfigKey& key : kEarlyKeys) names.push_back(key.name);
    return names;
}

int readConfigEarly(const String& path, Settings& s, ProcessObjects& objects, std::FILE* err) {
    String complaint;
    const int read = forEachConfigLine(path, 1023, [&](const char* line) { applyFirstMatch(kEarlyKeys, line, s, objects); },
                                       &complaint);
    if (read < 0) std::fprintf(err, "%s\n", complaint.c_str());
    return read;
}

int readConfigMain(const String& path, Settings& s, ProcessObjects& objects, std::FILE* err) {
    UserFile file = readUserFile(path, FileUse::kSettings, kSettingsFileLimit);
    if (file.state == 0) errno = file.errorNumber;
    if (file.state < 1) {
        if (file.state < 0) std::fprintf(err, "%s\n", file.complaint.c_str());
        return file.state;
    }
    bool holdsSecret = false;
    forEachLine(file.text, 4095, [&](const char* line) { holdsSecret = holdsSecret || isSecretKey(firstMatch(kKeys, line)); });
    const String complaint = holdsSecret ? secretModeComplaint(path, file.mode) : String();
    if (!complaint.empty()) {
        std::fprintf(err, "%s\n", complaint.c_str());
        return -1;
    }
    // SSL takes the ports of TLS from the first byte; the port lines of the same file keep
    // theirs wherever they stand, so they are applied once more after the pass.
    bool ssl = false;
    forEachLine(file.text, 4095, [&](const char* line) {
        ssl = ssl || isKey(firstMatch(kKeys, line), "SSL");
        applyConfigLine(line, s, objects);
    });
    if (ssl)
        forEachLine(file.text, 4095, [&](const char* line) {
            if (isPortKey(firstMatch(kKeys, line))) applyConfigLine(line, s, objects);
        });
    return 1;
}

} // namespace qarvel
