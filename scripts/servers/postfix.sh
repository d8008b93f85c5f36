#!/usr/bin/env bash
# A private Postfix instance for the sending tests:  postfix.sh start|stop STATE
# Listens on 127.0.0.1: SMTP_PORT (STARTTLS offered, AUTH PLAIN/LOGIN), SMTP_SUBMIT_PORT (TLS
# required before AUTH), SMTPS_PORT (implicit TLS), SMTP_LOGIN_PORT (AUTH LOGIN only,
# 3 recipients a message, then 452). Every recipient of every domain is
# delivered into the Maildir STATE/mail/inbox, except: USER@subscribers.test into
# STATE/mail/subscribers/USER/ (USER one of $subscribers below), list@lists.test into Dovecot's Maildir of "dave" (the list's
# own mailbox), and USER@bounces.test is accepted and then bounced with a delivery report.
# SASL user "test", password "secret". SMTP_OAUTH2_PORT (TLS required before AUTH) asks
# Dovecot's auth socket instead: XOAUTH2 and OAUTHBEARER with the test token (dovecot.sh).
set -uo pipefail
. "$(dirname "$0")/common.sh"
server_stop() { [ -d "$state/postfix/etc" ] && postfix -c "$state/postfix/etc" stop >/dev/null 2>&1; }
server_preamble postfix "$@"
P=$state/postfix

command -v postfix >/dev/null || { echo "postfix.sh: postfix is not installed (scripts/install-deps.sh)" >&2; exit 1; }
need_certificates

mkdir -p "$P/etc/sasl" "$P/queue" "$P/data" "$state/mail/inbox"/{new,cur,tmp} "$state/mail/subscribers"
chown -R 65534:65534 "$state/mail"
chown postfix "$P/data"
echo '/./ OK' > "$P/etc/vdomains"
subscribers="ann ben cat dan eve fay gus hal"
: > "$P/etc/vmailbox"
for u in $subscribers; do
  echo "/^$u@subscribers\.test\$/ mail/subscribers/$u/" >> "$P/etc/vmailbox"
  mkdir -p "$state/mail/subscribers/$u"/{new,cur,tmp}
done
chown -R 65534:65534 "$state/mail/subscribers"
printf '%s\n' '/^list@lists\.test$/ dovecot/mail/dave/' '/./ mail/inbox/' >> "$P/etc/vmailbox"
echo '/@bounces\.test$/ refuse:' > "$P/etc/transport"
cat > "$P/etc/main.cf" <<CF
compatibility_level = 3.6
queue_directory = $P/queue
data_directory = $P/data
mail_owner = postfix
setgid_group = postdrop
syslog_name = postfix-qarvel
maillog_file = $P/maillog
maillog_file_prefixes = $state
inet_interfaces = 127.0.0.1, [::1]
inet_protocols = all
myhostname = localhost
mydomain = localhost
mydestination =
local_transport = error:local delivery disabled
alias_maps =
alias_database =
relay_domains =
mynetworks = 127.0.0.0/8, [::1]/128
virtual_mailbox_domains = regexp:$P/etc/vdomains
virtual_mailbox_maps = regexp:$P/etc/vmailbox
virtual_mailbox_base = $state
transport_maps = regexp:$P/etc/transport
virtual_uid_maps = static:65534
virtual_gid_maps = static:65534
message_size_limit = 10240000
smtpd_banner = \$myhostname ESMTP
smtpd_sasl_auth_enable = yes
smtpd_sasl_type = cyrus
smtpd_sasl_path = smtpd
cyrus_sasl_config_path = $P/etc
smtpd_sasl_local_domain = localhost
smtpd_sasl_security_options = noanonymous
smtpd_tls_cert_file = $state/tls/server.crt
smtpd_tls_key_file = $state/tls/server.key
smtpd_tls_security_level = may
smtpd_relay_restrictions = permit_mynetworks, permit_sasl_authenticated, reject_unauth_destination
fast_flush_domains = \$virtual_mailbox_domains
smtpd_etrn_restrictions = permit_mynetworks, reject
smtpd_recipient_limit = 1000
CF
cat > "$P/etc/master.cf" <<CF
127.0.0.1:$SMTP_PORT inet n - n - - smtpd
[::1]:$SMTP_PORT inet n - n - - smtpd
127.0.0.1:$SMTP_SUBMIT_PORT inet n - n - - smtpd -o smtpd_tls_security_level=encrypt -o smtpd_tls_auth_only=yes
127.0.0.1:$SMTPS_PORT inet n - n - - smtpd -o smtpd_tls_wrappermode=yes
127.0.0.1:$SMTP_LOGIN_PORT inet n - n - - smtpd -o smtpd_sasl_path=smtpdlogin -o smtpd_recipient_limit=3
127.0.0.1:$SMTP_OAUTH2_PORT inet n - n - - smtpd -o smtpd_sasl_type=dovecot -o smtpd_sasl_path=$state/dovecot/run/auth-postfix -o smtpd_tls_security_level=encrypt -o smtpd_tls_auth_only=yes
pickup    unix  n       -       n       60      1       pickup
cleanup   unix  n       -       n       -       0       cleanup
qmgr      unix  n       -       n       300     1       qmgr
tlsmgr    unix  -       -       n       1000?   1       tlsmgr
rewrite   unix  -       -       n       -       -       trivial-rewrite
bounce    unix  -       -       n       -       0       bounce
defer     unix  -       -       n       -       0       bounce
trace     unix  -       -       n       -       0       bounce
verify    unix  -       -       n       -       1       verify
flush     unix  n       -       n       1000?   0       flush
proxymap  unix  -       -       n       -       -       proxymap
proxywrite unix -       -       n       -       1       proxymap
smtp      unix  -       -       n       -       -       smtp
relay     unix  -       -       n       -       -       smtp
showq     unix  n       -       n       -       -       showq
error     unix  -       -       n       -       -       error
retry     unix  -       -       n       -       -       error
discard   unix  -       -       n       -       -       discard
virtual   unix  -       n       n       -       -       virtual
refuse    unix  -       n       n       -       -       pipe user=nobody argv=/bin/false
anvil     unix  -       -       n       -       1       anvil
scache    unix  -       -       n       -       1       scache
postlog   unix-dgram n  -       n       -       1       postlogd
CF
cat > "$P/etc/sasl/smtpd.conf" <<CF
pwcheck_method: auxprop
auxprop_plugin: sasldb
mech_list: PLAIN LOGIN CRAM-MD5 DIGEST-MD5
sasldb_path: $P/sasldb2
CF
sed 's/^mech_list: .*/mech_list: LOGIN/' "$P/etc/sasl/smtpd.conf" > "$P/etc/sasl/smtpdlogin.conf"
echo secret | saslpasswd2 -p -c -f "$P/sasldb2" -u localhost test || { echo "postfix.sh: saslpasswd2 failed" >&2; exit 1; }
chown postfix:postfix "$P/sasldb2"; chmod 640 "$P/sasldb2"

postfix -c "$P/etc" set-permissions >/dev/null 2>&1 || true
if ! postfix -c "$P/etc" check >/dev/null 2>&1; then
  echo "postfix.sh: configuration check failed:" >&2
  script -qc "postfix -c $P/etc check" /dev/null >&2
  exit 1
fi
rm -f "$P/queue/pid/master.pid"
setsid postfix -c "$P/etc" start-fg >"$P/start.log" 2>&1 < /dev/null &
for _ in $(seq 1 100); do
  [ -s "$P/queue/pid/master.pid" ] && break
  sleep 0.1
done
if [ ! -s "$P/queue/pid/master.pid" ]; then
  echo "postfix.sh: master did not start (see $P/start.log, $P/maillog)" >&2
  exit 1
fi
tr -d ' ' < "$P/queue/pid/master.pid" > "$state/postfix.pid"
wait_port "$SMTP_PORT" && wait_port "$SMTP_SUBMIT_PORT" && wait_port "$SMTP_OAUTH2_PORT" && wait_port "$SMTPS_PORT" && wait_port "$SMTP_LOGIN_PORT" && wait_port "$SMTP_PORT" ::1
