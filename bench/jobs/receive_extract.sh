#!/usr/bin/env bash
# Extraction: parse one 256 MiB message file (text and HTML, then base64 attachments, one of
# them a quarter of the file) and write its attachments: qarvel -mail -extract: next to munpack
# and ripmime on the same file. Run 1 of every tool must give exactly the attachments put in.
#   receive_extract.sh [BUILD_DIR]   (env BENCH_MIB, default 256)
. "$(dirname "$0")/../lib.sh"
mib=${BENCH_MIB:-256}
data=$BENCH_DATA/mailbox-$mib.eml
manifest=$BENCH_DATA/mailbox-$mib.md5
if [ ! -s "$manifest" ]; then
  python3 "$bench_root/bench/data/make_mailbox.py" "$data" "$mib" "$manifest" >/dev/null || exit 1
fi
size=$(awk -v b="$(stat -c %s "$data")" 'BEGIN { printf "%.1f", b / 1048576 }')
work="1 message, $size MiB, $(grep -c . "$manifest") attachments"
out=$BENCH_OUT/extract-out
fresh="rm -rf $out; mkdir -p $out"
same="same_set '$manifest' $out 'a*.bin'"

if opt=$(qarvel_reads); then
  qarvel="$fresh; \$T '$QARVEL' -mail $opt'$data' -extract:$out -q > $BENCH_OUT/extract-qarvel.txt"
  via=
else
  qarvel="rm -rf $out; \$T '$BENCH_BUILD/bench/receive_bench' '$data' $out"
  via="library through bench/receive_bench"
  note "receive_extract: qarvel ran through bench/receive_bench (the parser over the file reader's stream and the extraction), as the program did not yet read from the command line."
fi

measure qarvel "$qarvel" "$same"
row receive_extract "$mib MiB file" "qarvel -mail -extract:" "$work" "$size" MiB "$via"
measure munpack "$fresh; \$T munpack -q -C $out '$data' > /dev/null" "$same"
row receive_extract "$mib MiB file" "munpack" "$work" "$size" MiB
measure ripmime "$fresh; \$T ripmime -i '$data' -d $out --no-paranoid" "$same"
row receive_extract "$mib MiB file" "ripmime" "$work" "$size" MiB
rm -rf "$out"
