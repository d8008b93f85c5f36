// The attachment writer: names from outside made safe for a file in the extraction folder,
// and the writer that puts an extracted part into a file of its own there.
#pragma once

#include <cstddef>

#include "base/string.h"
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

// Writes one part into directory/fileName (or fileName when the directory is empty). The name
// is first cut at its last "/" or "\" and passed through safeFileName, so it never leaves the
// directory, and the file is opened relative to the directory without following a symbolic
// link; a name that is not a plain file of one link is refused. With unique set (and for a
// part whose name was generated), an existing file is never overwritten: the name becomes
// "Copy1_name", "Copy2_name", … fileName is updated to the name finally used. In text mode
// every CR LF becomes LF. Prints "Could not create attachment file: '<path>': <error>" on
// standard error when the file cannot be created. Returns kWriteOk, or kWriteFailed when the
// file could not be created or fully written (a partly written file is removed).
int writeAttachment(const String& directory, String& fileName, const MessagePart& part,
                    bool textMode, bool unique);
int writeAttachment(const String& directory, String& fileName, const char* bytes,
                    size_t length, bool textMode, bool unique);

}  // namespace qarvel
