// The subject and sender filters of a retrieval run.
#include "receive/receive_filters.h"

#include "base/wildcard.h"
#include "receive/mailbox_reader.h"

namespace qarvel {

bool filterMatches(const String& text, const String& pattern) {
    return wildcardMatchSimple(pattern, text);
}

int applyFilters(MailboxReader& reader, const ReceiveOptions& options, int n) {
    if (options.receive.subjectPattern.empty() && options.receive.senderPattern.empty()) return kFilterKeep;
    int result = reader.retrieveHeader(n);
    if (result < 0) return result;
    // A header fetch that did nothing leaves empty fields, which the patterns then judge.
    if (!options.receive.subjectPattern.empty() &&
        filterMatches(reader.subject(), options.receive.subjectPattern) == (options.receive.subjectPatternNegated != 0))
        return kFilterSkip;
    if (!options.receive.senderPattern.empty() &&
        filterMatches(reader.sender(), options.receive.senderPattern) == (options.receive.senderPatternNegated != 0))
        return kFilterSkip;
    return kFilterKeep;
}

} // namespace qarvel
