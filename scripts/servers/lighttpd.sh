#!/usr/bin/env bash
# lighttpd on 127.0.0.1:HTTP_PORT and, with the test certificate, HTTPS_PORT:
#   lighttpd.sh start|stop STATE
# Serves STATE/www/htdocs: index.html, hello.txt, large.bin (16 MiB, the same bytes every time),
# /basic/ (Basic), /digest/ (Digest MD5 or SHA-256) and /digest-md5/ (Digest MD5), user "test"
# password "secret"; /old/NAME answers 302 to /new/NAME; /loop/ redirects to itself; /cookie
# sets a cookie; large.bin?slow comes at 4 MiB/s.
set -uo pipefail
. "$(dirname "$0")/common.sh"
server_preamble lighttpd "$@"
w=$state/www
command -v lighttpd >/dev/null || { echo "lighttpd.sh: lighttpd is not installed (packages lighttpd lighttpd-mod-openssl)" >&2; exit 1; }
[ -f "$state/tls/server.pem" ] || { echo "lighttpd.sh: $state/tls/server.pem missing (run tls.sh first)" >&2; exit 1; }

mkdir -p "$w/htdocs/basic" "$w/htdocs/digest" "$w/htdocs/digest-md5" "$w/htdocs/new" "$w/log"
printf '<html><head><title>qarvel test page</title></head><body><p>Hello from the test web server.</p></body></html>\n' > "$w/htdocs/index.html"
printf 'hello, world\r\nsecond line\r\n' > "$w/htdocs/hello.txt"
printf 'basic secret\n' > "$w/htdocs/basic/secret.txt"
printf 'digest secret\n' > "$w/htdocs/digest/secret.txt"
printf 'digest md5 secret\n' > "$w/htdocs/digest-md5/secret.txt"
printf 'moved here\n' > "$w/htdocs/new/target.txt"
printf 'cookie page\n' > "$w/htdocs/cookie"
if [ ! -f "$w/htdocs/large.bin" ]; then
  # Deterministic bytes of every value: a counter through SHA-256, 16 MiB.
  python3 -c '
import hashlib, sys
out = sys.stdout.buffer
block = b"".join(hashlib.sha256(i.to_bytes(4, "big")).digest() for i in range(2048))
for _ in range(256): out.write(block)
' > "$w/htdocs/large.bin"
fi
printf 'test:secret\n' > "$w/users"
cp "$state/tls/server.pem" "$w/server.pem"
chown -R www-data:www-data "$w" 2>/dev/null || true
chmod 600 "$w/server.pem"

cat > "$w/lighttpd.conf" <<CONF
server.modules = ( "mod_access", "mod_auth", "mod_authn_file", "mod_redirect", "mod_setenv", "mod_openssl", "mod_accesslog" )
server.document-root = "$w/htdocs"
server.bind = "127.0.0.1"
server.port = $HTTP_PORT
server.username = "www-data"
server.groupname = "www-data"
server.errorlog = "$w/log/error.log"
accesslog.filename = "$w/log/access.log"
# The common log format with the client's port last: requests of one connection share it.
accesslog.format = "%h %V %u %t \\"%r\\" %>s %b %{remote}p"
index-file.names = ( "index.html" )
mimetype.assign = ( ".html" => "text/html", ".txt" => "text/plain", ".bin" => "application/octet-stream", "" => "text/plain" )
\$SERVER["socket"] == "[::1]:$HTTP_PORT" { }
\$SERVER["socket"] == "127.0.0.1:$HTTPS_PORT" {
  ssl.engine = "enable"
  ssl.pemfile = "$w/server.pem"
}
auth.backend = "plain"
auth.backend.plain.userfile = "$w/users"
auth.require = (
  "/basic/"      => ( "method" => "basic",  "realm" => "qarvel", "require" => "valid-user" ),
  "/digest/"     => ( "method" => "digest", "realm" => "qarvel", "require" => "valid-user", "algorithm" => "MD5|SHA-256" ),
  "/digest-md5/" => ( "method" => "digest", "realm" => "qarvel", "require" => "valid-user", "algorithm" => "MD5" )
)
url.redirect = ( "^/old/(.*)\$" => "/new/\$1", "^/loop/(.*)\$" => "/loop/\$1" )
url.redirect-code = 302
# large.bin?slow comes at 4 MiB/s: four seconds, for the progress line of a long download.
\$HTTP["querystring"] == "slow" {
  connection.kbytes-per-second = 4096
}
\$HTTP["url"] == "/cookie" {
  setenv.add-response-header = ( "Set-Cookie" => "session=abc123; Path=/; HttpOnly" )
}
CONF
lighttpd -tt -f "$w/lighttpd.conf" >"$w/log/check.log" 2>&1 || { echo "lighttpd.sh: configuration refused:" >&2; cat "$w/log/check.log" >&2; exit 1; }
setsid lighttpd -D -f "$w/lighttpd.conf" >"$w/log/stdout.log" 2>&1 < /dev/null &
echo $! > "$state/lighttpd.pid"
wait_port "$HTTP_PORT" && wait_port "$HTTPS_PORT" && wait_port "$HTTP_PORT" ::1
