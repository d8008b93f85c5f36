// The subject and sender filters of a retrieval run.
#include "receive/receive_filters.h"

#include "base/wildcard.h"
#include "receive/mailbox_reader.h"

namespace qarvel {

bool filterMatches(const String& text, const String& pattern) {
    return wildcardMatchSimple(pattern, text);
}

int applyFilters(MailboxReader& reader, const ReceiveOptions& options, int n) {
    if (options.subjectPattern.empty() && options.senderPattern.empty()) return kFilterKeep;
    int result = reader.retrieveHeader(n);
    if (result < 0) return result;
    // A header fetch that did nothing leaves empty fields, which the patterns then judge.
    if (!options.subjectPattern.empty() &&
        filterMatches(reader.subject(), options.subjectPattern) == (options.subjectNegate != 0))
        return kFilterSkip;
    if (!options.senderPattern.empty() &&
        filterMatches(reader.sender(), options.senderPattern) == (options.senderNegate != 0))
        return kFilterSkip;
    return kFilterKeep;
}

} // namespace qarvel
