// Hostile values through the header writer and the command loop. Whatever the values hold,
// the header block is made of CR LF lines that are each a field or a folded continuation
// (never an empty line before the body, never a bare CR or LF), and each command sent is
// exactly one line.
#include <cstddef>
#include <cstdint>
#include <string>

#include "../support/scripted_socket.h"
#include "send/smtp_session.h"

namespace {

// Splits the input at NUL bytes into up to `count` values.
void split(const uint8_t* data, size_t size, std::string* values, int count) {
    int k = 0;
    for (size_t i = 0; i < size && k < count; ++i) {
        if (data[i] == 0) ++k;
        else values[k] += static_cast<char>(data[i]);
    }
}

bool isFieldOrContinuation(const std::string& line) {
    if (line.empty()) return false;
    if (line[0] == ' ' || line[0] == '\t') return true;
    size_t colon = line.find(':');
    if (colon == std::string::npos || colon == 0) return false;
    for (size_t k = 0; k < colon; ++k)
        if (static_cast<unsigned char>(line[k]) <= 32 || static_cast<unsigned char>(line[k]) >= 127) return false;
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace qarvel;
    if (size > 1 << 14) return 0;
    std::string v[8];
    split(data, size, v, 8);
    ScriptedSocket<SmtpSession> s;
    s.setReplies("220 x\r\n250 ok\r\n250 ok\r\n250 ok\r\n250 ok\r\n250 ok\r\n354 go\r\n250 queued\r\n");
    s.style().encodeHeaders = (size & 1) != 0;
    s.style().organization = String(v[5]);
    s.style().sensitivity = String(v[6]);
    s.style().extraHeaders = String(v[7]);
    s.style().dispositionNotification = true;
    if (s.connectSession("fuzz.test", String()) < 1) return 0;
    const std::string start = s.sent;
    static const char body[] = "body\r\n";
    int result = s.sendMessage(String(v[0]), String(v[1]), String(v[2]), String(v[3]), body, sizeof body - 1,
                               String(), String(v[4]), String(), String());
    (void)result;
    const std::string& wire = s.sent;

    // Every CR is followed by LF and every LF follows a CR.
    for (size_t i = 0; i < wire.size(); ++i) {
        if (wire[i] == '\r' && (i + 1 >= wire.size() || wire[i + 1] != '\n')) __builtin_trap();
        if (wire[i] == '\n' && (i == 0 || wire[i - 1] != '\r')) __builtin_trap();
    }
    // Commands: each line outside the data starts with a known verb.
    size_t dataStart = wire.find("DATA\r\n", start.size());
    std::string commands = wire.substr(start.size(), dataStart == std::string::npos ? std::string::npos
                                                                                      : dataStart - start.size());
    for (size_t pos = 0; pos < commands.size();) {
        size_t end = commands.find("\r\n", pos);
        std::string line = commands.substr(pos, end - pos);
        if (line.rfind("HELO ", 0) != 0 && line.rfind("MAIL FROM:", 0) != 0 && line.rfind("RCPT TO:", 0) != 0 &&
            line.rfind("QUIT", 0) != 0 && line.rfind("RSET", 0) != 0)
            __builtin_trap();
        pos = end + 2;
    }
    if (dataStart == std::string::npos) return 0;
    // The header block: fields and continuations up to the first empty line.
    size_t pos = dataStart + 6;
    while (pos < wire.size()) {
        size_t end = wire.find("\r\n", pos);
        if (end == std::string::npos) break;
        std::string line = wire.substr(pos, end - pos);
        if (line.empty() || line == ".") break;
        if (!isFieldOrContinuation(line)) __builtin_trap();
        pos = end + 2;
    }
    return 0;
}
