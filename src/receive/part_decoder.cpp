// Streaming decoders for the transfer encodings of message parts.
#include "receive/part_decoder.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "base/base64.h"
#include "base/quoted_printable.h"

namespace qarvel {

namespace {

// Decoded bytes are handed to the sink in blocks of this size.
constexpr size_t kOutBlock = 1024 * 1024;
// A uuencoded line holds at most 1 + 4 * 64 / 3 characters; longer lines are cut.
constexpr size_t kUuLineMax = 1024;

int base64Value(unsigned char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

} // namespace

void PartDecoder::begin(PartEncoding encoding, Sink sink, bool uuWaitBegin) {
    encoding_ = encoding;
    sink_ = std::move(sink);
    used_ = 0;
    b64Bits_ = 0;
    b64Count_ = 0;
    qpState_ = 0;
    uuLine_.clear();
    uuEnded_ = false;
    uuWaiting_ = uuWaitBegin && encoding == PartEncoding::kUuencode;
    ok_ = true;
}

char* PartDecoder::room(size_t need) {
    if (used_ + need > capacity_ && used_ > 0) flushOut();
    if (used_ + need > capacity_) {
        // The batch is made once and kept for the next parts and messages; it is not filled
        // with zeros, so only the pages that decoded bytes reach are ever touched.
        capacity_ = std::max(need, kOutBlock);
        out_.reset(new char[capacity_]);
    }
    return out_.get() + used_;
}

bool PartDecoder::emit(const char* data, size_t length) {
    while (length > 0) {
        size_t take = std::min(length, kOutBlock);
        memcpy(room(take), data, take);
        used_ += take;
        data += take;
        length -= take;
        if (used_ >= kOutBlock) flushOut();
    }
    return ok_;
}

bool PartDecoder::flushOut() {
    if (used_ > 0 && ok_ && sink_) ok_ = sink_(out_.get(), used_);
    used_ = 0;
    return ok_;
}

bool PartDecoder::put(const char* data, size_t length, bool lineEnd) {
    switch (encoding_) {
    case PartEncoding::kNone:
        return emit(data, length);
    case PartEncoding::kBase64:
        return putBase64(data, length);
    case PartEncoding::kQuotedPrintable:
        return putQuotedPrintable(data, length);
    case PartEncoding::kUuencode:
        if (uuEnded_) return ok_;
        if (uuLine_.size() < kUuLineMax)
            uuLine_.append(data, std::min(length, kUuLineMax - uuLine_.size()));
        if (lineEnd) {
            std::string line;
            line.swap(uuLine_);
            return putUuLine(line);
        }
        return ok_;
    }
    return ok_;
}

bool PartDecoder::putBase64(const char* data, size_t length) {
    // Values of the base64 alphabet; -1 for every byte that is skipped.
    static const auto table = [] {
        std::array<signed char, 256> t{};
        t.fill(-1);
        for (int c = 0; c < 256; ++c) t[static_cast<size_t>(c)] = static_cast<signed char>(base64Value(static_cast<unsigned char>(c)));
        return t;
    }();
    char* const start = room(length / 4 * 3 + 4);  // a group completed from earlier pieces, the scratch byte
    char* out = start;
    unsigned bits = b64Bits_;
    int count = b64Count_;
    const unsigned char* in = reinterpret_cast<const unsigned char*>(data);
    for (size_t i = 0; i < length; ++i) {
        // Runs of whole groups between the skipped bytes go through the codec's tables; the
        // room reserved above covers their three bytes per four characters and one more.
        if (count == 0 && length - i >= 4) {
            const unsigned char* at = in + i;
            out += decodeBase64Lines(at, in + length, out);
            i = static_cast<size_t>(at - in);
            if (i == length) break;
        }
        int v = table[in[i]];
        if (v < 0) continue;  // "=", line ends, blanks and stray bytes are skipped
        bits = (bits << 6) | static_cast<unsigned>(v);
        if (++count == 4) {
            *out++ = static_cast<char>(bits >> 16);
            *out++ = static_cast<char>(bits >> 8);
            *out++ = static_cast<char>(bits);
            bits = 0;
            count = 0;
        }
    }
    b64Bits_ = bits;
    b64Count_ = count;
    used_ += static_cast<size_t>(out - start);
    return used_ >= kOutBlock ? flushOut() : ok_;
}

bool PartDecoder::putQuotedPrintable(const char* data, size_t length) {
    // One byte in gives at most three out (a broken escape is kept as written).
    char* const start = room(length + 3);
    char* out = start;
    for (size_t i = 0; i < length; ++i) {
        char c = data[i];
        switch (qpState_) {
        case 0:
            if (c == '=') qpState_ = 1;
            else *out++ = c;
            break;
        case 1:  // after "="
            if (c == '\n') {
                qpState_ = 0;  // soft line break "=" LF
            } else if (c == '\r') {
                qpState_ = 3;
            } else if (hexDigitValue(c) >= 0) {
                qpHigh_ = c;
                qpState_ = 2;
            } else {
                *out++ = '=';  // not an escape: kept as written
                *out++ = c;
                qpState_ = 0;
            }
            break;
        case 2:  // after "=X"
            if (hexDigitValue(c) >= 0) {
                *out++ = static_cast<char>(hexDigitValue(qpHigh_) * 16 + hexDigitValue(c));
            } else {
                *out++ = '=';
                *out++ = qpHigh_;
                if (c == '=') { qpState_ = 1; continue; }
                *out++ = c;
            }
            qpState_ = 0;
            break;
        case 3:  // after "=" CR: a soft line break when LF follows
            qpState_ = 0;
            if (c != '\n') {
                *out++ = '\r';
                --i;  // look at this byte again in the plain state
            }
            break;
        }
    }
    used_ += static_cast<size_t>(out - start);
    return used_ >= kOutBlock ? flushOut() : ok_;
}

bool PartDecoder::putUuLine(const std::string& line) {
    size_t n = line.size();
    while (n > 0 && (line[n - 1] == '\n' || line[n - 1] == '\r')) --n;
    if (uuWaiting_) {
        if (n >= 6 && line.compare(0, 6, "begin ") == 0) uuWaiting_ = false;
        return ok_;
    }
    if (n >= 3 && line.compare(0, 3, "end") == 0 && (n == 3 || line[3] == ' ')) {
        uuEnded_ = true;
        return flushOut();
    }
    if (n < 2) return ok_;
    int count = (line[0] - 32) & 63;
    char* const start = room(n + 3);  // three bytes for every four characters after the first
    char* out = start;
    char bytes[3];
    for (size_t i = 1; count > 0 && i < n; i += 4) {
        int v[4];
        for (int k = 0; k < 4; ++k)
            v[k] = i + k < n ? ((line[i + k] - 32) & 63) : 0;
        bytes[0] = static_cast<char>((v[0] << 2) | (v[1] >> 4));
        bytes[1] = static_cast<char>((v[1] << 4) | (v[2] >> 2));
        bytes[2] = static_cast<char>((v[2] << 6) | v[3]);
        int take = count >= 3 ? 3 : count;
        memcpy(out, bytes, static_cast<size_t>(take));
        out += take;
        count -= take;
    }
    used_ += static_cast<size_t>(out - start);
    return used_ >= kOutBlock ? flushOut() : ok_;
}

bool PartDecoder::finish() {
    if (encoding_ == PartEncoding::kBase64 && b64Count_ > 1) {
        // A partial group: two values give one byte, three give two.
        unsigned bits = b64Bits_ << (6 * (4 - b64Count_));
        char group[2] = {static_cast<char>(bits >> 16), static_cast<char>(bits >> 8)};
        emit(group, static_cast<size_t>(b64Count_ - 1));
    }
    if (encoding_ == PartEncoding::kQuotedPrintable) {
        const char pending[2] = {'=', qpHigh_};
        if (qpState_ == 1 || qpState_ == 2) emit(pending, static_cast<size_t>(qpState_));
    }
    if (encoding_ == PartEncoding::kUuencode && !uuLine_.empty() && !uuEnded_) {
        std::string line;
        line.swap(uuLine_);
        putUuLine(line);
    }
    b64Count_ = 0;
    b64Bits_ = 0;
    qpState_ = 0;
    return flushOut();
}

} // namespace qarvel
