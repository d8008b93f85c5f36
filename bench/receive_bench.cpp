// receive_bench: parses and extracts message files with the message parser over the same
// buffered stream source the file mailbox reader uses (the -mail path), for the extraction
// benchmark.
//
//   receive_bench PATH OUTDIR      a message file, or every file of a folder (in name order)
//
// For message n it writes OUTDIR/n/ with the extracted parts (binary mode), "body" (the text
// body) and "headers" (subject, from, to, cc, date, one per line). It ends with one line:
// "messages=N parts=P bytes=B seconds=S MiB/s=R peak_kb=K".
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "message_store.h"
#include "receive/line_source.h"
#include "receive/message_parser.h"

using namespace qarvel;

namespace {

// Writes the message into OUTDIR/n. Returns the number of parts, -1 on error.
int store(Message& message, const std::string& outdir, int n) {
    return bench::storeMessage(
        message, message.body, outdir, n, [&] { return message.nextPart(); },
        [&] { return message.partFileName; });
}

// The peak of this program's own memory (VmHWM starts anew at exec, unlike ru_maxrss).
long peakKb() {
    long kb = 0;
    if (FILE* status = fopen("/proc/self/status", "r")) {
        char line[256];
        while (fgets(line, sizeof line, status))
            if (sscanf(line, "VmHWM: %ld", &kb) == 1) break;
        fclose(status);
    }
    return kb;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: receive_bench PATH OUTDIR\n");
        return 2;
    }
    std::string path = argv[1], outdir = argv[2];
    std::vector<std::string> files;
    struct stat st;
    if (stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        if (DIR* dir = opendir(path.c_str())) {
            while (dirent* entry = readdir(dir))
                if (entry->d_name[0] != '.') files.push_back(path + "/" + entry->d_name);
            closedir(dir);
        }
        std::sort(files.begin(), files.end());
    } else {
        files.push_back(path);
    }
    mkdir(outdir.c_str(), 0755);
    ParseSettings settings;
    settings.extract = 1;
    settings.workingFolder = outdir.c_str();
    Message message;
    auto start = std::chrono::steady_clock::now();
    uint64_t bytes = 0;
    int parts = 0, n = 0, rc = 0;
    for (const std::string& file : files) {
        FILE* in = fopen(file.c_str(), "rb");
        if (!in || fstat(fileno(in), &st) != 0) {
            fprintf(stderr, "cannot read %s\n", file.c_str());
            rc = 1;
            break;
        }
        StreamLineSource source(in);
        MessageParser parser(source, settings, message);
        int r = parser.run(static_cast<uint64_t>(st.st_size));
        fclose(in);
        if (r < 1) {
            fprintf(stderr, "parse of %s failed\n", file.c_str());
            rc = 1;
            break;
        }
        bytes += message.bytesRead;
        int p = store(message, outdir, ++n);
        if (p < 0) {
            fprintf(stderr, "writing message %d failed\n", n);
            rc = 1;
            break;
        }
        parts += p;
    }
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    printf("messages=%d parts=%d bytes=%llu seconds=%.3f MiB/s=%.1f peak_kb=%ld\n", n, parts,
           static_cast<unsigned long long>(bytes), seconds,
           seconds > 0 ? bytes / 1048576.0 / seconds : 0.0, peakKb());
    return rc;
}
