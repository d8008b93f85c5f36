// The field table of the settings record, and the two things it drives: the dump of every
// field and the reset of the record to its first-time or cleared form.
#include <variant>

#include "config/settings.h"
#include "config/settings_dump.h"
#include "net/http_client.h"
#include "send/smtp_session.h"

namespace qarvel {

namespace {

using S = Settings;
using Sv = ServerSettings;
using Cn = ConnectionOptions;
using Ad = Settings::Addresses;
using Ct = Settings::Content;
using Sm = Settings::Smtp;
using Rc = Settings::Receive;
using Wb = Settings::Web;
using Tl = Settings::Tools;

// One field of a group: the table reaches it through this accessor.
template <auto Group, auto Member>
auto& at(Settings& s) { return (s.*Group).*Member; }

template <auto Member>
auto& top(Settings& s) { return s.*Member; }

template <class T>
using Access = T& (*)(Settings&);

// kText, kSecret and kUrl hold a String (a URL shown with its password masked), kList a
// StringList, kNumber a number, flag or choice.
enum FieldShow { kText, kSecret, kUrl, kNumber, kList };

// What a reset does with a field. kCleared: a string takes its first-time default (or
// becomes empty in the clearing form), a number its initial value, a list is kept. kKept: the
// field survives both forms. kAlways: the string takes its default in both forms.
enum FieldReset { kCleared, kKept, kAlways };

struct SettingsField {
    const char* name;
    std::variant<Access<String>, Access<StringList>, Access<int>, Access<long>, Access<bool>,
                 Access<SenderKind>, Access<ReaderKind>> member;
    FieldShow show;
    const char* initial = nullptr;  // the string's first-time default
    FieldReset reset = kCleared;
};

const SettingsField kFields[] = {
    {"sender", &top<&S::sender>, kNumber},
    {"reader", &top<&S::reader>, kNumber},
    {"servers.smtpHost", &at<&S::servers, &Sv::smtpHost>, kText, "localhost"},
    {"servers.pop3Host", &at<&S::servers, &Sv::pop3Host>, kText, "localhost"},
    {"servers.imapHost", &at<&S::servers, &Sv::imapHost>, kText, "localhost"},
    {"servers.nntpHost", &at<&S::servers, &Sv::nntpHost>, kText, "localhost"},
    {"servers.ldapHost", &at<&S::servers, &Sv::ldapHost>, kText, "localhost"},
    {"servers.smtpPort", &at<&S::servers, &Sv::smtpPort>, kText, kSmtpPort},
    {"servers.qmtpPort", &at<&S::servers, &Sv::qmtpPort>, kText, "209"},
    {"servers.pop3Port", &at<&S::servers, &Sv::pop3Port>, kText, "110"},
    {"servers.imapPort", &at<&S::servers, &Sv::imapPort>, kText, "143"},
    {"servers.nntpPort", &at<&S::servers, &Sv::nntpPort>, kText, "119"},
    {"servers.dnsServerHost", &at<&S::servers, &Sv::dnsServerHost>, kText, "localhost"},
    {"servers.discoveredDnsServer", &at<&S::servers, &Sv::discoveredDnsServer>, kText, "localhost", kAlways},
    {"servers.proxyHost", &at<&S::servers, &Sv::proxyHost>, kText},
    {"servers.proxyPort", &at<&S::servers, &Sv::proxyPort>, kText},
    {"servers.relayHost", &at<&S::servers, &Sv::relayHost>, kText},
    {"servers.directToMx", &at<&S::servers, &Sv::directToMx>, kNumber},
    {"servers.dnsOverUdp", &at<&S::servers, &Sv::dnsOverUdp>, kNumber},
    {"servers.ldapAsDnsServer", &at<&S::servers, &Sv::ldapAsDnsServer>, kNumber},
    {"connection.timeoutSeconds", &at<&S::connection, &Cn::timeoutSeconds>, kNumber, nullptr, kKept},
    {"connection.retries", &at<&S::connection, &Cn::retries>, kNumber},
    {"connection.level", &at<&S::connection, &Cn::level>, kNumber},
    {"connection.ssl", &at<&S::connection, &Cn::ssl>, kNumber},
    {"connection.tls", &at<&S::connection, &Cn::tls>, kNumber},
    {"connection.preferIpv6", &at<&S::connection, &Cn::preferIpv6>, kNumber},
    {"connection.certificateFile", &at<&S::connection, &Cn::certificateFile>, kText},
    {"connection.keyFile", &at<&S::connection, &Cn::keyFile>, kText},
    {"connection.caFile", &at<&S::connection, &Cn::caFile>, kText},
    {"connection.insecure", &at<&S::connection, &Cn::insecure>, kNumber},
    {"connection.firewall", &at<&S::connection, &Cn::firewall>, kText},
    {"connection.localInterface", &at<&S::connection, &Cn::localInterface>, kText},
    {"connection.bufferSize", &at<&S::connection, &Cn::bufferSize>, kNumber},
    {"addresses.from", &at<&S::addresses, &Ad::from>, kText},
    {"addresses.to", &at<&S::addresses, &Ad::to>, kText},
    {"addresses.cc", &at<&S::addresses, &Ad::cc>, kText},
    {"addresses.bcc", &at<&S::addresses, &Ad::bcc>, kText},
    {"addresses.replyTo", &at<&S::addresses, &Ad::replyTo>, kText},
    {"addresses.contact", &at<&S::addresses, &Ad::contact>, kText},
    {"addresses.masquerade", &at<&S::addresses, &Ad::masquerade>, kText},
    {"addresses.domain", &at<&S::addresses, &Ad::domain>, kText},
    {"addresses.toListFile", &at<&S::addresses, &Ad::toListFile>, kText},
    {"addresses.ccListFile", &at<&S::addresses, &Ad::ccListFile>, kText},
    {"addresses.bccListFile", &at<&S::addresses, &Ad::bccListFile>, kText},
    {"addresses.aliasFile", &at<&S::addresses, &Ad::aliasFile>, kText},
    {"addresses.keepHashLines", &at<&S::addresses, &Ad::keepHashLines>, kNumber},
    {"addresses.aliasNames", &at<&S::addresses, &Ad::aliasNames>, kList},
    {"addresses.aliasValues", &at<&S::addresses, &Ad::aliasValues>, kList},
    {"addresses.envelopeSender", &at<&S::addresses, &Ad::envelopeSender>, kText},
    {"addresses.listAddress", &at<&S::addresses, &Ad::listAddress>, kText},
    {"addresses.listOwner", &at<&S::addresses, &Ad::listOwner>, kText},
    {"content.subject", &at<&S::content, &Ct::subject>, kText},
    {"content.messageText", &at<&S::content, &Ct::messageText>, kText},
    {"content.contentType", &at<&S::content, &Ct::contentType>, kText, "text/plain"},
    {"content.charset", &at<&S::content, &Ct::charset>, kText, "iso-8859-1"},
    {"content.encoding", &at<&S::content, &Ct::encoding>, kText},
    {"content.charsetChosen", &at<&S::content, &Ct::charsetChosen>, kNumber},
    {"content.mimeLevel", &at<&S::content, &Ct::mimeLevel>, kNumber},
    {"content.quotedPrintable", &at<&S::content, &Ct::quotedPrintable>, kNumber},
    {"content.priority", &at<&S::content, &Ct::priority>, kNumber},
    {"content.universalTime", &at<&S::content, &Ct::universalTime>, kNumber},
    {"content.escapeMode", &at<&S::content, &Ct::escapeMode>, kNumber},
    {"content.missingAttachments", &at<&S::content, &Ct::missingAttachments>, kNumber},
    {"content.noMessageText", &at<&S::content, &Ct::noMessageText>, kNumber},
    {"content.eightBit", &at<&S::content, &Ct::eightBit>, kNumber},
    {"content.uuencode", &at<&S::content, &Ct::uuencode>, kNumber},
    {"content.binaryAttachments", &at<&S::content, &Ct::binaryAttachments>, kNumber},
    {"content.textAttachments", &at<&S::content, &Ct::textAttachments>, kNumber},
    {"content.inlineAttachments", &at<&S::content, &Ct::inlineAttachments>, kNumber},
    {"content.html", &at<&S::content, &Ct::html>, kNumber},
    {"content.alternative", &at<&S::content, &Ct::alternative>, kNumber},
    {"content.messageId", &at<&S::content, &Ct::messageId>, kNumber},
    {"content.encodeHeaders", &at<&S::content, &Ct::encodeHeaders>, kNumber},
    {"content.hideRecipients", &at<&S::content, &Ct::hideRecipients>, kNumber},
    {"content.returnReceipt", &at<&S::content, &Ct::returnReceipt>, kNumber},
    {"content.dispositionNotification", &at<&S::content, &Ct::dispositionNotification>, kNumber},
    {"content.raw", &at<&S::content, &Ct::raw>, kNumber},
    {"content.alternativeText", &at<&S::content, &Ct::alternativeText>, kText},
    {"content.alternativeFile", &at<&S::content, &Ct::alternativeFile>, kText},
    {"content.organization", &at<&S::content, &Ct::organization>, kText},
    {"content.date", &at<&S::content, &Ct::date>, kText},
    {"content.sensitivity", &at<&S::content, &Ct::sensitivity>, kText},
    {"content.extraHeaders", &at<&S::content, &Ct::extraHeaders>, kText},
    {"content.leadingText", &at<&S::content, &Ct::leadingText>, kText},
    {"content.messageFile", &at<&S::content, &Ct::messageFile>, kText},
    {"content.attachments", &at<&S::content, &Ct::attachments>, kList},
    {"content.files", &at<&S::content, &Ct::files>, kList},
    {"smtp.etrnDomain", &at<&S::smtp, &Sm::etrnDomain>, kText},
    {"smtp.recipientLimit", &at<&S::smtp, &Sm::recipientLimit>, kNumber},
    {"smtp.sendCount", &at<&S::smtp, &Sm::sendCount>, kNumber},
    {"smtp.esmtp", &at<&S::smtp, &Sm::esmtp>, kNumber},
    {"smtp.qmtp", &at<&S::smtp, &Sm::qmtp>, kNumber},
    {"smtp.verifySender", &at<&S::smtp, &Sm::verifySender>, kNumber},
    {"smtp.probe", &at<&S::smtp, &Sm::probe>, kNumber},
    {"smtp.recipientsFromHeaders", &at<&S::smtp, &Sm::recipientsFromHeaders>, kNumber},
    {"smtp.importBatch", &at<&S::smtp, &Sm::importBatch>, kNumber},
    {"smtp.news", &at<&S::smtp, &Sm::news>, kNumber},
    {"smtp.noArchive", &at<&S::smtp, &Sm::noArchive>, kNumber},
    {"smtp.goOnPastErrors", &at<&S::smtp, &Sm::goOnPastErrors>, kNumber},
    {"receive.user", &at<&S::receive, &Rc::user>, kText},
    {"receive.password", &at<&S::receive, &Rc::password>, kSecret},
    {"receive.passwordCommand", &at<&S::receive, &Rc::passwordCommand>, kText},
    {"receive.passwordFile", &at<&S::receive, &Rc::passwordFile>, kText},
    {"receive.authMechanism", &at<&S::receive, &Rc::authMechanism>, kText},
    {"receive.requireTls", &at<&S::receive, &Rc::requireTls>, kNumber},
    {"receive.apop", &at<&S::receive, &Rc::apop>, kNumber},
    {"receive.imap", &at<&S::receive, &Rc::imap>, kNumber},
    {"receive.preauthenticated", &at<&S::receive, &Rc::preauthenticated>, kNumber},
    {"receive.mailbox", &at<&S::receive, &Rc::mailbox>, kText, "INBOX"},
    {"receive.messageNumber", &at<&S::receive, &Rc::messageNumber>, kNumber},
    {"receive.lastMessage", &at<&S::receive, &Rc::lastMessage>, kNumber},
    {"receive.readReceipt", &at<&S::receive, &Rc::readReceipt>, kNumber},
    {"receive.idleSeconds", &at<&S::receive, &Rc::idleSeconds>, kNumber},
    {"receive.subjectPattern", &at<&S::receive, &Rc::subjectPattern>, kText},
    {"receive.senderPattern", &at<&S::receive, &Rc::senderPattern>, kText},
    {"receive.harvestFile", &at<&S::receive, &Rc::harvestFile>, kText},
    {"receive.filter", &at<&S::receive, &Rc::filter>, kText},
    {"receive.execCommand", &at<&S::receive, &Rc::execCommand>, kText},
    {"receive.separator", &at<&S::receive, &Rc::separator>, kText},
    {"receive.subjectPatternNegated", &at<&S::receive, &Rc::subjectPatternNegated>, kNumber},
    {"receive.senderPatternNegated", &at<&S::receive, &Rc::senderPatternNegated>, kNumber},
    {"receive.folderPattern", &at<&S::receive, &Rc::folderPattern>, kText},
    {"receive.partName", &at<&S::receive, &Rc::partName>, kText},
    {"receive.moveTo", &at<&S::receive, &Rc::moveTo>, kText},
    {"receive.copyTo", &at<&S::receive, &Rc::copyTo>, kText},
    {"receive.createMailbox", &at<&S::receive, &Rc::createMailbox>, kText},
    {"receive.deleteMailbox", &at<&S::receive, &Rc::deleteMailbox>, kText},
    {"receive.setAcl", &at<&S::receive, &Rc::setAcl>, kText},
    {"receive.deleteAcl", &at<&S::receive, &Rc::deleteAcl>, kText},
    {"receive.listRights", &at<&S::receive, &Rc::listRights>, kText},
    {"receive.search", &at<&S::receive, &Rc::search>, kText},
    {"receive.sort", &at<&S::receive, &Rc::sort>, kText},
    {"receive.extractFolder", &at<&S::receive, &Rc::extractFolder>, kText},
    {"receive.maildir", &at<&S::receive, &Rc::maildir>, kText},
    {"receive.mboxFile", &at<&S::receive, &Rc::mboxFile>, kText},
    {"receive.seenFile", &at<&S::receive, &Rc::seenFile>, kText},
    {"receive.partStart", &at<&S::receive, &Rc::partStart>, kNumber},
    {"receive.partLength", &at<&S::receive, &Rc::partLength>, kNumber},
    {"receive.subscribedOnly", &at<&S::receive, &Rc::subscribedOnly>, kNumber},
    {"receive.getAcl", &at<&S::receive, &Rc::getAcl>, kNumber},
    {"receive.myRights", &at<&S::receive, &Rc::myRights>, kNumber},
    {"receive.imapCommand", &at<&S::receive, &Rc::imapCommand>, kNumber},
    {"receive.extract", &at<&S::receive, &Rc::extract>, kNumber},
    {"receive.showAttachments", &at<&S::receive, &Rc::showAttachments>, kNumber},
    {"receive.uniqueNames", &at<&S::receive, &Rc::uniqueNames>, kNumber},
    {"receive.remove", &at<&S::receive, &Rc::remove>, kNumber},
    {"receive.keepMessages", &at<&S::receive, &Rc::keepMessages>, kNumber},
    {"receive.purge", &at<&S::receive, &Rc::purge>, kNumber},
    {"receive.brief", &at<&S::receive, &Rc::brief>, kNumber},
    {"receive.fullHeaders", &at<&S::receive, &Rc::fullHeaders>, kNumber},
    {"receive.decodeHeaders", &at<&S::receive, &Rc::decodeHeaders>, kNumber},
    {"receive.showSize", &at<&S::receive, &Rc::showSize>, kNumber},
    {"receive.showRate", &at<&S::receive, &Rc::showRate>, kNumber},
    {"receive.listParts", &at<&S::receive, &Rc::listParts>, kNumber},
    {"receive.unixMailbox", &at<&S::receive, &Rc::unixMailbox>, kNumber},
    {"receive.exitWithCount", &at<&S::receive, &Rc::exitWithCount>, kNumber},
    {"receive.fetchFolder", &at<&S::receive, &Rc::fetchFolder>, kText, "fetch"},
    {"receive.listPrivate", &at<&S::receive, &Rc::listPrivate>, kNumber},
    {"receive.listManual", &at<&S::receive, &Rc::listManual>, kNumber},
    {"web.cgi", &at<&S::web, &Wb::cgi>, kNumber},
    {"web.authenticatedCgi", &at<&S::web, &Wb::authenticatedCgi>, kNumber},
    {"web.upload", &at<&S::web, &Wb::upload>, kNumber},
    {"web.http11", &at<&S::web, &Wb::http11>, kNumber},
    {"web.post", &at<&S::web, &Wb::post>, kNumber},
    {"web.scripts", &at<&S::web, &Wb::scripts>, kText, "/cgi-bin/qarvel"},
    {"web.referer", &at<&S::web, &Wb::referer>, kText},
    {"web.url", &at<&S::web, &Wb::url>, kUrl},
    {"web.destination", &at<&S::web, &Wb::destination>, kText},
    {"web.redirect", &at<&S::web, &Wb::redirect>, kText},
    {"web.font", &at<&S::web, &Wb::font>, kText},
    {"web.title", &at<&S::web, &Wb::title>, kText},
    {"web.pageHeader", &at<&S::web, &Wb::pageHeader>, kText},
    {"web.trailer", &at<&S::web, &Wb::trailer>, kText},
    {"web.background", &at<&S::web, &Wb::background>, kText},
    {"web.textColor", &at<&S::web, &Wb::textColor>, kText},
    {"web.backgroundColor", &at<&S::web, &Wb::backgroundColor>, kText},
    {"tools.verbose", &at<&S::tools, &Tl::verbose>, kNumber},
    {"tools.everySeconds", &at<&S::tools, &Tl::everySeconds>, kNumber},
    {"tools.quiet", &at<&S::tools, &Tl::quiet>, kNumber},
    {"tools.noop", &at<&S::tools, &Tl::noop>, kNumber},
    {"tools.xml", &at<&S::tools, &Tl::xml>, kNumber},
    {"tools.sap", &at<&S::tools, &Tl::sap>, kNumber},
    {"tools.udp", &at<&S::tools, &Tl::udp>, kNumber},
    {"tools.rawSocket", &at<&S::tools, &Tl::rawSocket>, kNumber},
    {"tools.multicastDump", &at<&S::tools, &Tl::multicastDump>, kNumber},
    {"tools.decodeBase64", &at<&S::tools, &Tl::decodeBase64>, kNumber},
    {"tools.encodeBase64", &at<&S::tools, &Tl::encodeBase64>, kNumber},
    {"tools.strict", &at<&S::tools, &Tl::strict>, kNumber},
    {"tools.syslog", &at<&S::tools, &Tl::syslog>, kNumber},
    {"tools.removeFile", &at<&S::tools, &Tl::removeFile>, kText},
    {"tools.logFile", &at<&S::tools, &Tl::logFile>, kText},
    {"tools.meter", &at<&S::tools, &Tl::meter>, kText},
    {"tools.dialer", &at<&S::tools, &Tl::dialer>, kText},
    {"tools.connect", &at<&S::tools, &Tl::connect>, kText},
    {"tools.disconnect", &at<&S::tools, &Tl::disconnect>, kText},
    {"tools.removeListFiles", &at<&S::tools, &Tl::removeListFiles>, kNumber},
};

} // namespace

void dumpSettings(const Settings& s, std::FILE* out) {
    // The accessors serve the reset as well; the dump only reads through them.
    Settings& record = const_cast<Settings&>(s);
    for (const SettingsField& f : kFields) {
        std::visit([&](auto access) {
            const auto& value = access(record);
            using Value = std::decay_t<decltype(value)>;
            if constexpr (std::is_same_v<Value, String>) {
                // Strings are shown in quotes so that an empty value and trailing blanks can be
                // seen; a secret shows only whether it is set.
                const String shown = f.show == kSecret ? String(value.empty() ? "" : "***")
                                     : f.show == kUrl  ? HttpClient::shownUrl(value)
                                                       : value;
                std::fprintf(out, "%s=\"%s\"\n", f.name, shown.c_str());
            } else if constexpr (std::is_same_v<Value, StringList>) {
                std::fprintf(out, "%s=[", f.name);
                const char* comma = "";
                for (const String& v : value) {
                    std::fprintf(out, "%s\"%s\"", comma, v.c_str());
                    comma = ",";
                }
                std::fprintf(out, "]\n");
            } else {
                std::fprintf(out, "%s=%ld\n", f.name, static_cast<long>(value));
            }
        }, f.member);
    }
}

void resetSettings(Settings& s, bool firstTime) {
    Settings fresh;
    for (const SettingsField& f : kFields) {
        if (f.reset == kKept) continue;
        std::visit([&](auto access) {
            auto& value = access(s);
            using Value = std::decay_t<decltype(value)>;
            if constexpr (std::is_same_v<Value, String>) {
                const bool withDefault = firstTime || f.reset == kAlways;
                value = withDefault && f.initial ? String(f.initial) : String();
            } else if constexpr (!std::is_same_v<Value, StringList>) {
                value = access(fresh);
            }
        }, f.member);
    }
}

} // namespace qarvel
