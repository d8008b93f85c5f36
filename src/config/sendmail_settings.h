// How a sendmail request becomes the settings of a ready-made message run (-t): which
// configuration file the system's sendmail reads, the mail domain, the envelope sender and the
// From line a message without one gains.
#pragma once

#include <vector>

#include "base/string.h"

namespace qarvel {

struct Settings;
struct SendmailRequest;

// The user's ~/.config/qarvel/qarvel.txt when it exists, else /etc/qarvel/qarvel.txt; empty
// when neither does (the run then goes with the defaults).
String sendmailConfigFile();

// The domain of local names: DOMAIN, else the first line of /etc/mailname, else the host's name.
String mailDomain(const Settings& s);

// The calling user: the account's login name and the full name of its account entry.
struct LocalUser {
    String login, fullName;
};
LocalUser localUser();

// The envelope sender: -f or -r (a name without "@" gets the domain), else the address of
// FROM, else the user at the domain.
String envelopeSenderOf(const SendmailRequest& r, const Settings& s, const LocalUser& user, const String& domain);

// The From line a message without one gains: FROM as written when it gave the sender and -F
// gave no name, else the name (-F, else the account's) and the envelope sender in brackets.
String fromLineOf(const SendmailRequest& r, const Settings& s, const LocalUser& user, const String& sender);

// The run's settings for the message file: the recipients (already mapped), the envelope
// sender, the file sent as written (-t with the recipients given, so the header names none),
// quiet unless -v traced, EHLO, and -strict (exit statuses by cause).
void applySendmailRequest(Settings& s, const SendmailRequest& r, const std::vector<String>& recipients,
                          const String& sender, const String& messageFile, bool eightBit);

} // namespace qarvel
