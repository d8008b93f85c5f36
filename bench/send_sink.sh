#!/usr/bin/env bash
# Sending volume: 1000 small messages to smtp-sink, by qarvel in one run (-cnt:1000) and by
# msmtp (one process per message, the way scripts use it), timed on the same sink.
#   bench/send_sink.sh [BUILD_DIR] [COUNT]
set -euo pipefail
build=${1:-build}
count=${2:-1000}
here=$(cd "$(dirname "$0")/.." && pwd)
bin=$(cd "$build" && pwd)/qarvel
state=$(mktemp -d /tmp/qarvel-bench-send.XXXXXX)
export SINK_PORT=${BENCH_SINK_PORT:-12626}
trap 'bash "$here/scripts/servers/sink.sh" stop "$state"; rm -rf "$state"' EXIT
bash "$here/scripts/servers/sink.sh" start "$state"

now() { date +%s.%N; }
t0=$(now)
"$bin" -host:127.0.0.1:$SINK_PORT -from:a@example.org -to:b@example.test -s:bench -msg:"hello there" \
  -cnt:$count -q >/dev/null
t1=$(now)
printf 'qarvel -cnt:%d            %6.2f s\n' "$count" "$(echo "$t1 - $t0" | bc)"

if command -v msmtp >/dev/null; then
  t0=$(now)
  for _ in $(seq 1 "$count"); do
    printf 'Subject: bench\n\nhello there\n' |
      msmtp --host=127.0.0.1 --port=$SINK_PORT --auth=off --tls=off --from=a@example.org b@example.test
  done
  t1=$(now)
  printf 'msmtp, %d processes     %6.2f s\n' "$count" "$(echo "$t1 - $t0" | bc)"
fi
