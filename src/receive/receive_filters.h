// The subject and sender filters of a retrieval run (-pat:/-nopat:, -spat:/-nospat:).
#pragma once

#include "base/string.h"
#include "receive/receive_options.h"

namespace qarvel {

class MailboxReader;

// Results of the filter step.
constexpr int kFilterKeep = 1;
constexpr int kFilterSkip = 0;
// A header fetch failure below 0 is returned as it is: it ends the message loop.

// True when the text matches the pattern: case ignored, only "*" and "\" special.
bool filterMatches(const String& text, const String& pattern);

// Whether message n passes the filters. Fetches only the header, and only when a pattern is
// set. Returns kFilterKeep, kFilterSkip, or the retrieveHeader failure (below 0).
int applyFilters(MailboxReader& reader, const ReceiveOptions& options, int n);

} // namespace qarvel
