// The sendmail options: one row per letter, walked the way getopt walks them.
#include "config/sendmail_options.h"

#include <cstring>

#include "send/addresses.h"

namespace qarvel {

namespace {

using R = SendmailRequest;

// What an option does with its value; returns null, or why it is refused.
using OptionAction = const char* (*)(R& r, const std::string& value);

struct SendmailOption {
    char letter;
    bool takesValue;
    OptionAction act;
};

const char* nothing(R&, const std::string&) { return nullptr; }

// -b: the mode. Delivery (m) is the only one there is; the queue (p) is always empty.
const char* mode(R& r, const std::string& v) {
    if (v == "m") return nullptr;
    if (v == "p") {
        r.printQueue = true;
        return nullptr;
    }
    return "is not offered: qarvel hands one message to its relay (-bm) and keeps no queue (-bp)";
}

// -o: the old single-letter options; only -oi changes anything (-oem, -odi, -oXXX are taken
// and ignored).
const char* oldOption(R& r, const std::string& v) {
    if (v == "i") r.dotIsText = true;
    return nullptr;
}

const char* bodyType(R& r, const std::string& v) {
    r.eightBit = v == "8BITMIME";
    return nullptr;
}

// The table is the documentation: the letters that cron, mail, git send-email, logwatch and
// the other callers pass. The DSN requests (-N, -R, -V) and the hop count (-h) are taken and
// ignored, as the relay applies its own.
const SendmailOption kSendmailOptions[] = {
    {'t', false, [](R& r, const std::string&) -> const char* { r.fromHeaders = true; return nullptr; }},
    {'i', false, [](R& r, const std::string&) -> const char* { r.dotIsText = true; return nullptr; }},
    {'f', true, [](R& r, const std::string& v) -> const char* { r.envelopeSender = String(v); return nullptr; }},
    {'r', true, [](R& r, const std::string& v) -> const char* { r.envelopeSender = String(v); return nullptr; }},
    {'F', true, [](R& r, const std::string& v) -> const char* { r.fullName = String(v); return nullptr; }},
    {'v', false, [](R& r, const std::string&) -> const char* { r.trace = true; return nullptr; }},
    {'b', true, mode},
    {'o', true, oldOption},
    {'O', true, nothing},
    {'B', true, bodyType},
    {'N', true, nothing},
    {'R', true, nothing},
    {'V', true, nothing},
    {'h', true, nothing},
    {'L', true, nothing},
};

const SendmailOption* findOption(char letter) {
    for (const SendmailOption& o : kSendmailOptions)
        if (o.letter == letter) return &o;
    return nullptr;
}

} // namespace

std::string parseSendmailArguments(const std::vector<std::string>& arguments, SendmailRequest& r) {
    size_t i = 0;
    for (; i < arguments.size(); ++i) {
        const std::string& a = arguments[i];
        if (a == "--") {
            ++i;
            break;
        }
        if (a.size() < 2 || a[0] != '-') break;
        for (size_t k = 1; k < a.size(); ++k) {
            const SendmailOption* o = findOption(a[k]);
            const std::string shown = a.rfind("--", 0) == 0 ? a : std::string("-") + a[k];
            if (!o) return "sendmail: " + shown + " is not offered (qarvel sends one message from standard input)";
            std::string value;
            if (o->takesValue) {
                if (k + 1 < a.size()) {
                    value = a.substr(k + 1);
                } else if (i + 1 < arguments.size()) {
                    value = arguments[++i];
                } else {
                    return "sendmail: " + shown + " needs a value";
                }
                // A value goes into the envelope or the header: a line break would add a line.
                if (value.find_first_of("\r\n") != std::string::npos) return "sendmail: " + shown + " holds a line break";
            }
            if (const char* refusal = o->act(r, value)) return "sendmail: " + shown + value + " " + refusal;
            if (o->takesValue) break;
        }
    }
    // One argument may name several recipients, as "a@example.org, b@example.org".
    for (; i < arguments.size(); ++i)
        for (const String& entry : splitRecipientText(String(arguments[i]))) {
            String address = envelopeAddress(entry);
            if (!address.empty()) r.recipients.push_back(address);
        }
    return std::string();
}

} // namespace qarvel
