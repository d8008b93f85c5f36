#!/usr/bin/env bash
# Extraction benchmark: parse and extract a 256 MiB folder of mixed MIME messages with the
# file mailbox reader (-mail), next to munpack and ripmime on the same data; prints MiB/s and
# peak resident memory of each.   receive_extract.sh [BUILD_DIR]   (env BENCH_MIB, BENCH_WORK)
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$here/../build}
mib=${BENCH_MIB:-256}
work=${BENCH_WORK:-/tmp/qarvel-bench-receive}
tool=$build/bench/receive_bench
[ -x "$tool" ] || { echo "receive_extract: $tool not built" >&2; exit 1; }
data=$work/mailbox-$mib
if [ ! -f "$data.done" ]; then
  rm -rf "$data"
  python3 "$here/data/make_mailbox.py" "$data" "$mib" >/dev/null
  touch "$data.done"
fi
bytes=$(du -sb "$data" | cut -f1)
mibs() { awk -v b="$bytes" -v s="$1" 'BEGIN { printf "%.1f", (s > 0 ? b / 1048576 / s : 0) }'; }

# measure NAME COMMAND...: runs the command under /usr/bin/time, prints one result line.
measure() {
  local name=$1; shift
  local out=$work/out-$name
  rm -rf "$out"; mkdir -p "$out"
  local t0 t1
  t0=$(date +%s.%N)
  /usr/bin/time -f "%M" -o "$work/rss-$name" "$@" "$out" >/dev/null 2>"$work/err-$name" || {
    echo "receive_extract: $name failed (see $work/err-$name)" >&2; return 1; }
  t1=$(date +%s.%N)
  local s; s=$(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.3f", b - a }')
  printf "%-10s %8s MiB/s  %7.1f s  peak %6d KiB  (%d MiB input)\n" "$name" "$(mibs "$s")" "$s" "$(cat "$work/rss-$name")" "$((bytes >> 20))"
}


# The peers handle one message per run; the loop runs inside one shell, whose peak is the
# largest single run's.
munpack_all() { cd "$1" && for f in "$data"/*.eml; do munpack -q -C "$1" "$f" >/dev/null 2>&1 || true; done; }
ripmime_all() { for f in "$data"/*.eml; do ripmime -i "$f" -d "$1" --no-paranoid >/dev/null 2>&1 || true; done; }
export -f munpack_all ripmime_all
export data

echo "== receive: extract attachments from $((bytes >> 20)) MiB of messages"
measure qarvel "$tool" "$data"
command -v munpack >/dev/null && measure munpack bash -c 'munpack_all "$0"' || echo "munpack: not installed"
command -v ripmime >/dev/null && measure ripmime bash -c 'ripmime_all "$0"' || echo "ripmime: not installed"
rm -rf "$work"/out-*
