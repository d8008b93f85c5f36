// The socket's line reader fed the same bytes in packets of arbitrary sizes: first byte the
// caller's buffer size, second the seed of the packet sizes, the rest the stream. Whatever
// the cut, the lines are those of the whole stream: each piece ends at the terminator or is
// max bytes long, none is longer than max, and the pieces put together are the stream.
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "net/socket.h"
#include "net/winsock_error.h"

using namespace qarvel;

namespace {

// A socket reading one end of a packet pair: every send on the other end arrives as its own
// receive, so the packet sizes chosen here are the chunks the reader sees.
class PairSocket : public Socket {
public:
    explicit PairSocket(int fd) {
        handle_ = fd;
        markOpen();
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2 || size > 1 << 14) return 0;
    int max = data[0] % 64 + 1;
    uint32_t state = data[1] * 2654435761u + 1;
    std::string stream(reinterpret_cast<const char*>(data) + 2, size - 2);

    int fds[2];
    if (socketpair(AF_UNIX, SOCK_SEQPACKET, 0, fds) != 0) return 0;
    std::vector<size_t> cuts;
    for (size_t at = 0; at < stream.size();) {
        state = state * 1103515245u + 12345u;
        size_t piece = 1 + (state >> 16) % (state & 0x100 ? kReceiveBufferSize : 16);
        if (piece > stream.size() - at) piece = stream.size() - at;
        cuts.push_back(piece);
        at += piece;
    }
    std::thread writer([&] {
        size_t at = 0;
        for (size_t piece : cuts) {
            if (::send(fds[1], stream.data() + at, piece, MSG_NOSIGNAL) != static_cast<ssize_t>(piece))
                break;
            at += piece;
        }
        ::close(fds[1]);
    });

    std::string got;
    {
        PairSocket s(fds[0]);
        std::vector<char> buffer(max);
        for (size_t calls = 0; calls <= stream.size() + 1; ++calls) {
            int n = s.readLine(buffer.data(), max);
            if (n == -kWsaConnectionReset) break;
            if (n <= 0 || n > max) __builtin_trap();
            std::string line(buffer.data(), n);
            // A piece short of max ends at the first terminator, and only there.
            size_t newline = line.find('\n');
            if (newline != std::string::npos && newline + 1 != line.size()) __builtin_trap();
            if (n < max && newline == std::string::npos && got.size() + n != stream.size()) __builtin_trap();
            got += line;
        }
    }
    writer.join();
    if (got != stream) __builtin_trap();
    return 0;
}
