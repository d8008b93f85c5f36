// The codec and discovery calls the senders make, gathered in one place: the header encoder,
// the body encoders (in chunks that end at input line boundaries) and the machine's DNS domain.
#pragma once

#include <cstddef>
#include <vector>

#include "base/string.h"

namespace qarvel {

class StringList;

// The entries of a list, in order.
std::vector<String> listItems(const StringList& list);

// A header value through the encoded-word encoder: address mode leaves the address part alone.
String encodeHeaderText(const String& value, const String& charset, int enabled, bool addressMode);
// Base64 in lines of 76 characters, each ended by CR LF.
String encodeBase64Lines(const char* data, size_t length);
// Quoted-printable with CR LF line ends.
String encodeQuotedPrintableText(const char* data, size_t length);
// Uuencoding: the begin line, whole 45-byte lines (the last may be shorter), the end lines.
String uuencodeBegin(const String& name);
String uuencodeLines(const char* data, size_t length);
String uuencodeEnd();
// The DNS domain of this machine ("unknown" when none is found).
String localDnsDomain();

} // namespace qarvel
