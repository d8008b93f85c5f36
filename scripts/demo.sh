#!/usr/bin/env bash
# make demo: runs the main job once on an embedded default.
set -euo pipefail
bin=${1:-build/qarvel}
"$bin" -noop && echo "qarvel ran: $bin -noop exited 0"
# Send a real message: into a file with the file sender (-mf), under a temporary folder.
out=$(mktemp -d /tmp/qarvel-demo.XXXXXX)/message.eml
"$bin" -mf "-host:$out" -from:"Demo Sender <demo@example.org>" -to:reader@example.test \
  -s:"qarvel demo" -msg:"Hello from qarvel.\r\n.A line that starts with a full stop.\r\n" -q || true
if [ -f "$out" ]; then
  echo "qarvel sent a message into $out:"
  sed 's/\r$//' "$out"
else
  echo "qarvel demo: no message was written to $out" >&2
fi
