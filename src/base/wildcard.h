// The wildcard matcher for file names and message filters.
//
// Both sets: '\' makes the next pattern character literal, '*' matches any run of characters.
// The full set adds '?' (one character), '#' (one digit), '@' (a run of digits), '!' (one
// letter) and '$' (a run of letters). With a capture buffer (at least as long as the text),
// every text character taken by a wildcard is appended to it, NUL-terminated.
#pragma once

#include "base/string.h"

namespace qarvel {

bool wildcardMatch(const char* text, const char* pattern, bool ignoreCase, bool simple,
                   char* capture);

// Pattern first: the full set with case ignored (file-name patterns).
inline bool wildcardMatch(const String& pattern, const char* text) {
    return wildcardMatch(text, pattern.c_str(), true, false, nullptr);
}

// Pattern first: the simple set with case ignored (subject and sender filters).
inline bool wildcardMatchSimple(const String& pattern, const String& text) {
    return wildcardMatch(text.c_str(), pattern.c_str(), true, true, nullptr);
}

}  // namespace qarvel
