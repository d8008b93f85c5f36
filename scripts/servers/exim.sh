#!/usr/bin/env bash
# A private Exim for the sending tests:  exim.sh start|stop STATE
# Listens on 127.0.0.1:EXIM_PORT with STARTTLS, AUTH PLAIN and LOGIN (user "test", password
# "secret"), PIPELINING, DSN and CHUNKING; takes 3 recipients a message (452 for the rest, Exim's
# own answer). EXIM_LOGIN_PORT is the same with AUTH LOGIN only. Every recipient of every domain,
# and every delivery report, lands in the Maildir STATE/exim/inbox. Exim runs from its unpacked
# package (exim4-daemon-light, see in_peer_root).
set -uo pipefail
. "$(dirname "$0")/common.sh"
server_preamble exim "$@"
D=$state/exim
peer_root exim >/dev/null || exit 1
need_certificates

rm -rf "$D"
mkdir -p "$D/spool" "$D/log" "$D/inbox"/{new,cur,tmp} "$D/etc/exim4"
peer_users "$D" Debian-exim:64010:64010
cp "$state/tls/server.crt" "$state/tls/server.key" "$D/etc/exim4/"
chown -R 64010:64010 "$D/spool" "$D/log" "$D/etc/exim4/server.key"
chown -R 65534:65534 "$D/inbox"
# /etc/exim4/exim4.conf is the name Exim was built with: in its namespace it is this file.
cat > "$D/etc/exim4/exim4.conf" <<CONF
primary_hostname = localhost
qualify_domain = localhost
spool_directory = $D/spool
log_file_path = $D/log/%slog
daemon_smtp_ports = $EXIM_PORT : $EXIM_LOGIN_PORT
local_interfaces = 127.0.0.1
host_lookup =
rfc1413_hosts =
keep_environment =
message_size_limit = 20M
recipients_max = 3
tls_advertise_hosts = *
tls_certificate = /etc/exim4/server.crt
tls_privatekey = /etc/exim4/server.key
dsn_advertise_hosts = *
acl_smtp_rcpt = accept_all
acl_smtp_data = accept_all

begin acl
accept_all:
  accept

begin routers
inbox:
  driver = accept
  transport = maildir

begin transports
maildir:
  driver = appendfile
  directory = $D/inbox
  maildir_format
  envelope_to_add
  return_path_add
  user = nobody

begin retry
* * F,1m,1m

begin authenticators
plain:
  driver = plaintext
  public_name = PLAIN
  server_advertise_condition = \${if !={\$received_port}{$EXIM_LOGIN_PORT}}
  server_prompts = :
  server_condition = \${if and {{eq{\$auth2}{test}}{eq{\$auth3}{secret}}}}
  server_set_id = \$auth2
login:
  driver = plaintext
  public_name = LOGIN
  server_prompts = Username:: : Password::
  server_condition = \${if and {{eq{\$auth1}{test}}{eq{\$auth2}{secret}}}}
  server_set_id = \$auth1
CONF

in_peer_root exim "$D" setsid /usr/sbin/exim4 -bdf -q30s -oP "$D/exim.pid" >"$D/exim.out" 2>&1 < /dev/null &
echo $! > "$state/exim.pid"
if ! wait_port "$EXIM_PORT" || ! wait_port "$EXIM_LOGIN_PORT"; then
  echo "exim.sh: Exim did not listen on $EXIM_PORT and $EXIM_LOGIN_PORT; see $D/log/mainlog, $D/log/paniclog, $D/exim.out" >&2
  tail -5 "$D/exim.out" "$D/log/paniclog" 2>/dev/null >&2
  exit 1
fi
