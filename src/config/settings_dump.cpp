// The settings dump: every field of the settings record, one line each, in the order of one
// table of name, member and how the value is shown.
#include "config/settings_dump.h"

#include <variant>

#include "config/settings.h"

namespace qarvel {

namespace {

// kText and kSecret hold a String, kList a StringList, kNumber an int, long or bool.
enum FieldShow { kText, kSecret, kNumber, kList };

struct SettingsField {
    const char* name;
    std::variant<String Settings::*, StringList Settings::*, int Settings::*, long Settings::*,
                 bool Settings::*> member;
    FieldShow show;
};

const SettingsField kFields[] = {
    {"smtpHost", &Settings::smtpHost, kText},
    {"pop3Host", &Settings::pop3Host, kText},
    {"imapHost", &Settings::imapHost, kText},
    {"nntpHost", &Settings::nntpHost, kText},
    {"capHost", &Settings::capHost, kText},
    {"dnsServerHost", &Settings::dnsServerHost, kText},
    {"discoveredDnsServer", &Settings::discoveredDnsServer, kText},
    {"ldapHost", &Settings::ldapHost, kText},
    {"smtpPort", &Settings::smtpPort, kText},
    {"qmtpPort", &Settings::qmtpPort, kText},
    {"pop3Port", &Settings::pop3Port, kText},
    {"imapPort", &Settings::imapPort, kText},
    {"nntpPort", &Settings::nntpPort, kText},
    {"capPort", &Settings::capPort, kText},
    {"ldapPort", &Settings::ldapPort, kText},
    {"bindDn", &Settings::bindDn, kText},
    {"bindPwd", &Settings::bindPwd, kSecret},
    {"proxyHost", &Settings::proxyHost, kText},
    {"proxyPort", &Settings::proxyPort, kText},
    {"firewall", &Settings::firewall, kText},
    {"localInterface", &Settings::localInterface, kText},
    {"relayHost", &Settings::relayHost, kText},
    {"timeoutSeconds", &Settings::timeoutSeconds, kNumber},
    {"ipv6", &Settings::ipv6, kNumber},
    {"ssl", &Settings::ssl, kNumber},
    {"tls", &Settings::tls, kNumber},
    {"level", &Settings::level, kNumber},
    {"directMx", &Settings::directMx, kNumber},
    {"dnsUdp", &Settings::dnsUdp, kNumber},
    {"retries", &Settings::retries, kNumber},
    {"bufferSize", &Settings::bufferSize, kNumber},
    {"cert", &Settings::cert, kText},
    {"caFile", &Settings::caFile, kText},
    {"keyFile", &Settings::keyFile, kText},
    {"insecure", &Settings::insecure, kNumber},
    {"apop", &Settings::apop, kNumber},
    {"from", &Settings::from, kText},
    {"to", &Settings::to, kText},
    {"toAsEntered", &Settings::toAsEntered, kText},
    {"receiveTo", &Settings::receiveTo, kText},
    {"cc", &Settings::cc, kText},
    {"bcc", &Settings::bcc, kText},
    {"toListFile", &Settings::toListFile, kText},
    {"ccListFile", &Settings::ccListFile, kText},
    {"bccListFile", &Settings::bccListFile, kText},
    {"replyTo", &Settings::replyTo, kText},
    {"contact", &Settings::contact, kText},
    {"masq", &Settings::masq, kText},
    {"domain", &Settings::domain, kText},
    {"aliasFile", &Settings::aliasFile, kText},
    {"owner", &Settings::owner, kText},
    {"listServ", &Settings::listServ, kText},
    {"aliasNames", &Settings::aliasNames, kList},
    {"aliasValues", &Settings::aliasValues, kList},
    {"ldapCc", &Settings::ldapCc, kNumber},
    {"ldapBcc", &Settings::ldapBcc, kNumber},
    {"ldapAsDns", &Settings::ldapAsDns, kNumber},
    {"subject", &Settings::subject, kText},
    {"messageText", &Settings::messageText, kText},
    {"mime", &Settings::mime, kText},
    {"charset", &Settings::charset, kText},
    {"encoding", &Settings::encoding, kText},
    {"noMessageBody", &Settings::noMessageBody, kNumber},
    {"mimeType", &Settings::mimeType, kNumber},
    {"qp", &Settings::qp, kNumber},
    {"map8bit", &Settings::map8bit, kNumber},
    {"uue", &Settings::uue, kNumber},
    {"binary", &Settings::binary, kNumber},
    {"text", &Settings::text, kNumber},
    {"html", &Settings::html, kNumber},
    {"alt", &Settings::alt, kNumber},
    {"inlineParts", &Settings::inlineParts, kNumber},
    {"priority", &Settings::priority, kNumber},
    {"msgId", &Settings::msgId, kNumber},
    {"gmt", &Settings::gmt, kNumber},
    {"dh", &Settings::dh, kNumber},
    {"eh", &Settings::eh, kNumber},
    {"hide", &Settings::hide, kNumber},
    {"wrap", &Settings::wrap, kNumber},
    {"limit", &Settings::limit, kNumber},
    {"escapeMode", &Settings::escapeMode, kNumber},
    {"missingAttachments", &Settings::missingAttachments, kNumber},
    {"altText", &Settings::altText, kText},
    {"altFile", &Settings::altFile, kText},
    {"org", &Settings::org, kText},
    {"date", &Settings::date, kText},
    {"sens", &Settings::sens, kText},
    {"hdr", &Settings::hdr, kText},
    {"messageFile", &Settings::messageFile, kText},
    {"attachments", &Settings::attachments, kList},
    {"files", &Settings::files, kList},
    {"esmtp", &Settings::esmtp, kNumber},
    {"qmtp", &Settings::qmtp, kNumber},
    {"size", &Settings::size, kNumber},
    {"dsn", &Settings::dsn, kNumber},
    {"notify", &Settings::notify, kNumber},
    {"receipt", &Settings::receipt, kNumber},
    {"verify", &Settings::verify, kNumber},
    {"probe", &Settings::probe, kNumber},
    {"raw", &Settings::raw, kNumber},
    {"recipientsFromHeaders", &Settings::recipientsFromHeaders, kNumber},
    {"importMode", &Settings::importMode, kNumber},
    {"uploadMode", &Settings::uploadMode, kNumber},
    {"newsMode", &Settings::newsMode, kNumber},
    {"noArchive", &Settings::noArchive, kNumber},
    {"noStop", &Settings::noStop, kNumber},
    {"priv", &Settings::priv, kNumber},
    {"open", &Settings::open, kNumber},
    {"manual", &Settings::manual, kNumber},
    {"bs", &Settings::bs, kNumber},
    {"train", &Settings::train, kNumber},
    {"patNegate", &Settings::patNegate, kNumber},
    {"spatNegate", &Settings::spatNegate, kNumber},
    {"etrnDomain", &Settings::etrnDomain, kText},
    {"harvest", &Settings::harvest, kText},
    {"pat", &Settings::pat, kText},
    {"spat", &Settings::spat, kText},
    {"user", &Settings::user, kText},
    {"password", &Settings::password, kSecret},
    {"passCommand", &Settings::passCommand, kText},
    {"passFile", &Settings::passFile, kText},
    {"authMechanism", &Settings::authMechanism, kText},
    {"requireTls", &Settings::requireTls, kNumber},
    {"mbox", &Settings::mbox, kText},
    {"listPattern", &Settings::listPattern, kText},
    {"partName", &Settings::partName, kText},
    {"moveTo", &Settings::moveTo, kText},
    {"copyTo", &Settings::copyTo, kText},
    {"createMailbox", &Settings::createMailbox, kText},
    {"deleteMailbox", &Settings::deleteMailbox, kText},
    {"setAcl", &Settings::setAcl, kText},
    {"deleteAcl", &Settings::deleteAcl, kText},
    {"listRights", &Settings::listRights, kText},
    {"search", &Settings::search, kText},
    {"sort", &Settings::sort, kText},
    {"header", &Settings::header, kText},
    {"filter", &Settings::filter, kText},
    {"exec", &Settings::exec, kText},
    {"extractFolder", &Settings::extractFolder, kText},
    {"rmFile", &Settings::rmFile, kText},
    {"sep", &Settings::sep, kText},
    {"imap", &Settings::imap, kNumber},
    {"preauth", &Settings::preauth, kNumber},
    {"first", &Settings::first, kNumber},
    {"messageNumber", &Settings::messageNumber, kNumber},
    {"count", &Settings::count, kNumber},
    {"msgLen", &Settings::msgLen, kNumber},
    {"listSubscribed", &Settings::listSubscribed, kNumber},
    {"getAcl", &Settings::getAcl, kNumber},
    {"myRights", &Settings::myRights, kNumber},
    {"extract", &Settings::extract, kNumber},
    {"attachmentsShown", &Settings::attachmentsShown, kNumber},
    {"partStart", &Settings::partStart, kNumber},
    {"partLength", &Settings::partLength, kNumber},
    {"rm", &Settings::rm, kNumber},
    {"unrm", &Settings::unrm, kNumber},
    {"purge", &Settings::purge, kNumber},
    {"rmList", &Settings::rmList, kNumber},
    {"br", &Settings::br, kNumber},
    {"full", &Settings::full, kNumber},
    {"unique", &Settings::unique, kNumber},
    {"hash", &Settings::hash, kNumber},
    {"kbs", &Settings::kbs, kNumber},
    {"uid", &Settings::uid, kNumber},
    {"umbox", &Settings::umbox, kNumber},
    {"idle", &Settings::idle, kNumber},
    {"imapCommand", &Settings::imapCommand, kNumber},
    {"quiet", &Settings::quiet, kNumber},
    {"cgi", &Settings::cgi, kNumber},
    {"http11", &Settings::http11, kNumber},
    {"httpPost", &Settings::httpPost, kNumber},
    {"authenticatedCgi", &Settings::authenticatedCgi, kNumber},
    {"scripts", &Settings::scripts, kText},
    {"fetch", &Settings::fetch, kText},
    {"referer", &Settings::referer, kText},
    {"url", &Settings::url, kText},
    {"dest", &Settings::dest, kText},
    {"font", &Settings::font, kText},
    {"title", &Settings::title, kText},
    {"pageHeader", &Settings::pageHeader, kText},
    {"trailer", &Settings::trailer, kText},
    {"background", &Settings::background, kText},
    {"textColor", &Settings::textColor, kText},
    {"bgColor", &Settings::bgColor, kText},
    {"redirect", &Settings::redirect, kText},
    {"dialer", &Settings::dialer, kText},
    {"connect", &Settings::connect, kText},
    {"disconnect", &Settings::disconnect, kText},
    {"log", &Settings::log, kText},
    {"verbose", &Settings::verbose, kNumber},
    {"every", &Settings::every, kNumber},
    {"noop", &Settings::noop, kNumber},
    {"xml", &Settings::xml, kNumber},
    {"sap", &Settings::sap, kNumber},
    {"udp", &Settings::udp, kNumber},
    {"rawSock", &Settings::rawSock, kNumber},
    {"mcastDump", &Settings::mcastDump, kNumber},
    {"decodeBase64", &Settings::decodeBase64, kNumber},
    {"encodeBase64", &Settings::encodeBase64, kNumber},
    {"xit", &Settings::xit, kNumber},
    {"meter", &Settings::meter, kText},
};

} // namespace

void dumpSettings(const Settings& s, std::FILE* out) {
    for (const SettingsField& f : kFields) {
        std::visit([&](auto member) {
            const auto& value = s.*member;
            using Value = std::decay_t<decltype(value)>;
            if constexpr (std::is_same_v<Value, String>) {
                // Strings are shown in quotes so that an empty value and trailing blanks can be
                // seen; a secret shows only whether it is set.
                const char* shown = f.show == kSecret ? (value.empty() ? "" : "***") : value.c_str();
                std::fprintf(out, "%s=\"%s\"\n", f.name, shown);
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

} // namespace qarvel
