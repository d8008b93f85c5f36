#include "base/base64.h"

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

void Base64Encoder::put(const void* data, size_t count) {
    const unsigned char* in = static_cast<const unsigned char*>(data);
    // Complete a pending group first.
    while (pending_ > 0 && pending_ < 3 && count > 0) {
        bytes_[pending_++] = *in++;
        --count;
    }
    const unsigned char* group = pending_ == 3 ? bytes_ : nullptr;
    for (;;) {
        if (!group) {
            if (count < 3) break;
            group = in;
            in += 3;
            count -= 3;
        }
        if (used_ + 6 > sizeof buffer_) flushOut();
        char* o = encodeGroup(group, buffer_ + used_);
        used_ += 4;
        group = nullptr;
        pending_ = 0;
        column_ += 4;
        if (lineLength_ > 0 && column_ >= lineLength_) {
            buffer_[used_++] = '\r';
            buffer_[used_++] = '\n';
            column_ = 0;
        }
        (void)o;
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

Base64Decoder::Base64Decoder(ByteSink& out, char char63) : out_(out) {
    std::memset(values_, -1, sizeof values_);
    for (int i = 0; i < 63; ++i) values_[static_cast<unsigned char>(kAlphabet[i])] = static_cast<signed char>(i);
    values_[static_cast<unsigned char>(char63)] = 63;
}

void Base64Decoder::put(const char* text, size_t count) {
    const unsigned char* in = reinterpret_cast<const unsigned char*>(text);
    const unsigned char* end = in + count;
    while (in < end) {
        // Fast path: whole groups of four alphabet characters.
        if (pending_ == 0) {
            while (end - in >= 4) {
                int a = values_[in[0]], b = values_[in[1]], c = values_[in[2]], d = values_[in[3]];
                if ((a | b | c | d) < 0) break;
                if (used_ + 3 > sizeof buffer_) {
                    out_.write(buffer_, used_);
                    used_ = 0;
                }
                unsigned v = unsigned(a) << 18 | unsigned(b) << 12 | unsigned(c) << 6 | unsigned(d);
                buffer_[used_++] = static_cast<char>(v >> 16);
                buffer_[used_++] = static_cast<char>(v >> 8);
                buffer_[used_++] = static_cast<char>(v);
                in += 4;
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
