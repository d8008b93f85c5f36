// The vector loops behind the base64 encoder and decoder (standard alphabet only). The
// processor's best kernel is chosen once at run time; the scalar table loops in base64.cpp stay
// the reference and the fall-back, and tests can switch kernels to compare them.
#pragma once

#include <cstddef>

namespace qarvel {

enum class Base64Kernel { kScalar, kSsse3, kAvx2 };

// The kernel in use: the widest one this processor runs, unless a caller chose another.
Base64Kernel base64Kernel();
// Chooses a kernel; false (and no change) when this processor cannot run it.
bool setBase64Kernel(Base64Kernel kernel);
const char* base64KernelName(Base64Kernel kernel);

// Encodes whole blocks of groups (three bytes to four characters) from `in` while the block and
// the few bytes a vector load reads past it lie within `available` bytes, and at most `groups`
// groups. Returns the number of groups written to `out` (4 characters each, nothing past them);
// 0 with the scalar kernel.
size_t encodeBase64Blocks(const unsigned char* in, size_t groups, size_t available, char* out);

// Encodes whole lines of `perLine` groups (3 bytes in, 4 characters out each), every line ended
// with CR LF, from `available` input bytes into `room` bytes at `out`. Returns the lines written
// (perLine * 4 + 2 characters each); it may leave a few characters past them, and it stops
// early, keeping a margin for its vector loads and stores; 0 with the scalar kernel.
size_t encodeBase64Lines(const unsigned char* in, size_t available, size_t perLine, char* out, size_t room);

// Decodes whole groups of four alphabet characters from [in, end), block by block, stepping
// over line ends ("\r\n", "\n", a lone "\r") between groups, into `out`, which must have room
// for 3 bytes per 4 characters of the input and 1 more. Stops in front of the first group that
// holds any other character, or where fewer than a block and its margin are left. Returns the
// bytes written and moves `in` past what was used; 0 with the scalar kernel.
size_t decodeBase64LineBlocks(const unsigned char*& in, const unsigned char* end, char* out);

// The length of the line end ("\r\n", "\n" or a lone "\r") at `in`, or 0.
inline size_t skipLineEnd(const unsigned char* in, const unsigned char* end) {
    if (end - in >= 2 && in[0] == '\r' && in[1] == '\n') return 2;
    return in < end && (in[0] == '\n' || in[0] == '\r') ? 1 : 0;
}

}  // namespace qarvel
