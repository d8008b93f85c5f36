// BatchFileReader: cuts a text of ready-made messages into one message at a time.
//
// Two layouts are read. The keyword layout (import mode) has a header part of keyword lines
// ("To:", "From:", "Tolist:", ...) that ends at a "Contents:" line, and a body that runs to a
// "Message:" line or the end of the text; "File Item:" and "File Object:" lines in the body
// name attachments. The Internet-message layout (recipients from headers) is a message as it
// will be sent: its header lines give the recipients, an empty line ends them and a line of a
// single "." ends the message.
//
// The reader only reads: alias expansion and list files come in through AddressBook, so the
// reader can be fed any text (it is fuzzed) without touching the disk. In the Internet-message
// layout it hands over the header part only; the body is taken piece by piece while it is
// sent, so a batch of any size is never held in memory.
#pragma once

#include <cstdio>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "base/string.h"
#include "base/string_list.h"

namespace qarvel {

enum class BatchLayout {
    kKeywords,      // import mode
    kHeaders,       // recipients from headers (-t, -relay, -relay:)
};

struct BatchAttachment {
    String file;
    String name;          // the display name ("File Object:"), empty for "File Item:"
    bool related = false; // "File Object:" parts are related (inline) parts
};

struct BatchMessage {
    String from, replyTo, to, cc, bcc, newsgroups, subject, importance, organization, date;
    // Keyword layout: the body lines, each ended by CR LF. Header layout: the header lines as
    // they go out, each ended by CR LF, with the empty line that ends them; the rest of the
    // message comes from BatchFileReader::bodyPiece.
    std::string body;
    std::vector<BatchAttachment> attachments;
    long lastLine = 0;  // the line number where the message ended
};

// Where addresses and list files are looked up. Empty members do nothing.
struct AddressBook {
    const StringList* aliasNames = nullptr;
    const StringList* aliasValues = nullptr;
    // Returns the addresses of a list file joined with ",".
    std::function<String(const String& path)> readListFile;
};

// The text a batch is read from: one block in memory (lines end at LF, a CR before it is
// dropped), or files read one after the other in blocks (lines end at LF, CR LF or a lone CR,
// as the line ends of a message file are read everywhere else; the end of a file ends a line).
class BatchText {
public:
    explicit BatchText(std::string_view text) : text_(text) {}
    // The streams are not owned; they are read in order.
    explicit BatchText(std::vector<std::FILE*> files) : files_(std::move(files)) {}

    // The next piece of a line, without its line end; false at the end of the text. A line
    // longer than the read block comes in pieces; lineEnds is true for its last piece.
    bool takePiece(std::string_view& piece, bool& lineEnds);
    // A whole line (pieces joined in scratch when it is long); false at the end.
    bool takeLine(std::string_view& line, std::string& scratch);
    // True when a stream could not be read to its end.
    bool failed() const { return failed_; }

private:
    bool refill();

    std::string_view text_;  // the text in memory, or what is buffered of the files
    size_t pos_ = 0;
    std::vector<std::FILE*> files_;
    size_t file_ = 0;
    std::vector<char> block_;
    bool crPending_ = false;  // a CR ended the last line: an LF right after it belongs to it
    bool midLine_ = false;    // the last piece given did not end its line
    bool failed_ = false;
};

class BatchFileReader {
public:
    // text must outlive the reader. With a relay host set, Cc: and Bcc: lines are ignored.
    BatchFileReader(BatchText& text, BatchLayout layout, bool relaySet, AddressBook book = {});

    // Reads the next message into message (cleared first); the unread body of the message
    // before is skipped. Returns false when the text holds no further message.
    bool next(BatchMessage& message);
    // Header layout: the next piece of the current message's body after its header part
    // (lineEnds: CR LF follows it); false at the "." line or the end of the text, which
    // sets message.lastLine.
    bool bodyPiece(std::string_view& piece, bool& lineEnds);
    long lineNumber() const { return line_; }

private:
    bool takeLine(std::string_view& line);
    void headerLine(std::string_view line, BatchMessage& message);
    void bodyLine(std::string_view line, BatchMessage& message);
    String expandAddresses(std::string_view value) const;

    BatchText& text_;
    std::string scratch_;
    long line_ = 0;
    BatchLayout layout_;
    bool relaySet_;
    AddressBook book_;
    BatchMessage* current_ = nullptr;  // header layout: whose body is being read
    bool inBody_ = false;
    bool lineStart_ = true;
};

// The priority an Importance value gives: High 1, Low 2, Normal 3, anything else 0.
int importancePriority(const String& value);

} // namespace qarvel
