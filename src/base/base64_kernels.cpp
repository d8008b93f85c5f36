// The AVX2 and SSSE3 loops of the base64 encoder and decoder, chosen at run time.
#include "base/base64_kernels.h"

#include <algorithm>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define QARVEL_BASE64_X86 1
#endif

namespace qarvel {

namespace {

#if QARVEL_BASE64_X86

// Whole lines of `perLine` groups, each followed by CR LF, in blocks of `Block` groups. The last
// block of a line may run past its end (a 76-character line is 19 groups): the characters it
// writes there are overwritten by the line break and the next line, or lie past the returned
// end. Stops at the first line whose blocks would read past `available` input bytes or write
// past `room` output bytes; returns the lines written.
template <size_t Block, typename EncodeBlock>
inline size_t encodeLines(const unsigned char* in, size_t available, size_t perLine, char* out, size_t room,
                          EncodeBlock encodeBlock) {
    const size_t blocks = (perLine + Block - 1) / Block;
    const size_t lineIn = perLine * 3, lineOut = perLine * 4 + 2;
    const size_t needIn = (blocks * Block * 3) + 4, needOut = std::max(blocks * Block * 4, lineOut);
    size_t lines = 0;
    for (; available >= std::max(needIn, lineIn) && room >= needOut; ++lines) {
        for (size_t b = 0; b < blocks; ++b) encodeBlock(in + b * Block * 3, out + b * Block * 4);
        out[perLine * 4] = '\r';
        out[perLine * 4 + 1] = '\n';
        in += lineIn;
        out += lineOut;
        available -= lineIn;
        room -= lineOut;
    }
    return lines;
}

// Whole groups of alphabet characters in blocks of `Block` groups, stepping over the line ends
// between groups, until a character that is neither. A block stores 4 bytes per group; the
// three groups of input every block keeps in reserve make the caller's room (3 bytes for every
// 4 characters, and 1 more) cover it. Returns the bytes decoded and leaves `in` after the
// characters used.
template <size_t Block, typename DecodeBlock>
inline size_t decodeLines(const unsigned char*& in, const unsigned char* end, char* out, DecodeBlock decodeBlock) {
    const unsigned char* p = in;
    char* o = out;
    while (static_cast<size_t>(end - p) >= (Block + 3) * 4) {
        size_t valid = decodeBlock(p, o);
        // A whole block moves on by a constant, so the next load need not wait for this
        // block's check: the branch is predicted and the loads run ahead.
        if (valid == Block) {
            p += Block * 4;
            o += Block * 3;
            continue;
        }
        p += valid * 4;
        o += valid * 3;
        size_t lineEnd = skipLineEnd(p, end);
        if (lineEnd == 0) break;
        p += lineEnd;
    }
    in = p;
    return static_cast<size_t>(o - out);
}

// Encoding: each group's three bytes are spread over one 32-bit lane as (b1, b0, b2, b1), the
// four 6-bit values are moved into the four bytes with two multiplies, and the values become
// characters by adding an offset that depends on their range (A-Z, a-z, 0-9, "+", "/").

__attribute__((target("ssse3"))) __m128i encodeValuesToChars(__m128i values) {
    __m128i range = _mm_subs_epu8(values, _mm_set1_epi8(51));  // 0 below 52, 1..12 above
    __m128i upper = _mm_cmpgt_epi8(_mm_set1_epi8(26), values);
    range = _mm_or_si128(range, _mm_and_si128(upper, _mm_set1_epi8(13)));
    const __m128i offsets = _mm_setr_epi8('a' - 26, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52,
                                          '0' - 52, '0' - 52, '0' - 52, '+' - 62, '/' - 63, 'A', 0, 0);
    return _mm_add_epi8(_mm_shuffle_epi8(offsets, range), values);
}

__attribute__((target("ssse3"))) __m128i spreadGroups(__m128i bytes) {
    __m128i in = _mm_shuffle_epi8(bytes, _mm_setr_epi8(1, 0, 2, 1, 4, 3, 5, 4, 7, 6, 8, 7, 10, 9, 11, 10));
    __m128i ac = _mm_mulhi_epu16(_mm_and_si128(in, _mm_set1_epi32(0x0fc0fc00)), _mm_set1_epi32(0x04000040));
    __m128i bd = _mm_mullo_epi16(_mm_and_si128(in, _mm_set1_epi32(0x003f03f0)), _mm_set1_epi32(0x01000010));
    return _mm_or_si128(ac, bd);
}

// Four groups per block; the load reads 16 bytes for the 12 it uses.
__attribute__((target("ssse3"))) inline void encodeBlockSsse3(const unsigned char* in, char* out) {
    __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), encodeValuesToChars(spreadGroups(bytes)));
}

__attribute__((target("ssse3"))) size_t encodeSsse3(const unsigned char* in, size_t groups, size_t available, char* out) {
    size_t g = 0;
    for (; g + 4 <= groups && g * 3 + 16 <= available; g += 4) encodeBlockSsse3(in + g * 3, out + g * 4);
    return g;
}

__attribute__((target("ssse3"), flatten)) size_t encodeLinesSsse3(const unsigned char* in, size_t available, size_t perLine, char* out,
                                                         size_t room) {
    return encodeLines<4>(in, available, perLine, out, room, [](const unsigned char* i, char* o) { encodeBlockSsse3(i, o); });
}

__attribute__((target("avx2"))) __m256i encodeValuesToChars(__m256i values) {
    __m256i range = _mm256_subs_epu8(values, _mm256_set1_epi8(51));
    __m256i upper = _mm256_cmpgt_epi8(_mm256_set1_epi8(26), values);
    range = _mm256_or_si256(range, _mm256_and_si256(upper, _mm256_set1_epi8(13)));
    const __m256i offsets = _mm256_setr_epi8(
        'a' - 26, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '+' - 62,
        '/' - 63, 'A', 0, 0, 'a' - 26, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52,
        '0' - 52, '+' - 62, '/' - 63, 'A', 0, 0);
    return _mm256_add_epi8(_mm256_shuffle_epi8(offsets, range), values);
}

// Eight groups per block: each 128-bit half takes four groups from its own 16-byte load, the
// second starting 12 bytes after the first, so a block reads 28 bytes for its 24.
__attribute__((target("avx2"))) inline void encodeBlockAvx2(const unsigned char* in, char* out) {
    const __m256i spread = _mm256_setr_epi8(1, 0, 2, 1, 4, 3, 5, 4, 7, 6, 8, 7, 10, 9, 11, 10, 1, 0, 2, 1, 4, 3, 5, 4, 7, 6,
                                            8, 7, 10, 9, 11, 10);
    __m256i bytes = _mm256_inserti128_si256(_mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(in))),
                                            _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 12)), 1);
    __m256i lanes = _mm256_shuffle_epi8(bytes, spread);
    __m256i ac = _mm256_mulhi_epu16(_mm256_and_si256(lanes, _mm256_set1_epi32(0x0fc0fc00)), _mm256_set1_epi32(0x04000040));
    __m256i bd = _mm256_mullo_epi16(_mm256_and_si256(lanes, _mm256_set1_epi32(0x003f03f0)), _mm256_set1_epi32(0x01000010));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), encodeValuesToChars(_mm256_or_si256(ac, bd)));
}

__attribute__((target("avx2"))) size_t encodeAvx2(const unsigned char* in, size_t groups, size_t available, char* out) {
    size_t g = 0;
    for (; g + 8 <= groups && g * 3 + 28 <= available; g += 8) encodeBlockAvx2(in + g * 3, out + g * 4);
    return g;
}

__attribute__((target("avx2"), flatten)) size_t encodeLinesAvx2(const unsigned char* in, size_t available, size_t perLine, char* out,
                                                        size_t room) {
    return encodeLines<8>(in, available, perLine, out, room, [](const unsigned char* i, char* o) { encodeBlockAvx2(i, o); });
}

// The whole groups before the first bad character of a block, given a mask with one bit set
// per bad character; 8 (the caller clamps it to its block) when there is none. A block cut by a
// line end still yields the groups in front of it, so a mail line of 19 groups never falls back
// to the scalar loop.
inline size_t validGroups(unsigned bad) { return bad == 0 ? 8 : static_cast<size_t>(__builtin_ctz(bad)) / 4; }

// Decoding: a character is valid when the classes of its high and its low nibble, looked up in
// two small tables, share no bit; the value is the character plus an offset chosen by its high
// nibble ("/" shares its nibble with "+" and is told apart by comparison). Two multiply-adds
// pack four 6-bit values into three bytes per 32-bit lane, a shuffle puts them in order. Each
// group's bytes come from its own lane only, so the groups in front of a bad character are
// right even when the rest of the block is not.

// Decodes one block of `Block` groups into 3 bytes per group, storing 4 per group, and returns
// the groups before the first bad character.
__attribute__((target("ssse3"))) inline size_t decodeBlockSsse3(const unsigned char* in, char* out) {
    const __m128i lowClass = _mm_setr_epi8(0x15, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x13, 0x1A, 0x1B, 0x1B, 0x1B, 0x1A);
    const __m128i highClass = _mm_setr_epi8(0x10, 0x10, 0x01, 0x02, 0x04, 0x08, 0x04, 0x08, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10);
    const __m128i offsets = _mm_setr_epi8(0, 16, 19, 4, -65, -65, -71, -71, 0, 0, 0, 0, 0, 0, 0, 0);
    const __m128i mask2F = _mm_set1_epi8(0x2f);
    __m128i chars = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));
    __m128i high = _mm_and_si128(_mm_srli_epi32(chars, 4), mask2F);
    __m128i low = _mm_and_si128(chars, mask2F);
    __m128i clash = _mm_and_si128(_mm_shuffle_epi8(lowClass, low), _mm_shuffle_epi8(highClass, high));
    size_t valid = validGroups(~_mm_movemask_epi8(_mm_cmpeq_epi8(clash, _mm_setzero_si128())) & 0xFFFF);
    __m128i slash = _mm_cmpeq_epi8(chars, mask2F);
    __m128i values = _mm_add_epi8(chars, _mm_shuffle_epi8(offsets, _mm_add_epi8(slash, high)));
    __m128i pairs = _mm_maddubs_epi16(values, _mm_set1_epi32(0x01400140));
    __m128i triples = _mm_madd_epi16(pairs, _mm_set1_epi32(0x00011000));
    triples = _mm_shuffle_epi8(triples, _mm_setr_epi8(2, 1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12, -1, -1, -1, -1));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), triples);
    return std::min<size_t>(valid, 4);
}

__attribute__((target("ssse3"), flatten)) size_t decodeLinesSsse3(const unsigned char*& in, const unsigned char* end, char* out) {
    return decodeLines<4>(in, end, out, [](const unsigned char* i, char* o) { return decodeBlockSsse3(i, o); });
}

__attribute__((target("avx2"))) inline size_t decodeBlockAvx2(const unsigned char* in, char* out) {
    const __m256i lowClass = _mm256_setr_epi8(0x15, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x13, 0x1A, 0x1B, 0x1B, 0x1B, 0x1A,
                                              0x15, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x13, 0x1A, 0x1B, 0x1B, 0x1B, 0x1A);
    const __m256i highClass = _mm256_setr_epi8(0x10, 0x10, 0x01, 0x02, 0x04, 0x08, 0x04, 0x08, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10,
                                               0x10, 0x10, 0x01, 0x02, 0x04, 0x08, 0x04, 0x08, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10);
    const __m256i offsets = _mm256_setr_epi8(0, 16, 19, 4, -65, -65, -71, -71, 0, 0, 0, 0, 0, 0, 0, 0,
                                             0, 16, 19, 4, -65, -65, -71, -71, 0, 0, 0, 0, 0, 0, 0, 0);
    const __m256i mask2F = _mm256_set1_epi8(0x2f);
    const __m256i order = _mm256_setr_epi8(2, 1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12, -1, -1, -1, -1,
                                           2, 1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12, -1, -1, -1, -1);
    const __m256i join = _mm256_setr_epi32(0, 1, 2, 4, 5, 6, 3, 7);
    __m256i chars = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in));
    __m256i high = _mm256_and_si256(_mm256_srli_epi32(chars, 4), mask2F);
    __m256i low = _mm256_and_si256(chars, mask2F);
    __m256i clash = _mm256_and_si256(_mm256_shuffle_epi8(lowClass, low), _mm256_shuffle_epi8(highClass, high));
    size_t valid = validGroups(~_mm256_movemask_epi8(_mm256_cmpeq_epi8(clash, _mm256_setzero_si256())));
    __m256i slash = _mm256_cmpeq_epi8(chars, mask2F);
    __m256i values = _mm256_add_epi8(chars, _mm256_shuffle_epi8(offsets, _mm256_add_epi8(slash, high)));
    __m256i pairs = _mm256_maddubs_epi16(values, _mm256_set1_epi32(0x01400140));
    __m256i triples = _mm256_madd_epi16(pairs, _mm256_set1_epi32(0x00011000));
    triples = _mm256_permutevar8x32_epi32(_mm256_shuffle_epi8(triples, order), join);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), triples);
    return valid;
}

__attribute__((target("avx2"), flatten)) size_t decodeLinesAvx2(const unsigned char*& in, const unsigned char* end, char* out) {
    return decodeLines<8>(in, end, out, [](const unsigned char* i, char* o) { return decodeBlockAvx2(i, o); });
}

bool runs(Base64Kernel kernel) {
    switch (kernel) {
    case Base64Kernel::kScalar: return true;
    case Base64Kernel::kSsse3: return __builtin_cpu_supports("ssse3");
    case Base64Kernel::kAvx2: return __builtin_cpu_supports("avx2");
    }
    return false;
}

#else

bool runs(Base64Kernel kernel) { return kernel == Base64Kernel::kScalar; }

#endif

Base64Kernel bestKernel() {
    if (runs(Base64Kernel::kAvx2)) return Base64Kernel::kAvx2;
    if (runs(Base64Kernel::kSsse3)) return Base64Kernel::kSsse3;
    return Base64Kernel::kScalar;
}

Base64Kernel& kernelInUse() {
    static Base64Kernel kernel = bestKernel();
    return kernel;
}

}  // namespace

Base64Kernel base64Kernel() { return kernelInUse(); }

bool setBase64Kernel(Base64Kernel kernel) {
    if (!runs(kernel)) return false;
    kernelInUse() = kernel;
    return true;
}

const char* base64KernelName(Base64Kernel kernel) {
    switch (kernel) {
    case Base64Kernel::kScalar: return "scalar";
    case Base64Kernel::kSsse3: return "ssse3";
    case Base64Kernel::kAvx2: return "avx2";
    }
    return "?";
}

size_t encodeBase64Blocks(const unsigned char* in, size_t groups, size_t available, char* out) {
#if QARVEL_BASE64_X86
    switch (kernelInUse()) {
    case Base64Kernel::kAvx2: return encodeAvx2(in, groups, available, out);
    case Base64Kernel::kSsse3: return encodeSsse3(in, groups, available, out);
    case Base64Kernel::kScalar: break;
    }
#else
    (void)in, (void)groups, (void)available, (void)out;
#endif
    return 0;
}

size_t encodeBase64Lines(const unsigned char* in, size_t available, size_t perLine, char* out, size_t room) {
#if QARVEL_BASE64_X86
    switch (kernelInUse()) {
    case Base64Kernel::kAvx2: return encodeLinesAvx2(in, available, perLine, out, room);
    case Base64Kernel::kSsse3: return encodeLinesSsse3(in, available, perLine, out, room);
    case Base64Kernel::kScalar: break;
    }
#else
    (void)in, (void)available, (void)perLine, (void)out, (void)room;
#endif
    return 0;
}

size_t decodeBase64LineBlocks(const unsigned char*& in, const unsigned char* end, char* out) {
#if QARVEL_BASE64_X86
    switch (kernelInUse()) {
    case Base64Kernel::kAvx2: return decodeLinesAvx2(in, end, out);
    case Base64Kernel::kSsse3: return decodeLinesSsse3(in, end, out);
    case Base64Kernel::kScalar: break;
    }
#else
    (void)in, (void)end, (void)out;
#endif
    return 0;
}

}  // namespace qarvel
