// PartDecoder: decodes the body of one message part as it is read, piece by piece, into a
// sink. The message parser hands over line pieces as they come off the connection (a long
// line arrives in several pieces), so every decoder keeps its state across calls: a base64
// group split between lines, a quoted-printable escape split between pieces, a uuencoded line
// split between pieces.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>

namespace qarvel {

enum class PartEncoding { kNone, kQuotedPrintable, kBase64, kUuencode };

class PartDecoder {
public:
    // Receives decoded bytes; returns false to report a failed write.
    using Sink = std::function<bool(const char*, size_t)>;

    // uuWaitBegin: for uuencode, skip the lines up to and including the "begin" line.
    void begin(PartEncoding encoding, Sink sink, bool uuWaitBegin = false);
    // A piece of input; lineEnd tells whether it ends with the line's LF.
    bool put(const char* data, size_t length, bool lineEnd);
    // Flushes what is pending (a partial base64 group, an incomplete uuencoded line).
    bool finish();
    PartEncoding encoding() const { return encoding_; }
    // uuencode: true once the "end" line was seen.
    bool uuEnded() const { return uuEnded_; }

private:
    // Room for need more bytes at the end of the batch (handing the batch on first when it
    // has no room left).
    char* room(size_t need);
    bool emit(const char* data, size_t length);
    bool flushOut();
    bool putBase64(const char* data, size_t length);
    bool putQuotedPrintable(const char* data, size_t length);
    bool putUuLine(const std::string& line);

    PartEncoding encoding_ = PartEncoding::kNone;
    Sink sink_;
    // Decoded bytes batched before they go to the sink, used_ of them; a large batch makes
    // each write of an extracted part a large one.
    std::unique_ptr<char[]> out_;
    size_t used_ = 0, capacity_ = 0;
    unsigned b64Bits_ = 0;  // base64: pending 6-bit values
    int b64Count_ = 0;
    int qpState_ = 0;       // quoted-printable: 0 plain, 1 after "=", 2 after "=X", 3 after "=" CR
    char qpHigh_ = 0;
    std::string uuLine_;    // uuencode: the current line until its LF
    bool uuEnded_ = false;
    bool uuWaiting_ = false;
    bool ok_ = true;
};

} // namespace qarvel
