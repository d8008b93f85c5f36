#!/usr/bin/env bash
# The benchmark harness behind `make bench`:  bench/run.sh BUILD_DIR
# Runs the base64 codec benchmark (the filters and the library next to coreutils base64 on the
# same data, median of 5, peak resident memory), then every bench/jobs/*.sh with BUILD_DIR.
# Writes bench/RESULTS.md (Markdown) and bench/results.csv; a job's lines of the form
# "NAME  X MiB/s ... peak N KiB" become rows, the rest of its output is kept as text.
# env: BENCH_MIB (default 256), BENCH_WORK (default /tmp/qarvel-bench-codec), BENCH_RUNS (5)
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../build}" && pwd)
mib=${BENCH_MIB:-256}
runs=${BENCH_RUNS:-5}
work=${BENCH_WORK:-/tmp/qarvel-bench-codec}
md=$here/RESULTS.md
csv=$here/results.csv
mkdir -p "$work"
trap 'rm -f "$work"/out-*' EXIT

raw=$work/raw-$mib.bin
enc=$work/raw-$mib.b64
[ -f "$raw" ] || head -c $((mib * 1048576)) /dev/urandom > "$raw"
[ -f "$enc" ] || base64 < "$raw" > "$enc"

# The filters through the program when it takes -encode:base64, else the bench driver.
driver=$build/bench/codec_bench
probe=$(printf 'abc' | "$build/qarvel" -encode:base64 2>/dev/null | tr -d '\r\n\0')
if [ "$probe" = "YWJj" ]; then
  filter_enc=("$build/qarvel" -encode:base64); filter_dec=("$build/qarvel" -decode:base64); via="qarvel"
else
  filter_enc=("$driver" encode); filter_dec=("$driver" decode); via="codec_bench"
fi

# measure NAME INPUT COMMAND...: median seconds of $runs runs and the largest peak RSS (KiB).
measure() {
  local name=$1 input=$2; shift 2
  local times=() peak=0 i t0 t1 rss
  for ((i = 0; i < runs; i++)); do
    t0=$(date +%s.%N)
    if ! /usr/bin/time -f "%M" -o "$work/rss" "$@" < "$input" > "$work/out-$name" 2>"$work/err-$name"; then
      echo "$name: failed (see $work/err-$name)" >&2; echo "$name,fail,0"; return; fi
    t1=$(date +%s.%N)
    times+=("$(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.4f", b - a }')")
    rss=$(tail -1 "$work/rss"); [ "$rss" -gt "$peak" ] && peak=$rss
  done
  local med; med=$(printf '%s\n' "${times[@]}" | sort -g | awk '{ a[NR] = $1 } END { print a[int((NR + 1) / 2)] }')
  echo "$name,$med,$peak"
}

# Correctness first: our output must decode to the input.
"${filter_enc[@]}" < "$raw" | base64 -d -i 2>/dev/null | cmp -s - "$raw" || echo "warning: encode output does not round-trip through base64 -d" >&2
"${filter_dec[@]}" < "$enc" | cmp -s -n $((mib * 1048576)) - "$raw" || echo "warning: decode output differs from the input" >&2

rows=()
rows+=("$(measure coreutils-encode "$raw" base64)")
rows+=("$(measure filter-encode "$raw" "${filter_enc[@]}")")
rows+=("$(measure coreutils-decode "$enc" base64 -d)")
rows+=("$(measure filter-decode "$enc" "${filter_dec[@]}")")
lib=$("$driver" lib "$mib" 2>/dev/null)

mibs() { awk -v m="$mib" -v s="$1" 'BEGIN { printf "%.1f", (s > 0 ? m / s : 0) }'; }
field() { echo "$1" | cut -d, -f"$2"; }
declare -A rate peak
for r in "${rows[@]}"; do
  n=$(field "$r" 1); rate[$n]=$(mibs "$(field "$r" 2)"); peak[$n]=$(field "$r" 3)
done
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", (b > 0 ? a / b : 0) }'; }

{
  echo "# Benchmark results"
  echo
  echo "$(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) cores, $mib MiB of random data, median of $runs runs; filters run through $via."
  echo
  echo "## base64"
  echo
  echo "| case | MiB/s | ratio to coreutils | peak RSS (KiB) |"
  echo "|---|---:|---:|---:|"
  for d in encode decode; do
    echo "| coreutils base64 $d | ${rate[coreutils-$d]} | 1.00 | ${peak[coreutils-$d]} |"
    echo "| qarvel filter $d | ${rate[filter-$d]} | $(ratio "${rate[filter-$d]}" "${rate[coreutils-$d]}") | ${peak[filter-$d]} |"
    l=$(echo "$lib" | grep "^library-$d," | cut -d, -f2)
    echo "| library $d (in memory) | ${l:-n/a} | $(ratio "${l:-0}" "${rate[coreutils-$d]}") | |"
  done
} > "$md"
{
  echo "job,case,mib_per_s,peak_kib"
  for d in encode decode; do
    echo "codec,coreutils-$d,${rate[coreutils-$d]},${peak[coreutils-$d]}"
    echo "codec,filter-$d,${rate[filter-$d]},${peak[filter-$d]}"
    echo "codec,library-$d,$(echo "$lib" | grep "^library-$d," | cut -d, -f2),"
  done
} > "$csv"
cat "$md"

# Every other benchmark job: its result lines become rows, its whole output is kept.
for job in "$here"/jobs/*.sh; do
  [ -f "$job" ] || continue
  name=$(basename "$job" .sh)
  echo "== $name"
  out=$(bash "$job" "$build" 2>&1); status=$?
  echo "$out"
  {
    echo
    echo "## $name$( [ $status -ne 0 ] && echo " (exit $status)")"
    echo
    echo "| case | MiB/s | peak RSS (KiB) |"
    echo "|---|---:|---:|"
    echo "$out" | awk '/MiB\/s/ && /peak/ { r = ""; p = ""; for (i = 2; i <= NF; i++) { if ($i == "MiB/s") r = $(i-1); if ($i == "peak") p = $(i+1) } if (r != "") print "| " $1 " | " r " | " p " |" }'
    echo
    echo '```'
    echo "$out"
    echo '```'
  } >> "$md"
  echo "$out" | awk -v job="$name" '/MiB\/s/ && /peak/ { r = ""; p = ""; for (i = 2; i <= NF; i++) { if ($i == "MiB/s") r = $(i-1); if ($i == "peak") p = $(i+1) } if (r != "") print job "," $1 "," r "," p }' >> "$csv"
done
echo "results: $md, $csv"
