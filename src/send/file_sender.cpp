// FileSender: the message data goes into a local file instead of a server.
#include "send/file_sender.h"

#include <cstdio>
#include <ctime>

namespace qarvel {

namespace {
// Numbers the files made in folder form; three digits wrap from 999 to 000.
unsigned fileSequence = 1;
} // namespace

FileSender::FileSender() { setNoTerminator(1); }

FileSender::~FileSender() { closeFile(); }

void FileSender::closeFile() {
    if (out_) {
        std::fflush(out_);
        if (owned_) std::fclose(out_);
    }
    out_ = nullptr;
    owned_ = 0;
    streamMade_ = false;
}

int FileSender::send(const char* data, int length) {
    if (!streamMade_) return 0;
    if (length < 1) return 0;
    // A file that could not be opened loses what is written, as the sender has no way to
    // report it after the open; the open itself warned.
    if (!out_) return length;
    return static_cast<int>(std::fwrite(data, 1, static_cast<size_t>(length), out_));
}

int FileSender::connectSession(const String& host, const String& port, int, const String&) {
    if (isOpen()) disconnect();
    closeFile();
    if (!host.empty() && !port.empty()) {
        char name[4096];
        std::snprintf(name, sizeof name, "%s/%lu-%03u.%s", host.c_str(),
                      static_cast<unsigned long>(std::time(nullptr)), fileSequence % 1000, port.c_str());
        ++fileSequence;
        fileName_ = name;
    } else {
        fileName_ = host;
    }
    out_ = std::fopen(fileName_.c_str(), "ab");
    if (!out_) std::fprintf(stderr, "Could not open message file: %s\n", fileName_.c_str());
    owned_ = out_ ? 1 : 0;
    streamMade_ = true;
    return out_ || !refuseLostFile_ ? kSessionOk : kSessionRefused;
}

int FileSender::disconnect() {
    releaseFiles(false);
    closeFile();
    return kSessionOk;
}

int FileSender::authenticate(const String&, const String&) { return kSessionOk; }

int FileSender::quit() {
    closeFile();
    return kSessionOk;
}

int FileSender::readReply() { return kSessionOk; }

} // namespace qarvel
