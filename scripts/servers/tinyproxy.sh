#!/usr/bin/env bash
# tinyproxy, a forward HTTP proxy, on 127.0.0.1:PROXY_PORT_TEST:  tinyproxy.sh start|stop STATE
# It also tunnels (CONNECT) to the https test port.
set -uo pipefail
action=${1:?usage: tinyproxy.sh start|stop STATE}
state=${2:?usage: tinyproxy.sh start|stop STATE}
here=$(cd "$(dirname "$0")" && pwd)
. "$here/common.sh"
. "$here/ports.env"
mkdir -p "$state"; state=$(cd "$state" && pwd)
p=$state/tinyproxy
if [ "$action" = stop ]; then
  stop_pidfile "$state/tinyproxy.pid"
  exit 0
fi
command -v tinyproxy >/dev/null || { echo "tinyproxy.sh: tinyproxy is not installed" >&2; exit 1; }
if [ -f "$state/tinyproxy.pid" ] && alive "$(cat "$state/tinyproxy.pid")"; then exit 0; fi
mkdir -p "$p"
: > "$p/tinyproxy.log"
chown -R nobody "$p" 2>/dev/null || true
cat > "$p/tinyproxy.conf" <<CONF
User nobody
Group nogroup
Port $PROXY_PORT_TEST
Listen 127.0.0.1
Timeout 30
MaxClients 20
Allow 127.0.0.1
LogFile "$p/tinyproxy.log"
LogLevel Info
DisableViaHeader Yes
ConnectPort $HTTPS_PORT
CONF
setsid tinyproxy -d -c "$p/tinyproxy.conf" >"$p/stdout.log" 2>&1 < /dev/null &
echo $! > "$state/tinyproxy.pid"
wait_port "$PROXY_PORT_TEST"
