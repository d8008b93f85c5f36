#include "config/value_checks.h"

#include <string>

#include "base/line_breaks.h"

namespace qarvel {

namespace {

struct OneLineValue {
    const char* option;  // as the user knows it (the configuration key sets the same field)
    String Settings::*field;
};

const OneLineValue kOneLineValues[] = {
    {"-s:", &Settings::subject},       {"-from:", &Settings::from},
    {"-to:", &Settings::to},           {"-cc:", &Settings::cc},
    {"-bcc:", &Settings::bcc},         {"-replyto:", &Settings::replyTo},
    {"-org:", &Settings::org},         {"-sens:", &Settings::sens},
    {"-date:", &Settings::date},       {"-mime:", &Settings::mime},
    {"-charset:", &Settings::charset}, {"-etrn:", &Settings::etrnDomain},
    {"-user:", &Settings::user},       {"-pass:", &Settings::password},
    {"-host:", &Settings::smtpHost},   {"-contact:", &Settings::contact},
    {"-masq:", &Settings::masq},       {"-listserv:", &Settings::listServ},
    {"-owner:", &Settings::owner},
};

}  // namespace

bool userValuesFitTheirLines(const Settings& s, std::FILE* err) {
    for (const OneLineValue& v : kOneLineValues) {
        if (!holdsLineBreak((s.*v.field).view())) continue;
        std::fprintf(err, "The value of %s (or its configuration key) holds a line break: refused\n",
                     v.option);
        return false;
    }
    std::string fault = headerBlockFault(s.hdr.view());
    if (!fault.empty()) {
        std::fprintf(err, "The -hdr: text (or HDR) is refused: %s\n", fault.c_str());
        return false;
    }
    return true;
}

}  // namespace qarvel
