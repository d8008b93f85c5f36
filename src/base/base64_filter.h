// The -encode:base64 and -decode:base64 filters: standard input to standard output, streamed in
// large blocks so memory stays the same whatever the input size; a second thread reads ahead
// while the first codes and writes.
#pragma once

#include <cstdio>

namespace qarvel {

// Both return 0, or 1 when reading or writing failed (after a message on stderr).
int encodeBase64Filter(std::FILE* in, std::FILE* out);
int decodeBase64Filter(std::FILE* in, std::FILE* out);

}  // namespace qarvel
