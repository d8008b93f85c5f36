// The settings of a sendmail request.
#include "config/sendmail_settings.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "base/encoded_word.h"
#include "base/line_breaks.h"
#include "base/text.h"
#include "config/sendmail_options.h"
#include "config/settings.h"
#include "send/addresses.h"

namespace qarvel {

namespace {

const char* const kSystemConfig = "/etc/qarvel/qarvel.txt";
const char* const kMailName = "/etc/mailname";

bool exists(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
}

String qualified(const String& address, const String& domain) {
    if (address.empty() || address.find('@') != String::npos || domain.empty()) return address;
    return address + "@" + domain;
}

// A display name as a phrase: quoted when it holds a character with a meaning in an address,
// an encoded word when it holds 8-bit text.
String phrase(const String& name) {
    std::string_view n = name.view();
    if (n.find_first_of("()<>[]:;@\\,.\"") == std::string_view::npos) return encodeWord("utf-8", true, name, false);
    std::string quoted = "\"";
    for (char c : n) {
        if (c == '"' || c == '\\') quoted += '\\';
        quoted += c;
    }
    return encodeWord("utf-8", true, String(quoted + "\""), false);
}

} // namespace

String sendmailConfigFile() {
    const char* home = std::getenv("HOME");
    if (home && *home) {
        std::string own = std::string(home) + "/.config/qarvel/qarvel.txt";
        if (exists(own)) return String(own);
    }
    return exists(kSystemConfig) ? String(kSystemConfig) : String();
}

String mailDomain(const Settings& s) {
    if (!s.addresses.domain.empty()) return s.addresses.domain;
    std::ifstream in(kMailName);
    std::string line;
    if (in && std::getline(in, line)) {
        std::string_view name = trimBlanks(line);
        if (!name.empty() && name.size() < 256) return String(name);
    }
    char host[256] = "";
    if (gethostname(host, sizeof host - 1) != 0) return String("localhost");
    return String(host);
}

LocalUser localUser() {
    LocalUser user;
    if (struct passwd* account = getpwuid(getuid())) {
        user.login = account->pw_name ? account->pw_name : "";
        // The account's comment field: the full name, then other entries after commas.
        std::string gecos = account->pw_gecos ? account->pw_gecos : "";
        user.fullName = String(trimBlanks(std::string_view(gecos).substr(0, gecos.find(','))));
    }
    if (user.login.empty()) user.login = "nobody";
    return user;
}

String envelopeSenderOf(const SendmailRequest& r, const Settings& s, const LocalUser& user, const String& domain) {
    if (!r.envelopeSender.empty()) return qualified(envelopeAddress(r.envelopeSender), domain);
    if (!s.addresses.from.empty()) return qualified(envelopeAddress(s.addresses.from), domain);
    return qualified(user.login, domain);
}

String fromLineOf(const SendmailRequest& r, const Settings& s, const LocalUser& user, const String& sender) {
    if (r.fullName.empty() && r.envelopeSender.empty() && !s.addresses.from.empty() &&
        envelopeAddress(s.addresses.from) == sender)
        return s.addresses.from;
    // The account's name is the user's to change (chfn): it never breaks the line.
    const String name = blankLineBreaks(r.fullName.empty() ? user.fullName.view() : r.fullName.view());
    return name.empty() ? sender : phrase(name) + " <" + sender + ">";
}

void applySendmailRequest(Settings& s, const SendmailRequest& r, const std::vector<String>& recipients,
                          const String& sender, const String& messageFile, bool eightBit) {
    String to;
    for (const String& address : recipients) to += (to.empty() ? "" : ",") + address;
    s.addresses.to = to;
    s.addresses.cc = s.addresses.bcc = s.addresses.replyTo = String();
    s.addresses.toListFile = s.addresses.ccListFile = s.addresses.bccListFile = String();
    // The alias file was read for the recipients already.
    s.addresses.aliasFile = String();
    s.addresses.envelopeSender = sender;
    // A sender address makes it a sending run whatever login the configuration names.
    if (s.addresses.from.empty()) s.addresses.from = sender;
    s.content.messageFile = messageFile;
    s.content.files.clear();
    s.content.files.add(messageFile);
    s.content.raw = true;
    s.content.eightBit = s.content.eightBit || eightBit || r.eightBit;
    s.smtp.recipientsFromHeaders = true;
    s.smtp.importBatch = false;
    s.smtp.news = false;
    s.smtp.esmtp = true;
    s.tools.quiet = !r.trace;
    if (r.trace && s.tools.verbose < 2) s.tools.verbose = 2;
    s.tools.strict = true;
    s.tools.everySeconds = 0;
}

} // namespace qarvel
