// The program entry: one invocation becomes one run (or, with a repeat interval, a series
// of runs) of one main activity. The order of the steps is the order in which the sources of
// settings are layered: defaults, the early scans, the configuration file, the command line.
#include "run/entry.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/utsname.h>
#include <unistd.h>

#include "base/base64_filter.h"
#include "base/progress_line.h"
#include "config/command_line.h"
#include "config/config_file.h"
#include "config/help_text.h"
#include "config/labels.h"
#include "config/process.h"
#include "config/request_modes.h"
#include "config/settings.h"
#include "config/settings_dump.h"
#include "config/strict_check.h"
#include "net/host_address.h"
#include "run/activity.h"
#include "send/mx_delivery.h"
#include "tools/diagnostics.h"
#include "tools/xml_command.h"
#include "web/cgi_request.h"
#include "web/web_mail.h"

namespace qarvel {

namespace {

const char* const kUsage[] = {
    ("Usage: qarvel [-host:server] [-port:service] [-news [-noarchive]] [-to:address | -tolist:filename] "
    "[-cc:address | -cclist:filename]  [-bcc:address | -bcclist:filename] -from:address "
    "[-repltyto:address] [-verify] [-s:subject] [-import|-t] [-ns] [-file:filename] [-rm] "
    "[-nomsg | -msg:text] [-html [-alt]] [-config] [-a:filename ...] [-dir:dirname]"),
    ("Usage: qarvel [-host:server] [-port:service] [-imap [-mbox:name]] -user:userid -pass:password "
    "[-file:filename [-extract:[path]] [-msg:nbr] [-exec:cmd] [-br] [-rm]"),
    "Usage: qarvel [-connect:string | -disconnect:string] [-noop] [options...]",
};

// Leaves the terminal: the standard streams go to /dev/null and the process starts a new
// session (from an interactive shell, where it leads its process group, through a child).
void detachFromTerminal() {
    std::fflush(stdout);
    std::fflush(stderr);
    const int null = open("/dev/null", O_RDWR);
    if (null >= 0) {
        dup2(null, 0);
        dup2(null, 1);
        dup2(null, 2);
        if (null > 2) close(null);
    }
    if (setsid() < 0) {
        const pid_t child = fork();
        if (child > 0) _exit(0);
        if (child == 0) setsid();
    }
}

// The kernel's major and minor release numbers; the platform number 2 stands for a
// multi-user kernel with protected processes.
void printOsVersion() {
    struct utsname name;
    if (uname(&name) != 0) return;
    int major = 0, minor = 0;
    if (std::sscanf(name.release, "%d.%d", &major, &minor) < 1) return;
    std::printf("Major: %d, Minor: %d, Platform: %d\n", major, minor, 2);
}

void runCommand(const String& command, bool trace) {
    if (trace) {
        std::printf("Exec: '%s'\n", command.c_str());
        std::fflush(stdout);
    }
    std::fflush(nullptr);
    const int ignored = std::system(command.c_str());
    (void)ignored;
}

void redirectToLog(const String& path) {
    std::fflush(stdout);
    std::fflush(stderr);
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (fd < 0) {
        std::fprintf(stderr, "Could not open log file '%s'\n", path.c_str());
        return;
    }
    dup2(fd, 1);
    dup2(fd, 2);
    close(fd);
}

DiagnosticOptions diagnosticOptions(const Settings& s) {
    DiagnosticOptions o;
    o.host = s.servers.smtpHost;
    o.port = s.servers.smtpPort;
    o.interfaceAddress = s.servers.localInterface;
    o.level = s.tools.verbose;
    o.dump = s.tools.multicastDump;
    o.timeout = s.servers.timeoutSeconds;
    return o;
}

// The -xml steps follow the file name, which is the argument after "-xml".
int runXml(int argc, char** argv) {
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "-xml") == 0) return runXmlCommand(argc - i - 1, argv + i + 1);
    return 1;
}

// The tools in their order; true when the run ends after them. status is the XML command's.
bool runTools(Settings& s, int argc, char** argv, int& status) {
    if (s.tools.rawSocket) runRawSocketTest(diagnosticOptions(s));
    if (s.tools.sap) runSapTest(diagnosticOptions(s));
    if (s.tools.xml) status = runXml(argc, argv);
    if (s.tools.udp) runUdpTest(diagnosticOptions(s));
    if (s.tools.decodeBase64) decodeBase64Filter(stdin, stdout);
    if (s.tools.encodeBase64) encodeBase64Filter(stdin, stdout);
    return s.tools.noop;
}

// One run: the sender and reader choice, the scans and the configuration, the checks, then the
// tools or the main activity. Returns the exit code.
int runOnce(int argc, char** argv, Settings& s, ProcessObjects& objects, ProtocolObjects& protocols,
            bool& logOpen) {
    s.sender = SenderKind::kSmtp;
    s.reader = ReaderKind::kPop3;

    bool detachIgnored = false;
    scanProcessOptions(argc, argv, objects, detachIgnored);
    scanRunOptions(argc, argv, s, objects);
    readConfigEarly(objects.configFile, s, objects);
    if (objects.configRequested) {
        const int read = readConfigMain(objects.configFile, s, objects);
        if (read < 0) return 1;
        if (read == 0 && objects.configRequested == kConfigNamed)
            std::fprintf(stderr, "Could not read configuration file '%s': %s\n", objects.configFile.c_str(),
                         std::strerror(errno));
    }
    // Set before the command line: its -url: downloads run while it is read.
    bool quiet = s.tools.quiet;
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "-q") == 0 || std::strcmp(argv[i], "-quiet") == 0) quiet = true;
    ProgressLine::allow(quiet);
    parseCommandLine(argc, argv, s, objects);
    if (!readCgiRequest(argc, argv, s, objects)) return 1;
    // A message passed on as it is has no attachments to extract.
    if (s.content.raw) s.receive.extract = false;
    if (std::getenv("QARVEL_DUMP_SETTINGS")) dumpSettings(s, stderr);
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "-cgi") == 0) s.web.cgi = true;

    const bool gateway = std::getenv("GATEWAY_INTERFACE") != nullptr;
    if (gateway && !s.web.cgi) {
        std::fputs("\nMust use -cgi option to run in CGI mode\n", stderr);
        return 1;
    }
    if (!gateway && s.web.cgi) {
        std::fputs("Can't use -cgi option in non-CGI mode\n", stderr);
        return 1;
    }
    if (s.web.cgi && !readCgiBody(s, objects)) return 1;
    setPreferIpv6(s.servers.preferIpv6);
    if (s.servers.directToMx || s.smtp.probe)
        prepareDnsServers(s.servers.discoveredDnsServer, s.servers.smtpHost, s.servers.dnsServerHost, s.servers.ldapAsDnsServer, s.servers.ldapHost);
    if (!s.tools.connect.empty() && !s.tools.dialer.empty()) runCommand(s.tools.dialer + " " + s.tools.connect, true);
    if (!s.tools.logFile.empty() && !logOpen) {
        redirectToLog(s.tools.logFile);
        logOpen = true;
    }
    int toolStatus = 0;
    if (runTools(s, argc, argv, toolStatus)) return toolStatus;
    return runMainActivity(s, objects, protocols);
}

// Whether the user asked for -strict. A web request's arguments are the web server's, not the
// user's, so a web request is never strict.
bool strictRun(int argc, char** argv, const ProcessObjects& objects) {
    if (argc > 1 && std::strncmp(argv[1], "-cgi", 4) == 0) return false;
    return strictRequested(argc, argv, objects.configFile, objects.configRequested != 0);
}

// In a strict run, the first argument that is no option or configuration line that is no key,
// as the message for standard error; empty when the run may go on.
std::string strictFault(int argc, char** argv, const ProcessObjects& objects) {
    std::string fault = unknownOption(argc, argv);
    if (fault.empty() && objects.configRequested) fault = unknownConfigKey(objects.configFile);
    return fault;
}

void removeRunFile(const Settings& s) {
    if (s.tools.removeFile.empty()) return;
    if (s.tools.verbose > 1) std::printf("REMOVE '%s' file: %s line: %d\n", s.tools.removeFile.c_str(), __FILE__, __LINE__);
    std::remove(s.tools.removeFile.c_str());
}

} // namespace

int runProgram(int argc, char** argv) {
    resetLabels();
    ProcessObjects& objects = processObjects();
    if (const char* path = std::getenv("QARVEL_PATH")) objects.workingFolder = path;
    if (const char* config = std::getenv("QARVEL_CONFIG")) objects.configFile = config;
    // A web server that passes no arguments leaves the option query in QUERY_STRING.
    char* query = std::getenv("QUERY_STRING");
    char* queryArguments[] = {argc > 0 ? argv[0] : nullptr, query, nullptr};
    if (argc < 2 && std::getenv("GATEWAY_INTERFACE") && query && std::strncmp(query, "-cgi", 4) == 0) {
        argc = 2;
        argv = queryArguments;
    }
    if (argc < 2) {
        for (const char* line : kUsage) std::printf("%s\n", line);
        return 1;
    }
    if (const int code = answerHelpRequest(argc, argv); code >= 0) return code;
    bool detach = false;
    const int osVersion = scanProcessOptions(argc, argv, objects, detach);
    if (detach) detachFromTerminal();
    if (osVersion) printOsVersion();

    Settings& s = settings();
    resetSettings(s, true);
    scanRunOptions(argc, argv, s, objects);  // the configuration file's name, for the check
    s.tools.strict = strictRun(argc, argv, objects);
    const std::string fault = s.tools.strict ? strictFault(argc, argv, objects) : std::string();
    if (!fault.empty()) {
        std::fprintf(stderr, "%s\n", fault.c_str());
        return kStrictRefusal;
    }
    int code = 0;
    bool logOpen = false;
    {
        const auto protocols = std::make_unique<ProtocolObjects>(objects.meterFile);
        objects.urlClient = &protocols->urlClient;
        for (bool first = true;; first = false) {
            // The recipient options append: a repeated run starts their lists afresh so that
            // every run sends to the recipients as given, not to a growing list.
            if (!first) {
                s.addresses.to = s.addresses.cc = s.addresses.bcc = String();
                s.content.attachments.clear();
                s.content.missingAttachments = 0;
            }
            code = runOnce(argc, argv, s, objects, *protocols, logOpen);
            s.content.files.clear();
            removeRunFile(s);
            if (s.tools.everySeconds <= 0) break;
            std::fflush(nullptr);
            sleep(static_cast<unsigned>(s.tools.everySeconds));
        }
        if (!s.tools.disconnect.empty() && !s.tools.dialer.empty()) runCommand(s.tools.dialer + " " + s.tools.disconnect, false);
        objects.urlClient = nullptr;
    }
    cgiRequest().release();
    objects.attachments.clear();
    s.content.attachments.clear();
    s.content.files.clear();
    s.addresses.aliasNames.clear();
    s.addresses.aliasValues.clear();
    resetSettings(s, false);
    std::fflush(nullptr);
    return code;
}

} // namespace qarvel
