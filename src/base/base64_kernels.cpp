#include "base/base64_kernels.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define QARVEL_BASE64_X86 1
#endif

namespace qarvel {

namespace {

#if QARVEL_BASE64_X86

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

__attribute__((target("ssse3"))) size_t encodeSsse3(const unsigned char* in, size_t groups, size_t available, char* out) {
    size_t g = 0;
    // Four groups per block; the load reads 16 bytes for the 12 it uses.
    for (; g + 4 <= groups && g * 3 + 16 <= available; g += 4) {
        __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + g * 3));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + g * 4), encodeValuesToChars(spreadGroups(bytes)));
    }
    return g;
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

__attribute__((target("avx2"))) size_t encodeAvx2(const unsigned char* in, size_t groups, size_t available, char* out) {
    const __m256i spread = _mm256_setr_epi8(1, 0, 2, 1, 4, 3, 5, 4, 7, 6, 8, 7, 10, 9, 11, 10, 1, 0, 2, 1, 4, 3, 5, 4, 7, 6,
                                            8, 7, 10, 9, 11, 10);
    size_t g = 0;
    // Eight groups per block: each 128-bit half takes four groups from its own 16-byte load,
    // the second starting 12 bytes after the first, so a block reads 28 bytes for its 24.
    for (; g + 8 <= groups && g * 3 + 28 <= available; g += 8) {
        const unsigned char* p = in + g * 3;
        __m256i bytes = _mm256_inserti128_si256(
            _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p))),
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 12)), 1);
        __m256i lanes = _mm256_shuffle_epi8(bytes, spread);
        __m256i ac = _mm256_mulhi_epu16(_mm256_and_si256(lanes, _mm256_set1_epi32(0x0fc0fc00)), _mm256_set1_epi32(0x04000040));
        __m256i bd = _mm256_mullo_epi16(_mm256_and_si256(lanes, _mm256_set1_epi32(0x003f03f0)), _mm256_set1_epi32(0x01000010));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + g * 4), encodeValuesToChars(_mm256_or_si256(ac, bd)));
    }
    return g;
}

// Decoding: a character is valid when the classes of its high and its low nibble, looked up in
// two small tables, share no bit; the value is the character plus an offset chosen by its high
// nibble ("/" shares its nibble with "+" and is told apart by comparison). Two multiply-adds
// pack four 6-bit values into three bytes per 32-bit lane, a shuffle puts them in order.

__attribute__((target("ssse3"))) size_t decodeSsse3(const unsigned char* in, size_t groups, char* out) {
    const __m128i lowClass = _mm_setr_epi8(0x15, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x13, 0x1A, 0x1B, 0x1B, 0x1B, 0x1A);
    const __m128i highClass = _mm_setr_epi8(0x10, 0x10, 0x01, 0x02, 0x04, 0x08, 0x04, 0x08, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10);
    const __m128i offsets = _mm_setr_epi8(0, 16, 19, 4, -65, -65, -71, -71, 0, 0, 0, 0, 0, 0, 0, 0);
    const __m128i mask2F = _mm_set1_epi8(0x2f);
    size_t g = 0;
    // Four groups per block; the store writes 16 bytes for 12.
    for (; g + 4 + 3 <= groups; g += 4) {
        __m128i chars = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + g * 4));
        __m128i high = _mm_and_si128(_mm_srli_epi32(chars, 4), mask2F);
        __m128i low = _mm_and_si128(chars, mask2F);
        __m128i clash = _mm_and_si128(_mm_shuffle_epi8(lowClass, low), _mm_shuffle_epi8(highClass, high));
        if (_mm_movemask_epi8(_mm_cmpeq_epi8(clash, _mm_setzero_si128())) != 0xFFFF) break;
        __m128i slash = _mm_cmpeq_epi8(chars, mask2F);
        __m128i values = _mm_add_epi8(chars, _mm_shuffle_epi8(offsets, _mm_add_epi8(slash, high)));
        __m128i pairs = _mm_maddubs_epi16(values, _mm_set1_epi32(0x01400140));
        __m128i triples = _mm_madd_epi16(pairs, _mm_set1_epi32(0x00011000));
        triples = _mm_shuffle_epi8(triples, _mm_setr_epi8(2, 1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12, -1, -1, -1, -1));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + g * 3), triples);
    }
    return g;
}

__attribute__((target("avx2"))) size_t decodeAvx2(const unsigned char* in, size_t groups, char* out) {
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
    size_t g = 0;
    // Eight groups per block; the store writes 32 bytes for 24.
    for (; g + 8 + 3 <= groups; g += 8) {
        __m256i chars = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + g * 4));
        __m256i high = _mm256_and_si256(_mm256_srli_epi32(chars, 4), mask2F);
        __m256i low = _mm256_and_si256(chars, mask2F);
        if (!_mm256_testz_si256(_mm256_shuffle_epi8(lowClass, low), _mm256_shuffle_epi8(highClass, high))) break;
        __m256i slash = _mm256_cmpeq_epi8(chars, mask2F);
        __m256i values = _mm256_add_epi8(chars, _mm256_shuffle_epi8(offsets, _mm256_add_epi8(slash, high)));
        __m256i pairs = _mm256_maddubs_epi16(values, _mm256_set1_epi32(0x01400140));
        __m256i triples = _mm256_madd_epi16(pairs, _mm256_set1_epi32(0x00011000));
        triples = _mm256_permutevar8x32_epi32(_mm256_shuffle_epi8(triples, order), join);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + g * 3), triples);
    }
    return g;
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

size_t decodeBase64Blocks(const unsigned char* in, size_t groups, char* out) {
#if QARVEL_BASE64_X86
    switch (kernelInUse()) {
    case Base64Kernel::kAvx2: return decodeAvx2(in, groups, out);
    case Base64Kernel::kSsse3: return decodeSsse3(in, groups, out);
    case Base64Kernel::kScalar: break;
    }
#else
    (void)in, (void)groups, (void)out;
#endif
    return 0;
}

}  // namespace qarvel
