// Path helpers with "/" as the separator, and the cut applied to names that arrive from outside
// (attachment names, uploads, URLs) so that they never leave the folder they are written into.
#pragma once

#include "base/string.h"

namespace qarvel {

// Everything before the last "/" (empty when there is none).
String pathDirectory(const String& path);
// The folder that holds the entry at path, to open it: pathDirectory, but "/" for an entry of
// the root and "" (the working folder) for a bare name; trailing "/" are not entries.
String folderOf(const String& path);
// Everything after the last "/" (the whole path when there is none).
String pathFile(const String& path);
// folder + "/" + name; an empty folder gives the name alone, and a folder already ending
// in "/" gets no second one.
String joinPath(const String& folder, const String& name);
// A name from outside cut after its last "/" or "\"; "." and ".." become empty, so the
// caller falls back to its own name.
String outsideFileName(const String& name);

}  // namespace qarvel
