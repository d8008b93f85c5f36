#include "config/value_checks.h"

#include <string>

#include "base/line_breaks.h"

namespace qarvel {

namespace {

using S = Settings;

template <auto Group, auto Field>
const String& in(const Settings& s) { return (s.*Group).*Field; }

struct OneLineValue {
    const char* option;  // as the user knows it (the configuration key sets the same field)
    const String& (*field)(const Settings&);
};

const OneLineValue kOneLineValues[] = {
    {"-s:", in<&S::content, &S::Content::subject>},
    {"-from:", in<&S::addresses, &S::Addresses::from>},
    {"-to:", in<&S::addresses, &S::Addresses::to>},
    {"-cc:", in<&S::addresses, &S::Addresses::cc>},
    {"-bcc:", in<&S::addresses, &S::Addresses::bcc>},
    {"-replyto:", in<&S::addresses, &S::Addresses::replyTo>},
    {"-org:", in<&S::content, &S::Content::organization>},
    {"-sens:", in<&S::content, &S::Content::sensitivity>},
    {"-date:", in<&S::content, &S::Content::date>},
    {"-mime:", in<&S::content, &S::Content::contentType>},
    {"-charset:", in<&S::content, &S::Content::charset>},
    {"-etrn:", in<&S::smtp, &S::Smtp::etrnDomain>},
    {"-user:", in<&S::receive, &S::Receive::user>},
    {"-pass:", in<&S::receive, &S::Receive::password>},
    {"-host:", in<&S::servers, &S::Servers::smtpHost>},
    {"-contact:", in<&S::addresses, &S::Addresses::contact>},
    {"-masq:", in<&S::addresses, &S::Addresses::masquerade>},
    {"-listserv:", in<&S::addresses, &S::Addresses::listAddress>},
    {"-owner:", in<&S::addresses, &S::Addresses::listOwner>},
};

}  // namespace

bool userValuesFitTheirLines(const Settings& s, std::FILE* err) {
    for (const OneLineValue& v : kOneLineValues) {
        if (!holdsLineBreak(v.field(s).view())) continue;
        std::fprintf(err, "The value of %s (or its configuration key) holds a line break: refused\n",
                     v.option);
        return false;
    }
    std::string fault = headerBlockFault(s.content.extraHeaders.view());
    if (!fault.empty()) {
        std::fprintf(err, "The -hdr: text (or HDR) is refused: %s\n", fault.c_str());
        return false;
    }
    return true;
}

}  // namespace qarvel
