#!/usr/bin/env bash
# The web-mail site: a lighttpd of its own that runs build/qarvel as its CGI program,
#   webmail.sh start|stop STATE
# on 127.0.0.1:WEBMAIL_PORT (http) and WEBMAILS_PORT (https, the test certificate). The site
# reads the mailboxes of the Dovecot instance (POP3_PORT) and sends through Postfix
# (SMTP_PORT); both ports come from STATE/webmail/qarvel.txt, which the login form's
# "-config" asks for. /cgi-bin/qarvel takes the credentials from the query (the pages carry
# them); /secure/cgi-bin/qarvel is the same program behind Basic authentication (-auth), with
# the Dovecot users and passwords in lighttpd's user file. Uploads and attachments live in
# STATE/webmail/files. QARVEL_BINARY names the program (default: build/qarvel of this tree).
set -uo pipefail
. "$(dirname "$0")/common.sh"
server_preamble webmail "$@"
w=$state/webmail
command -v lighttpd >/dev/null || { echo "webmail.sh: lighttpd is not installed (scripts/install-deps.sh)" >&2; exit 1; }
need_certificates
binary=${QARVEL_BINARY:-$here/../../build/qarvel}
binary=$(cd "$(dirname "$binary")" && pwd)/$(basename "$binary")

mkdir -p "$w/htdocs/cgi-bin" "$w/htdocs/secure/cgi-bin" "$w/files" "$w/log"
ln -sf "$binary" "$w/htdocs/cgi-bin/qarvel"
ln -sf "$binary" "$w/htdocs/secure/cgi-bin/qarvel"
cat > "$w/htdocs/index.html" <<'HTML'
<html><head><title>QARVEL Web Mail</title></head><body>
<h2>QARVEL Web Mail</h2>
<form id=login method=get action="/cgi-bin/qarvel/">
<input type=hidden name="-cgi" value=""><input type=hidden name="-host" value="localhost">
<input type=hidden name="-config" value="">
User <input id=user type=text name="-user"> Password <input id=pass type=password name="-pass">
<input type=hidden name="-br" value=""><input type=hidden name="-html" value="">
<input id=go type=submit value="Log in"></form></body></html>
HTML
{
  echo "POP3_PORT $POP3_PORT"
  echo "IMAP_PORT $IMAP_PORT"
  echo "SMTP_PORT $SMTP_PORT"
  echo "ESMTP"
  echo "QARVEL_PATH $w/files"
} > "$w/qarvel.txt"
: > "$w/users"
for u in test alice bob carol dave; do echo "$u:secret" >> "$w/users"; done
cat "$state/tls/server.crt" "$state/tls/server.key" > "$w/server.pem"
chown -R www-data:www-data "$w" 2>/dev/null || true
chmod 600 "$w/server.pem"

cat > "$w/lighttpd.conf" <<CONF
server.modules = ( "mod_access", "mod_auth", "mod_authn_file", "mod_setenv", "mod_cgi", "mod_openssl", "mod_accesslog" )
server.document-root = "$w/htdocs"
server.bind = "127.0.0.1"
server.port = $WEBMAIL_PORT
server.username = "www-data"
server.groupname = "www-data"
server.errorlog = "$w/log/error.log"
accesslog.filename = "$w/log/access.log"
server.max-request-size = 65536
index-file.names = ( "index.html" )
mimetype.assign = ( ".html" => "text/html", "" => "application/octet-stream" )
\$SERVER["socket"] == "127.0.0.1:$WEBMAILS_PORT" {
  ssl.engine = "enable"
  ssl.pemfile = "$w/server.pem"
}
cgi.assign = ( "/cgi-bin/qarvel" => "" )
setenv.add-environment = ( "QARVEL_CONFIG" => "$w/qarvel.txt", "QARVEL_PATH" => "$w/files" )
auth.backend = "plain"
auth.backend.plain.userfile = "$w/users"
auth.require = ( "/secure/" => ( "method" => "basic", "realm" => "QARVEL Web Mail", "require" => "valid-user" ) )
CONF
lighttpd -tt -f "$w/lighttpd.conf" >"$w/log/check.log" 2>&1 || { echo "webmail.sh: configuration refused:" >&2; cat "$w/log/check.log" >&2; exit 1; }
setsid lighttpd -D -f "$w/lighttpd.conf" >"$w/log/stdout.log" 2>&1 < /dev/null &
echo $! > "$state/webmail.pid"
wait_port "$WEBMAIL_PORT" && wait_port "$WEBMAILS_PORT"
