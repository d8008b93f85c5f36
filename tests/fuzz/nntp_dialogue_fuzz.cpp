// Plays arbitrary bytes as a news server's side of a posting: greeting, AUTHINFO, POST (with
// its 480 demand answered by a second login), the article, QUIT. The session must end (a
// demand is answered once, never in a loop) and never overrun its buffers.
#include <cstddef>
#include <cstdint>
#include <string>

#include "../support/scripted_socket.h"
#include "send/nntp_session.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace qarvel;
    if (size > 1 << 16) return 0;
    ScriptedSocket<NntpSession> s;
    s.setNoArchive(1);
    s.setReplies(std::string(reinterpret_cast<const char*>(data), size));
    if (s.connectSession("fuzz.test", String()) < 1) return 0;
    s.authenticate("user", "password");
    static const char body[] = "line\r\n.\r\n.dot\r\n";
    for (int article = 0; article < 2 && s.isOpen(); ++article)
        s.sendMessage("a@b.test", String(), "g.one, g.two", "s", body, sizeof body - 1, String(),
                      "g.three", String(), String());
    s.disconnect();
    if (s.sent.size() > 1 << 22) __builtin_trap();
    return 0;
}
