// The DNS wire format: a framed query built, a response decoded.
#include "net/dns_message.h"

#include <arpa/inet.h>

#include <cctype>
#include <cstdio>
#include <string>

namespace qarvel {

namespace {

uint16_t get16(const uint8_t* p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }

uint32_t get32(const uint8_t* p) {
    return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
           (static_cast<uint32_t>(p[2]) << 8) | p[3];
}

void put16(uint8_t* p, unsigned value) {
    p[0] = static_cast<uint8_t>(value >> 8);
    p[1] = static_cast<uint8_t>(value);
}

// Moves offset past a name in the record stream: labels up to a zero byte, or up to and
// including a two-byte compression pointer. False when the name runs past the end or uses a
// reserved label type.
bool skipName(const uint8_t* data, size_t length, size_t& offset) {
    while (offset < length) {
        uint8_t len = data[offset];
        if ((len & 0xC0) == 0xC0) {
            if (offset + 2 > length) return false;
            offset += 2;
            return true;
        }
        if (len & 0xC0) return false;
        offset += 1 + len;
        if (len == 0) return true;
    }
    return false;
}

const char* typeName(unsigned type) {
    switch (type) {
    case kDnsTypeA: return "A";
    case kDnsTypeAaaa: return "AAAA";
    case kDnsTypeNs: return "NS";
    case kDnsTypeMx: return "MX";
    case kDnsTypeTxt: return "TXT";
    case kDnsTypeSrv: return "SRV";
    default: return "other";
    }
}

} // namespace

int buildDnsQuery(uint16_t id, const String& name, int type, uint8_t* buffer, size_t capacity) {
    if (capacity < 2 + kDnsHeaderSize + 1 + 4) return -1;
    size_t at = 2;
    put16(buffer + at, id);
    put16(buffer + at + 2, 0x0100); // recursion desired
    put16(buffer + at + 4, 1);      // one question
    put16(buffer + at + 6, 0);
    put16(buffer + at + 8, 0);
    put16(buffer + at + 10, 0);
    at += kDnsHeaderSize;
    // One length byte and the bytes of every piece between dots; empty pieces (a trailing
    // dot, two dots in a row) add nothing, as they would end the name early.
    std::string_view rest = name.view();
    while (!rest.empty()) {
        size_t dot = rest.find('.');
        std::string_view label = rest.substr(0, dot);
        rest = dot == std::string_view::npos ? std::string_view() : rest.substr(dot + 1);
        if (label.empty()) continue;
        if (label.size() > kDnsMaxLabel) return -1;
        if (at + 1 + label.size() + 1 + 4 > capacity) return -1;
        buffer[at++] = static_cast<uint8_t>(label.size());
        for (char c : label) buffer[at++] = static_cast<uint8_t>(c);
    }
    buffer[at++] = 0;
    put16(buffer + at, static_cast<unsigned>(type));
    put16(buffer + at + 2, 1); // class IN
    at += 4;
    put16(buffer, static_cast<unsigned>(at - 2));
    return static_cast<int>(at);
}

bool readDnsName(const uint8_t* data, size_t length, size_t offset, bool lowBytePointers, String& out) {
    std::string name;
    int jumps = 0;
    bool nested = lowBytePointers;
    while (true) {
        if (offset >= length) return false;
        uint8_t len = data[offset];
        if ((len & 0xC0) == 0xC0) {
            if (offset + 2 > length || ++jumps > kDnsMaxPointerJumps) return false;
            // A pointer inside a name reached through a pointer is followed by its low byte:
            // such names lie in the question or the first records of the message.
            offset = nested ? data[offset + 1] : (static_cast<size_t>(len & 0x3F) << 8) | data[offset + 1];
            nested = true;
            continue;
        }
        if (len & 0xC0) return false;
        if (len == 0) break;
        if (offset + 1 + len > length) return false;
        // Each label is followed by '.'; all of it must fit the name buffer with its NUL.
        if (name.size() + len + 1 >= kDnsNameBufferSize) return false;
        name.append(reinterpret_cast<const char*>(data + offset + 1), len);
        name += '.';
        offset += 1 + len;
    }
    if (!name.empty()) name.pop_back();
    out = String(name);
    return true;
}

int decodeDnsResponse(const uint8_t* data, size_t length, const DnsDecodeOptions& options,
                      DnsAnswer& answer) {
    DnsRecordList records;
    int result = decodeDnsResponse(data, length, options, records);
    for (const DnsRecord& record : records) answer.add(record);
    return result;
}

int decodeDnsResponse(const uint8_t* data, size_t length, const DnsDecodeOptions& options,
                      DnsRecordList& records) {
    if (length < kDnsHeaderSize) return kDnsShort;
    unsigned id = get16(data), flags = get16(data + 2);
    unsigned qd = get16(data + 4), an = get16(data + 6), ns = get16(data + 8), ar = get16(data + 10);
    if (options.trace >= 2)
        std::printf("Response id = %u, resp = %u, QD=%u/AN=%u/NS=%u/AR=%u\n", id, flags & 0xF, qd, an, ns, ar);
    size_t at = kDnsHeaderSize;
    for (unsigned i = 0; i < qd; ++i) {
        if (i >= kDnsMaxQuestions) return kDnsRefused;
        if (!skipName(data, length, at) || at + 4 > length) return kDnsShort;
        at += 4;
    }
    for (unsigned i = 0; i < an; ++i) {
        if (i >= kDnsMaxAnswers) return kDnsRefused;
        if (!skipName(data, length, at) || at + 10 > length) return kDnsShort;
        unsigned type = get16(data + at);
        uint32_t ttl = get32(data + at + 4);
        size_t size = get16(data + at + 8);
        size_t start = at + 10, end = start + size;
        if (end > length) return kDnsShort;
        at = end;
        if (options.trace >= 2)
            std::printf("Answer %u: type = %u (%s), ttl = %u, len = %zu\n", i + 1, type, typeName(type),
                        static_cast<unsigned>(ttl), size);
        DnsRecord record;
        record.type = static_cast<uint16_t>(type);
        record.ttl = ttl;
        switch (type) {
        case kDnsTypeMx:
            if (size < 3) continue;
            record.preference = get16(data + start);
            if (!readDnsName(data, length, start + 2, false, record.name)) return kDnsRefused;
            if (options.trace >= 2)
                std::printf("  MX preference = %u, exchange = %s\n", record.preference, record.name.c_str());
            break;
        case kDnsTypeA: {
            if (size < 4) continue;
            char dotted[16];
            std::snprintf(dotted, sizeof dotted, "%u.%u.%u.%u", data[start], data[start + 1], data[start + 2],
                          data[start + 3]);
            record.text = dotted;
            if (options.trace >= 2) std::printf("  A address = %s\n", dotted);
            break;
        }
        case kDnsTypeAaaa: {
            if (size < 16) continue;
            char text[INET6_ADDRSTRLEN];
            ::inet_ntop(AF_INET6, data + start, text, sizeof text);
            record.text = text;
            if (options.trace >= 2) std::printf("  AAAA address = %s\n", text);
            break;
        }
        case kDnsTypeNs:
            if (size < 1) continue;
            if (!readDnsName(data, length, start, options.nameServerNames, record.text)) return kDnsRefused;
            if (options.trace >= 2) std::printf("  NS name = %s\n", record.text.c_str());
            break;
        case kDnsTypeTxt: {
            // The character-strings of the record, joined without separator.
            std::string text;
            size_t p = start;
            while (p < end) {
                size_t piece = data[p];
                if (p + 1 + piece > end) break;
                text.append(reinterpret_cast<const char*>(data + p + 1), piece);
                p += 1 + piece;
            }
            record.text = String(text);
            if (options.trace >= 2) std::printf("  TXT text = %s\n", record.text.c_str());
            break;
        }
        case kDnsTypeSrv:
            if (size < 7) continue;
            record.preference = get16(data + start);
            record.weight = get16(data + start + 2);
            record.port = get16(data + start + 4);
            if (!readDnsName(data, length, start + 6, false, record.name)) return kDnsRefused;
            if (options.trace >= 2)
                std::printf("  SRV priority = %u, weight = %u, port = %u, target = %s\n", record.preference,
                            record.weight, record.port, record.name.c_str());
            break;
        default:
            continue; // skipped by its data length
        }
        records.push_back(record);
    }
    return kDnsDecoded;
}

void dumpDnsBytes(const uint8_t* data, size_t length) {
    for (size_t line = 0; line < length; line += 16) {
        char hex[16 * 3 + 1] = {};
        char text[17] = {};
        for (size_t i = 0; i < 16; ++i) {
            if (line + i < length) {
                uint8_t b = data[line + i];
                std::snprintf(hex + i * 3, 4, "%02x ", b);
                text[i] = std::isprint(b) ? static_cast<char>(b) : '.';
            } else {
                std::snprintf(hex + i * 3, 4, "   ");
                text[i] = ' ';
            }
        }
        std::printf("%04zx  %s %s\n", line, hex, text);
    }
}

} // namespace qarvel
