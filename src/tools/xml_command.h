// The -xml run: load one XML file, apply the steps given on the command line (navigate,
// change, remove, add), then print the node reached or save the changed document, keeping
// the previous file as NAME.BAK.
#pragma once

#include "base/string.h"

namespace qarvel {

// args[0] is the file; the arguments after it are the steps. 0 after a normal run; 1 when
// the file cannot be read, a parser limit stops the reading, or the save fails.
int runXmlCommand(int count, char** args);

// Writes the document to path through a temporary file in the same folder: the old file
// becomes path.BAK (an older backup is removed) only once the new text is complete, then the
// temporary file is renamed into place. 1 on success, -1 after a message on standard error.
class XmlNode;
int saveXmlDocument(const XmlNode& document, const String& path);

}  // namespace qarvel
