// mime_send_bench: sends a message through the composer, into an SMTP server (the -host: path
// of the program) or into a file (the -mf path), for the sending benchmarks.
//
//   mime_send_bench smtp:PORT FILE [COUNT]    to 127.0.0.1:PORT, COUNT times on one connection
//   mime_send_bench OUTPUT FILE [COUNT]       appended to OUTPUT, as -mf does
//
// FILE is the attachment; "-" sends the text alone.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "send/file_sender.h"
#include "send/smtp_session.h"

using namespace qarvel;

int main(int argc, char** argv) {
    if (argc != 3 && argc != 4) {
        std::fprintf(stderr, "usage: mime_send_bench smtp:PORT|OUTPUT FILE|- [COUNT]\n");
        return 2;
    }
    FileSender file;
    SmtpSession smtp;
    bool network = std::strncmp(argv[1], "smtp:", 5) == 0;
    SenderSession& session = network ? static_cast<SenderSession&>(smtp) : file;
    bool attach = std::strcmp(argv[2], "-") != 0;
    long count = argc == 4 ? std::strtol(argv[3], nullptr, 10) : 1;
    if (attach && !session.addAttachment(String(argv[2]), String(), false)) {
        std::fprintf(stderr, "mime_send_bench: %s does not exist\n", argv[2]);
        return 1;
    }
    int r = network ? session.connectSession("127.0.0.1", String(argv[1] + 5))
                    : session.connectSession(String(argv[1]), String());
    if (r < 1) {
        std::fprintf(stderr, "mime_send_bench: connect failed (%d)\n", r);
        return 1;
    }
    const char body[] = "payload\r\n";
    for (long i = 0; i < count && r >= 1; ++i)
        r = session.sendMessage("alice@example.org", String(), "bob@example.test", "bench", body,
                                sizeof body - 1, String(), String(), String(), String());
    if (network) session.quit();
    session.disconnect();
    if (r < 1) {
        std::fprintf(stderr, "mime_send_bench: send failed (%d)\n", r);
        return 1;
    }
    return 0;
}
