# Helpers shared by the benchmark jobs (sourced, not run).
#
# A job measures qarvel and its peers on the same input in the same run and appends one CSV
# row per tool to $BENCH_CSV:
#   job,case,tool,work,runs,median_s,rate,unit,peak_kib,check,note,min_s,max_s
# bench/run.sh adds the ratio to qarvel and writes the table. Every tool's first run is
# checked (same attachments, bytes or message count) before any time of it is reported.
#
# env: BENCH_CSV (rows; default stdout), BENCH_RUNS (5), BENCH_DATA (inputs kept between
# runs, default /tmp/qarvel-bench-data), BENCH_OUT (what the tools write, default on tmpfs so
# that the file system's cost of making and removing many files is no part of the figures),
# BENCH_BUILD (the build folder, set by run.sh).
set -uo pipefail
bench_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BENCH_RUNS=${BENCH_RUNS:-5}
BENCH_DATA=${BENCH_DATA:-/tmp/qarvel-bench-data}
BENCH_CSV=${BENCH_CSV:-/dev/stdout}
BENCH_BUILD=$(cd "${BENCH_BUILD:-${1:-$bench_root/build}}" && pwd)
QARVEL=$BENCH_BUILD/qarvel
BENCH_OUT=${BENCH_OUT:-$([ -d /dev/shm ] && echo /dev/shm/qarvel-bench-out || echo "$BENCH_DATA/out")}
mkdir -p "$BENCH_DATA" "$BENCH_OUT"

# The DNS look-ups of the send path go to a loopback server that is not there, so they fail
# at once and never leave the machine.
printf 'nameserver 127.0.0.1\n' > "$BENCH_DATA/resolv.conf"
export QARVEL_RESOLV_CONF=$BENCH_DATA/resolv.conf

# random_file PATH MIB: MIB of random bytes, made once.
random_file() {
  [ -s "$1" ] && [ "$(stat -c %s "$1")" -eq $(($2 * 1048576)) ] && return 0
  head -c $(($2 * 1048576)) /dev/urandom > "$1.tmp" && mv "$1.tmp" "$1"
}

# run_once NAME COMMAND CHECK: one timed run of the shell text COMMAND (RUN holds the run
# number, 1 first) and, after run 1, the shell text CHECK. COMMAND puts $T before each program
# whose memory counts (T is /usr/bin/time, which reports a process and the children it waited
# for; it also notes their CPU seconds). Appends the seconds to $BENCH_DATA/log-NAME.times;
# fails with STATUS set to why.
# RUN_PREP, when set, is shell text run before each timed run and not timed (removing the
# output of the run before, when that takes long enough to weigh on the figures).
run_once() {
  local name=$1 log=$BENCH_DATA/log-$1 t0 t1
  local T="/usr/bin/time -a -f %M:%U:%S -o $log.rss"
  [ -n "${RUN_PREP:-}" ] && eval "$RUN_PREP"
  echo run >> "$log.rss"
  t0=$(date +%s.%N)
  if ! (eval "$2") >"$log.out" 2>"$log.err"; then
    STATUS="failed (run $RUN; $log.err)"; echo "$name: $STATUS" >&2; tail -3 "$log.err" >&2; return 1
  fi
  t1=$(date +%s.%N)
  awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.4f\n", b - a }' >> "$log.times"
  if [ "$RUN" = 1 ] && ! (eval "$3") >"$log.check" 2>&1; then
    STATUS="different result: $(tail -1 "$log.check")"; echo "$name: $STATUS" >&2; return 1
  fi
}

# runs_reset NAME / runs_summary NAME: empty a tool's logs; set MEDIAN, MIN, MAX (seconds),
# PEAK (largest peak resident KiB of the runs) and CPU (the median over the runs of the user
# and system seconds of the programs under $T) from them.
runs_reset() { : > "$BENCH_DATA/log-$1.rss"; : > "$BENCH_DATA/log-$1.times"; }
runs_summary() {
  local log=$BENCH_DATA/log-$1
  PEAK=$(awk -F: '$1 ~ /^[0-9]+$/ && $1 > m { m = $1 } END { print m + 0 }' "$log.rss")
  CPU=$(awk -F: '/^run/ { if (n++) print c; c = 0; next } NF == 3 { c += $2 + $3 } END { if (n) print c }' "$log.rss" |
    sort -g | awk '{ a[NR] = $1 } END { if (NR) printf "%.2f", a[int((NR + 1) / 2)] }')
  read -r MIN MEDIAN MAX < <(sort -g "$log.times" | awk '{ a[NR] = $1 } END { print a[1], a[int((NR + 1) / 2)], a[NR] }')
}

# measure NAME COMMAND CHECK: one tool alone, $BENCH_RUNS runs back to back (for jobs with a
# single tool; a job that compares tools uses tool and compare). Sets MEDIAN, MIN, MAX, PEAK
# and STATUS (ok, or why not).
measure() {
  MEDIAN=; MIN=; MAX=; PEAK=0; CPU=; STATUS=ok
  runs_reset "$1"
  for ((RUN = 1; RUN <= BENCH_RUNS; RUN++)); do run_once "$1" "$2" "$3" || return 1; done
  runs_summary "$1"
}

# tool NAME LABEL COMMAND CHECK [NOTE]: queues a tool for the next compare.
TOOL_NAMES=(); TOOL_LABELS=(); TOOL_COMMANDS=(); TOOL_CHECKS=(); TOOL_NOTES=()
tool() {
  TOOL_NAMES+=("$1"); TOOL_LABELS+=("$2"); TOOL_COMMANDS+=("$3"); TOOL_CHECKS+=("$4"); TOOL_NOTES+=("${5:-}")
}

# compare JOB CASE WORK AMOUNT UNIT: runs the queued tools in rounds, each tool once a round in
# turn (A B C, A B C, ...), so that a burst of load on the machine falls on every tool alike;
# then writes one row per tool (median, min and max of its runs) and empties the queue. A tool
# that fails or gives a different result drops out of the later rounds.
compare() {
  local i n=${#TOOL_NAMES[@]} statuses=()
  for ((i = 0; i < n; i++)); do runs_reset "${TOOL_NAMES[i]}"; statuses+=(ok); done
  for ((RUN = 1; RUN <= BENCH_RUNS; RUN++)); do
    for ((i = 0; i < n; i++)); do
      [ "${statuses[i]}" = ok ] || continue
      STATUS=ok
      run_once "${TOOL_NAMES[i]}" "${TOOL_COMMANDS[i]}" "${TOOL_CHECKS[i]}" || statuses[i]=$STATUS
    done
  done
  for ((i = 0; i < n; i++)); do
    STATUS=${statuses[i]}; MEDIAN=; MIN=; MAX=; PEAK=0; CPU=
    [ "$STATUS" = ok ] && runs_summary "${TOOL_NAMES[i]}"
    row "$1" "$2" "${TOOL_LABELS[i]}" "$3" "$4" "$5" "${TOOL_NOTES[i]}"
  done
  TOOL_NAMES=(); TOOL_LABELS=(); TOOL_COMMANDS=(); TOOL_CHECKS=(); TOOL_NOTES=()
}

# row JOB CASE TOOL WORK AMOUNT UNIT [NOTE]: appends the row of the last measure; the rate is
# AMOUNT per second (MiB/s, messages/s) at the median. Commas inside a field become semicolons.
# With BENCH_CPU_NOTE set, the note ends with the median CPU seconds (for a machine so loaded
# that the times measure the wait for a core as much as the work).
row() {
  local rate= check=$STATUS peak= f fields=() note=${7:-}
  [ -n "${BENCH_CPU_NOTE:-}" ] && [ -n "${CPU:-}" ] && note="${note:+$note; }CPU ${CPU} s"
  [ "$STATUS" = ok ] && rate=$(awk -v a="$5" -v s="$MEDIAN" 'BEGIN { printf "%.1f", (s > 0 ? a / s : 0) }')
  [ "$STATUS" = ok ] && { check=same; peak=$PEAK; }
  for f in "$1" "$2" "$3" "$4" "$BENCH_RUNS" "${MEDIAN:-}" "$rate" "$6" "$peak" "$check" "$note" "${MIN:-}" "${MAX:-}"; do
    fields+=("${f//,/;}")
  done
  (IFS=,; echo "${fields[*]}") >> "$BENCH_CSV"
  printf '%-15s %-16s %-28s %8s s (%s-%s) %10s %s/s  peak %7s KiB  CPU %5s s  %s\n' "$1" "$2" "$3" "${MEDIAN:--}" "${MIN:--}" "${MAX:--}" "${rate:--}" "$6" "${peak:--}" "${CPU:--}" "$check"
}

# sink_start STATE PORT [dump]: Postfix's smtp-sink on 127.0.0.1:PORT; with "dump" every
# message is written to STATE/sink/. sink_stop STATE.
sink_start() {
  port_free "$2" || return 1
  SINK_PORT=$2 SINK_DUMP=$([ "${3:-}" = dump ] && echo 1 || echo 0) \
    bash "$bench_root/scripts/servers/sink.sh" start "$1" >/dev/null
}
sink_stop() { bash "$bench_root/scripts/servers/sink.sh" stop "$1" >/dev/null 2>&1; }

# sink_pair STATE PORT: two sinks, one that drops what it gets on PORT (timed) and one that
# keeps every message in STATE/dump/sink/ on PORT+1 (the result check); every pair stops when
# the job exits. Sets dumps to the folder of kept messages. SINK_OPTIONS are passed to both
# (-p: no PIPELINING offered).
SINK_PAIRS=()
sink_pair() {
  SINK_PAIRS+=("$1")
  trap 'for s in "${SINK_PAIRS[@]}"; do sink_stop "$s/plain"; sink_stop "$s/dump"; rm -rf "$s"; done' EXIT
  rm -rf "$1"
  sink_start "$1/plain" "$2" || return 1
  sink_start "$1/dump" "$(($2 + 1))" dump || return 1
  dumps=$1/dump/sink
}

# port_free PORT: fails with a message when something already listens on 127.0.0.1:PORT, so
# that a job never measures a server it did not start.
port_free() {
  if (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; then
    echo "port 127.0.0.1:$1 is already in use; set the job's port variable to another" >&2
    return 1
  fi
}

# md5_set DIR [NAME-PATTERN]: the sorted MD5 sums of the files under DIR, one a line.
md5_set() { find "$1" -type f -name "${2:-*}" -print0 | xargs -0 -r md5sum | cut -d' ' -f1 | sort; }

# same_set EXPECTED-FILE DIR [NAME-PATTERN]: fails unless DIR holds exactly those contents.
same_set() {
  local got; got=$(md5_set "$2" "${3:-*}")
  if [ "$got" != "$(sort "$1")" ]; then
    echo "$(echo "$got" | grep -c .) files, $(comm -13 <(sort "$1") <(echo "$got") | grep -c .) unexpected, $(comm -23 <(sort "$1") <(echo "$got") | grep -c .) missing"
    return 1
  fi
}

# attachment_is MESSAGE FILE: the largest part that munpack takes out of MESSAGE is FILE.
attachment_is() {
  local d; d=$(mktemp -d "$BENCH_OUT/unpack.XXXXXX")
  (cd "$d" && munpack -q -C "$d" "$1" >/dev/null 2>&1)
  local big; big=$(ls -S "$d" | head -1)
  cmp "$d/$big" "$2"; local r=$?
  rm -rf "$d"
  [ $r = 0 ] || echo "attachment differs from the input"
  return $r
}

# raw_case JOB QARVEL-ARGS URL: like for like, every message as it came to standard output:
# qarvel -raw beside curl's URL range, one connection each; both outputs must hold the end of
# each of the $count messages (the jobs' mailboxes; out, kib, work and mib as they set them).
raw_case() {
  local raw=$out/all.txt
  local ok="n=\$(grep -c '^--b[0-9]*--' $raw); echo \"\$n messages\"; [ \$n = $count ]"
  tool qarvel-raw "qarvel -raw" "rm -rf $out; mkdir -p $out; \$T '$QARVEL' $2 -user:test -pass:secret -raw > $raw" "$ok" \
    "the text of each message as it came, after its number; the header is read, not written"
  tool curl-raw "curl ${3%%:*}:// (URL range to standard output)" \
    "rm -rf $out; mkdir -p $out; \$T curl -sS -u test:secret '$3' > $raw" "$ok" "each message as it came"
  compare "$1" "$count × $kib KiB; raw to standard output" "$work" "$mib" MiB
}

# fetchmail_mda DIR: a fetchmail mda that writes each message to a file of its own in DIR,
# named after the mda shell's pid, with a number after it so that a pid that comes round again
# gets a new name (fetchmail delivers one message at a time; no process but cat a message).
fetchmail_mda() { printf 'n=0; while [ -e %s/m.$$.$n ]; do n=$((n + 1)); done; exec cat > %s/m.$$.$n' "$1" "$1"; }

# note TEXT: a line for the notes under the table.
note() { echo "$*" >> "${BENCH_NOTES:-/dev/stderr}"; }

# maildir_case JOB PORT PROTOCOL GETMAIL-RETRIEVER [GETMAIL-LINES]: fetching
# that a cron job would do, into files on the disk (not tmpfs, where a sync costs nothing) and
# keeping the mail on the server: qarvel into a Maildir with -seen: (each message synced under
# its temporary name, new/ and the seen file synced after it), and with -extract: once with
# -seen: (the attachments synced) and once without (nothing synced: the cost of the syncs is
# the difference), beside getmail6 into a Maildir (it syncs each message) and fetchmail through
# an mda into a file (nothing synced). The jobs' mailbox as they set it (state, maildir,
# manifest, count, kib, work, mib).
maildir_case() {
  local disk=$BENCH_DATA/maildir-out seen=$BENCH_DATA/maildir-out.seen lf=$state/messages-lf.md5
  local q="'$QARVEL' $([ "$3" = imap ] && echo -imap) -host:127.0.0.1 -port:$2 -user:test -pass:secret -q"
  # The messages as a Maildir holds them (LF line ends), for qarvel's check.
  [ -s "$lf" ] || find "$maildir/new" "$maildir/cur" -type f -print0 |
    xargs -0 -n 200 sh -c 'for f; do tr -d "\r" < "$f" | md5sum; done' sh | cut -d' ' -f1 | sort > "$lf"
  local files_ok="n=\$(find $disk -type f -size +1k | wc -l); echo \"\$n message files\"; [ \$n = $count ]"
  tool qarvel-maildir "qarvel -maildir: -seen:" "rm -rf $disk $seen; \$T $q -maildir:$disk -seen:$seen" \
    "same_set '$lf' $disk/new" "each message synced, then new/ and the seen file"
  tool qarvel-extract-seen "qarvel -extract: -seen:" "rm -rf $disk $seen; mkdir -p $disk; \$T $q -extract:$disk -seen:$seen" \
    "same_set '$manifest' $disk 'm*.bin'" "each attachment synced, then the folder and the seen file"
  tool qarvel-extract-disk "qarvel -extract: (no sync)" "rm -rf $disk; mkdir -p $disk; \$T $q -extract:$disk" \
    "same_set '$manifest' $disk 'm*.bin'" "nothing synced"
  local rc=$BENCH_DATA/fetchmailrc-disk
  printf 'set no syslog\npoll 127.0.0.1 service %s protocol %s auth password timeout 60\n  user "test" password "secret" sslproto %s keep fetchall mda "%s"\n' \
    "$2" "$3" "''" "$(fetchmail_mda "$disk")" > "$rc"
  chmod 600 "$rc"
  tool fetchmail-disk "fetchmail (mda to file)" "rm -rf $disk; mkdir -p $disk; \$T fetchmail -f $rc --pidfile $BENCH_DATA/fetchmail.pid --idfile $BENCH_DATA/fetchids-disk -s" \
    "$files_ok" "one mda process per message, nothing synced"
  local gm=$BENCH_DATA/getmail-disk
  mkdir -p "$gm"
  printf '[retriever]\ntype = %s\nserver = 127.0.0.1\nport = %s\n%busername = test\npassword = secret\n[destination]\ntype = Maildir\npath = %s/\n%b[options]\nread_all = true\ndelete = false\nverbose = 0\nmessage_log_syslog = false\n' \
    "$4" "$2" "${5:-}" "$disk" "$([ "$(id -u)" = 0 ] && echo 'user = nobody\n')" > "$gm/getmailrc"
  tool getmail-disk "getmail6 (Maildir)" "rm -rf $disk $gm/oldmail-*; mkdir -p $disk/new $disk/cur $disk/tmp; [ \$(id -u) = 0 ] && chown -R nobody $disk; \$T getmail --getmaildir '$gm' --rcfile getmailrc" \
    "$files_ok" "syncs each message"
  compare "$1" "$count × $kib KiB; into files on the disk, kept on the server" "$work" "$mib" MiB
  rm -rf "$disk" "$seen"
}
