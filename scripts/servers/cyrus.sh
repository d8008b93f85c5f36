#!/usr/bin/env bash
# A private Cyrus IMAP for the mailbox tests:  cyrus.sh start|stop STATE
# Listens on 127.0.0.1: CYRUS_IMAP_PORT (IMAP, STARTTLS offered) and CYRUS_POP3_PORT (POP3, STLS
# offered). Users test, alice, bob, carol, dave, all with the password "secret" (SASL PLAIN and
# LOGIN from a sasldb; plain-text logins allowed without TLS), each INBOX made at its first
# login. ACL, SORT, IDLE (through idled) as Cyrus has them, in its default name space (folders
# beside INBOX, "/" between levels). Tests fill mailboxes over IMAP (APPEND). Cyrus runs from its
# unpacked packages (cyrus-common, cyrus-imapd, cyrus-pop3d, see in_peer_root), all its data
# under STATE/cyrus.
set -uo pipefail
. "$(dirname "$0")/common.sh"
server_preamble cyrus "$@"
D=$state/cyrus
users="test alice bob carol dave"
peer_root cyrus >/dev/null || exit 1
need_certificates

rm -rf "$D"
mkdir -p "$D/lib/socket" "$D/spool" "$D/etc"
# The user Cyrus was built to run as: cyrus, in group mail.
peer_users "$D" cyrus:64030:8
cp "$state/tls/server.crt" "$state/tls/server.key" "$D/etc/"
for u in $users; do
  echo secret | saslpasswd2 -p -c -f "$D/sasldb2" -u localhost "$u" || { echo "cyrus.sh: saslpasswd2 failed" >&2; exit 1; }
done
chown -R 64030:8 "$D/lib" "$D/spool" "$D/sasldb2" "$D/etc/server.key"
# /etc/imapd.conf and /etc/cyrus.conf are the names Cyrus was built with: in its namespace
# they are these files.
cat > "$D/etc/imapd.conf" <<CONF
configdirectory: $D/lib
partition-default: $D/spool
servername: localhost
admins: cyrus
allowplaintext: yes
sasl_pwcheck_method: auxprop
sasl_auxprop_plugin: sasldb
sasl_sasldb_path: $D/sasldb2
sasl_mech_list: PLAIN LOGIN
tls_server_cert: /etc/server.crt
tls_server_key: /etc/server.key
autocreate_quota: 0
popminpoll: 0
CONF
cat > "$D/etc/cyrus.conf" <<CONF
START {
  recover cmd="/usr/lib/cyrus/bin/ctl_cyrusdb -r"
}
SERVICES {
  imap cmd="/usr/lib/cyrus/bin/imapd" listen="127.0.0.1:$CYRUS_IMAP_PORT" prefork=0
  pop3 cmd="/usr/lib/cyrus/bin/pop3d" listen="127.0.0.1:$CYRUS_POP3_PORT" prefork=0
}
EVENTS {
}
DAEMON {
  idled cmd="/usr/lib/cyrus/bin/idled"
}
CONF

in_peer_root cyrus "$D" setsid /usr/lib/cyrus/bin/master -D -p "$D/master.pid" >"$D/master.log" 2>&1 < /dev/null &
echo $! > "$state/cyrus.pid"
for p in "$CYRUS_IMAP_PORT" "$CYRUS_POP3_PORT"; do
  if ! wait_port "$p"; then
    echo "cyrus.sh: Cyrus did not listen on $p; see $D/master.log" >&2
    tail -5 "$D/master.log" >&2
    exit 1
  fi
done
