#!/usr/bin/env bash
# A private OpenSMTPD for the sending tests:  opensmtpd.sh start|stop STATE
# Listens on 127.0.0.1:OPENSMTPD_PORT with PIPELINING and DSN; takes 3 recipients a message (452
# for the rest, its own answer). No STARTTLS and so no AUTH (which it offers only under TLS):
# 6.8.0p2 as Debian 12 builds it fails every TLS handshake under OpenSSL 3 ("missing private
# key" in its key-signing process). Every recipient of every domain, and every delivery report, lands in the Maildir
# STATE/opensmtpd/inbox. smtpd runs from its unpacked package (opensmtpd, see in_peer_root), its
# queue and control socket in its own /var and /run under STATE/opensmtpd.
set -uo pipefail
. "$(dirname "$0")/common.sh"
server_preamble opensmtpd "$@"
D=$state/opensmtpd
peer_root opensmtpd >/dev/null || exit 1
need_certificates

rm -rf "$D"
mkdir -p "$D/inbox"/{new,cur,tmp}
chown -R 65534:65534 "$D/inbox"
peer_users "$D" opensmtpd:64020:64020 opensmtpq:64021:64021
# /etc/smtpd.conf is the name smtpd was built with: in its namespace it is this file.
# Every address is the one user nobody (a catch-all virtual table), so every recipient is valid.
echo "@ nobody" > "$D/etc/vusers"
cat > "$D/etc/smtpd.conf" <<CONF
table vusers file:/etc/vusers
smtp limit max-rcpt 3
smtp max-message-size 20M
listen on 127.0.0.1 port $OPENSMTPD_PORT hostname localhost
action "inbox" maildir "$D/inbox" virtual <vusers>
match from any for any action "inbox"
CONF

in_peer_root opensmtpd "$D" setsid /usr/sbin/smtpd -d -f /etc/smtpd.conf >"$D/smtpd.log" 2>&1 < /dev/null &
echo $! > "$state/opensmtpd.pid"
if ! wait_port "$OPENSMTPD_PORT"; then
  echo "opensmtpd.sh: smtpd did not listen on $OPENSMTPD_PORT; see $D/smtpd.log" >&2
  tail -5 "$D/smtpd.log" >&2
  exit 1
fi
