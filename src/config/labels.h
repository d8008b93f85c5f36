// The process-wide label table: the run's Labels record, whose configurable words a site
// replaces with "STRING_" lines in its configuration file.
#pragma once

#include <string>
#include <vector>

#include "base/display_labels.h"

namespace qarvel {

// The process-wide table. The labels keep their values for the whole process, so a label
// replaced in one run of a repeated command stays replaced in the next.
const Labels& labels();

// Puts every label back to its default (done once at process start).
void resetLabels();

// When the configuration line begins with a label key (any case), the rest of its first
// word is skipped and up to 255 characters after the blanks, up to CR or LF, become the
// label exactly as written. Returns 1 when the line was a label line, else 0.
int replaceLabel(const char* line);

// The label keys (STRING_...), in table order.
std::vector<std::string> labelKeyNames();

} // namespace qarvel
