#!/usr/bin/env bash
# base64 through the program's filters (-encode:base64, -decode:base64, standard input to
# standard output) next to coreutils base64 on the same 256 MiB of random data, tools taking
# turns within each round; then the library's coders in memory next to a library peer
# (libmodpbase64, built here for the bench only) on the same buffer with the same line breaks.
#   base64.sh [BUILD_DIR]   (env BENCH_MIB, default 256)
. "$(dirname "$0")/../lib.sh"
mib=${BENCH_MIB:-256}
raw=$BENCH_DATA/random-$mib.bin
enc=$BENCH_DATA/random-$mib.b64
crlf=$BENCH_DATA/random-$mib.crlf.b64
random_file "$raw" "$mib"
[ -s "$enc" ] || base64 < "$raw" > "$enc"
[ -s "$crlf" ] || sed 's/$/\r/' "$enc" > "$crlf"
# Run 1 writes a file, for the check; the timed rounds after it write to /dev/null, so that the
# rows time the tools and not the file system.
out=$BENCH_OUT/base64-out
O="\$([ \$RUN = 1 ] && echo '$out' || echo /dev/null)"
work="$mib MiB"

# The program writes CR LF line ends, coreutils LF: the same text once the CRs are gone.
tool coreutils "coreutils base64" "\$T base64 < '$raw' > $O" "cmp '$out' '$enc'" "LF line ends"
tool qarvel "qarvel -encode:base64" "\$T '$QARVEL' -encode:base64 < '$raw' > $O" "tr -d '\r' < '$out' | cmp - '$enc'" "CR LF line ends (2.6 % more output)"
compare base64 encode "$work" "$mib" MiB

tool coreutils "coreutils base64 -d" "\$T base64 -d < '$enc' > $O" "cmp '$out' '$raw'"
tool qarvel "qarvel -decode:base64" "\$T '$QARVEL' -decode:base64 < '$enc' > $O" "cmp '$out' '$raw'"
compare base64 "decode (LF lines)" "$work" "$mib" MiB

# What MIME mail carries: CR LF line ends, which coreutils only takes with -i.
tool coreutils "coreutils base64 -d -i" "\$T base64 -d -i < '$crlf' > $O" "cmp '$out' '$raw'"
tool qarvel "qarvel -decode:base64" "\$T '$QARVEL' -decode:base64 < '$crlf' > $O" "cmp '$out' '$raw'"
compare base64 "decode (CR LF lines)" "$work" "$mib" MiB
rm -f "$out"

# In memory, no process or file: not a peer row of the filters above but the coders' ceiling,
# next to a library peer doing the same work (57-byte lines with CR LF on encode, one call per
# line on decode). The peer is built only when its library is there (make bench installs it).
lib_rows() {  # lib_rows TOOL NOTE OUTPUT
  local d rate
  for d in encode decode; do
    # library-DIRECTION,RATE,MIN,MEDIAN,MAX (seconds) from the program's own timed runs
    IFS=, read -r _ rate MIN MEDIAN MAX < <(echo "$3" | grep "^library-$d,")
    STATUS=ok; PEAK=; CPU=
    [ -n "$rate" ] || STATUS=failed
    row "base64 in memory" "$d" "$1" "$work" "$mib" MiB "$2"
  done
}
kernel=$("$BENCH_BUILD/bench/codec_bench" lib 1 2>&1 >/dev/null | sed -n 's/^kernel //p')
lib_rows "qarvel library" "Base64Encoder/Decoder in 64 KiB pieces; best kernel${kernel:+ ($kernel)}" "$("$BENCH_BUILD/bench/codec_bench" lib "$mib" 2>/dev/null)"
lib_rows "qarvel library (scalar loops)" "the same with the scalar loops" "$("$BENCH_BUILD/bench/codec_bench" lib "$mib" scalar 2>/dev/null)"
peer=$BENCH_DATA/modp_peer
if [ -f /usr/include/modp_b64.h ] && g++ -O2 -o "$peer" "$bench_root/bench/peers/modp_peer.cpp" -lmodpbase64 2>"$BENCH_DATA/modp_peer.err"; then
  lib_rows "libmodpbase64" "one call per 57-byte or 76-character line" "$("$peer" "$mib" 2>/dev/null)"
else
  note "base64: the libmodpbase64 peer was not built (libmodpbase64-dev missing?)"
fi
