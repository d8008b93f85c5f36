#!/usr/bin/env bash
# Installs the packages the build, the tests and the benchmarks need, when run as root and
# something is missing. Without root it only reports what is missing.
set -euo pipefail

packages=(
  cmake g++ make ccache clang libclang-rt-14-dev libssl-dev libgtest-dev libgmock-dev python3 time
  # the manual page (scdoc) and the Debian package (make package)
  scdoc debhelper lintian dpkg-dev man-db bash-completion
  # real peers for the integration tests
  valgrind postfix libsasl2-modules sasl2-bin dovecot-core dovecot-pop3d dovecot-imapd dnsmasq dnsutils openssl
  # second opinions and benchmark peers
  mpack ripmime swaks msmtp curl fetchmail getmail6
  # news server for NNTP posting (its inews is the benchmark peer)
  inn2
  # web server and forward proxy for the HTTP client
  lighttpd lighttpd-mod-openssl tinyproxy
  # the browser that drives the web-mail site
  chromium chromium-driver python3-selenium
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
if ! apt-get install -y -q --no-install-recommends "${missing[@]}" >/dev/null; then
  # inn2's set-up stops when the machine's name has no domain: its stock configuration gets
  # one (the tests run INN from a private configuration) and the set-up runs again.
  if [ -f /etc/news/inn.conf ] && ! grep -q '^domain:' /etc/news/inn.conf; then
    sed -i 's/^#domain:.*/domain: localdomain/' /etc/news/inn.conf
  fi
  dpkg --configure -a >/dev/null 2>&1 || dpkg --configure -a >/dev/null
fi
# Without a policy-rc.d, installing daemons starts the system instances; ours run privately.
for svc in postfix dovecot dnsmasq lighttpd tinyproxy inn2; do
  [ -x /etc/init.d/$svc ] && /etc/init.d/$svc stop >/dev/null 2>&1 || true
done
