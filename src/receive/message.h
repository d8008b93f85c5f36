// Message: the parsed form of the message retrieved last — its main header fields, the
// priority, the decoded text body and the queue of extracted parts (MessagePart, in
// part_data.h). The five parallel queues of the message (bytes, size, file name, content
// type, content id) are one queue of MessagePart records here: each record carries the five
// values of one entry.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "base/string.h"
#include "receive/part_data.h"

namespace qarvel {

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
    MessagePart* nextPart();

    // Clears the header fields (not the parts or body).
    void clearHeaderFields();
    // Clears everything.
    void clear();
    // Empties the body, keeping its buffer for the next message when it is not too large.
    void emptyBody();
};

}  // namespace qarvel
