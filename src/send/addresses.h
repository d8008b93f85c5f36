// The address helpers of the senders: names and addresses taken out of an address text, and
// a recipient list split at its commas.
#pragma once

#include <cstddef>
#include <vector>

#include "base/string.h"

namespace qarvel {

// Address helpers; every scan stops at 1023 characters.
String displayName(const String& address);
String bareAddress(const String& address);
String addressDomain(const String& address);
String envelopeAddress(const String& address);

// Splits a comma-separated recipient text into entries: commas inside double quotes, and a
// comma inside the parentheses that follow a '(' (up to the matching ')'), do not split.
// Entries are returned as written (no trimming); at most maxEntries are returned.
std::vector<String> splitRecipientText(const String& text, size_t maxEntries = 1u << 20);

}  // namespace qarvel
