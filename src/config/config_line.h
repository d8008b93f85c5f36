// The line rules shared by the configuration file and the label table: how a line is
// matched against a key and how its value is taken.
#pragma once

#include <cstddef>
#include <functional>
#include <string_view>

#include "base/string.h"

namespace qarvel {

// True when the line begins with the key, compared without regard to case over the key's
// own length (so "smtp_host x" matches SMTP_HOST and "TOKEN" matches TO).
bool lineStartsWithKey(const char* line, const char* key);

// The value of a line: its first word and the blanks after it are skipped, then at most
// limit characters up to CR or LF are taken. Empty when the line has no value.
String lineValue(const char* line, size_t limit);

// Calls onLine for every line of text, each cut to maxLength characters (the rest of a longer
// line is dropped); a last line without a line end counts.
void forEachLine(std::string_view text, size_t maxLength, const std::function<void(const char* line)>& onLine);

// The same for the lines of the configuration file at path, read under the rule for settings
// files (readUserFile). Returns 1 when it was read, 0 when there is none (or it cannot be
// opened), -1 when it was refused: then nothing of it is read and complaint says why.
int forEachConfigLine(const String& path, size_t maxLength, const std::function<void(const char* line)>& onLine,
                      String* complaint = nullptr);

} // namespace qarvel
