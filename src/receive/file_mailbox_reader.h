// FileMailboxReader: reads messages from disk instead of a server (-mail): one message file,
// or the files of a directory that match a pattern. It overrides the reading operations of
// the socket so that the message parser reads the open message file exactly as it would read
// a connection; a file with CR LF line ends yields the same lines as a socket.
#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>

#include "receive/line_source.h"
#include "receive/mailbox_reader.h"

namespace qarvel {

class FileMailboxReader : public MailboxReader {
public:
    FileMailboxReader();
    ~FileMailboxReader() override;

    using MailboxReader::open;

    // Reading operations over the open message file.
    // Up to length bytes; 0 when no file is open or at end of file.
    int read(char* buffer, int length) override;
    // Up to and including the first LF or max bytes; the line is NUL-terminated in the buffer,
    // which must hold max+1 bytes. 0 at end of file or when no file is open.
    int readLine(char* buffer, int max) override;
    // The next byte without consuming it: 1, or 0 at end of file / no file.
    int peekByte(char* out) override;
    // The bytes of the file read ahead and not yet handed out (see Socket::bufferedView).
    size_t bufferedView(const char** data) override { return input_.bufferedView(data); }
    void consume(size_t n) override { input_.consume(n); }

    int close() override;
    Failure failureOf(int) const override { return Failure::kOther; }  // a file, not a server
    // path: a message file (empty pattern) or a directory whose entries match the pattern.
    int open(const String& host, const String& port, const char* certificate,
             int level) override;
    int deleteMessage(int n) override;
    int retrieve(int n) override;
    // A message file's id is its name.
    int listUniqueIds() override { return kReaderOk; }
    String uniqueId(int n) override;

    // Parses one message from a stream the caller owns (an in-memory stream, standard
    // input), size bytes long, as retrieve does for a file.
    int retrieveFrom(FILE* stream, uint64_t size);

    const std::vector<String>& paths() const { return paths_; }

private:
    void closeFile();

    std::vector<String> paths_;
    FILE* file_ = nullptr;
    bool ownsFile_ = false;
    // The reading operations go through one buffer over the file.
    StreamLineSource input_;
};

} // namespace qarvel
