#include "run/entry.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/base64_filter.h"
#include "run/process.h"
#include "run/settings.h"

namespace qarvel {

namespace {

const char* const kUsage[] = {
    "Usage: qarvel [-host:server] [-port:service] [-news [-noarchive]] [-to:address | -tolist:filename] "
    "[-cc:address | -cclist:filename]  [-bcc:address | -bcclist:filename] -from:address "
    "[-repltyto:address] [-verify] [-s:subject] [-import|-t] [-ns] [-file:filename] [-rm] "
    "[-nomsg | -msg:text] [-html [-alt]] [-config] [-a:filename ...] [-dir:dirname]",
    "Usage: qarvel [-host:server] [-port:service] [-imap [-mbox:name]] -user:userid -pass:password "
    "[-file:filename [-extract:[path]] [-msg:nbr] [-exec:cmd] [-br] [-rm]",
    "Usage: qarvel [-connect:string | -disconnect:string] [-noop] [options...]",
};

// The tool switches the entry acts on itself; each sets the no-op flag.
struct ToolSwitch {
    const char* name;
    int Settings::*flag;
};
const ToolSwitch kToolSwitches[] = {
    {"-noop", nullptr},
    {"-decode:base64", &Settings::decodeBase64},
    {"-encode:base64", &Settings::encodeBase64},
    {"-decode:uue", nullptr},
    {"-decode:qp", nullptr},
    {"-encode:uue", nullptr},
    {"-encode:qp", nullptr},
};

void applyToolSwitches(Settings& s, int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        for (const ToolSwitch& t : kToolSwitches) {
            if (std::strcmp(argv[i], t.name) != 0) continue;
            s.noop = 1;
            if (t.flag) s.*(t.flag) = 1;
            break;
        }
    }
}

} // namespace

int runProgram(int argc, char** argv) {
    ProcessObjects& objects = processObjects();
    if (const char* path = std::getenv("QARVEL_PATH")) objects.workingFolder = path;
    if (const char* config = std::getenv("QARVEL_CONFIG")) objects.configFile = config;
    if (argc < 2) {
        for (const char* line : kUsage) std::printf("%s\n", line);
        return 1;
    }
    Settings& s = settings();
    resetSettings(s, true);
    applyToolSwitches(s, argc, argv);
    for (int i = 1; i < argc; ++i)
        if (std::strncmp(argv[i], "-cgi", 4) == 0) s.cgi = 1;

    int code = 0;
    const bool gateway = std::getenv("GATEWAY_INTERFACE") != nullptr;
    if (gateway && !s.cgi) {
        std::fputs("\nMust use -cgi option to run in CGI mode\n", stderr);
        code = 1;
    } else if (!gateway && s.cgi) {
        std::fputs("Can't use -cgi option in non-CGI mode\n", stderr);
        code = 1;
    } else {
        if (s.decodeBase64) decodeBase64Filter(stdin, stdout);
        if (s.encodeBase64) encodeBase64Filter(stdin, stdout);
        if (!s.noop) {
            // The command-line parser and the driver hand-over are not wired into the entry yet.
            std::fputs("qarvel: sending and reading are not available from the command line in this build\n",
                       stderr);
            code = 1;
        }
    }
    s.files.clear();
    resetSettings(s, false);
    return code;
}

} // namespace qarvel
