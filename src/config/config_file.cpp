#include "config/config_file.h"

#include <cstddef>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include "config/config_line.h"
#include "config/labels.h"
#include "config/option_values.h"
#include "config/process.h"
#include "config/secret_sources.h"
#include "config/settings.h"

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
template <String S::*Field>
void setText(S& s, O&, const String& v) { s.*Field = plain(v); }

template <String S::*Field>
void clearText(S& s, O&, const String&) { s.*Field = String(); }

template <int S::*Field, int Value>
void setFlag(S& s, O&, const String&) { s.*Field = Value; }

template <int S::*Field>
void setNumber(S& s, O&, const String& v) { s.*Field = number(v); }

void noEffect(S&, O&, const String&) {}

void setAllHosts(S& s, const String& host) { s.smtpHost = s.pop3Host = s.imapHost = s.nntpHost = host; }

void mailboxFile(S& s, O&, const String&) {
    s.user = s.password = "dummy";
    s.preauth = 1;
    s.imap = 0;
    s.newsMode = 0;
    s.reader = ReaderKind::kFile;
    s.sender = SenderKind::kSmtp;
}

void mailboxServer(S& s, O&, const String&) {
    s.imap = 0;
    s.reader = ReaderKind::kPop3;
    s.sender = SenderKind::kSmtp;
}

void imapMode(S& s, O&, const String&) {
    s.imap = 1;
    s.reader = ReaderKind::kImap;
}

void noNews(S& s, O&, const String&) {
    s.qp = 1;
    s.newsMode = 0;
    s.sender = SenderKind::kSmtp;
}

void attachFile(S& s, O& o, const String& v) {
    const String path = plain(v);
    if (queueAttachment(o, path, String(), 0, s.missingAttachments)) s.attachments.add(path);
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
    s.hdr = unquoteValue(v.c_str(), s.escapeMode == 1 || s.escapeMode == 2 ? kEscapesControl : kEscapesAll);
}

// Matching order: the first key that begins the line wins, so a key that begins with a
// shorter key (MSGID and MSGLEN before MSG, NOMSGLEN before NOMSG) must come first.
const ConfigKey kKeys[] = {
    {"STRICT", kNoValue, noEffect},  // the entry reads it for its -strict check
    {"SEARCH", kShort, noEffect},
    {"NOSEARCH", kNoValue, noEffect},
    {"ATTRIB", kShort, noEffect},
    {"NOATTRIB", kNoValue, noEffect},
    {"DOMAIN", kShort, setText<&S::domain>},
    {"NODOMAIN", kNoValue, clearText<&S::domain>},
    {"LDAPASDNS", kNoValue, setFlag<&S::ldapAsDns, 1>},
    {"NOLDAPASDNS", kNoValue, setFlag<&S::ldapAsDns, 0>},
    {"LDAPCC", kNoValue, setFlag<&S::ldapCc, 1>},
    {"NOLDAPCC", kNoValue, setFlag<&S::ldapCc, 0>},
    {"LDAPBCC", kNoValue, setFlag<&S::ldapBcc, 1>},
    {"NOLDAPBCC", kNoValue, setFlag<&S::ldapBcc, 0>},
    {"HOST", kShort, [](S& s, O&, const String& v) { setAllHosts(s, plain(v)); }},
    {"NOHOST", kNoValue, [](S& s, O&, const String&) { setAllHosts(s, String()); }},
    {"FIREWALL", kShort, setText<&S::firewall>},
    {"NOFIREWALL", kNoValue, clearText<&S::firewall>},
    {"NNTP_HOST", kShort, setText<&S::nntpHost>},
    {"BINDDN", kShort, setText<&S::bindDn>},
    {"BINDPWD", kShort, setText<&S::bindPwd>},
    {"SMTP_HOST", kShort, setText<&S::smtpHost>},
    {"QMTP_HOST", kShort, setText<&S::smtpHost>},
    {"POP3_HOST", kShort, setText<&S::pop3Host>},
    {"IMAP_HOST", kShort, setText<&S::imapHost>},
    {"CAP_HOST", kShort, setText<&S::capHost>},
    {"LDAP_PORT", kShort, setText<&S::ldapPort>},
    {"SMTP_PORT", kShort, setText<&S::smtpPort>},
    {"QMTP_PORT", kShort, setText<&S::qmtpPort>},
    {"SMTP", kShort, setText<&S::smtpPort>},
    {"NNTP_PORT", kShort, setText<&S::nntpPort>},
    {"NNTP", kShort, setText<&S::nntpPort>},
    {"POP3_PORT", kShort, setText<&S::pop3Port>},
    {"POP3", kShort, setText<&S::pop3Port>},
    {"IMAP_PORT", kShort, setText<&S::imapPort>},
    {"CAP_PORT", kShort, setText<&S::capPort>},
    {"IMAP4", kShort, setText<&S::imapPort>},
    {"NOIMAP", kNoValue, mailboxServer},
    // Switches IMAP mode on (the counterpart of NOIMAP).
    {"IMAP", kNoValue, imapMode},
    {"UMBOX", kNoValue, setFlag<&S::umbox, 1>},
    {"NOUMBOX", kNoValue, setFlag<&S::umbox, 0>},
    {"MAIL", kNoValue, mailboxFile},
    {"NOMAIL", kNoValue, mailboxServer},
    {"MF", kNoValue, [](S& s, O&, const String&) { s.sender = SenderKind::kFile; }},
    {"NOMF", kNoValue, [](S& s, O&, const String&) { s.sender = SenderKind::kSmtp; }},
    {"NONEWS", kNoValue, noNews},
    {"FIRST", kShort, setNumber<&S::first>},
    {"NOOP", kNoValue, setFlag<&S::noop, 1>},
    {"NONOOP", kNoValue, setFlag<&S::noop, 0>},
    {"ESC", kNoValue, setFlag<&S::escapeMode, 0>},
    {"NOESC", kNoValue, setFlag<&S::escapeMode, 1>},
    {"NONOESC", kNoValue, setFlag<&S::escapeMode, 2>},
    {"UNIQUE", kNoValue, setFlag<&S::unique, 1>},
    {"NOUNIQUE", kNoValue, setFlag<&S::unique, 0>},
    {"NOALT", kNoValue, [](S& s, O&, const String&) { s.alt = 0; s.altText = s.altFile = String(); }},
    {"EVERY", kShort, [](S& s, O&, const String& v) { s.every = static_cast<int>(number(v) * 60LL > 2147483647LL ? 2147483647LL : number(v) * 60LL); }},
    {"SEVERY", kShort, setNumber<&S::every>},
    {"NOFIRST", kNoValue, setFlag<&S::first, 2147483647>},
    {"MSGID", kNoValue, setFlag<&S::msgId, 1>},
    {"MSGLEN", kLong, setNumber<&S::msgLen>},
    {"MSG", kShort, [](S& s, O&, const String& v) { s.first = s.messageNumber = number(v); }},
    {"NOMSGLEN", kNoValue, setFlag<&S::msgLen, 0>},
    {"NOMSG", kNoValue, [](S& s, O&, const String&) { s.first = -1; s.messageNumber = 1; }},
    {"PREAUTH", kShort, setNumber<&S::preauth>},
    {"MIME", kShort, setText<&S::mime>},
    {"NOMIME", kNoValue, clearText<&S::mime>},
    {"NOHTML", kNoValue, setFlag<&S::html, 0>},
    {"NOPGP", kNoValue, noEffect},
    {"KBS", kNoValue, setFlag<&S::kbs, 1>},
    {"NOKBS", kNoValue, setFlag<&S::kbs, 0>},
    {"BR", kNoValue, setFlag<&S::br, 1>},
    {"NOBR", kNoValue, setFlag<&S::br, 0>},
    {"FULL", kNoValue, setFlag<&S::full, 1>},
    {"NOFULL", kNoValue, setFlag<&S::full, 0>},
    {"HASH", kNoValue, setFlag<&S::hash, 1>},
    {"NOHASH", kNoValue, setFlag<&S::hash, 0>},
    {"GMT", kNoValue, setFlag<&S::gmt, 1>},
    {"NOGMT", kNoValue, setFlag<&S::gmt, 0>},
    {"UTC", kNoValue, setFlag<&S::gmt, 2>},
    {"NOUTC", kNoValue, setFlag<&S::gmt, 0>},
    {"CHARSET", kShort, [](S& s, O&, const String& v) { s.charset = plain(v); s.charsetChosen = true; }},
    {"NOCHARSET", kNoValue, [](S& s, O&, const String&) { s.charset = String(); s.charsetChosen = false; }},
    {"REFERER", kShort, setText<&S::referer>},
    {"NOREFERER", kNoValue, clearText<&S::referer>},
    {"DEST", kShort, setText<&S::dest>},
    {"NODEST", kNoValue, clearText<&S::dest>},
    {"URL", kLong, [](S& s, O& o, const String& v) { s.url = plain(v); queueUrl(s, o); }},
    {"NOURL", kNoValue, clearText<&S::url>},
    {"TRAIN", kNoValue, setFlag<&S::train, 1>},
    {"NOTRAIN", kNoValue, setFlag<&S::train, 0>},
    {"VPIM", kNoValue, [](S&, O& o, const String&) { o.voice = 1; }},
    {"NOVPIM", kNoValue, [](S&, O& o, const String&) { o.voice = 0; }},
    {"A ", kLong, attachFile},
    {"P ", kLong, includeFile<2>},
    {"I ", kLong, includeFile<1>},
    {"SUBJECT", kLong, setText<&S::subject>},
    {"NOSUBJECT", kNoValue, clearText<&S::subject>},
    {"FROM", kShort, setText<&S::from>},
    {"NOFROM", kNoValue, clearText<&S::from>},
    {"CONTACT", kShort, setText<&S::contact>},
    {"NOCONTACT", kNoValue, clearText<&S::contact>},
    {"TO", kLong, [](S& s, O&, const String& v) { s.to = s.toAsEntered = plain(v); }},
    {"NOTO", kNoValue, clearText<&S::to>},
    {"CC", kLong, setText<&S::cc>},
    {"NOCC", kNoValue, clearText<&S::cc>},
    {"BCC", kLong, setText<&S::bcc>},
    {"NOBCC", kNoValue, clearText<&S::bcc>},
    {"REPLY-TO", kShort, setText<&S::replyTo>},
    {"NOREPLY-TO", kNoValue, clearText<&S::replyTo>},
    {"REPLYTO", kShort, setText<&S::replyTo>},
    {"NOREPLYTO", kNoValue, clearText<&S::replyTo>},
    {"EXTRACT", kLong, [](S& s, O&, const String& v) { s.extractFolder = plain(v); s.extract = 1; }},
    {"NOEXTRACT", kNoValue, [](S& s, O&, const String&) { s.extractFolder = String(); s.extract = 0; }},
    {"USER", kLong, setText<&S::user>},
    {"NOUSER", kNoValue, clearText<&S::user>},
    {"PASSCMD", kLong, [](S& s, O&, const String& v) { s.passCommand = plain(v); s.passFile = s.password = String(); }},
    {"PASS", kLong, [](S& s, O&, const String& v) { s.password = plain(v); s.passCommand = s.passFile = String(); }},
    {"NOPASS", kNoValue, clearText<&S::password>},
    {"REQUIRETLS", kNoValue, setFlag<&S::requireTls, 1>},
    {"NOREQUIRETLS", kNoValue, setFlag<&S::requireTls, 0>},
    {"ORG", kLong, setText<&S::org>},
    {"NOORG", kNoValue, clearText<&S::org>},
    {"SENS", kLong, setText<&S::sens>},
    {"NOSENS", kNoValue, clearText<&S::sens>},
    {"PAT", kLong, [](S& s, O&, const String& v) { s.pat = plain(v); s.patNegate = 0; }},
    {"NOPAT", kLong, [](S& s, O&, const String& v) { s.pat = plain(v); s.patNegate = 1; }},
    {"SPAT", kLong, setText<&S::spat>},
    {"NOSPAT", kLong, setText<&S::spat>},
    {"NOATT", kNoValue, setFlag<&S::attachmentsShown, 0>},
    {"QUIET", kNoValue, setFlag<&S::quiet, 1>},
    {"NOQUIET", kNoValue, setFlag<&S::quiet, 0>},
    {"HIGH", kNoValue, setFlag<&S::priority, 1>},
    {"LOW", kNoValue, setFlag<&S::priority, 2>},
    {"NORMAL", kNoValue, setFlag<&S::priority, 3>},
    {"DH", kNoValue, setFlag<&S::dh, 1>},
    {"NODH", kNoValue, setFlag<&S::dh, 0>},
    {"EH", kNoValue, setFlag<&S::eh, 1>},
    {"NOEH", kNoValue, setFlag<&S::eh, 0>},
    {"NOTIFY", kNoValue, [](S& s, O&, const String&) { s.dsn = s.notify = 1; }},
    {"NONOTIFY", kNoValue, [](S& s, O&, const String&) { s.dsn = s.notify = 0; }},
    {"MDN", kNoValue, [](S& s, O&, const String&) { s.notify = s.receipt = 1; }},
    {"NOMDN", kNoValue, [](S& s, O&, const String&) { s.notify = s.receipt = 0; }},
    {"QP", kShort, setNumber<&S::qp>},
    {"NOQP", kNoValue, setFlag<&S::qp, 0>},
    {"DSN", kNoValue, setFlag<&S::dsn, 1>},
    {"NODSN", kNoValue, setFlag<&S::dsn, 0>},
    {"SIZE", kNoValue, setFlag<&S::size, 1>},
    {"NOSIZE", kNoValue, setFlag<&S::size, 0>},
    {"PU", kNoValue, setFlag<&S::purge, 1>},
    {"NOPU", kNoValue, setFlag<&S::purge, 0>},
    {"NOSSL", kNoValue, setFlag<&S::ssl, 0>},
    {"NOTLS", kNoValue, setFlag<&S::tls, 0>},
    {"RMLIST", kNoValue, setFlag<&S::rmList, 1>},
    {"RMFILE", kLong, setText<&S::rmFile>},
    {"NORMFILE", kNoValue, clearText<&S::rmFile>},
    {"RM", kNoValue, setFlag<&S::rm, 1>},
    {"NORM", kNoValue, setFlag<&S::rm, 0>},
    {"LIMIT", kLong, setNumber<&S::limit>},
    {"NOLIMIT", kNoValue, setFlag<&S::limit, 0>},
    {"RETRIES", kLong, setNumber<&S::retries>},
    {"NORETRIES", kNoValue, setFlag<&S::retries, 0>},
    {"NORAW", kNoValue, setFlag<&S::raw, 0>},
    {"RAW", kNoValue, setFlag<&S::raw, 1>},
    {"NOIPV6", kNoValue, setFlag<&S::ipv6, 0>},
    {"IPV6", kNoValue, setFlag<&S::ipv6, 1>},
    {"NOUID", kNoValue, setFlag<&S::uid, 0>},
    {"UID", kNoValue, setFlag<&S::uid, 1>},
    {"NS", kNoValue, setFlag<&S::noStop, 1>},
    {"NONS", kNoValue, setFlag<&S::noStop, 0>},
    {"INLINE", kNoValue, setFlag<&S::inlineParts, 1>},
    {"NOINLINE", kNoValue, setFlag<&S::inlineParts, 0>},
    {"BINARY", kNoValue, setFlag<&S::binary, 1>},
    {"NOBINARY", kNoValue, setFlag<&S::binary, 0>},
    {"TEXT", kNoValue, setFlag<&S::text, 1>},
    {"NOTEXT", kNoValue, setFlag<&S::text, 0>},
    {"NOIMPORT", kNoValue, setFlag<&S::importMode, 0>},
    // The setting is a "no archive" switch: NOARCHIVE turns it on, ARCHIVE off.
    {"NOARCHIVE", kNoValue, setFlag<&S::noArchive, 1>},
    {"ARCHIVE", kNoValue, setFlag<&S::noArchive, 0>},
    {"NOIDLE", kNoValue, setFlag<&S::idle, 0>},
    {"IDLE", kNoValue, setFlag<&S::idle, 2147483647>},
    {"RECEIPT", kNoValue, setFlag<&S::receipt, 2>},
    {"NORECEIPT", kNoValue, setFlag<&S::receipt, 0>},
    {"SORT", kLong, setText<&S::sort>},
    {"SEP", kLong, [](S& s, O&, const String& v) { s.sep = unquoteValue(v.c_str(), kEscapesControl); }},
    {"SCRIPTS", kLong, setText<&S::scripts>},
    {"DIALER", kShort, setText<&S::dialer>},
    {"CONNECT", kShort, [](S& s, O&, const String& v) { s.connect = unquoteValue(v.c_str(), kEscapesAll); }},
    {"DISCONNECT", kShort, [](S& s, O&, const String& v) { s.disconnect = withDisconnectSwitch(unquoteValue(v.c_str(), kEscapesAll)); }},
    {"LOG", kShort, setText<&S::log>},
    {"NOLOG", kNoValue, clearText<&S::log>},
    {"HARVEST", kShort, setText<&S::harvest>},
    {"NOHARVEST", kNoValue, clearText<&S::harvest>},
    {"FILE", kShort, [](S& s, O&, const String& v) { s.messageFile = plain(v); s.files.add(s.messageFile); }},
    {"NOFILE", kNoValue, clearText<&S::messageFile>},
    {"NOMX", kNoValue, setFlag<&S::directMx, 0>},
    {"ESMTP", kNoValue, setFlag<&S::esmtp, 1>},
    {"NOESMTP", kNoValue, setFlag<&S::esmtp, 0>},
    {"QMTP", kNoValue, [](S& s, O&, const String&) { s.qmtp = 1; s.sender = SenderKind::kQmtp; }},
    {"NOQMTP", kNoValue, [](S& s, O&, const String&) { s.qmtp = 0; s.sender = SenderKind::kSmtp; }},
    {"HDR", kShort, extraHeader},
};

// The three keys of the early pass, with the 1023-character value format.
const ConfigKey kEarlyKeys[] = {
    {"PROXY_HOST", kLong, setText<&S::proxyHost>},
    {"PROXY_PORT", kLong, setText<&S::proxyPort>},
    {"METER", kLong, [](S&, O& o, const String& v) { o.meterFile = plain(v); }},
};

template <size_t N>
const ConfigKey* firstMatch(const ConfigKey (&keys)[N], const char* line) {
    for (const ConfigKey& key : keys)
        if (lineStartsWithKey(line, key.name)) return &key;
    return nullptr;
}

// The keys whose value is a secret: a file that holds one must be private to its owner.
bool isSecretKey(const ConfigKey* key) {
    return key && (std::strcmp(key->name, "PASS") == 0 || std::strcmp(key->name, "BINDPWD") == 0);
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

void readConfigEarly(const String& path, Settings& s, ProcessObjects& objects) {
    forEachConfigLine(path, 1023, [&](const char* line) { applyFirstMatch(kEarlyKeys, line, s, objects); });
}

int readConfigMain(const String& path, Settings& s, ProcessObjects& objects, std::FILE* err) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return 0;
    bool holdsSecret = false;
    forEachConfigLine(path, 4095, [&](const char* line) { holdsSecret = holdsSecret || isSecretKey(firstMatch(kKeys, line)); });
    const String complaint = holdsSecret ? secretFileComplaint(fd, path) : String();
    close(fd);
    if (!complaint.empty()) {
        std::fprintf(err, "%s\n", complaint.c_str());
        return -1;
    }
    forEachConfigLine(path, 4095, [&](const char* line) { applyConfigLine(line, s, objects); });
    return 1;
}

} // namespace qarvel
