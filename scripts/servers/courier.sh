#!/usr/bin/env bash
# A private Courier IMAP and POP3 for the mailbox tests:  courier.sh start|stop STATE
# Listens on 127.0.0.1: COURIER_IMAP_PORT (IMAP, STARTTLS offered) and COURIER_POP3_PORT (POP3,
# STLS offered), with the packages' own settings otherwise (ACL, SORT, IDLE; folders under
# "INBOX." in the one private name space). Users test, alice, bob, carol, dave, all with the
# password "secret", from a userdb that authdaemond reads; each has a Maildir under
# STATE/courier/home/USER/Maildir owned by uid/gid 65534. Courier runs from its unpacked packages
# (courier-base, courier-authlib, courier-authlib-userdb, courier-imap, courier-pop, see
# in_peer_root): authdaemond and the two couriertcpd listeners under one shell, which stops them.
set -uo pipefail
. "$(dirname "$0")/common.sh"
server_preamble courier "$@"
D=$state/courier
users="test alice bob carol dave"
root=$(peer_root courier) || exit 1
need_certificates

rm -rf "$D"
E=$D/etc/courier
mkdir -p "$E" "$D/home"
peer_users "$D" courier:64040:64040
# The packages' settings, with our addresses, ports and certificate after them.
cp "$root"/etc/courier/{imapd,imapd-ssl,pop3d,pop3d-ssl} "$E/"
cp "$state/tls/server.pem" "$E/server.pem"; chmod 600 "$E/server.pem"; chown 64040 "$E/server.pem"  # the login runs as courier
# couriertls wants DH parameters: the named group of RFC 7919 (made at once, nothing to compute).
openssl genpkey -genparam -algorithm DH -pkeyopt group:ffdhe2048 -out "$E/dhparams.pem" 2>/dev/null
# IDLE reports new mail at once through the file alteration monitor (gamin), as the packaged file
# recommends for IDLE clients, instead of looking every IMAP_IDLE_TIMEOUT (60) seconds.
cat >> "$E/imapd" <<CONF
ADDRESS=127.0.0.1
PORT=$COURIER_IMAP_PORT
IMAP_ENHANCEDIDLE=1
CONF
cat >> "$E/pop3d" <<CONF
ADDRESS=127.0.0.1
PORT=$COURIER_POP3_PORT
CONF
for f in imapd-ssl pop3d-ssl; do
  printf 'TLS_CERTFILE=/etc/courier/server.pem\nTLS_CACHEFILE=\n' >> "$E/$f"
done
cat > "$E/authdaemonrc" <<CONF
authmodulelist="authuserdb"
daemons=2
authdaemonvar=/run/courier/authdaemon
DEBUG_LOGIN=0
DEFAULTOPTIONS=""
LOGGEROPTS=""
CONF
hash=$(openssl passwd -6 secret)
: > "$E/userdb"
for u in $users; do
  mkdir -p "$D/home/$u/Maildir"/{new,cur,tmp}
  printf '%s\tuid=65534|gid=65534|home=%s|systempw=%s\n' "$u" "$D/home/$u" "$hash" >> "$E/userdb"
done
chmod 600 "$E/userdb"
chown -R 65534:65534 "$D/home"

# The three daemons, each as its start-up script would run it, under one shell.
cat > "$D/run.sh" <<'RUN'
set -a
mkdir -p /run/courier/authdaemon
/usr/sbin/makeuserdb
/usr/lib/courier/courier-authlib/authdaemond &
pids=$!
for s in imapd pop3d; do
  ( . /etc/courier/$s-ssl; . /etc/courier/$s
    if [ $s = imapd ]; then
      IMAP_STARTTLS=$IMAPDSTARTTLS
      exec /usr/sbin/couriertcpd -address=$ADDRESS -maxprocs=$MAXDAEMONS -maxperip=$MAXPERIP \
        $TCPDOPTS $PORT /usr/lib/courier/courier/imaplogin /usr/bin/imapd $MAILDIRPATH
    fi
    exec /usr/sbin/couriertcpd -address=$ADDRESS -maxprocs=$MAXDAEMONS -maxperip=$MAXPERIP \
      $TCPDOPTS $PORT /usr/lib/courier/courier/courierpop3login /usr/lib/courier/courier/courierpop3d $MAILDIRPATH
  ) &
  pids="$pids $!"
done
trap 'kill $pids; wait; exit 0' TERM
wait
RUN
in_peer_root courier "$D" setsid /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin /bin/sh "$D/run.sh" >"$D/courier.log" 2>&1 < /dev/null &
echo $! > "$state/courier.pid"
for p in "$COURIER_IMAP_PORT" "$COURIER_POP3_PORT"; do
  if ! wait_port "$p"; then
    echo "courier.sh: Courier did not listen on $p; see $D/courier.log" >&2
    tail -5 "$D/courier.log" >&2
    exit 1
  fi
done
