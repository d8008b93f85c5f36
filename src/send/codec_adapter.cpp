// Thin forwarding layer from the senders to the foundation codecs and the DNS discovery.
#include "send/codec_adapter.h"

#include <algorithm>
#include <string>
#include <string_view>

#include "base/encoded_word.h"
#include "base/string_list.h"
#include "net/dns_discovery.h"
#include "send/mime_encoders.h"

namespace qarvel {

String encodeHeaderText(const String& value, const String& charset, int enabled, bool addressMode) {
    return encodeWord(charset, enabled != 0, value, addressMode);
}

std::vector<String> listItems(const StringList& list) { return std::vector<String>(list.begin(), list.end()); }

String encodeBase64Lines(const char* data, size_t length) {
    std::string out;
    encodeBase64Lines76(data, length, out);
    return String(out);
}

String encodeQuotedPrintableText(const char* data, size_t length) {
    return String(encodeQuotedPrintableCrlf(data, length));
}

String uuencodeBegin(const String& name) { return String(uuencodeBeginLine(name.str())); }

String uuencodeLines(const char* data, size_t length) {
    std::string out;
    uuencodeLinesCrlf(data, length, out);
    return String(out);
}

String uuencodeEnd() { return String(uuencodeEndLines()); }

String localDnsDomain() {
    String primary, secondary, domain;
    findDnsServers(primary, secondary, domain);
    return domain;
}

} // namespace qarvel
