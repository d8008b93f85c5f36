// dead.letter: where the system's sendmail keeps a message it could not hand to its relay,
// appended in mbox form as sendmail and mail(1) keep theirs, so that any mail reader opens it.
#pragma once

#include <ctime>
#include <string>

#include "base/string.h"

namespace qarvel {

// Appends the message of a spool file (MessageSpool's form: a leading "." doubled) to the
// mailbox at path: a "From SENDER DATE" line, the message as it was written, with ">" before
// every line that would read as such a separator (">From " quoting), and an empty line. The
// mailbox is made 0600 when it is new, is never followed through a symbolic link, is locked
// (flock) while it is written, and is on the disk before this returns true. On false, error
// says why and the mailbox holds no part of the message.
bool appendDeadLetter(const String& path, const std::string& spoolPath, const String& sender, std::time_t now,
                      std::string& error);

// The user's dead.letter: $HOME/dead.letter, else the home folder of the user's account.
String deadLetterPath();

} // namespace qarvel
