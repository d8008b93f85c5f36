// The transfer encoders in the forms the MIME composer writes: whole base64 and uuencoded
// lines with CR LF line ends appended to a caller's buffer (so a file streams block by block
// through one reused buffer), quoted-printable text with CR LF line ends, and the encoded
// word used for non-ASCII file names.
#pragma once

#include <cstddef>
#include <string>

namespace qarvel {

// Base64 in lines of 76 characters, each ended by CR LF; a last shorter line is padded and
// ended too. Input that is a multiple of 57 bytes gives whole lines only, so a long input
// can be encoded in blocks of 57·k bytes, only the last of which may be shorter.
void encodeBase64Lines76(const char* data, size_t length, std::string& out);

// Quoted-printable (body mode) with every line end written as CR LF.
std::string encodeQuotedPrintableCrlf(const char* data, size_t length);

// uuencode: the "begin 644 name" line, the data lines of 45 input bytes (the last may be
// shorter; blocks of 45·k bytes encode on their own) and the end lines, all ended by CR LF.
std::string uuencodeBeginLine(const std::string& name);
void uuencodeLinesCrlf(const char* data, size_t length, std::string& out);
std::string uuencodeEndLines();

// One RFC 2047 encoded word (Q form) for a text with non-ASCII bytes.
std::string encodeWordText(const std::string& text, const char* charset);

} // namespace qarvel
