#!/usr/bin/env bash
# Extraction: parse one 256 MiB message file (text and HTML, then base64 attachments, one of
# them a quarter of the file) and write its attachments: qarvel -mail -extract: next to munpack
# and ripmime on the same file. Then the same for a folder of 2 000 mixed messages of about the
# same total (qarvel and munpack take the folder in one run; ripmime takes one file a run, so
# it runs in a shell loop, next to qarvel in the same loop). Run 1 of every tool must give
# exactly the attachments put in. A 1 GiB message, run once per tool, shows peak memory.
#   receive_extract.sh [BUILD_DIR]   (env BENCH_MIB, default 256; BENCH_FOLDER_MESSAGES, 2000)
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

qarvel="$fresh; \$T '$QARVEL' -mail -host:'$data' -extract:$out -q > $BENCH_OUT/extract-qarvel.txt"

tool qarvel "qarvel -mail -extract:" "$qarvel" "$same"
tool munpack munpack "$fresh; \$T munpack -q -C $out '$data' > /dev/null" "$same"
tool ripmime ripmime "$fresh; \$T ripmime -i '$data' -d $out --no-paranoid" "$same"
compare receive_extract "$mib MiB file" "$work" "$size" MiB
rm -rf "$out"

# Memory must not grow with the message: the same kind of message at 1 GiB, one run of each
# tool (its peak memory is the point of this case; BENCH_BIG_MIB=0 leaves it out).
big=${BENCH_BIG_MIB:-1024}
if [ "$big" -gt 0 ]; then
  bigdata=$BENCH_DATA/mailbox-$big.eml
  bigmanifest=$BENCH_DATA/mailbox-$big.md5
  if [ ! -s "$bigmanifest" ]; then
    python3 "$bench_root/bench/data/make_mailbox.py" "$bigdata" "$big" "$bigmanifest" >/dev/null || exit 1
  fi
  bigsize=$(awk -v b="$(stat -c %s "$bigdata")" 'BEGIN { printf "%.1f", b / 1048576 }')
  same="same_set '$bigmanifest' $out 'a*.bin'"
  tool qarvel "qarvel -mail -extract:" "$fresh; \$T '$QARVEL' -mail -host:'$bigdata' -extract:$out -q > /dev/null" "$same"
  tool munpack munpack "$fresh; \$T munpack -q -C $out '$bigdata' > /dev/null" "$same"
  tool ripmime ripmime "$fresh; \$T ripmime -i '$bigdata' -d $out --no-paranoid" "$same"
  BENCH_RUNS=1 compare receive_extract "$big MiB file (memory; 1 run)" "1 message, $bigsize MiB, $(grep -c . "$bigmanifest") attachments" "$bigsize" MiB
  rm -rf "$out"
fi

# The folder of mixed messages.
count=${BENCH_FOLDER_MESSAGES:-2000}
folder=$BENCH_DATA/folder-$count-$mib
manifest=$folder.md5
if [ ! -s "$manifest" ]; then
  rm -rf "$folder"
  python3 "$bench_root/bench/data/make_folder.py" "$folder" "$count" "$mib" "$manifest" >/dev/null || exit 1
fi
size=$(du -sb "$folder" | awk '{ printf "%.1f", $1 / 1048576 }')
work="$count messages, $size MiB, $(grep -c . "$manifest") attachments"
same="same_set '$manifest' $out 'm*.bin'"
# One process for the whole folder: qarvel and munpack.
tool qarvel "qarvel -mail -extract:" "$fresh; \$T '$QARVEL' -mail -host:'$folder' -extract:$out -q > $BENCH_OUT/extract-qarvel.txt" "$same"
tool munpack munpack "$fresh; \$T munpack -q -C $out $folder/*.eml > /dev/null 2>&1" "$same"
compare receive_extract "$count messages in one process" "$work" "$size" MiB
# One process per message: ripmime takes one file a run, so both run in the same loop.
tool qarvel-loop "qarvel (loop)" "$fresh; for m in $folder/*.eml; do \$T '$QARVEL' -mail -host:\$m -extract:$out -q > /dev/null || exit 1; done" "$same"
tool ripmime "ripmime (loop)" "$fresh; for m in $folder/*.eml; do \$T ripmime -i \$m -d $out --no-paranoid || exit 1; done" "$same"
compare receive_extract "$count messages as $count processes" "$work" "$size" MiB
rm -rf "$out"
