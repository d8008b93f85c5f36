#!/usr/bin/env bash
# A private Dovecot instance for the mailbox tests:  dovecot.sh start|stop STATE
# Listens on 127.0.0.1: POP3_PORT (STLS offered), POP3S_PORT (implicit TLS), IMAP_PORT
# (STARTTLS offered), IMAPS_PORT (implicit TLS). Users from a passwd file, all with the
# password "secret": test, alice, bob, carol, dave, list. Each has a Maildir under
# STATE/dovecot/mail/USER, owned by uid/gid 65534 (Dovecot reads it as that user); tests fill
# it with qarvel_env.fill_maildir. APOP, CRAM-MD5, PLAIN and LOGIN are accepted; XOAUTH2 and
# OAUTHBEARER take the bearer token "qarvel-good-token" for alice, checked by the token endpoint
# oauth2_introspect.py on OAUTH2_PORT. The user "moved" (password "secret") gets a login
# referral to carol on IMAP_PORT.
set -uo pipefail
. "$(dirname "$0")/common.sh"
server_preamble dovecot "$@" dovecot oauth2
D=$state/dovecot
users="test alice bob carol dave list"

command -v dovecot >/dev/null || { echo "dovecot.sh: dovecot is not installed (scripts/install-deps.sh)" >&2; exit 1; }
need_certificates

mkdir -p "$D/run" "$D/state" "$D/mail"
: > "$D/passwd"
for u in $users; do
  mkdir -p "$D/mail/$u"/{new,cur,tmp}
  echo "$u:{PLAIN}secret:65534:65534::$D/mail/$u" >> "$D/passwd"
done
# "moved" logs in and is referred (RFC 2221) to carol on this same server.
echo "moved:{PLAIN}secret:65534:65534::$D/mail/carol::nologin=y host=127.0.0.1 port=$IMAP_PORT destuser=carol" >> "$D/passwd"
chown -R 65534:65534 "$D/mail"
chmod 0644 "$D/passwd"

cat > "$D/dovecot.conf" <<CONF
instance_name = dovecot-qarvel-$(echo "$state" | md5sum | cut -c1-8)
base_dir = $D/run
state_dir = $D/state
log_path = $D/dovecot.log
protocols = pop3 imap
listen = 127.0.0.1, ::1
ssl = yes
ssl_cert = <$state/tls/server.crt
ssl_key = <$state/tls/server.key
ssl_min_protocol = TLSv1.2
disable_plaintext_auth = no
auth_mechanisms = plain login cram-md5 apop digest-md5 xoauth2 oauthbearer
auth_failure_delay = 0
passdb {
  driver = passwd-file
  args = scheme=PLAIN $D/passwd
  mechanisms = plain login cram-md5 apop digest-md5
}
passdb {
  driver = oauth2
  mechanisms = xoauth2 oauthbearer
  args = $D/oauth2.conf.ext
}
userdb {
  driver = passwd-file
  args = $D/passwd
}
mail_location = maildir:~
# Access-control lists per folder (the IMAP ACL commands); owners have every right.
mail_plugins = \$mail_plugins acl
protocol imap {
  mail_plugins = \$mail_plugins imap_acl
  # "* OK Still here" to an idling client every second (2 minutes in the packaged setting).
  imap_idle_notify_interval = 1 secs
}
plugin {
  acl = vfile
}
first_valid_uid = 100
default_internal_user = dovecot
default_login_user = dovenull
pop3_uidl_format = %08Xu%08Xv
service pop3-login {
  inet_listener pop3 {
    port = $POP3_PORT
  }
  inet_listener pop3s {
    port = $POP3S_PORT
    ssl = yes
  }
}
# Postfix's SMTP_OAUTH2_PORT asks this socket (SASL through Dovecot, XOAUTH2 and OAUTHBEARER).
service auth {
  unix_listener auth-postfix {
    mode = 0666
  }
}
service imap-login {
  inet_listener imap {
    port = $IMAP_PORT
  }
  inet_listener imaps {
    port = $IMAPS_PORT
    ssl = yes
  }
}
CONF

cat > "$D/oauth2.conf.ext" <<CONF
introspection_mode = post
introspection_url = http://127.0.0.1:$OAUTH2_PORT/introspect
username_attribute = username
active_attribute = active
active_value = true
CONF
if ! { [ -f "$state/oauth2.pid" ] && alive "$(cat "$state/oauth2.pid")"; }; then
  setsid python3 "$here/oauth2_introspect.py" "$OAUTH2_PORT" >>"$D/oauth2.out" 2>&1 < /dev/null &
  echo $! > "$state/oauth2.pid"
fi
wait_port "$OAUTH2_PORT" || { echo "dovecot.sh: the token endpoint did not listen on $OAUTH2_PORT" >&2; exit 1; }

setsid dovecot -F -c "$D/dovecot.conf" >>"$D/dovecot.out" 2>&1 < /dev/null &
echo $! > "$state/dovecot.pid"
for p in "$POP3_PORT" "$POP3S_PORT" "$IMAP_PORT" "$IMAPS_PORT"; do
  if ! wait_port "$p"; then
    echo "dovecot.sh: Dovecot did not listen on $p; see $D/dovecot.log and $D/dovecot.out" >&2
    tail -5 "$D/dovecot.out" "$D/dovecot.log" >&2 2>/dev/null
    exit 1
  fi
done
for p in "$POP3_PORT" "$IMAP_PORT"; do
  wait_port "$p" ::1 || { echo "dovecot.sh: Dovecot did not listen on [::1]:$p" >&2; exit 1; }
done
exit 0
