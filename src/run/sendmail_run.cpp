// The sendmail front end: the command line and the configuration choice become the settings
// of a ready-made message run (-t) over the message read from standard input; what the run
// could not hand over is kept in dead.letter.
#include "run/sendmail_run.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "base/progress_line.h"
#include "base/run_failure.h"
#include "config/config_file.h"
#include "config/labels.h"
#include "config/process.h"
#include "config/sendmail_options.h"
#include "config/sendmail_settings.h"
#include "config/settings.h"
#include "config/settings_dump.h"
#include "config/strict_check.h"
#include "net/host_address.h"
#include "run/activity.h"
#include "send/aliases.h"
#include "send/dead_letter.h"
#include "send/message_spool.h"

namespace qarvel {

namespace {

const char* const kDefaultAliases = "/etc/aliases";

// The exit status of a message that did not go: the relay's refusal (of the message, its data
// or the login) and a fault of the configuration or the command line keep their status of
// -strict; anything else (a relay that could not be reached, did not answer, said "later" or
// broke off) tells the caller to try again later.
int notSentStatus() {
    switch (const Failure cause = notedFailure()) {
    case Failure::kUnavailable:
    case Failure::kLogin:
    case Failure::kData:
    case Failure::kUsage:
    case Failure::kConfiguration: return strictExitStatus(cause);
    default: return strictExitStatus(Failure::kTemporary);
    }
}

// Keeps the message in dead.letter and says where; returns status.
int keepMessage(const MessageSpool& spool, const String& sender, int status) {
    const String path = deadLetterPath();
    std::string error;
    if (appendDeadLetter(path, spool.path(), sender, std::time(nullptr), error))
        std::fprintf(stderr, "sendmail: the message was not sent; it is kept in %s\n", path.c_str());
    else
        std::fprintf(stderr, "sendmail: the message was not sent, and %s\n", error.c_str());
    return status;
}

// Reads the configuration file under the rules of -strict: a line that is no key, or a file
// that may not be read, is a fault. Returns "" or the fault.
std::string readConfiguration(const String& path, Settings& s, ProcessObjects& objects) {
    if (path.empty()) return std::string();
    objects.configFile = path;
    objects.configRequested = kConfigNamed;
    std::string fault = unknownConfigKey(path);
    if (!fault.empty()) return fault;
    const int read = readConfigMain(path, s, objects);
    if (read < 0) return "the configuration file " + path.str() + " was not read";
    if (read == 0) return "could not read the configuration file " + path.str() + ": " + std::strerror(errno);
    return std::string();
}

} // namespace

bool isSendmailInvocation(int argc, char** argv) {
    if (argc < 1 || !argv[0]) return false;
    const char* slash = std::strrchr(argv[0], '/');
    const char* name = slash ? slash + 1 : argv[0];
    return std::strcmp(name, "sendmail") == 0 || (argc > 1 && std::strcmp(argv[1], "-sendmail") == 0);
}

int runSendmail(int argc, char** argv) {
    std::vector<std::string> arguments;
    for (int i = 1; i < argc; ++i)
        if (i > 1 || std::strcmp(argv[i], "-sendmail") != 0) arguments.push_back(argv[i]);
    SendmailRequest request;
    if (const std::string fault = parseSendmailArguments(arguments, request); !fault.empty()) {
        std::fprintf(stderr, "%s\n", fault.c_str());
        return strictExitStatus(Failure::kUsage);
    }
    if (request.printQueue) {
        std::puts("Mail queue is empty");
        return 0;
    }
    if (request.recipients.empty() && !request.fromHeaders) {
        std::fputs("sendmail: no recipient: name them as arguments, or give -t\n", stderr);
        return strictExitStatus(Failure::kUsage);
    }

    resetLabels();
    ProcessObjects& objects = processObjects();
    if (const char* path = std::getenv("QARVEL_PATH")) objects.workingFolder = path;
    Settings& s = settings();
    resetSettings(s, true);
    s.addresses.aliasFile = kDefaultAliases;  // ALIASES and NOALIASES change it
    const std::string configFault = readConfiguration(sendmailConfigFile(), s, objects);

    const String domain = mailDomain(s);
    const LocalUser user = localUser();
    const String sender = envelopeSenderOf(request, s, user, domain);
    SpoolRules rules;
    rules.dotEnds = !request.dotIsText;
    rules.from = fromLineOf(request, s, user, sender);
    rules.domain = domain;
    rules.now = std::time(nullptr);
    MessageSpool spool;
    if (!spool.read(stdin, rules, objects.workingFolder)) {
        std::fprintf(stderr, "sendmail: %s\n", spool.error().c_str());
        return strictExitStatus(Failure::kTemporary);
    }
    if (!configFault.empty()) {
        std::fprintf(stderr, "sendmail: %s\n", configFault.c_str());
        return keepMessage(spool, sender, strictExitStatus(Failure::kConfiguration));
    }

    std::vector<String> recipients = request.recipients;
    if (request.fromHeaders)
        recipients.insert(recipients.end(), spool.headerRecipients().begin(), spool.headerRecipients().end());
    StringList aliasNames, aliasValues;
    if (!s.addresses.aliasFile.empty()) readAliasFile(s.addresses.aliasFile, aliasNames, aliasValues);
    recipients = mapLocalRecipients(recipients, aliasNames, aliasValues, domain, stderr);
    if (recipients.empty()) {
        std::fputs("sendmail: no recipient: name them as arguments, or give -t and To, Cc or Bcc lines\n", stderr);
        return keepMessage(spool, sender, strictExitStatus(Failure::kUsage));
    }

    applySendmailRequest(s, request, recipients, sender, String(spool.path()), spool.eightBit());
    ProgressLine::allow(true);
    setPreferIpv6(s.connection.preferIpv6);
    if (std::getenv("QARVEL_DUMP_SETTINGS")) dumpSettings(s, stderr);
    int code;
    {
        const auto protocols = std::make_unique<ProtocolObjects>(objects.meterFile);
        code = runMainActivity(s, objects, *protocols);
    }
    std::fflush(nullptr);
    if (code == 0) return 0;
    return keepMessage(spool, sender, notSentStatus());
}

} // namespace qarvel
