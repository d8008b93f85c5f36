// The alias file (-alias:, ALIASES, /etc/aliases for the system's sendmail): lines of
// "NAME: VALUE", and the mapping of local names (no "@") to the addresses they stand for.
#pragma once

#include <cstdio>
#include <vector>

#include "base/string.h"
#include "base/string_list.h"

namespace qarvel {

// Appends the pairs of the file to names and values. Lines are read up to 255 characters;
// lines that begin with "#" or a backslash are skipped; every other line is split as
// "%255[^:]: %255[^#\t\r\n]" splits it. A missing file adds nothing.
void readAliasFile(const String& path, StringList& names, StringList& values);

// The addresses that recipients stand for. A name without "@" is looked up among the alias
// names (case ignored); its value, a comma-separated list, is mapped again (a name that comes
// back to itself, or after eight steps, is taken as it is). A name no alias names takes the
// "default" alias when there is one, else "@domain" is appended. A value that is a program
// ("|..."), a file ("/...") or an include (":include:...") cannot be relayed: it is dropped
// with a line on err. Addresses with "@" are kept as they are; each address comes out once.
std::vector<String> mapLocalRecipients(const std::vector<String>& recipients, const StringList& names,
                                       const StringList& values, const String& domain, std::FILE* err);

} // namespace qarvel
