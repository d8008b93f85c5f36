// The addresses of an address header as a message's writer wrote it (To, Cc, Bcc): mailboxes
// ("Ann <ann@example.org>", "ann@example.org (Ann)", "ann"), groups ("Team: a@x, b@y;",
// "undisclosed-recipients:;"), quoted names and comments that hold commas, colons or brackets.
#pragma once

#include <string_view>
#include <vector>

#include "base/string.h"

namespace qarvel {

// The addresses of value, in order: the text in angle brackets (without a source route),
// else the mailbox with its comments and blanks taken out. Unclosed quotes, comments and
// brackets run to the end of the value; a group's name and an empty entry give nothing.
std::vector<String> headerAddresses(std::string_view value);

} // namespace qarvel
