#!/usr/bin/env bash
# Installs the packages the build, the tests and the benchmarks need, when run as root and
# something is missing. Without root it only reports what is missing.
set -euo pipefail

packages=(
  cmake g++ make clang libclang-rt-14-dev libssl-dev libgtest-dev libgmock-dev python3 time
  # real peers for the integration tests
  valgrind postfix libsasl2-modules sasl2-bin dovecot-core dovecot-pop3d dovecot-imapd dnsmasq dnsutils openssl
  # second opinions and benchmark peers
  mpack ripmime swaks msmtp curl fetchmail getmail6
  # web server and forward proxy for the HTTP client
  lighttpd lighttpd-mod-openssl tinyproxy
  # XML second opinions, the datagram peer, the multicast namespace and ICMP traffic
  libxml2-utils xmlstarlet socat iproute2 iputils-ping
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
  echo "install-deps: missing packages (run as root to install): ${missing[*]}" >&2
  exit 0
fi
echo "install-deps: installing ${missing[*]}"
# Postfix asks a debconf question on install; we configure our own private instance anyway.
echo 'postfix postfix/main_mailer_type select No configuration' | debconf-set-selections
export DEBIAN_FRONTEND=noninteractive
apt-get update -q >/dev/null
apt-get install -y -q --no-install-recommends "${missing[@]}" >/dev/null
# Without a policy-rc.d, installing daemons starts the system instances; ours run privately.
for svc in postfix dovecot dnsmasq lighttpd tinyproxy; do
  [ -x /etc/init.d/$svc ] && /etc/init.d/$svc stop >/dev/null 2>&1 || true
done
