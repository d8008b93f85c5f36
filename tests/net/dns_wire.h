// Builds DNS responses byte by byte for the resolver tests.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "net/dns_record.h"

namespace qarvel::test {

struct DnsWire {
    std::vector<uint8_t> bytes;

    void u8(unsigned v) { bytes.push_back(static_cast<uint8_t>(v)); }
    void u16(unsigned v) { u8(v >> 8); u8(v); }
    void u32(uint32_t v) { u16(v >> 16); u16(v & 0xFFFF); }
    // Labels of a dotted name and the closing zero byte.
    void name(const std::string& dotted) {
        size_t from = 0;
        while (from < dotted.size()) {
            size_t dot = dotted.find('.', from);
            if (dot == std::string::npos) dot = dotted.size();
            u8(static_cast<unsigned>(dot - from));
            for (size_t i = from; i < dot; ++i) u8(static_cast<uint8_t>(dotted[i]));
            from = dot + 1;
        }
        u8(0);
    }
    void label(const std::string& text) {
        u8(static_cast<unsigned>(text.size()));
        for (char c : text) u8(static_cast<uint8_t>(c));
    }
    void pointer(unsigned offset) { u16(0xC000 | offset); }
    void header(unsigned id, unsigned qd, unsigned an) {
        u16(id); u16(0x8180); u16(qd); u16(an); u16(0); u16(0);
    }
    // The question section for one name; returns the offset of its name.
    size_t question(const std::string& dotted, unsigned type) {
        size_t at = bytes.size();
        name(dotted);
        u16(type);
        u16(1);
        return at;
    }
    // The fixed part of an answer record whose owner is a pointer; returns the offset of the
    // data length, for patching once the data is written.
    size_t recordHead(unsigned owner, unsigned type, uint32_t ttl = 300) {
        pointer(owner);
        u16(type); u16(1); u32(ttl);
        size_t at = bytes.size();
        u16(0);
        return at;
    }
    void endRecord(size_t lengthAt) {
        size_t len = bytes.size() - lengthAt - 2;
        bytes[lengthAt] = static_cast<uint8_t>(len >> 8);
        bytes[lengthAt + 1] = static_cast<uint8_t>(len);
    }
    // A record whose data is host followed by a pointer to the name at q (the question's):
    // MX (with its preference first) or NS.
    void hostRecord(size_t q, unsigned type, const std::string& host, unsigned preference = 0) {
        size_t len = recordHead(static_cast<unsigned>(q), type);
        if (type == kDnsTypeMx) u16(preference);
        label(host);
        pointer(static_cast<unsigned>(q));
        endRecord(len);
    }
    // A whole response to an MX question for example.test, one record per (preference, host).
    static DnsWire mxResponse(unsigned id, std::initializer_list<std::pair<unsigned, const char*>> exchangers) {
        DnsWire w;
        w.header(id, 1, static_cast<unsigned>(exchangers.size()));
        size_t q = w.question("example.test", kDnsTypeMx);
        for (auto [preference, host] : exchangers) w.hostRecord(q, kDnsTypeMx, host, preference);
        return w;
    }
    std::string text() const { return std::string(bytes.begin(), bytes.end()); }
};

// Each record as "type preference host", an SRV record with ":port weight" behind.
inline std::vector<std::string> shown(const DnsRecordList& records) {
    std::vector<std::string> out;
    for (const DnsRecord& r : records)
        out.push_back(std::to_string(r.type) + " " + std::to_string(r.preference) + " " + r.host().str() +
                      (r.type == kDnsTypeSrv ? ":" + std::to_string(r.port) + " " + std::to_string(r.weight) : ""));
    return out;
}

} // namespace qarvel::test
