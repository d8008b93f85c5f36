#!/usr/bin/env bash
# Postfix's smtp-sink on 127.0.0.1:SINK_PORT, for volume tests:  sink.sh start|stop STATE
# Accepts everything (AUTH is answered with 250); with SINK_DUMP=1 every message is dumped
# into STATE/sink/; SINK_OPTIONS are further smtp-sink options (-p: no PIPELINING offered).
set -uo pipefail
action=${1:?usage: sink.sh start|stop STATE}
state=${2:?usage: sink.sh start|stop STATE}
here=$(cd "$(dirname "$0")" && pwd)
. "$here/common.sh"
. "$here/ports.env"
mkdir -p "$state"; state=$(cd "$state" && pwd)
if [ "$action" = stop ]; then
  stop_pidfile "$state/sink.pid"
  exit 0
fi
command -v smtp-sink >/dev/null || { echo "sink.sh: smtp-sink is not installed (package postfix)" >&2; exit 1; }
if [ -f "$state/sink.pid" ] && alive "$(cat "$state/sink.pid")"; then exit 0; fi
mkdir -p "$state/sink"; chown nobody "$state/sink" 2>/dev/null || true
dump=()
[ "${SINK_DUMP:-0}" = 1 ] && dump=(-d "$state/sink/%H%M%S.")
read -r -a extra <<< "${SINK_OPTIONS:-}"
setsid smtp-sink -u nobody "${extra[@]}" "${dump[@]}" 127.0.0.1:"$SINK_PORT" 256 >"$state/sink/sink.log" 2>&1 < /dev/null &
echo $! > "$state/sink.pid"
wait_port "$SINK_PORT"
