// MIME composition: the multipart body of a message with attachments, related (inline) files
// or an HTML body with a plain-text alternative, written straight through the session's data
// sink while it is composed. Files are streamed from disk in blocks into the encoders; memory
// does not grow with a file's size.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "base/string.h"

namespace qarvel {

class SenderSession;

// The multipart Content-Type header and the whole multipart body (text alternative, body
// part, related files, attachments), called by the header writer after the Date line.
// Returns 1 when everything was sent, else the first send result below 1.
int writeMultipartBody(SenderSession& session, const char* body, size_t length);

// One file part: the delimiter line, the part header, the transfer-encoding line and the
// file's content. reference is empty for ordinary attachments; for related files it is the
// name the HTML uses: "cid:" + id gives a Content-ID, anything else a Content-Location.
// With the part-header flag a non-empty reference is the part's whole header text. Returns 1
// when the part was written, 0 when the file cannot be read (nothing written, a warning on
// stderr), or the failed send result below 0.
int writeFilePart(SenderSession& session, const String& boundary, const String& path,
                  const String& reference);

// A new boundary "NEXT_PART_%d_%ld_%ld_%ld": a process-wide counter (from 1), the time in
// seconds, the processor clock and one value of the C library's random generator.
String makeBoundary();

// The value of a name parameter: the base name of a path (after the last '/' or '\'), made
// safe for a quoted header parameter (control bytes replaced, '"' and '\' escaped, non-ASCII
// text as an encoded word in the given charset). Without the surrounding quotes.
String partFileName(const String& path, const String& charset);

// The file name parameter of a Content-Disposition line: filename="name" for an ASCII name;
// else the RFC 2231 form filename*=charset''%XX.., cut into numbered sections
// (filename*0*=..; filename*1*=..), one per folded line, when it is long.
std::vector<std::string> fileNameParameters(const String& path, const String& charset);

} // namespace qarvel
