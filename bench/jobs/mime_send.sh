#!/usr/bin/env bash
# MIME composition benchmark: one message with a 256 MiB binary attachment sent into
# smtp-sink and written with -mf, next to mpack composing the same file; prints MiB/s of
# attachment data and peak resident memory of each.
#   mime_send.sh [BUILD_DIR]   (env BENCH_MIB, BENCH_WORK)
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
root=$(cd "$here/.." && pwd)
build=${1:-$here/../build}
mib=${BENCH_MIB:-256}
work=${BENCH_WORK:-/tmp/qarvel-bench-mime}
tool=$build/bench/mime_send_bench
[ -x "$tool" ] || { echo "mime_send: $tool not built" >&2; exit 1; }
. "$root/scripts/servers/ports.env"
mkdir -p "$work"

# The sink of the servers fixture when it runs, else our own on the same port.
own_sink=0
cleanup() { [ "$own_sink" = 1 ] && bash "$root/scripts/servers/sink.sh" stop "$work/state" >/dev/null 2>&1; rm -f "$work"/out-*; }
trap cleanup EXIT
if ! (exec 3<>"/dev/tcp/127.0.0.1/$SINK_PORT") 2>/dev/null; then
  bash "$root/scripts/servers/sink.sh" start "$work/state" >/dev/null
  own_sink=1
fi

data=$work/payload-$mib.bin
[ -f "$data" ] || head -c $((mib * 1048576)) /dev/urandom > "$data"

# measure NAME COMMAND...: runs the command under /usr/bin/time, prints one result line.
measure() {
  local name=$1; shift
  local t0 t1
  t0=$(date +%s.%N)
  /usr/bin/time -f "%M" -o "$work/rss-$name" "$@" >/dev/null 2>"$work/err-$name" || {
    echo "mime_send: $name failed (see $work/err-$name)" >&2; return 0; }
  t1=$(date +%s.%N)
  local s; s=$(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.3f", b - a }')
  local r; r=$(awk -v m="$mib" -v s="$s" 'BEGIN { printf "%.1f", (s > 0 ? m / s : 0) }')
  printf "%-10s %8s MiB/s  %7.1f s  peak %6d KiB  (%d MiB input)\n" "$name" "$r" "$s" "$(cat "$work/rss-$name")" "$mib"
}

# The sink's own ceiling: the message qarvel composed, sent unchanged in 1 MiB writes.
cat > "$work/raw_smtp.py" <<'PY'
import socket, sys
s = socket.create_connection(("127.0.0.1", int(sys.argv[1])))
f = s.makefile("rb")
def reply():
    while True:
        line = f.readline()
        if line[3:4] != b"-":
            if not line.startswith((b"2", b"3")):
                sys.exit("sink refused: %r" % line)
            return
reply()
for command in (b"HELO bench\r\n", b"MAIL FROM:<alice@example.org>\r\n", b"RCPT TO:<bob@example.test>\r\n", b"DATA\r\n"):
    s.sendall(command)
    reply()
with open(sys.argv[2], "rb") as data:
    for block in iter(lambda: data.read(1 << 20), b""):
        s.sendall(block)
s.sendall(b".\r\n")
reply()
PY

echo "== mime send: one message with a $mib MiB binary attachment"
measure qarvel-smtp "$tool" "smtp:$SINK_PORT" "$data"
measure qarvel-mf "$tool" "$work/out-mf.eml" "$data"
[ -s "$work/out-mf.eml" ] && measure sink-raw python3 "$work/raw_smtp.py" "$SINK_PORT" "$work/out-mf.eml"
rm -f "$work"/out-*
if command -v mpack >/dev/null; then
  measure mpack mpack -s bench -o "$work/out-mpack.eml" "$data"
else
  echo "mpack: not installed"
fi
