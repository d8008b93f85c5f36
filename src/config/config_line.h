// The line rules shared by the configuration file and the label table: how a line is
// matched against a key and how its value is taken.
#pragma once

#include <cstddef>
#include <functional>

#include "base/string.h"

namespace qarvel {

// True when the line begins with the key, compared without regard to case over the key's
// own length (so "smtp_host x" matches SMTP_HOST and "TOKEN" matches TO).
bool lineStartsWithKey(const char* line, const char* key);

// The value of a line: its first word and the blanks after it are skipped, then at most
// limit characters up to CR or LF are taken. Empty when the line has no value.
String lineValue(const char* line, size_t limit);

// Calls onLine for every line of the file, each cut to maxLength characters (the rest of
// a longer line is dropped). A file that cannot be opened is skipped without a word.
void forEachConfigLine(const String& path, size_t maxLength,
                       const std::function<void(const char* line)>& onLine);

} // namespace qarvel
