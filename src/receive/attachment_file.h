// The attachment writer: names from outside made safe for a file in the extraction folder,
// and the writer that puts an extracted part into a file of its own there.
#pragma once

#include <cstddef>

#include "base/string.h"
#include "base/sync_round.h"
#include "receive/part_data.h"

namespace qarvel {

// Results of the attachment writer.
constexpr int kWriteOk = 1;
constexpr int kWriteFailed = -1;

// Makes a header value usable as a file name: ASCII letters, digits and "-+_~$()." stay,
// every other ASCII byte (NUL and the control characters included) becomes "_", bytes of 128
// and above stay. A name that would still step out of its folder ("." or "..") is changed to
// "_" and "__".
String safeFileName(const String& text);

// A name that came from outside made fit for a file in the extraction folder: cut at its
// last "/" or "\", then passed through safeFileName.
String attachmentFileName(const String& name);

// The file name of a part that is named by its content id: as attachmentFileName, but the
// "@" of the id stays.
String contentIdFileName(const String& id);

// A name for a part that has none: the time in seconds as 8 hexadecimal digits, ".", and a
// number of at least 3 digits that grows with every name the process makes, so that no two
// names of one run are the same.
String generatedPartName();

// Whether a part is written in text mode (every CR LF becomes LF): its media type (the content
// type up to ";", CR or LF; text/plain when there is none) begins with "text" or is
// message/rfc822 (case ignored), or allText (-text) is set.
bool writtenAsText(const String& contentType, bool allText);

// Writes one part into directory/fileName (or fileName when the directory is empty). The name
// is first cut at its last "/" or "\" and passed through safeFileName, so it never leaves the
// directory. The bytes go to a file under a temporary name in the folder (made without
// following a link), which gets the name only once it is whole; a part the parser staged in
// its folder already is only named. Without unique an existing entry is replaced only when it
// is a plain file of one link; with unique (and for a part whose name was generated) nothing
// is replaced: the name becomes "Copy1_name", "Copy2_name", … fileName is updated to the name
// finally used. In text mode every CR LF becomes LF. Prints "Could not create attachment file:
// '<path>': <error>" (or "Could not write attachment file: ...") on standard error when the
// file cannot be made, named or fully written. Returns kWriteOk, or kWriteFailed (nothing of
// the part is left under any name). With a round, the whole file goes to it to be synced
// before it is named (fileName then keeps the name asked for).
int writeAttachment(const String& directory, String& fileName, MessagePart& part,
                    bool textMode, bool unique, SyncRound* round = nullptr);
int writeAttachment(const String& directory, String& fileName, const char* bytes,
                    size_t length, bool textMode, bool unique);

}  // namespace qarvel
