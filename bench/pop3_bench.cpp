// pop3_bench: retrieves a POP3 mailbox with the POP3 reader and extracts every message; the
// retrieval benchmark and a small driver for the integration tests.
//
//   pop3_bench pop3 HOST PORT USER PASSWORD OUTDIR [tls|ssl|apop|ca=FILE|flat]...
//
// For message n it writes OUTDIR/n/ with the extracted parts (binary mode), "body" (the text
// body) and "headers" (subject, from, to, cc, date, one per line); with "flat" only the
// extracted parts, straight into OUTDIR, as -extract: does. It ends with one line:
// "messages=N parts=P bytes=B seconds=S MiB/s=R maxrss_kb=K".
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <sys/stat.h>

#include "message_store.h"
#include "receive/file_mailbox_reader.h"
#include "receive/pop3_reader.h"

using namespace qarvel;

namespace {

// Writes the message retrieved last into OUTDIR/n (flat: its attachments into OUTDIR).
// Returns the number of parts, -1 on error.
int store(MailboxReader& reader, const std::string& outdir, int n, bool flat) {
    if (flat) {
        int parts = 0;
        for (; const MessagePart* part = reader.nextPart(); ++parts) {
            String name = reader.partFileName();
            if (writeAttachment(outdir.c_str(), name, *part, false, true) != kWriteOk) return -1;
        }
        return parts;
    }
    return bench::storeMessage(
        reader, std::string(reader.body(), reader.bodyLength()), outdir, n,
        [&] { return reader.nextPart(); }, [&] { return reader.partFileName(); });
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        fprintf(stderr, "usage: pop3_bench pop3 HOST PORT USER PASSWORD OUTDIR [tls|ssl|apop|ca=FILE|flat]\n");
        return 2;
    }
    std::string mode = argv[1];
    FileMailboxReader fileReader;
    Pop3Reader pop3;
    MailboxReader* reader = nullptr;
    std::string outdir;
    bool flat = false;
    auto start = std::chrono::steady_clock::now();
    if (mode == "mail") {
        outdir = argv[3];
        struct stat st;
        bool folder = stat(argv[2], &st) == 0 && S_ISDIR(st.st_mode);
        if (fileReader.open(argv[2], folder ? "*" : "", nullptr, 0) < 1) return 1;
        reader = &fileReader;
    } else if (mode == "pop3" && argc >= 7) {
        outdir = argv[6];
        for (int i = 7; i < argc; ++i) {
            if (!strcmp(argv[i], "tls")) pop3.setTls(1);
            if (!strcmp(argv[i], "ssl")) pop3.setSsl(1);
            if (!strcmp(argv[i], "apop")) pop3.setApop(1);
            if (!strcmp(argv[i], "flat")) flat = true;
            if (!strncmp(argv[i], "ca=", 3)) {
                TlsOptions tls;
                tls.caFile = argv[i] + 3;
                pop3.setTlsOptions(tls);
            }
        }
        int r = pop3.open(argv[2], argv[3], nullptr, 0);
        if (r < 1) {
            fprintf(stderr, "open failed: %d %s\n", r, pop3.lastReply());
            return 1;
        }
        r = pop3.login(argv[4], argv[5]);
        if (r < 1) {
            fprintf(stderr, "login failed: %d %s\n", r, pop3.lastReply());
            pop3.close();
            return 1;
        }
        reader = &pop3;
    } else {
        fprintf(stderr, "unknown mode\n");
        return 2;
    }
    mkdir(outdir.c_str(), 0755);
    reader->setExtract(1);
    reader->setWorkingFolder(outdir.c_str());
    int count = reader->messageCount();
    uint64_t bytes = 0;
    int parts = 0;
    int rc = 0;
    for (int n = 1; n <= count; ++n) {
        int r = reader->retrieve(n);
        if (r < 1) {
            fprintf(stderr, "retrieve %d failed: %d\n", n, r);
            rc = 1;
            break;
        }
        bytes += reader->message().bytesRead;
        int p = store(*reader, outdir, n, flat);
        if (p < 0) {
            fprintf(stderr, "writing message %d failed\n", n);
            rc = 1;
            break;
        }
        parts += p;
    }
    reader->close();
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    // The peak of this program's own memory (VmHWM starts anew at exec, unlike ru_maxrss).
    long peakKb = 0;
    if (FILE* status = fopen("/proc/self/status", "r")) {
        char line[256];
        while (fgets(line, sizeof line, status))
            if (sscanf(line, "VmHWM: %ld", &peakKb) == 1) break;
        fclose(status);
    }
    printf("messages=%d parts=%d bytes=%llu seconds=%.3f MiB/s=%.1f maxrss_kb=%ld\n", count, parts,
           static_cast<unsigned long long>(bytes), seconds,
           seconds > 0 ? bytes / 1048576.0 / seconds : 0.0, peakKb);
    return rc;
}
