#!/usr/bin/env bash
# Writes bench/RESULTS.md (on standard output) from the CSV of one `make bench` run: the machine,
# the four figures the benchmarks aim at, then one table per job.
#   render.sh RESULTS_CSV [NOTES_FILE] [SECONDS_TAKEN] [FAILED_JOBS]
set -uo pipefail
csv=$1 notes=${2:-} total=${3:-} failed=${4:-}

# field JOB CASE TOOL COLUMN: one value of the CSV (columns as in its header line).
field() {
  awk -F, -v j="$1" -v c="$2" -v t="$3" -v col="$4" '
    NR == 1 { for (i = 1; i <= NF; i++) if ($i == col) n = i; next }
    $1 == j && $2 == c && $3 == t { print $n; exit }' "$csv"
}
calc() { awk "BEGIN { printf \"$1\", $2 }"; }
have() { [ -n "$1" ] && [ "$1" != 0 ]; }
met() { awk "BEGIN { exit !($1) }" && echo "met" || echo "not met"; }

cpu=$(lscpu | sed -n 's/^Model name: *//p' | head -1)
ram=$(free -g | awk '/^Mem:/ { print $2 " GiB" }')
runs=$(awk -F, 'NR == 2 { print $5 }' "$csv")
kernel=$(grep -o 'best kernel ([a-z0-9]*)' "$csv" | head -1 | sed 's/.*(\(.*\))/\1/')

echo "# Benchmark results"
echo
echo "Machine: $cpu, $(nproc) cores, $ram RAM, Linux $(uname -r) ($(. /etc/os-release && echo "$PRETTY_NAME"))."
echo "Run: $(date -u -r "$csv" '+%Y-%m-%d %H:%M UTC')${total:+, \`make bench\` took $((total / 60)) min $((total % 60)) s}; every time is the median of ${runs:-5} runs unless the case says otherwise, with the fastest and slowest beside it."
echo
echo "Each job runs qarvel and its peers on the same input in the same run, the tools taking turns"
echo "within each round. The first run of every tool is checked (same decoded bytes, same"
echo "attachments, same number of messages) before any time of it is kept; \"same\" in the last"
echo "column. Peak RSS is the largest resident set of any process of the tool (GNU time). \"× qarvel\""
echo "is the tool's median time over qarvel's: above 1 means qarvel is faster."

# The goals, from the rows below.
enc=$(field "base64 in memory" encode "qarvel library" rate)
dec=$(field "base64 in memory" decode "qarvel library" rate)
penc=$(field "base64 in memory" encode "libmodpbase64" rate)
pdec=$(field "base64 in memory" decode "libmodpbase64" rate)
fenc=$(field base64 encode "qarvel -encode:base64" rate)
fdec=$(field base64 "decode (CR LF lines)" "qarvel -decode:base64" rate)
tenc=$(field base64 encode "qarvel -encode:base64" median_s)
tdec=$(field base64 "decode (CR LF lines)" "qarvel -decode:base64" median_s)
mib=$(field base64 encode "qarvel -encode:base64" work | grep -o '^[0-9]*')
smtp_case=$(awk -F, '$1 == "send_many" && $2 ~ /in one session$/ { print $2; exit }' "$csv")
pipe_ratio=$(awk -F, -v c="$smtp_case" '$1 == "send_many" && $2 == c && $3 ~ /^smtp-source/ { print $14; exit }' "$csv")
big_case=$(awk -F, '$1 == "receive_extract" && $2 ~ /memory/ { print $2; exit }' "$csv")
big_peak=$(field receive_extract "$big_case" "qarvel -mail -extract:" peak_kib)
echo
echo "## Goals"
echo
echo "| goal | measured | |"
echo "|---|---|---|"
gb() { calc "%.2f" "$1 * 1.048576 / 1000"; }
if have "$enc" && have "$dec"; then
  echo "| base64 in memory on CR LF-wrapped 76-column text: encode and decode ≥ 3 GB/s | encode $(gb "$enc") GB/s, decode $(gb "$dec") GB/s (${kernel:-best} kernel)$(have "$penc" && echo "; libmodpbase64 $(gb "$penc") and $(gb "${pdec:-0}") GB/s") | $(met "$enc * 1.048576 >= 3000 && $dec * 1.048576 >= 3000") |"
fi
if have "$fenc" && have "$fdec" && have "$enc" && have "$dec"; then
  echo "| the filters, a file to /dev/null: ≥ 70 % of the in-memory rate | encode $(calc "%.0f" "100 * $fenc / $enc") %, decode $(calc "%.0f" "100 * $fdec / $dec") % ($(gb "$fenc") and $(gb "$fdec") GB/s) | $(met "$fenc >= 0.7 * $enc && $fdec >= 0.7 * $dec") |"
fi
if have "$pipe_ratio"; then
  echo "| $smtp_case with PIPELINING: ≥ 1.5 × smtp-source -d | $pipe_ratio × | $(met "$pipe_ratio >= 1.5") |"
fi
if have "$big_peak"; then
  echo "| extraction of one $big_case%% (*}: peak memory < 10 MiB | $(calc "%.1f" "$big_peak / 1024") MiB | $(met "$big_peak < 10240") |" | sed 's/%% (\*}//; s/ (memory; 1 run)//'
fi
if have "$fenc" && have "$fdec" && have "$enc" && have "$dec" && have "$mib"; then
  echo
  echo "The filters read their input with read(2) in 64 KiB blocks, a size that is still in the cache"
  echo "when the coder reads it; larger blocks, mapping the file and a second reading thread all measured"
  echo "slower on this machine. What a filter adds to the coder is then the start of the process and the"
  echo "copy of the file out of the page cache: $(calc "%.3f" "$tenc - $mib / $enc") s of the encode filter's $tenc s and $(calc "%.3f" "$tdec - $mib / $dec") s of the"
  echo "decode filter's $tdec s (the base64 text is a third larger than the bytes it carries). The coder"
  echo "itself runs at the in-memory rate, so the filters stay at about half of it."
fi

# One table per job, in the order the jobs ran.
awk -F, 'NR > 1 && !seen[$1]++ { print $1 }' "$csv" | while IFS= read -r name; do
  echo
  echo "## $name"
  [ "$name" = "base64 in memory" ] && {
    echo
    echo "Not peers of the filters above but the coders' ceiling: no process, no file, the same buffer"
    echo "coded in memory by qarvel's library and by a library peer with the same line breaks."
  }
  echo
  echo "| case | tool | input | median s | min–max s | rate | peak RSS MiB | × qarvel | result |"
  echo "|---|---|---|---:|---:|---:|---:|---:|---|"
  awk -F, -v j="$name" 'NR > 1 && $1 == j' "$csv" |
    while IFS=, read -r _ case tool work runs med rate unit peak check note min max ratio; do
      rss=$([ -n "$peak" ] && awk -v k="$peak" 'BEGIN { printf "%.1f", k / 1024 }')
      echo "| $case | $tool | $work | ${med:-–} | ${min:+$min–$max} | ${rate:+$rate $unit/s} | ${rss:-–} | ${ratio:-–} | $check${note:+ ($note)} |"
    done
done
if [ -n "$notes" ] && [ -s "$notes" ]; then
  echo
  echo "Notes:"
  echo
  sed 's/^/- /' "$notes"
fi
[ -n "$failed" ] && { echo; echo "Jobs that stopped with an error: $failed."; }
exit 0
