#!/usr/bin/env bash
# The DNS test zone served by dnsmasq on DNS_ADDR:DNS_PORT (UDP and TCP), and the mail
# exchangers it names, as SMTP servers on loopback addresses at MX_PORT:
#   127.0.0.41  nothing listens (connections are refused)
#   127.0.0.42  smtp-sink accepting everything, one dump file per message in STATE/dns/mx42/
#   127.0.0.43  smtp-sink rejecting RCPT with 5xx (-f; -r would be 4xx)
#   ::1         smtp-sink accepting everything, dumps in STATE/dns/mx6/
# A second dnsmasq serves the same zone on [::1]:DNS6_PORT.
# Usage: dns.sh start|stop STATE
set -uo pipefail
. "$(dirname "$0")/common.sh"
server_preamble dns "$@" dns/dnsmasq dns/dnsmasq6 dns/mx6 dns/mx42 dns/mx43
mkdir -p "$state/dns"
d=$(cd "$state/dns" && pwd)

start_sink() {  # start_sink ADDR NAME FLAGS...
  local addr=$1 name=$2; shift 2
  if [ -f "$d/$name.pid" ] && alive "$(cat "$d/$name.pid")"; then return 0; fi
  mkdir -p "$d/$name"; chmod 777 "$d/$name"
  local listen=$addr
  [[ $addr == *:* ]] && listen="[$addr]"
  setsid smtp-sink -u nobody "$@" -d "$d/$name/%H%M%S." "$listen:$MX_PORT" 64 \
    >"$d/$name.log" 2>&1 </dev/null &
  echo $! > "$d/$name.pid"
  wait_port "$MX_PORT" "$addr" || { echo "dns.sh: smtp-sink on $addr:$MX_PORT did not start" >&2; return 1; }
}

command -v dnsmasq >/dev/null || { echo "dns.sh: dnsmasq is not installed" >&2; exit 1; }
command -v smtp-sink >/dev/null || { echo "dns.sh: smtp-sink (postfix) is not installed" >&2; exit 1; }

# start_dnsmasq NAME ADDR PORT: one instance serving the zone of zone.conf.
start_dnsmasq() {
  local name=$1 addr=$2 port=$3
  if [ -f "$d/$name.pid" ] && alive "$(cat "$d/$name.pid")"; then return 0; fi
  touch "$d/$name.log"; chmod 666 "$d/$name.log"
  printf 'listen-address=%s\nport=%s\nlog-facility=%s\nconf-file=%s\n' "$addr" "$port" "$d/$name.log" \
    "$d/zone.conf" > "$d/$name.conf"
  setsid dnsmasq -k -C "$d/$name.conf" >"$d/$name.out" 2>&1 </dev/null &
  echo $! > "$d/$name.pid"
  if ! wait_port "$port" "$addr"; then
    echo "dns.sh: dnsmasq did not start on $addr:$port (see $d/$name.out)" >&2
    cat "$d/$name.out" >&2
    return 1
  fi
}

cat > "$d/zone.conf" <<CONF
bind-interfaces
no-resolv
no-hosts
no-poll
no-negcache
local-ttl=300
user=nobody
log-queries
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
# IPv6: an exchanger with only an AAAA record, and one whose first address refuses.
local=/deliver6.test/
local=/dual6.test/
mx-host=deliver6.test,mx6.deliver6.test,10
host-record=mx6.deliver6.test,::1
mx-host=dual6.test,dual.dual6.test,10
host-record=dual.dual6.test,127.0.0.41,::1
CONF
start_dnsmasq dnsmasq "$DNS_ADDR" "$DNS_PORT" || exit 1
start_dnsmasq dnsmasq6 ::1 "$DNS6_PORT" || exit 1
start_sink 127.0.0.42 mx42 || exit 1
start_sink 127.0.0.43 mx43 -f RCPT || exit 1
start_sink ::1 mx6 || exit 1
exit 0
