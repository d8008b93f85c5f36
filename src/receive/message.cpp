// The Message record: display defaults, the part queue and the header list.
#include "receive/message.h"

#include <cstring>

namespace qarvel {

String Message::replyAddress() const {
    if (!replyTo.empty()) return replyTo;
    if (!from.empty()) return from;
    return "[unknown]";
}

String Message::sender() const {
    if (!from.empty()) return from;
    if (!replyTo.empty()) return replyTo;
    return "[unknown]";
}

String Message::mediaType() const {
    size_t n = 0;
    while (n < contentType.length() && n < 255 && contentType[n] != ';' && contentType[n] != '\r' &&
           contentType[n] != '\n')
        ++n;
    if (n == 0) return "text/plain";
    return String(contentType.c_str(), n);
}

const char* Message::priorityName() const {
    switch (priority) {
    case 1: return "High";
    case 2: return "Low";
    case 3: return "Normal";
    default: return "";
    }
}

MessagePart* Message::nextPart() {
    if (parts.empty()) {
        current.reset();
        return nullptr;
    }
    current = std::move(parts.front());
    parts.pop_front();
    bodyLength = current->size();
    partFileName = current->fileName;
    contentType = current->contentType;
    charset = "";
    size_t at = contentType.find("charset=");
    if (at != String::npos) {
        size_t start = at + 8;
        if (contentType[start] == '"') ++start;
        size_t end = start;
        while (end < contentType.length() && end - start < 255 &&
               !strchr(";\"\r\n", contentType[end]))
            ++end;
        charset = String(contentType, start, end - start);
    }
    contentId = current->contentId;
    return current.get();
}

String Message::header(const char* name) const {
    for (const auto& [key, value] : headers)
        if (key.equalsIgnoreCase(name)) return value;
    return String();
}

void Message::clearHeaderFields() {
    subjectText = replyTo = from = toText = ccText = dateText = "";
    contentType = charset = partFileName = dispositionNotificationTo = sensitivity = "";
    contentId = contentLocation = contentBase = messageId = references = "";
    priority = 0;
    headerCount = 0;
    fieldCharsets = FieldCharsets();
}

void Message::emptyBody() {
    // The buffer stays for the next message of the run, so that a run of messages does not
    // allocate and touch new memory for each; an unusually large one gives its memory back.
    constexpr size_t kKeptCapacity = 4u << 20;
    if (body.capacity() > kKeptCapacity) std::string().swap(body);
    else body.clear();
}

void Message::clear() {
    clearHeaderFields();
    emptyBody();
    bodyLength = bytesRead = expectedBytes = 0;
    parsed = 0;
    bodyCut = false;
    partsDropped = 0;
    parts.clear();
    current.reset();
    headers.clear();
    ownHeaderLines = 0;
}

}  // namespace qarvel
