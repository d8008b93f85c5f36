// The DNS look-ups the command line asks for directly: -srv: and -txt: print what a name
// server answers, one line per record.
#pragma once

#include "base/string.h"

namespace qarvel {

// -srv:domain:service:protocol asks server for the SRV records of
// "_service._protocol.domain" and prints each as
// "NAME ==> Target=T, Port=P, Priority=R, Weight=W". Returns 1, or -1 on failure (with a
// message on standard error).
int printSrvRecords(const String& server, const String& value, bool datagram, int trace);

// -txt:name asks server for the TXT records of name and prints each as "name ==> text".
int printTxtRecords(const String& server, const String& name, bool datagram, int trace);

} // namespace qarvel
