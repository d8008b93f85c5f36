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

// Decodes whole blocks of groups of four alphabet characters from `in` (at most `groups`) and
// stops before the first block that holds any other character. A block's store reaches up to
// eight bytes past its three bytes per group, so blocks stop three groups short of `groups`: the
// room the caller keeps for the rest covers them. Returns the groups decoded.
size_t decodeBase64Blocks(const unsigned char* in, size_t groups, char* out);

}  // namespace qarvel
