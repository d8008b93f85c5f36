#!/usr/bin/env bash
# The benchmark harness behind `make bench`:  bench/run.sh BUILD_DIR
# Runs every bench/jobs/*.sh; each measures qarvel and its peers on the same input in the same
# run (median of BENCH_RUNS runs, peak resident memory, result checked before any time is
# kept) and appends rows to one CSV (see bench/lib.sh). This script adds the ratio to qarvel
# and writes bench/results.csv; render.sh turns that into bench/RESULTS.md.
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

"$here/render.sh" "$csv" "$BENCH_NOTES" "$total" "${failed[*]:-}" > "$md"
cat "$md"
echo "results: $md, $csv"
[ ${#failed[@]} -eq 0 ]
