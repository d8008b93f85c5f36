#!/usr/bin/env bash
# base64 through the program's filters (-encode:base64, -decode:base64, standard input to
# standard output) next to coreutils base64 on the same 256 MiB of random data, and the
# library's Base64Encoder/Base64Decoder in memory (bench/codec_bench).
#   base64.sh [BUILD_DIR]   (env BENCH_MIB, default 256)
. "$(dirname "$0")/../lib.sh"
mib=${BENCH_MIB:-256}
raw=$BENCH_DATA/random-$mib.bin
enc=$BENCH_DATA/random-$mib.b64
random_file "$raw" "$mib"
[ -s "$enc" ] || base64 < "$raw" > "$enc"
out=$BENCH_OUT/base64-out
work="$mib MiB"

# The program writes CR LF line ends, coreutils LF: the same text once the CRs are gone.
measure coreutils "\$T base64 < '$raw' > '$out'" "cmp '$out' '$enc'"
row base64 encode "coreutils base64" "$work" "$mib" MiB
measure qarvel "\$T '$QARVEL' -encode:base64 < '$raw' > '$out'" "tr -d '\r' < '$out' | cmp - '$enc'"
row base64 encode "qarvel -encode:base64" "$work" "$mib" MiB

measure coreutils "\$T base64 -d < '$enc' > '$out'" "cmp '$out' '$raw'"
row base64 decode "coreutils base64 -d" "$work" "$mib" MiB
measure qarvel "\$T '$QARVEL' -decode:base64 < '$enc' > '$out'" "cmp '$out' '$raw'"
row base64 decode "qarvel -decode:base64" "$work" "$mib" MiB
rm -f "$out"

# The library in memory: codec_bench checks the decoded length itself and prints MiB/s.
lib=$("$BENCH_BUILD/bench/codec_bench" lib "$mib" 2>/dev/null)
for d in encode decode; do
  rate=$(echo "$lib" | grep "^library-$d," | cut -d, -f2)
  STATUS=ok; PEAK=; MEDIAN=$(awk -v m="$mib" -v r="${rate:-0}" 'BEGIN { printf "%.4f", (r > 0 ? m / r : 0) }')
  [ -n "$rate" ] || STATUS=failed
  row base64 "$d" "qarvel library (in memory)" "$work" "$mib" MiB "Base64Encoder/Decoder, 64 KiB pieces"
done
