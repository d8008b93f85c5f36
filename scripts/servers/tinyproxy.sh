#!/usr/bin/env bash
# tinyproxy, a forward HTTP proxy, on 127.0.0.1:PROXY_PORT_TEST:  tinyproxy.sh start|stop STATE
# It also tunnels (CONNECT) to the https test port.
set -uo pipefail
. "$(dirname "$0")/common.sh"
server_preamble tinyproxy "$@"
p=$state/tinyproxy
command -v tinyproxy >/dev/null || { echo "tinyproxy.sh: tinyproxy is not installed" >&2; exit 1; }
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
