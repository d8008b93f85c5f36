// mime_send_bench: sends one message with one attachment through the composer, into an SMTP
// server (the -host: path of the program) or into a file (the -mf path), for the MIME
// composition benchmark.
//
//   mime_send_bench smtp:PORT FILE     to 127.0.0.1:PORT
//   mime_send_bench OUTPUT FILE        appended to OUTPUT, as -mf does
#include <cstdio>
#include <cstring>
#include <string>

#include "send/file_sender.h"
#include "send/smtp_session.h"

using namespace qarvel;

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: mime_send_bench smtp:PORT|OUTPUT FILE\n");
        return 2;
    }
    FileSender file;
    SmtpSession smtp;
    bool network = std::strncmp(argv[1], "smtp:", 5) == 0;
    SenderSession& session = network ? static_cast<SenderSession&>(smtp) : file;
    if (!session.addAttachment(String(argv[2]), String(), false)) {
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
