#!/usr/bin/env bash
# The DNS test zone served by dnsmasq on DNS_ADDR:DNS_PORT (UDP and TCP), and the mail
# exchangers it names, as SMTP servers on loopback addresses at MX_PORT:
#   127.0.0.41  nothing listens (connections are refused)
#   127.0.0.42  smtp-sink accepting everything, one dump file per message in STATE/dns/mx42/
#   127.0.0.43  smtp-sink rejecting RCPT with 5xx (-f; -r would be 4xx)
# Usage: dns.sh start|stop STATE
set -uo pipefail
action=${1:?usage: dns.sh start|stop STATE}
state=${2:?usage: dns.sh start|stop STATE}
here=$(cd "$(dirname "$0")" && pwd)
. "$here/common.sh"
set -a; . "$here/ports.env"; set +a
mkdir -p "$state/dns"
d=$(cd "$state/dns" && pwd)

start_sink() {  # start_sink ADDR NAME FLAGS...
  local addr=$1 name=$2; shift 2
  if [ -f "$d/$name.pid" ] && alive "$(cat "$d/$name.pid")"; then return 0; fi
  mkdir -p "$d/$name"; chmod 777 "$d/$name"
  setsid smtp-sink -u nobody "$@" -d "$d/$name/%H%M%S." "$addr:$MX_PORT" 64 \
    >"$d/$name.log" 2>&1 </dev/null &
  echo $! > "$d/$name.pid"
  wait_port "$MX_PORT" "$addr" || { echo "dns.sh: smtp-sink on $addr:$MX_PORT did not start" >&2; return 1; }
}

if [ "$action" = stop ]; then
  stop_pidfile "$d/dnsmasq.pid"
  stop_pidfile "$d/mx42.pid"
  stop_pidfile "$d/mx43.pid"
  exit 0
fi

command -v dnsmasq >/dev/null || { echo "dns.sh: dnsmasq is not installed" >&2; exit 1; }
command -v smtp-sink >/dev/null || { echo "dns.sh: smtp-sink (postfix) is not installed" >&2; exit 1; }

if ! { [ -f "$d/dnsmasq.pid" ] && alive "$(cat "$d/dnsmasq.pid")"; }; then
  touch "$d/dnsmasq.log"; chmod 666 "$d/dnsmasq.log"
  cat > "$d/dnsmasq.conf" <<CONF
listen-address=$DNS_ADDR
port=$DNS_PORT
bind-interfaces
no-resolv
no-hosts
no-poll
no-negcache
local-ttl=300
user=nobody
log-queries
log-facility=$d/dnsmasq.log
local=/example.test/
local=/deliver.test/
local=/probe.test/
local=/equal.test/
local=/onlya.test/
host-record=example.test,127.0.0.10
host-record=ns1.example.test,127.0.0.53
host-record=mail1.example.test,127.0.0.11
host-record=mail2.example.test,127.0.0.12
host-record=imap.example.test,127.0.0.1
mx-host=example.test,mail1.example.test,10
mx-host=example.test,mail2.example.test,20
mx-host=example.test,mail3.example.test,20
srv-host=_submission._tcp.example.test,mail1.example.test,587,0,1
srv-host=_imaps._tcp.example.test,imap.example.test,993,10,5
srv-host=_imaps._tcp.example.test,mail2.example.test,993,20,5
txt-record=example.test,"v=spf1 ip4:127.0.0.0/8 -all"
txt-record=_dmarc.example.test,"v=DMARC1; p=none"
txt-record=long.example.test,"part one","part two"
dns-rr=example.test,2,036e7331076578616d706c65047465737400
# Exchangers named by their loopback address, so that connecting needs no other resolver.
mx-host=deliver.test,127.0.0.41,10
mx-host=deliver.test,127.0.0.42,20
mx-host=probe.test,127.0.0.43,10
mx-host=probe.test,127.0.0.42,20
mx-host=equal.test,127.0.0.42,10
mx-host=equal.test,127.0.0.43,10
mx-host=equal.test,127.0.0.41,30
host-record=onlya.test,127.0.0.42
CONF
  setsid dnsmasq -k -C "$d/dnsmasq.conf" >"$d/dnsmasq.out" 2>&1 </dev/null &
  echo $! > "$d/dnsmasq.pid"
  if ! wait_port "$DNS_PORT" "$DNS_ADDR"; then
    echo "dns.sh: dnsmasq did not start on $DNS_ADDR:$DNS_PORT (see $d/dnsmasq.out)" >&2
    cat "$d/dnsmasq.out" >&2
    exit 1
  fi
fi
start_sink 127.0.0.42 mx42 || exit 1
start_sink 127.0.0.43 mx43 -f RCPT || exit 1
exit 0
