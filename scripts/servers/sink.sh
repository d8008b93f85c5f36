#!/usr/bin/env bash
# Postfix's smtp-sink on 127.0.0.1:SINK_PORT, for volume tests:  sink.sh start|stop STATE
# Accepts everything (AUTH is answered with 250); with SINK_DUMP=1 every message is dumped
# into STATE/sink/; SINK_OPTIONS are further smtp-sink options (-p: no PIPELINING offered).
set -uo pipefail
. "$(dirname "$0")/common.sh"
server_preamble sink "$@"
command -v smtp-sink >/dev/null || { echo "sink.sh: smtp-sink is not installed (package postfix)" >&2; exit 1; }
mkdir -p "$state/sink"; chown nobody "$state/sink" 2>/dev/null || true
dump=()
[ "${SINK_DUMP:-0}" = 1 ] && dump=(-d "$state/sink/%H%M%S.")
read -r -a extra <<< "${SINK_OPTIONS:-}"
setsid smtp-sink -u nobody "${extra[@]}" "${dump[@]}" 127.0.0.1:"$SINK_PORT" 256 >"$state/sink/sink.log" 2>&1 < /dev/null &
echo $! > "$state/sink.pid"
wait_port "$SINK_PORT"
