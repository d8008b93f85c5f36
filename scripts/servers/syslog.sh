#!/usr/bin/env bash
# rsyslogd on a private socket, for the -syslog tests:  syslog.sh start|stop STATE
# It listens on STATE/syslog/log.sock (never the machine's /dev/log) and writes what comes to
# the mail facility into STATE/syslog/mail.log. The tests run qarvel where /dev/log leads to
# that socket (with_dev_log in common.sh).
set -uo pipefail
. "$(dirname "$0")/common.sh"
server_preamble syslog "$@"
command -v rsyslogd >/dev/null || { echo "syslog.sh: rsyslogd is not installed (package rsyslog)" >&2; exit 1; }
dir=$state/syslog
mkdir -p "$dir"
rm -f "$dir/log.sock"
cat > "$dir/rsyslog.conf" <<CONF
global(workDirectory="$dir")
module(load="imuxsock" SysSock.Use="off")
input(type="imuxsock" Socket="$dir/log.sock")
mail.* action(type="omfile" file="$dir/mail.log")
CONF
setsid rsyslogd -n -f "$dir/rsyslog.conf" -i "$dir/rsyslogd.pid" >"$dir/rsyslogd.log" 2>&1 < /dev/null &
echo $! > "$state/syslog.pid"
for _ in $(seq 1 100); do
  [ -S "$dir/log.sock" ] && exit 0
  sleep 0.1
done
echo "syslog.sh: $dir/log.sock did not appear within 10 s" >&2
exit 1
