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
#include <string>
#include <sys/utsname.h>
#include <vector>
#include <unistd.h>

#include "base/base64_filter.h"
#include "base/progress_line.h"
#include "base/run_failure.h"
#include "config/command_line.h"
#include "config/config_file.h"
#include "config/help_text.h"
#include "config/labels.h"
#include "config/process.h"
#include "config/request_modes.h"
#include "config/secret_sources.h"
#include "config/settings.h"
#include "config/settings_dump.h"
#include "config/strict_check.h"
#include "net/host_address.h"
#include "run/activity.h"
#include "run/sendmail_run.h"
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
    o.interfaceAddress = s.connection.localInterface;
    o.level = s.tools.verbose;
    o.dump = s.tools.multicastDump;
    o.timeout = s.connection.timeoutSeconds;
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
    if (readConfigEarly(objects.configFile, s, objects) < 0) return failRun(Failure::kConfiguration);
    if (objects.configRequested) {
        const int read = readConfigMain(objects.configFile, s, objects);
        if (read < 0) return failRun(Failure::kConfiguration);
        // A file that was asked for and is not there: the old rules go on without it, a strict
        // run (which must not send with settings it did not mean) ends.
        if (read == 0 && (objects.configRequested == kConfigNamed || s.tools.strict))
            std::fprintf(stderr, "Could not read configuration file '%s': %s\n", objects.configFile.c_str(),
                         std::strerror(errno));
        if (read == 0 && s.tools.strict) return failRun(Failure::kConfiguration);
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
    setPreferIpv6(s.connection.preferIpv6);
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

// A web request's arguments are the web server's, not the user's.
bool webRequest(int argc, char** argv) { return argc > 1 && std::strncmp(argv[1], "-cgi", 4) == 0; }

// Whether the user asked for -strict; a web request is never strict.
bool strictRun(int argc, char** argv, const ProcessObjects& objects) {
    if (webRequest(argc, argv)) return false;
    return strictRequested(argc, argv, objects.configFile, objects.configRequested != 0);
}

// Without -strict an argument that is no option is passed over, as the old rules have it; a
// user at a terminal gets one line that says so. Scripts (standard error elsewhere) see nothing.
void warnOfIgnoredOptions(int argc, char** argv) {
    if (webRequest(argc, argv) || isatty(STDERR_FILENO) != 1) return;
    const std::vector<std::string> ignored = unknownOptions(argc, argv);
    if (ignored.empty()) return;
    std::string line = "ignored:";
    for (const std::string& argument : ignored) line += " " + argument;
    line += ignored.size() == 1 ? " (give -strict to refuse it)" : " (give -strict to refuse them)";
    std::fprintf(stderr, "%s\n", line.c_str());
}

// In a strict run, the first argument that is no option or has a value that cannot be right (a
// usage fault) or configuration line that is no key (a configuration fault), as the message
// for standard error, with its cause noted; empty when the run may go on.
std::string strictFault(int argc, char** argv, const ProcessObjects& objects) {
    std::string fault = unknownOption(argc, argv);
    if (!fault.empty()) {
        noteFailure(Failure::kUsage);
        return fault;
    }
    if (objects.configRequested) fault = unknownConfigKey(objects.configFile);
    if (!fault.empty()) noteFailure(Failure::kConfiguration);
    return fault;
}

// The arguments the runs read are copies, so that the password of -pass: can be blotted out
// of the process's own argument strings (what ps and /proc show) at once, as curl and mysql
// do: the window is the start-up only.
char** privateArguments(int argc, char** argv) {
    static std::vector<std::string> copies;
    static std::vector<char*> pointers;
    copies.assign(argv, argv + argc);
    pointers.clear();
    for (std::string& copy : copies) pointers.push_back(copy.data());
    pointers.push_back(nullptr);
    for (int i = 1; i < argc; ++i)
        if (std::strncmp(argv[i], "-pass:", 6) == 0) std::memset(argv[i] + 6, '*', std::strlen(argv[i] + 6));
    return pointers.data();
}

void removeRunFile(const Settings& s) {
    if (s.tools.removeFile.empty()) return;
    if (s.tools.verbose > 1) std::printf("REMOVE '%s' file: %s line: %d\n", s.tools.removeFile.c_str(), __FILE__, __LINE__);
    std::remove(s.tools.removeFile.c_str());
}

} // namespace

int runProgram(int argc, char** argv) {
    // Before any command can start: no child ever inherits the password of the environment.
    environmentPassword();
    argv = privateArguments(argc, argv);
    if (isSendmailInvocation(argc, argv)) return runSendmail(argc, argv);
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
        return runExitStatus(1, true);
    }
    if (!s.tools.strict) warnOfIgnoredOptions(argc, argv);
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
            clearFailure();
            code = runExitStatus(runOnce(argc, argv, s, objects, *protocols, logOpen), s.tools.strict);
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
