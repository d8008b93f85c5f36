// The ceiling of a send benchmark: a ready message file handed to an SMTP server as the DATA
// of one transaction, unchanged, by sendfile() straight from the page cache (no composing,
// no encoding, no copy through user space). Nothing that composes the message can beat it.
//   sink_ceiling_bench PORT MESSAGE-FILE
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

int server = -1;

// Reads one reply (its last line) and fails unless it is positive.
bool reply() {
    std::string line;
    char c;
    for (;;) {
        if (::read(server, &c, 1) != 1) return false;
        line += c;
        if (c != '\n') continue;
        bool last = line.size() < 4 || line[3] != '-';
        bool positive = !line.empty() && (line[0] == '2' || line[0] == '3');
        if (last) {
            if (!positive) std::fprintf(stderr, "sink refused: %s", line.c_str());
            return positive;
        }
        line.clear();
    }
}

bool say(const char* text) { return ::write(server, text, std::strlen(text)) == static_cast<ssize_t>(std::strlen(text)); }

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: sink_ceiling_bench PORT MESSAGE-FILE\n");
        return 2;
    }
    int file = ::open(argv[2], O_RDONLY);
    struct stat st {};
    if (file < 0 || ::fstat(file, &st) != 0) {
        std::perror(argv[2]);
        return 1;
    }
    server = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<uint16_t>(std::atoi(argv[1])));
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(server, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
        std::perror("connect");
        return 1;
    }
    if (!reply()) return 1;
    for (const char* command : {"HELO bench\r\n", "MAIL FROM:<alice@example.org>\r\n", "RCPT TO:<bob@example.test>\r\n", "DATA\r\n"})
        if (!say(command) || !reply()) return 1;
    off_t at = 0;
    while (at < st.st_size) {
        ssize_t n = ::sendfile(server, file, &at, static_cast<size_t>(st.st_size - at));
        if (n <= 0) {
            std::perror("sendfile");
            return 1;
        }
    }
    if (!say(".\r\n") || !reply()) return 1;
    say("QUIT\r\n");
    return 0;
}
