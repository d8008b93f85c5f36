// The files settings and secrets come from (the configuration file by any of its names,
// -passfile:, ~/.netrc): the one rule for who may own and change them, and the one bounded read.
// A file somebody else controls (a qarvel.txt planted in /tmp or in a shared folder) could
// otherwise send downloads through a proxy of theirs or run a command of theirs as the caller.
#pragma once

#include <cstddef>
#include <string>

#include "base/string.h"

namespace qarvel {

enum class FileUse {
    kSettings,  // owned by the caller or root, and nobody else may write it
    kSecret,    // the same, and nobody else may read it either
};

// The most a configuration file may hold; a secret is one line and stays far below.
constexpr size_t kSettingsFileLimit = 1u << 20;
constexpr size_t kSecretFileLimit = 16384;

struct UserFile {
    int state = 0;      // 1 read, 0 not there (or not openable: errorNumber), -1 refused
    int errorNumber = 0;
    std::string text;
    unsigned mode = 0;  // the permission bits
    String complaint;   // why it was refused, naming the file, its owner and its mode
};

// Reads a file that settings or a secret come from. It is opened without waiting, so a FIFO or
// a device never holds the run, and taken only when it is a regular file of at most limit bytes
// that keeps to the rule of use; otherwise nothing of it is read and the complaint says why.
UserFile readUserFile(const String& path, FileUse use, size_t limit);

// The complaint for a file that holds a secret while group or others may use it; "" when its
// mode keeps it to its owner.
String secretModeComplaint(const String& path, unsigned mode);

} // namespace qarvel
