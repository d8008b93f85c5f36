#!/usr/bin/env bash
# Start-up: COUNT starts of a process that does no work, in a shell loop, the cost every
# process-per-message row carries: qarvel -osver (the version line, then a send run that stops
# at its own checks) next to INN's inews and msmtp stopping just as early (inews on an empty
# article, msmtp --version). The note of each row has the page faults of one process and its
# processor time (user + system, from COUNT runs).
#   startup.sh [BUILD_DIR]   (env BENCH_STARTS, default 1000)
. "$(dirname "$0")/../lib.sh"
count=${BENCH_STARTS:-1000}
[ -x /usr/lib/news/bin/inews ] || { echo "startup: inews is missing (inn2)" >&2; exit 1; }
work="$count starts"

# faults_and_cpu COMMAND: "N page faults; M ms CPU a process": the minor faults of one run of
# the program itself (no shell in between), the processor time of COUNT runs over COUNT.
faults_and_cpu() {
  local faults cpu
  faults=$(eval "/usr/bin/time -f %R -o '$BENCH_DATA/startup-faults' $1"; tail -1 "$BENCH_DATA/startup-faults")
  cpu=$(/usr/bin/time -f '%U %S' bash -c "for i in \$(seq $count); do $1 || :; done" 2>&1 >/dev/null | tail -1)
  awk -v f="$faults" -v c="$cpu" -v n="$count" 'BEGIN { split(c, t, " "); printf "%d page faults; %.2f ms CPU a process", f, 1000 * (t[1] + t[2]) / n }'
}
loop() { echo "\$T bash -c \"for i in \\\$(seq $count); do $1 || :; done\""; }

qarvel="'$QARVEL' -osver </dev/null >/dev/null 2>&1"
inews="/usr/lib/news/bin/inews -h </dev/null >/dev/null 2>&1"
msmtp="msmtp --version </dev/null >/dev/null 2>&1"
tool qarvel "qarvel -osver (loop)" "$(loop "$qarvel")" \
  "out=\$('$QARVEL' -osver 2>/dev/null); echo \"\$out\" | grep '^Major: '" "$(faults_and_cpu "$qarvel")"
tool inews "inews -h (loop)" "$(loop "$inews")" \
  "out=\$(/usr/lib/news/bin/inews -h </dev/null 2>&1); echo \"\$out\" | grep '^inews: '" "$(faults_and_cpu "$inews")"
tool msmtp "msmtp --version (loop)" "$(loop "$msmtp")" "msmtp --version | grep '^msmtp version'" \
  "$(faults_and_cpu "$msmtp")"
compare startup "$count starts; nothing to do" "$work" "$count" start
