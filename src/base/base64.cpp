// Streaming base64: the encoder and decoder states and their scalar loops.
#include "base/base64.h"

#include "base/base64_kernels.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>

namespace qarvel {

namespace {
const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
}

Base64Encoder::Base64Encoder(ByteSink& out, int lineLength, char char63)
    : out_(out), lineLength_(lineLength > 0 ? lineLength : 0) {
    std::memcpy(alphabet_, kAlphabet, sizeof alphabet_);
    alphabet_[63] = char63;
}

char* Base64Encoder::encodeGroup(const unsigned char* in, char* out) const {
    out[0] = alphabet_[in[0] >> 2];
    out[1] = alphabet_[((in[0] & 3) << 4) | (in[1] >> 4)];
    out[2] = alphabet_[((in[1] & 15) << 2) | (in[2] >> 6)];
    out[3] = alphabet_[in[2] & 63];
    return out + 4;
}

void Base64Encoder::flushOut() {
    if (used_) out_.write(buffer_, used_);
    used_ = 0;
}

namespace {

// Two output characters per 12 input bits, for the standard alphabet; built once.
struct PairTable {
    uint16_t pairs[4096];
    PairTable() {
        for (unsigned v = 0; v < 4096; ++v) {
            char two[2] = {kAlphabet[v >> 6], kAlphabet[v & 63]};
            std::memcpy(&pairs[v], two, 2);
        }
    }
};

const PairTable& pairTable() {
    static const PairTable table;
    return table;
}

}  // namespace

void Base64Encoder::emitGroup(const unsigned char* group) {
    if (used_ + 6 > sizeof buffer_) flushOut();
    encodeGroup(group, buffer_ + used_);
    used_ += 4;
    column_ += 4;
    if (lineLength_ > 0 && column_ >= lineLength_) {
        buffer_[used_++] = '\r';
        buffer_[used_++] = '\n';
        column_ = 0;
    }
}

void Base64Encoder::put(const void* data, size_t count) {
    const unsigned char* in = static_cast<const unsigned char*>(data);
    // Complete a pending group first.
    while (pending_ > 0 && pending_ < 3 && count > 0) {
        bytes_[pending_++] = *in++;
        --count;
    }
    if (pending_ == 3) {
        emitGroup(bytes_);
        pending_ = 0;
    }
    if (alphabet_[63] != '/') {
        for (; count >= 3; in += 3, count -= 3) emitGroup(in);
    } else {
        // Whole groups up to the end of the line (or of the buffer) in one tight loop, two
        // characters per table look-up; the output is the same as group by group.
        const uint16_t* pairs = pairTable().pairs;
        const size_t perLine = (static_cast<size_t>(lineLength_) + 3) / 4;
        while (count >= 3) {
            if (lineLength_ > 0 && column_ == 0) {
                size_t lines = encodeBase64Lines(in, count, perLine, buffer_ + used_, sizeof buffer_ - used_);
                in += lines * perLine * 3;
                count -= lines * perLine * 3;
                used_ += lines * (perLine * 4 + 2);
                if (count < 3) break;
            }
            size_t groups = count / 3;
            if (lineLength_ > 0) groups = std::min<size_t>(groups, (lineLength_ - column_ + 3) / 4);
            size_t room = sizeof buffer_ - used_;
            groups = std::min<size_t>(groups, room > 2 ? (room - 2) / 4 : 0);
            if (groups == 0) {
                flushOut();
                continue;
            }
            char* o = buffer_ + used_;
            size_t fast = encodeBase64Blocks(in, groups, count, o);
            in += fast * 3;
            o += fast * 4;
            for (size_t g = fast; g < groups; ++g, in += 3, o += 4) {
                uint32_t v = uint32_t(in[0]) << 16 | uint32_t(in[1]) << 8 | in[2];
                uint16_t hi = pairs[v >> 12], lo = pairs[v & 4095];
                std::memcpy(o, &hi, 2);
                std::memcpy(o + 2, &lo, 2);
            }
            count -= groups * 3;
            used_ += groups * 4;
            column_ += static_cast<int>(groups * 4);
            if (lineLength_ > 0 && column_ >= lineLength_) {
                buffer_[used_++] = '\r';
                buffer_[used_++] = '\n';
                column_ = 0;
            }
        }
    }
    for (size_t i = 0; i < count; ++i) bytes_[pending_++] = in[i];
}

void Base64Encoder::finish() {
    if (used_ + 8 > sizeof buffer_) flushOut();
    if (pending_ > 0) {
        unsigned char group[3] = {bytes_[0], pending_ > 1 ? bytes_[1] : (unsigned char)0, 0};
        char* o = buffer_ + used_;
        encodeGroup(group, o);
        if (pending_ == 1) o[2] = '=';
        o[3] = '=';
        used_ += 4;
        column_ += 4;
        pending_ = 0;
    }
    if (lineLength_ > 0 && column_ != 0) {
        buffer_[used_++] = '\r';
        buffer_[used_++] = '\n';
        column_ = 0;
    }
    flushOut();
}

namespace {

constexpr uint32_t kBadBits = 0x01000000;

// Per input position, the 6-bit value of each character shifted into its place in the 24-bit
// group, or kBadBits for characters outside the standard alphabet.
struct DecodeTables {
    uint32_t d0[256], d1[256], d2[256], d3[256];
    DecodeTables() {
        for (int c = 0; c < 256; ++c) d0[c] = d1[c] = d2[c] = d3[c] = kBadBits;
        for (uint32_t v = 0; v < 64; ++v) {
            unsigned char c = static_cast<unsigned char>(kAlphabet[v]);
            d0[c] = v << 18;
            d1[c] = v << 12;
            d2[c] = v << 6;
            d3[c] = v;
        }
    }
};

const DecodeTables& decodeTables() {
    static const DecodeTables tables;
    return tables;
}

}  // namespace

size_t decodeBase64Lines(const unsigned char*& in, const unsigned char* end, char* out) {
    const DecodeTables& t = decodeTables();
    char* o = out + decodeBase64LineBlocks(in, end, out);
    // What the vector loop leaves: the last few groups, or the group where it stopped.
    while (end - in >= 4) {
        uint32_t x = t.d0[in[0]] | t.d1[in[1]] | t.d2[in[2]] | t.d3[in[3]];
        if (x & kBadBits) {
            size_t lineEnd = skipLineEnd(in, end);
            if (lineEnd == 0) break;
            in += lineEnd;
            o += decodeBase64LineBlocks(in, end, o);
            continue;
        }
        // The three bytes in order, then a 0 that the next group overwrites.
        uint32_t w = std::endian::native == std::endian::little ? __builtin_bswap32(x << 8) : x << 8;
        std::memcpy(o, &w, 4);
        in += 4;
        o += 3;
    }
    return static_cast<size_t>(o - out);
}

Base64Decoder::Base64Decoder(ByteSink& out, char char63) : out_(out) {
    std::memset(values_, -1, sizeof values_);
    for (int i = 0; i < 63; ++i) values_[static_cast<unsigned char>(kAlphabet[i])] = static_cast<signed char>(i);
    values_[static_cast<unsigned char>(char63)] = 63;
    standard_ = char63 == '/';
}

void Base64Decoder::put(const char* text, size_t count) {
    const unsigned char* in = reinterpret_cast<const unsigned char*>(text);
    const unsigned char* end = in + count;
    while (in < end) {
        // Fast path: runs of whole groups of four alphabet characters, one table look-up per
        // character giving its bits already in place; any other character leaves the run and
        // is handled (skipped) below.
        if (pending_ == 0 && standard_) {
            while (end - in >= 4) {
                size_t room = sizeof buffer_ - used_;
                if (room < 64) {
                    out_.write(buffer_, used_);
                    used_ = 0;
                    continue;
                }
                const unsigned char* stop = in + std::min<size_t>(static_cast<size_t>(end - in), (room - 1) / 3 * 4);
                used_ += decodeBase64Lines(in, stop, buffer_ + used_);
                if (stop - in >= 4) break;  // a character outside the alphabet
                if (stop == end) break;
            }
            if (in >= end) break;
        }
        int v = values_[*in++];
        if (v < 0) continue;
        bits_ = (bits_ << 6) | unsigned(v);
        if (++pending_ == 4) {
            if (used_ + 3 > sizeof buffer_) {
                out_.write(buffer_, used_);
                used_ = 0;
            }
            buffer_[used_++] = static_cast<char>(bits_ >> 16);
            buffer_[used_++] = static_cast<char>(bits_ >> 8);
            buffer_[used_++] = static_cast<char>(bits_);
            pending_ = 0;
            bits_ = 0;
        }
    }
}

void Base64Decoder::finish() {
    if (pending_ > 0) {
        unsigned v = bits_ << (6 * (4 - pending_));
        if (used_ + 2 > sizeof buffer_) {
            out_.write(buffer_, used_);
            used_ = 0;
        }
        buffer_[used_++] = static_cast<char>(v >> 16);
        if (pending_ == 3) buffer_[used_++] = static_cast<char>(v >> 8);
        pending_ = 0;
        bits_ = 0;
    }
    if (used_) out_.write(buffer_, used_);
    used_ = 0;
}

String base64Encode(const void* bytes, size_t count, int lineLength) {
    StringSink sink;
    Base64Encoder encoder(sink, lineLength);
    encoder.put(bytes, count);
    encoder.finish();
    return String(sink.text);
}

String base64Decode(const char* text, size_t count) {
    StringSink sink;
    Base64Decoder decoder(sink);
    decoder.put(text, count);
    decoder.finish();
    return String(sink.text);
}

}  // namespace qarvel
