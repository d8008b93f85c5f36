// Plays arbitrary bytes as a server's side of an SMTP dialogue: greeting, EHLO, AUTH, two
// transactions. The session must end (no loop without end) and never overrun its buffers, and a
// line of a single "." is only ever the end of the data: the body's own are dot-stuffed.
#include <cstddef>
#include <cstdint>
#include <string>

#include "../support/scripted_socket.h"
#include "send/smtp_session.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace qarvel;
    if (size > 1 << 16) return 0;
    ScriptedSocket<SmtpSession> s;
    s.setEsmtp(1);
    s.style().recipientLimit = 2;
    // Inputs of odd length send the body as it is, so that only the data sink can guard its dots.
    if (size & 1) s.style().quotedPrintable = 0;
    s.setReplies(std::string(reinterpret_cast<const char*>(data), size));
    if (s.connectSession("fuzz.test", String()) < 1) return 0;
    s.authenticate("user", "password");
    // Body lines are lower case, so whatever follows an end-of-data line must be a command.
    static const char body[] = ".\r\nline\r\n.dot\r\n.\r\n..\r\nend\r\n.";
    s.sendMessage("a@b.test", String(), "r1@x, \"q, r\" <r2@x>, r3@x (c, d)", "s", body, sizeof body - 1,
                  String(), "c@x", "b@x", String());
    if (s.sent.size() > 1 << 22) __builtin_trap();
    const std::string& out = s.sent;
    for (size_t at = out.find("\n.\r\n"); at != std::string::npos; at = out.find("\n.\r\n", at + 1)) {
        size_t next = at + 4;
        while (next < out.size() && out[next] >= 'A' && out[next] <= 'Z') ++next;
        if (next == at + 4 && next < out.size()) __builtin_trap();
        if (next < out.size() && out[next] != ' ' && out[next] != '\r') __builtin_trap();
    }
    return 0;
}
