// The DNS wire format without any socket: building a framed query and decoding a response.
// Kept apart from DnsClient so that the decoder can be driven straight from bytes (tests, fuzzing).
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/string.h"
#include "net/dns_answer.h"

namespace qarvel {

// Sizes of the wire format the resolver relies on.
constexpr size_t kDnsQueryBufferSize = 512; // the whole framed query
constexpr size_t kDnsHeaderSize = 12;
constexpr size_t kDnsNameBufferSize = 256;  // a decoded name and its NUL
constexpr size_t kDnsMaxLabel = 63;
// Caps on the counts a response claims: no real answer comes near them.
constexpr unsigned kDnsMaxQuestions = 16;
constexpr unsigned kDnsMaxAnswers = 1024;
// Compression pointers followed within one name before it counts as a loop.
constexpr int kDnsMaxPointerJumps = 32;

// Results of decoding.
enum DnsDecodeResult : int {
    kDnsDecoded = 1,   // every record the header announced was read
    kDnsShort = 0,     // the bytes ended early; the records before the end were kept
    kDnsRefused = -1,  // a name that loops, does not fit the name buffer or has a bad label
};

// Builds the query for name and record type into buffer: the two-byte length prefix
// (TCP framing), the header with the given ID and recursion desired, one question of
// class IN. Returns the number of bytes including the prefix, or -1 when the name does
// not fit (a label over 63 bytes, or a message over the buffer's capacity).
int buildDnsQuery(uint16_t id, const String& name, int type, uint8_t* buffer, size_t capacity);

struct DnsDecodeOptions {
    int trace = 0;               // 2 or more prints the header fields and each decoded record
    bool nameServerNames = false; // NS names follow every pointer by its low byte (the NS look-up)
};

// Decodes one response (without its length prefix), appending every answer record of a
// known type to records in the order of the response. Never reads past length.
int decodeDnsResponse(const uint8_t* data, size_t length, const DnsDecodeOptions& options,
                      DnsRecordList& records);
// The same, filing the records into the answer map (key order).
int decodeDnsResponse(const uint8_t* data, size_t length, const DnsDecodeOptions& options,
                      DnsAnswer& answer);

// Decodes the name at offset into out (labels joined by '.', no trailing '.'), following
// compression pointers: the first one by its full 14-bit offset unless lowBytePointers is
// set, later ones by their low byte. Returns false for a name that loops, runs past length,
// has a reserved label type or does not fit kDnsNameBufferSize.
bool readDnsName(const uint8_t* data, size_t length, size_t offset, bool lowBytePointers, String& out);

// Hex dump of 16 bytes a line with their printable characters, to standard output.
void dumpDnsBytes(const uint8_t* data, size_t length);

} // namespace qarvel
