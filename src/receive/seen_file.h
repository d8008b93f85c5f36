// SeenFile: what -seen: keeps: the messages already delivered, per account, so that a run that
// leaves the mail on the server fetches only what is new. One line per message: the account
// and the message's id there, each with its blanks, "%" and control bytes written %XX:
//   pop3://USER@HOST:PORT UIDL
//   imap://USER@HOST:PORT/FOLDER;UIDVALIDITY=N UID
//   file://PATH FILENAME
// Lines of other accounts stay as they are; a folder's lines of another UIDVALIDITY go (its
// messages are all new again); ids no longer on the server go. The file is written whole under
// a temporary name in its folder, synced and renamed over the old one, and the folder synced,
// all under a lock (FILE.lock), so two runs that share the file lose nothing of each other's.
#pragma once

#include <set>
#include <string>
#include <vector>

#include "base/string.h"

namespace qarvel {

class SeenFile {
public:
    // Reads the file (a missing one is empty). account: the run's; family: the beginning that
    // the accounts it replaces share with it (the folder with another UIDVALIDITY), or "".
    // False, with a message on standard error, when the file cannot be read.
    bool load(const String& path, const String& account, const String& family = String());
    const String& path() const { return path_; }
    bool contains(const String& id) const { return ids_.count(id.str()) != 0; }
    void add(const String& id) { ids_.insert(id.str()); }
    // The ids the server still holds: only these of the account's are written back.
    void setPresent(const std::vector<String>& ids);
    // Writes the file through to the disk; false, with a message on standard error, when that
    // failed (the old file then stands).
    bool save();

private:
    bool read(std::vector<std::string>& others, std::set<std::string>& ids, bool keepFamily) const;

    String path_, account_, family_;
    std::set<std::string> ids_;
    std::set<std::string> present_;
    bool presentKnown_ = false;
};

// The account names of the file, escaped as it stores them.
String seenAccount(const char* scheme, const String& user, const String& host, const String& port,
                   const String& folder = String());

}  // namespace qarvel
