#!/usr/bin/env bash
# One large attachment: a message file with a short text part and one base64 attachment of
# BENCH_LARGE_MIB MiB of random bytes (CR LF lines of 76 characters), extracted to a folder by
# qarvel -mail -extract:, munpack and ripmime, next to the machine's limit for the same job in
# the same rounds: cat of the message to /dev/null, qarvel -decode:base64 of the attachment's
# base64 text to /dev/null and dd of the decoded size into the same folder, one after the other.
# Every tool's attachment must be munpack's byte for byte (cmp). Once, outside the timed runs,
# strace counts the bytes qarvel writes: no more than 1.05 times the attachment's size.
#   extract_large.sh [BUILD_DIR]   (env BENCH_LARGE_MIB, default 512)
# Alone: BENCH_JOBS=extract_large bench/run.sh BUILD_DIR, or bash bench/jobs/extract_large.sh BUILD_DIR.
. "$(dirname "$0")/../lib.sh"
mib=${BENCH_LARGE_MIB:-512}
raw=$BENCH_DATA/random-$mib.bin
body=$BENCH_DATA/random-$mib.crlf76.b64
message=$BENCH_DATA/large-$mib.eml
random_file "$raw" "$mib"
[ -s "$body" ] || { base64 -w 76 < "$raw" | sed 's/$/\r/' > "$body.tmp" && mv "$body.tmp" "$body"; } || exit 1
if [ ! -s "$message" ]; then
  {
    printf 'From: Bench <bench@example.test>\r\nTo: reader@example.test\r\nSubject: one large attachment\r\n'
    printf 'Date: Sun, 06 Dec 2026 12:00:00 +0000\r\nMIME-Version: 1.0\r\n'
    printf 'Content-Type: multipart/mixed; boundary="=_large_7"\r\n\r\n--=_large_7\r\n'
    printf 'Content-Type: text/plain; charset=us-ascii\r\n\r\nThe attachment follows.\r\n--=_large_7\r\n'
    printf 'Content-Type: application/octet-stream; name="large.bin"\r\n'
    printf 'Content-Disposition: attachment; filename="large.bin"\r\nContent-Transfer-Encoding: base64\r\n\r\n'
    cat "$body"
    printf '\r\n--=_large_7--\r\n'
  } > "$message.tmp" && mv "$message.tmp" "$message" || exit 1
fi
bytes=$(stat -c %s "$message")
size=$(awk -v b="$bytes" 'BEGIN { printf "%.1f", b / 1048576 }')
work="1 message, $size MiB, one attachment of $mib MiB"
out=$BENCH_OUT/large-out
ref=$BENCH_OUT/large-munpack.bin
# Removing the last run's output (hundreds of MiB of pages to free) is not timed.
RUN_PREP="rm -rf $out; mkdir -p $out"
# Other work on the machine stretches the times; the CPU seconds beside them do not stretch.
export BENCH_CPU_NOTE=1
# munpack goes first in each round: its first attachment is checked against the input and
# kept as the one the others are compared with.
munpack_ok="cmp $out/large.bin '$raw' && mv $out/large.bin $ref"
same="cmp $out/large.bin $ref"

# The bytes qarvel writes (write and pwrite64 results, every thread), against the size.
write_count() {
  local log=$BENCH_DATA/large-strace.txt
  rm -rf "$out.strace"; mkdir -p "$out.strace"
  strace -f -qq -e trace=write,pwrite64,writev,pwritev -e signal=none -o "$log" \
    "$QARVEL" -mail -host:"$message" -extract:"$out.strace" -q > /dev/null || return 1
  local written; written=$(awk '$NF ~ /^[0-9]+$/ && $(NF - 1) == "=" { s += $NF } END { print s + 0 }' "$log")
  rm -rf "$out.strace"
  local ratio; ratio=$(awk -v w="$written" -v a="$((mib * 1048576))" 'BEGIN { printf "%.4f", w / a }')
  note "extract_large: qarvel wrote $written bytes for a $((mib * 1048576))-byte attachment (strace: $ratio times its size)"
  echo "written $ratio times the attachment"
  awk -v r="$ratio" 'BEGIN { exit !(r <= 1.05) }'
}

tool munpack munpack "\$T munpack -q -C $out '$message' > /dev/null" "$munpack_ok"
tool qarvel "qarvel -mail -extract:" "\$T '$QARVEL' -mail -host:'$message' -extract:$out -q > /dev/null" \
  "$same && write_count"
tool ripmime ripmime "\$T ripmime -i '$message' -d $out --no-paranoid" "$same"
limit="\$T cat '$message' > /dev/null && \$T '$QARVEL' -decode:base64 < '$body' > /dev/null && \$T dd if=/dev/zero of=$out/large.bin bs=1M count=$mib status=none"
tool limit "the limit: cat + qarvel -decode:base64 + dd" "$limit" "[ \$(stat -c %s $out/large.bin) = $((mib * 1048576)) ]" \
  "the three steps one after the other; dd writes zeros of the attachment's size"
tool limit-cat "  cat of the message to /dev/null" "\$T cat '$message' > /dev/null" "true"
tool limit-decode "  qarvel -decode:base64 of the body to /dev/null" "\$T '$QARVEL' -decode:base64 < '$body' > /dev/null" \
  "'$QARVEL' -decode:base64 < '$body' | cmp - '$raw'"
tool limit-dd "  dd of $mib MiB into the folder" "\$T dd if=/dev/zero of=$out/large.bin bs=1M count=$mib status=none" "true"
compare extract_large "1 attachment of $mib MiB" "$work" "$size" MiB
RUN_PREP=
rm -rf "$out" "$ref"
