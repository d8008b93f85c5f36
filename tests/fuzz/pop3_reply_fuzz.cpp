// Feeds arbitrary server output to the POP3 reader: greeting, login with APOP, the listing,
// the ids (UIDL: each at most 70 printable characters), retrieval of every message with
// extraction and its copy as received (never longer than what was read), deletion and QUIT.
// The reader sends the next RETR ahead where CAPA says PIPELINING, so the replies it drops
// before each DELE are read too. Then the receive driver runs the same output with -rm (in
// lockstep: PIPELINING is masked), and every DELE it sends is checked against what was read:
// DELE n may follow only the whole of RETR n's answer, up to its lone "." line (with nothing
// to sync, each deletion comes right after its message).
#include <cstdint>
#include <cstdlib>
#include <string>

#include "../support/scripted_socket.h"
#include "base/text.h"
#include "receive/pop3_reader.h"
#include "receive/receive_driver.h"

namespace {

using qarvel::Pop3Reader;
using qarvel::ScriptedSocket;

class WatchedServer : public ScriptedSocket<Pop3Reader> {
public:
    using ScriptedSocket<Pop3Reader>::ScriptedSocket;

    int readLine(char* buffer, int max) override {
        int n = ScriptedSocket<Pop3Reader>::readLine(buffer, max);
        if (n > 0) {
            previousEnded_ = lastEnded_;
            last_.assign(buffer, static_cast<size_t>(n));
            lastEnded_ = buffer[n - 1] == '\n';
        }
        return n;
    }
    int read(char* buffer, int length) override {
        int n = ScriptedSocket<Pop3Reader>::read(buffer, length);
        if (n > 0) last_.clear();  // whatever was read last, it was no end marker
        return n;
    }
    void consume(size_t n) override {
        ScriptedSocket<Pop3Reader>::consume(n);
        if (n > 0) {
            // Whole lines taken from the buffer: none of them was an end marker.
            last_.clear();
            lastEnded_ = true;
        }
    }
    int send(const char* data, int length) override {
        line_.append(data, static_cast<size_t>(length > 0 ? length : 0));
        for (size_t lf; (lf = line_.find('\n')) != std::string::npos; line_.erase(0, lf + 1)) {
            const std::string command = line_.substr(0, lf + 1);
            if (command.rfind("RETR ", 0) == 0) retrieved_ = atoi(command.c_str() + 5);
            if (command.rfind("DELE ", 0) == 0) {
                const bool endMarker = previousEnded_ && (last_ == ".\r\n" || last_ == ".\n");
                if (atoi(command.c_str() + 5) != retrieved_ || !endMarker) abort();
            }
        }
        return ScriptedSocket<Pop3Reader>::send(data, length);
    }

private:
    std::string last_, line_;
    bool lastEnded_ = true, previousEnded_ = true;
    int retrieved_ = 0;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string script(reinterpret_cast<const char*>(data), size);
    {
        ScriptedSocket<Pop3Reader> pop(script);
        pop.setApop(1);
        pop.setExtract(1);
        pop.setWorkingFolder("/tmp");
        std::string copy;
        pop.setRawSink([&copy](const char* bytes, size_t length) { copy.append(bytes, length); });
        if (pop.open("127.0.0.1", "110", nullptr, 0) >= 0 && pop.login("user", "password") > 0) {
            int count = pop.messageCount();
            pop.setRetrievalPlan([count](int n) { return n < count && n < 50 ? n + 1 : 0; });
            pop.listUniqueIds();
            for (int n = 1; n <= count && n <= 50 && pop.connected(); ++n) {
                const qarvel::String id = pop.uniqueId(n);
                if (id.length() > 70 || id.find(' ') != qarvel::String::npos) abort();
                copy.clear();
                if (pop.retrieve(n) < 1) break;
                if (copy.size() > pop.message().bytesRead) abort();
                while (pop.nextPart()) {
                }
                pop.deleteMessage(n);
            }
        }
        pop.close();
    }
    // CAPA keywords match in any case, so the mask is no letter.
    std::string lockstep = script;
    for (size_t at; (at = qarvel::findNoCase(lockstep, "PIPELINING")) != std::string::npos;) lockstep[at] = '_';
    WatchedServer server(lockstep);
    qarvel::ReceiveOptions options;
    options.host = "127.0.0.1";
    options.port = "110";
    options.receive.user = "user";
    options.receive.password = "password";
    options.receive.remove = 1;
    options.tools.quiet = 1;
    options.receive.lastMessage = 50;
    qarvel::runReceive(options, server, nullptr);
    return 0;
}
