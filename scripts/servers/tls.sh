#!/usr/bin/env bash
# The test certificate authority and server certificates: STATE/tls/{ca.crt,server.crt,server.key,server.pem},
# plus a certificate for the wrong host name (wrong.crt/.key) and an expired one (expired.crt/.key).
set -euo pipefail
action=$1; state=$2; d=$state/tls
[ "$action" = start ] || exit 0
[ -f "$d/server.pem" ] && exit 0
mkdir -p "$d"; cd "$d"
q() { "$@" >/dev/null 2>&1; }
q openssl req -x509 -newkey rsa:2048 -nodes -days 3650 -subj "/CN=qarvel test CA" -keyout ca.key -out ca.crt \
  -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign"
issue() {  # issue NAME CN SAN DAYS_ARGS...
  local name=$1 cn=$2 san=$3; shift 3
  q openssl req -newkey rsa:2048 -nodes -subj "/CN=$cn" -keyout $name.key -out $name.csr
  printf 'subjectAltName=%s\nbasicConstraints=CA:FALSE\nextendedKeyUsage=serverAuth,clientAuth\n' "$san" > $name.ext
  q openssl x509 -req -in $name.csr -CA ca.crt -CAkey ca.key -CAcreateserial -extfile $name.ext -out $name.crt "$@"
  cat $name.crt $name.key > $name.pem
}
issue server localhost "DNS:localhost,IP:127.0.0.1" -days 3650
issue wrong wrong.example "DNS:wrong.example" -days 3650
# An expired certificate: valid for one day starting two days ago.
if openssl x509 -help 2>&1 | grep -q -- '-not_before'; then
  issue expired localhost "DNS:localhost,IP:127.0.0.1" -not_before "$(date -u -d '-2 days' +%Y%m%d%H%M%SZ)" -not_after "$(date -u -d '-1 day' +%Y%m%d%H%M%SZ)"
else
  issue expired localhost "DNS:localhost,IP:127.0.0.1" -days 1
  touch expired.needs-faketime
fi
chmod 644 ./*.key ./*.pem
