// Feeds arbitrary server output to the POP3 reader: greeting, login with APOP, the listing,
// retrieval of every message with extraction, deletion and QUIT.
#include <cstdint>
#include <string>

#include "../receive/scripted_transport.h"
#include "receive/pop3_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    qarvel::ScriptedTransport<qarvel::Pop3Reader> pop(std::string(reinterpret_cast<const char*>(data), size));
    pop.setApop(1);
    pop.setExtract(1);
    pop.setWorkingFolder("/tmp");
    if (pop.open("127.0.0.1", "110", nullptr, 0) >= 0 && pop.login("user", "password") > 0) {
        int count = pop.messageCount();
        for (int n = 1; n <= count && n <= 50 && pop.connected(); ++n) {
            if (pop.retrieve(n) < 1) break;
            while (pop.nextPart()) {
            }
            pop.deleteMessage(n);
        }
    }
    pop.close();
    return 0;
}
