// Message: the parsed form of the message retrieved last — its main header fields, the
// priority, the decoded text body and the queue of extracted parts — and the attachment
// writer that puts an extracted part into a file.
//
// Extracted parts are kept in memory while they are small; a part that grows past
// kPartMemoryLimit continues in a temporary file in the working folder, so memory does not
// grow with the size of an attachment. The five parallel queues of the message (bytes, size,
// file name, content type, content id) are one queue of MessagePart records here: each
// record carries the five values of one entry.
#pragma once

#include <cstdint>
#include <cstdio>
#include <deque>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "base/string.h"

namespace qarvel {

// Results of the attachment writer.
constexpr int kWriteOk = 1;
constexpr int kWriteFailed = -1;

// A part larger than this moves from memory to a temporary file while it is decoded.
constexpr size_t kPartMemoryLimit = 512u << 10;
// All parts held in memory together stay under this; past it, a growing part moves to a file
// too, so a message of many parts of just under the limit cannot fill the memory either. Both
// are small on purpose: a run's peak memory must not depend on the size of the message, and a
// part copied once from a temporary file costs less than holding it.
constexpr size_t kPartsMemoryBudget = 2u << 20;

// The decoded bytes of one part: in memory, or in a temporary file that is removed when the
// part is destroyed.
class PartData {
public:
    PartData() = default;
    ~PartData();
    PartData(const PartData&) = delete;
    PartData& operator=(const PartData&) = delete;

    // Sets where a part that outgrows memory is spilled ("" means "/tmp").
    void setSpillFolder(const String& folder) { spillFolder_ = folder; }
    // Bytes held in memory before the part moves to a file (0: straight to a file).
    void setMemoryLimit(size_t limit) { memoryLimit_ = limit; }
    // Appends decoded bytes. Returns false when the temporary file cannot be written (the
    // part is then marked failed and further bytes are dropped).
    bool append(const char* data, size_t length);
    // Ends the writing phase (closes the temporary file; reading opens it again).
    bool finish();
    // Drops everything (and the temporary file).
    void clear();

    uint64_t size() const { return size_; }
    bool failed() const { return failed_; }
    bool inMemory() const { return filePath_.empty(); }
    // The decoded bytes all parts of the process hold in memory now.
    static size_t bytesInMemory();
    // The bytes, when the part is held in memory (empty otherwise).
    const std::string& memory() const { return memory_; }
    // Copies the bytes to a stream; in text mode every CR LF becomes LF. Returns false when a
    // read or write fails (a short write, a full disk).
    bool copyTo(FILE* out, bool textMode) const;
    // Up to max bytes from the start of the part (for display and tests).
    std::string head(size_t max) const;

private:
    bool spill();
    FILE* openForReading() const;

    std::string memory_;
    FILE* file_ = nullptr;      // the temporary file while it is written
    std::string filePath_;      // the temporary file, once spilled (empty: in memory)
    String spillFolder_;
    size_t memoryLimit_ = kPartMemoryLimit;
    uint64_t size_ = 0;
    bool failed_ = false;
};

// One entry of the part queue.
struct MessagePart {
    PartData data;
    String fileName;     // empty when the part has none
    String contentType;  // the Content-Type value with its parameters, or empty
    String contentId;    // empty when the part has none
    bool generatedName = false;  // the name was made up by the parser (see generatedPartName)
    uint64_t size() const { return data.size(); }
};

// The charset of the last encoded word of each shown header field ("" when it had none): the
// fields keep the decoded bytes, and a page or a terminal converts them by these.
struct FieldCharsets {
    String subject, from, replyTo, to, cc, date, sensitivity, notificationTo;
};

struct Message {
    // Header fields; each is empty when its header was absent.
    String subjectText;
    String replyTo;
    String from;
    String toText;       // every To: line, joined with ","
    String ccText;       // every Cc: line, joined with ","
    String dateText;
    String contentType;  // the last Content-Type value seen (top level or part)
    String charset;
    String partFileName; // set by nextPart
    String dispositionNotificationTo;
    String sensitivity;
    String contentId;
    String contentLocation;
    String contentBase;
    String messageId;
    String references;
    int priority = 0;     // 0 none, 1 High, 2 Low, 3 Normal
    int headerCount = 0;  // recognised header lines
    std::string body;     // the decoded text body
    String bodyCharset;   // the charset of the first text part that went into the body
    FieldCharsets fieldCharsets;
    uint64_t bodyLength = 0;  // length of body; after nextPart, the size of that part
    uint64_t bytesRead = 0;
    uint64_t expectedBytes = 0;
    int parsed = 0;       // 1 once a parse has ended
    // The text body outgrew its buffer and was cut: the body shown or handed on is not the
    // whole text, so the message must not be deleted on its strength.
    bool bodyCut = false;
    // Parts that ended after the queue was full: they were not kept and cannot be extracted.
    uint64_t partsDropped = 0;

    // Every header line of the message and of its parts (name, value), repeats included.
    std::vector<std::pair<String, String>> headers;
    // How many of them, from the first, are the message's own (before any part's).
    size_t ownHeaderLines = 0;
    // The first value of a header field (name compared case-insensitively), or "".
    String header(const char* name) const;

    // Extracted parts, in the order in which they ended.
    std::deque<std::unique_ptr<MessagePart>> parts;
    // The part taken by the last nextPart (kept alive until the next one or the next parse).
    std::unique_ptr<MessagePart> current;

    // Accessors with the display defaults.
    String subject() const { return subjectText.empty() ? String("[no subject]") : subjectText; }
    String replyAddress() const;
    String sender() const;
    String to() const { return toText.empty() ? String("[unknown]") : toText; }
    String cc() const { return ccText; }
    String date() const { return dateText.empty() ? String("[unknown]") : dateText; }
    // The media type: the content type up to the first ";", CR or LF, at most 255
    // characters; "text/plain" when empty.
    String mediaType() const;
    const char* priorityName() const;
    const char* bodyText() const { return body.c_str(); }

    int partCount() const { return static_cast<int>(parts.size()); }
    // Takes the next part off the queue and sets bodyLength, partFileName, contentType,
    // charset and contentId from it. Returns the part (owned by the message, valid until the
    // next call or the next parse), or null when the queue is empty.
    const MessagePart* nextPart();

    // Clears the header fields (not the parts or body).
    void clearHeaderFields();
    // Clears everything.
    void clear();
};

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

} // namespace qarvel
