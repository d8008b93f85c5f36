// Encoded text into a session's data sink, shared by the single-part body writer and the MIME
// composer: a ByteSink that feeds the sink, quoted-printable with CR LF line ends, and base64
// or uuencoded text from memory. Everything goes out as it is encoded, in pieces, so the
// encoded copy never holds more than a chunk.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "base/byte_sink.h"
#include "base/string.h"

namespace qarvel {

class SenderSession;

// The encoders' output straight into the session's data sink, dot-stuffed there (a uuencoded
// line may begin with '.'). The first failed send is kept; later output is dropped. With crlf,
// each line feed the encoder writes goes out as CR LF (the uuencoder ends its lines with a
// bare line feed; no other line feed occurs in its output).
class SessionSink : public ByteSink {
public:
    SessionSink(SenderSession& s, bool crlf) : s_(s), crlf_(crlf) {}
    void write(const char* bytes, size_t count) override;
    int result() const { return result_; }
    // Bytes handed to the session so far (line ends as sent).
    size_t written() const { return written_; }

private:
    SenderSession& s_;
    bool crlf_;
    int result_ = 1;
    size_t written_ = 0;
};

// The transfer encoding that names text sent as it is: "8bit" when the run says so (-8) or
// the text holds a byte beyond ASCII, else "7bit". A label must tell what is sent.
const char* unencodedLabel(bool eightBit, std::string_view text);

// Quoted-printable (body mode) of one chunk with every line end as CR LF. A blank at the very
// end of the chunk is escaped behind a soft line break, so no line ends in white space that a
// decoder could strip.
std::string quotedPrintableCrlf(const char* data, size_t length);

// Quoted-printable text through the sink. The text is cut into chunks that end at a line end
// (or at 4096 bytes inside a longer line, continued by a soft line break), each chunk is
// encoded on its own, and its line ends go out as CR LF. With countProgress the encoded bytes
// are counted and the total expected grows by the encoding's growth. more tells that the text
// continues in a later call, so a cut line gets its soft break. Returns 1 or the failed send.
int writeQuotedPrintable(SenderSession& s, const char* data, size_t length, bool more,
                         bool countProgress);

// Text in memory as base64 in lines of 76 characters, or uuencoded under name, through the
// sink; the encoded bytes are counted and the total expected grows by the encoding's growth.
// Returns 1 or the failed send.
int writeBase64OrUuencoded(SenderSession& s, const char* data, size_t length, bool uuencode,
                           const String& name);

}  // namespace qarvel
