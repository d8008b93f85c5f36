#!/usr/bin/env bash
# The test certificate authority and the certificates signed by it, under STATE/tls:
#   ca.crt/.key         the test CA (clients trust it with -cafile:)
#   server.{crt,key,pem} localhost and 127.0.0.1, valid ten years (the real servers use it)
#   wrong.{crt,key,pem}  valid, but for the host name wrong.example only
#   expired.{crt,key,pem} localhost and 127.0.0.1, valid for one day that ended yesterday
#   untrusted.{crt,key,pem} localhost and 127.0.0.1, self-signed (no trusted CA behind it)
#   client.{crt,key,pem} a client certificate for CN=test
# Dates are set by `openssl ca -startdate/-enddate`, so no clock tricks are needed.
set -euo pipefail
action=$1; state=$2; d=$state/tls
[ "$action" = start ] || exit 0
[ -f "$d/complete" ] && exit 0
rm -rf "$d"; mkdir -p "$d"; cd "$d"
q() { "$@" >/dev/null 2>&1 || { echo "tls.sh: failed: $*" >&2; exit 1; }; }
san="DNS:localhost,IP:127.0.0.1"
q openssl req -x509 -newkey rsa:2048 -nodes -days 3650 -subj "/CN=qarvel test CA" -keyout ca.key -out ca.crt \
  -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign"
mkdir -p ca.db; : > ca.db/index.txt; echo 1000 > ca.db/serial
cat > ca.cnf <<CNF
[ca]
default_ca = test
[test]
database = ca.db/index.txt
serial = ca.db/serial
new_certs_dir = ca.db
certificate = ca.crt
private_key = ca.key
default_md = sha256
policy = anything
unique_subject = no
copy_extensions = none
[anything]
commonName = supplied
[leaf]
subjectAltName = \${ENV::SAN}
basicConstraints = CA:FALSE
extendedKeyUsage = serverAuth,clientAuth
CNF
stamp() { date -u -d "$1" +%Y%m%d%H%M%SZ; }
issue() {  # issue NAME CN SAN START END
  local name=$1 cn=$2
  q openssl req -newkey rsa:2048 -nodes -subj "/CN=$cn" -keyout "$name.key" -out "$name.csr"
  SAN=$3 q openssl ca -batch -config ca.cnf -extensions leaf -notext -startdate "$(stamp "$4")" \
    -enddate "$(stamp "$5")" -in "$name.csr" -out "$name.crt"
  cat "$name.crt" "$name.key" > "$name.pem"
}
issue server localhost "$san" "-1 day" "+3650 days"
issue wrong wrong.example "DNS:wrong.example" "-1 day" "+3650 days"
issue expired localhost "$san" "-2 days" "-1 day"
issue client test "DNS:test" "-1 day" "+3650 days"
q openssl req -x509 -newkey rsa:2048 -nodes -days 3650 -subj "/CN=localhost" -keyout untrusted.key \
  -out untrusted.crt -addext "subjectAltName=$san"
cat untrusted.crt untrusted.key > untrusted.pem
# The expired certificate must really be expired and the others valid.
if openssl x509 -in expired.crt -noout -checkend 0 >/dev/null; then
  echo "tls.sh: expired.crt is not expired" >&2; exit 1
fi
for c in server wrong client; do
  q openssl x509 -in $c.crt -noout -checkend 86400
  q openssl verify -CAfile ca.crt $c.crt
done
chmod 644 ./*.key ./*.pem
touch complete
