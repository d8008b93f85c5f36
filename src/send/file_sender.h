// FileSender (-mf): delivers a composed message into a local file; the file receives exactly
// the bytes that would go to an SMTP server as message data, without the final "." line.
#pragma once

#include <cstdio>

#include "send/sender_session.h"

namespace qarvel {

class FileSender : public SenderSession {
public:
    FileSender();
    ~FileSender() override;

    int send(const char* data, int length) override;
    int disconnect() override;
    // Opens the output file: the host text names it, or with a non-empty port text the file
    // "host/SECONDS-NNN.port" is made (NNN a process-wide sequence, modulo 1000). A file that
    // cannot be opened is reported and, by the old rules, still a success (what is written is
    // lost); with refuseLostFile (-strict) it is a failed connect.
    int connectSession(const String& host, const String& port, int level = 0,
                       const String& certificate = String()) override;
    int authenticate(const String& user, const String& password) override;
    int quit() override;
    int readReply() override;
    Failure failureOf(int) const override { return Failure::kOther; }  // a file, not a server
    bool hasSessionToClose() const override { return true; }

    const String& fileName() const { return fileName_; }
    void refuseLostFile(bool on) { refuseLostFile_ = on; }

private:
    void closeFile();

    FILE* out_ = nullptr;
    int owned_ = 0;
    bool streamMade_ = false;
    bool refuseLostFile_ = false;
    String fileName_;
};

} // namespace qarvel
