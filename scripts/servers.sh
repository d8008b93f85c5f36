#!/usr/bin/env bash
# Starts or stops every real server the integration tests use, each on 127.0.0.1 high ports,
# with all of its state under one folder:  scripts/servers.sh start|stop STATE_DIR
# Each server has its own script in scripts/servers/ (NAME.sh start|stop STATE_DIR);
# the ports they use are in scripts/servers/ports.env.
set -uo pipefail
action=${1:?usage: servers.sh start|stop STATE_DIR}
state=${2:?usage: servers.sh start|stop STATE_DIR}
here=$(cd "$(dirname "$0")" && pwd)
mkdir -p "$state"
state=$(cd "$state" && pwd)
set -a; . "$here/servers/ports.env"; set +a

# The test certificate authority comes first: the servers use its certificates.
order=(tls)
for f in "$here"/servers/*.sh; do
  n=$(basename "$f" .sh)
  [ "$n" = tls ] || [ "$n" = common ] || order+=("$n")
done

rc=0
if [ "$action" = start ]; then
  for n in "${order[@]}"; do
    [ -f "$here/servers/$n.sh" ] || continue
    if ! bash "$here/servers/$n.sh" start "$state"; then
      echo "servers.sh: $n did not start (logs under $state)" >&2
      rc=1
    fi
  done
else
  for (( i=${#order[@]}-1; i>=0; i-- )); do
    n=${order[$i]}
    [ -f "$here/servers/$n.sh" ] && bash "$here/servers/$n.sh" stop "$state" || true
  done
fi
exit $rc
