#!/usr/bin/env bash
# A private INN news server for the posting tests:  inn.sh start|stop STATE
# innd listens on 127.0.0.1:NNTP_PORT and hands every client to nnrpd (no feed peers, so no
# transit mode), STARTTLS offered with the test CA's server certificate; a second nnrpd
# listens on 127.0.0.1:NNTPS_PORT with TLS from the first byte (anonymous clients may only
# read there, so posting draws a 480). Everything lives under
# STATE/inn, made afresh on every start (an old spool would clash with a new active file).
# Groups: open.group (anyone may post), test.group (only after AUTHINFO). Users from a
# password file: test / secret.
set -uo pipefail
. "$(dirname "$0")/common.sh"
bin=/usr/lib/news/bin
server_stop() {  # innd ignores TERM for a while; the control channel stops it at once.
  if [ -f "$state/innd.pid" ] && alive "$(cat "$state/innd.pid")"; then
    INNCONF=$state/inn/etc/inn.conf "$bin/ctlinnd" -s -t 5 shutdown "tests done" >/dev/null 2>&1
  fi
}
server_preamble inn "$@" innd nnrpd-tls
N=$state/inn
export INNCONF=$N/etc/inn.conf

[ -x "$bin/innd" ] || { echo "inn.sh: inn2 is not installed (scripts/install-deps.sh)" >&2; exit 1; }
need_certificates
stop_pidfile "$state/nnrpd-tls.pid"
rm -rf "$N"
mkdir -p "$N"/{etc,db,run,log,tmp,spool/articles,spool/overview,spool/incoming/tmp,spool/outgoing,spool/archive,http}

# The stock configuration without the keys that place this instance; ours follow.
own="pathetc|pathdb|pathrun|pathlog|pathtmp|pathspool|patharticles|pathoverview|pathincoming|pathoutgoing|patharchive|pathhttp|port|bindaddress|server|runasuser|pgpverify|mta|domain|pathhost|nnrpdpostport|tlscertfile|tlskeyfile|tlscafile|tlscapath|nnrpdloadlimit"
grep -Ev "^($own):" /etc/news/inn.conf > "$N/etc/inn.conf"
cat >> "$N/etc/inn.conf" <<CONF
pathetc:      $N/etc
pathdb:       $N/db
pathrun:      $N/run
pathlog:      $N/log
pathtmp:      $N/tmp
pathspool:    $N/spool
patharticles: $N/spool/articles
pathoverview: $N/spool/overview
pathincoming: $N/spool/incoming
pathoutgoing: $N/spool/outgoing
patharchive:  $N/spool/archive
pathhttp:     $N/http
port:         $NNTP_PORT
nnrpdpostport: $NNTP_PORT
bindaddress:  127.0.0.1
bindaddress6: "::1"
server:       127.0.0.1
runasuser:    news
pgpverify:    false
mta:          "/bin/true %s"
domain:       localdomain
pathhost:     news.qarvel.test
tlscertfile:  $N/etc/server.crt
tlskeyfile:   $N/etc/server.key
tlscafile:    $N/etc/ca.crt
# nnrpd refuses readers ("400") above a load average of 16 by default: the test machine is
# shared by many builds, and a refused reader is no test of ours.
nnrpdloadlimit: 0
CONF
for f in newsfeeds expire.ctl control.ctl control.ctl.local distributions distrib.pats \
         moderators localgroups nocem.ctl subscriptions innwatch.ctl inn-secrets.conf; do
  [ -f /etc/news/$f ] && cp /etc/news/$f "$N/etc/"
done
# No feed peers: every client, 127.0.0.1 included, is a reader handed to nnrpd.
printf 'streaming: true\nmax-connections: 8\n' > "$N/etc/incoming.conf"
printf 'method tradspool {\n    newsgroups: *\n    class: 0\n}\n' > "$N/etc/storage.conf"
cp "$state/tls/server.crt" "$state/tls/server.key" "$state/tls/ca.crt" "$N/etc/"
chmod 0600 "$N/etc/server.key"
echo "test:$(openssl passwd -6 secret)" > "$N/etc/nntp.passwd"
cat > "$N/etc/readers.conf" <<CONF
auth "everyone" {
    hosts: "*"
    default: "<anonymous>"
    auth: "ckpasswd -f $N/etc/nntp.passwd"
}
access "anonymous" {
    users: "<anonymous>"
    read: "*"
    post: "open.*"
}
access "members" {
    users: "test"
    newsgroups: "*"
    access: RPA
}
CONF
# The TLS port lets anonymous clients read only: posting there needs the login that a 480
# reply to POST asks for.
sed 's/^    post: "open.\*"/    access: R/; /^    read: "\*"/s/read/newsgroups/' "$N/etc/readers.conf" > "$N/etc/readers-tls.conf"
cat > "$N/db/active" <<ACTIVE
control 0000000000 0000000001 n
control.cancel 0000000000 0000000001 n
junk 0000000000 0000000001 n
open.group 0000000000 0000000001 y
test.group 0000000000 0000000001 y
ACTIVE
: > "$N/db/active.times"
: > "$N/db/history"
: > "$N/db/newsgroups"
chown -R news:news "$N"
su -s /bin/sh news -c "INNCONF=$INNCONF $bin/makedbz -i -o -s 10000" >>"$N/log/start.out" 2>&1 || {
  echo "inn.sh: makedbz failed; see $N/log/start.out" >&2; exit 1; }

# innd drops to the news user itself; nnrpd is started as news.
setsid "$bin/innd" -f >>"$N/log/innd.out" 2>&1 < /dev/null &
echo $! > "$state/innd.pid"
setsid setpriv --reuid=news --regid=news --clear-groups \
  "$bin/nnrpd" -D -f -S -c readers-tls.conf -b 127.0.0.1 -p "$NNTPS_PORT" >>"$N/log/nnrpd-tls.out" 2>&1 < /dev/null &
echo $! > "$state/nnrpd-tls.pid"
for p in "$NNTP_PORT" "$NNTPS_PORT"; do
  if ! wait_port "$p"; then
    echo "inn.sh: INN did not listen on $p; see $N/log" >&2
    tail -5 "$N/log/innd.out" "$N/log/nnrpd-tls.out" >&2 2>/dev/null
    exit 1
  fi
done
wait_port "$NNTP_PORT" ::1 || { echo "inn.sh: INN did not listen on [::1]:$NNTP_PORT" >&2; exit 1; }
exit 0
