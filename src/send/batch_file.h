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
// reader can be fed any text (it is fuzzed) without touching the disk.
#pragma once

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
    // Keyword layout: the body lines, each ended by CR LF. Header layout: the message text
    // exactly as it goes out (without the closing "." line).
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

class BatchFileReader {
public:
    // text must outlive the reader. With a relay host set, Cc: and Bcc: lines are ignored.
    BatchFileReader(std::string_view text, BatchLayout layout, bool relaySet, AddressBook book = {});

    // Reads the next message into message (cleared first). Returns false when the text holds
    // no further message.
    bool next(BatchMessage& message);
    long lineNumber() const { return line_; }

private:
    // The next line without its line end; false at the end of the text.
    bool takeLine(std::string_view& line);
    void headerLine(std::string_view line, BatchMessage& message);
    void bodyLine(std::string_view line, BatchMessage& message);
    String expandAddresses(std::string_view value) const;

    std::string_view text_;
    size_t pos_ = 0;
    long line_ = 0;
    BatchLayout layout_;
    bool relaySet_;
    AddressBook book_;
};

// The priority an Importance value gives: High 1, Low 2, Normal 3, anything else 0.
int importancePriority(const String& value);

} // namespace qarvel
