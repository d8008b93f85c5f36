#!/usr/bin/env bash
# The benchmark harness behind `make bench`:  bench/run.sh BUILD_DIR
# Runs every bench/jobs/*.sh; each measures qarvel and its peers on the same input in the same
# run (median of BENCH_RUNS runs, peak resident memory, result checked before any time is
# kept) and appends rows to one CSV (see bench/lib.sh). This script adds the ratio to qarvel
# and writes bench/results.csv and bench/RESULTS.md: the machine, then one table.
# env: BENCH_RUNS (5), BENCH_DATA (/tmp/qarvel-bench-data), BENCH_JOBS (job names, default all)
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
export BENCH_BUILD=$(cd "${1:-$here/../build}" && pwd)
export BENCH_RUNS=${BENCH_RUNS:-5}
export BENCH_DATA=${BENCH_DATA:-/tmp/qarvel-bench-data}
mkdir -p "$BENCH_DATA"
export BENCH_CSV=$BENCH_DATA/rows.csv BENCH_NOTES=$BENCH_DATA/notes.txt
: > "$BENCH_CSV"; : > "$BENCH_NOTES"
# Packages only the benchmarks use (library peers, never linked into the program).
bench_packages=(libmodpbase64-dev)
for p in "${bench_packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' && continue
  if [ "$(id -u)" = 0 ]; then apt-get install -y -q --no-install-recommends "$p" >/dev/null || echo "bench: could not install $p" >&2
  else echo "bench: $p is missing (run as root to install it)" >&2; fi
done
md=$here/RESULTS.md
csv=$here/results.csv

started=$(date +%s)
failed=()
for job in "$here"/jobs/*.sh; do
  name=$(basename "$job" .sh)
  [ -n "${BENCH_JOBS:-}" ] && [[ " $BENCH_JOBS " != *" $name "* ]] && continue
  echo "== $name"
  t0=$(date +%s)
  bash "$job" "$BENCH_BUILD" || failed+=("$name")
  echo "   ($name took $(($(date +%s) - t0)) s)"
done
total=$(($(date +%s) - started))

# Rows grouped by job and case in the order they first came. The ratio: a tool's median time
# over that of the first qarvel row of the same job and case (above 1: qarvel is faster).
awk -F, -v OFS=, '{ k = $1 "|" $2; if (!(k in g)) g[k] = ++n; print g[k], NR, $0 }' "$BENCH_CSV" |
  sort -t, -k1,1n -k2,2n | cut -d, -f3- > "$BENCH_CSV.sorted"
awk -F, -v OFS=, '
  { row[NR] = $0; key = $1 "|" $2
    if (!(key in ref) && $3 ~ /^qarvel/ && $6 != "") ref[key] = $6 }
  END {
    print "job,case,tool,work,runs,median_s,rate,unit,peak_kib,check,note,min_s,max_s,time_vs_qarvel"
    for (i = 1; i <= NR; i++) {
      split(row[i], f, ","); key = f[1] "|" f[2]; r = ""
      if (f[6] != "" && ref[key] > 0) r = sprintf("%.2f", f[6] / ref[key])
      print row[i], r
    }
  }' "$BENCH_CSV.sorted" > "$csv"

cpu=$(lscpu | sed -n 's/^Model name: *//p' | head -1)
ram=$(free -g | awk '/^Mem:/ { print $2 " GiB" }')
{
  echo "# Benchmark results"
  echo
  echo "Machine: $cpu, $(nproc) cores, $ram RAM, Linux $(uname -r) ($(. /etc/os-release && echo "$PRETTY_NAME"))."
  echo "Run: $(date -u '+%Y-%m-%d %H:%M UTC'), \`make bench\` took $((total / 60)) min $((total % 60)) s; every time is the median of $BENCH_RUNS runs, with the fastest and slowest beside it."
  echo
  echo "Each job runs qarvel and its peers on the same input in the same run. The first run of every"
  echo "tool is checked (same decoded bytes, same attachments, same number of messages) before any"
  echo "time of it is kept; \"same\" in the last column. Peak RSS is the largest resident set of any"
  echo "process of the tool (GNU time). \"× qarvel\" is the tool's median time over qarvel's: above 1"
  echo "means qarvel is faster."
  echo
  echo "| job | case | tool | input | median s | min–max s | rate | peak RSS MiB | × qarvel | result |"
  echo "|---|---|---|---|---:|---:|---:|---:|---:|---|"
  tail -n +2 "$csv" | while IFS=, read -r job case tool work runs med rate unit peak check note min max ratio; do
    rss=$([ -n "$peak" ] && awk -v k="$peak" 'BEGIN { printf "%.1f", k / 1024 }')
    echo "| $job | $case | $tool | $work | ${med:-–} | ${min:+$min–$max} | ${rate:+$rate $unit/s} | ${rss:-–} | ${ratio:-–} | $check${note:+ ($note)} |"
  done
  if [ -s "$BENCH_NOTES" ]; then
    echo
    echo "Notes:"
    echo
    sed 's/^/- /' "$BENCH_NOTES"
  fi
  [ ${#failed[@]} -gt 0 ] && { echo; echo "Jobs that stopped with an error: ${failed[*]}."; }
} > "$md"
cat "$md"
echo "results: $md, $csv"
[ ${#failed[@]} -eq 0 ]
