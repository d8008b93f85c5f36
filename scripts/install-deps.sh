#!/usr/bin/env bash
# Installs the packages the build, the tests and the benchmarks need, when run as root and
# something is missing. Without root it only reports what is missing.
#   scripts/install-deps.sh [--build]     --build: only what building the program takes
set -euo pipefail

# The program, its manual page (scdoc) and its completion: what make and make demo build.
build_packages=(cmake g++ make ccache libssl-dev scdoc)
packages=(
  "${build_packages[@]}" clang libclang-rt-14-dev libgtest-dev libgmock-dev python3 time
  # the Debian package (make package)
  debhelper lintian dpkg-dev man-db bash-completion
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
  # the programs that mail through the system's sendmail (test_sendmail.py)
  bsd-mailx git-email cron
  # XML second opinions, the datagram peer, the multicast namespace and ICMP traffic
  libxml2-utils xmlstarlet socat iproute2 iputils-ping
  # the syslog daemon that -syslog writes to (on a private socket)
  rsyslog
  # faults injected into the calls of a retrieval (test_durability.py); setpriv runs it as the mail user
  strace util-linux
  # the libraries of the unpacked servers below (Cyrus, Courier)
  libical3 libxapian30 libcourier-unicode4 libgamin0 libltdl7
)

# Servers that cannot be installed beside Postfix and Dovecot (each one is a mail transport agent,
# an IMAP or a POP3 server, which Debian lets a machine have only one of) are unpacked from their
# Debian packages into a folder of their own under $PEERS and run from there
# (in_peer_root in scripts/servers/common.sh). NAME:PACKAGES...
PEERS=${QARVEL_PEERS:-/opt/qarvel-peers}
peer_roots=(
  "cyrus:cyrus-common cyrus-imapd cyrus-pop3d"
  "courier:courier-base courier-authlib courier-authlib-userdb courier-imap courier-pop"
  "exim:exim4-daemon-light"
  "opensmtpd:opensmtpd"
)

# unpack_peers: fetches (in one download) and unpacks each peer whose folder does not hold its
# packages yet.
unpack_peers() {
  local entry name pkgs dl todo=() all=()
  for entry in "${peer_roots[@]}"; do
    name=${entry%%:*} pkgs=${entry#*:}
    [ "$(cat "$PEERS/$name/.packages" 2>/dev/null)" = "$pkgs" ] && continue
    todo+=("$entry")
    read -ra more <<< "$pkgs"
    all+=("${more[@]}")
  done
  [ ${#todo[@]} -eq 0 ] && return 0
  if [ "$(id -u)" -ne 0 ]; then
    echo "install-deps: unpacked servers missing (run as root to unpack): ${all[*]}" >&2
    return 0
  fi
  echo "install-deps: unpacking ${all[*]} under $PEERS"
  # The folder stays root's own (nobody else may plant a package in it), so apt fetches as root.
  dl=$(mktemp -d)
  if ! (cd "$dl" && apt-get download -q -o APT::Sandbox::User=root "${all[@]}" >/dev/null); then
    apt-get update -q >/dev/null
    (cd "$dl" && apt-get download -q -o APT::Sandbox::User=root "${all[@]}" >/dev/null) || { rm -rf "$dl"; return 1; }
  fi
  for entry in "${todo[@]}"; do
    name=${entry%%:*} pkgs=${entry#*:}
    rm -rf "${PEERS:?}/$name"
    mkdir -p "$PEERS/$name"
    for p in $pkgs; do dpkg-deb -x "$dl/${p}"_*.deb "$PEERS/$name"; done
    echo "$pkgs" > "$PEERS/$name/.packages"
  done
  rm -rf "$dl"
}

install_missing() {
  [ ${#missing[@]} -eq 0 ] && return 0
  if [ "$(id -u)" -ne 0 ]; then
    echo "install-deps: missing packages (run as root to install): ${missing[*]}" >&2
    return 0
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
  for svc in postfix dovecot dnsmasq lighttpd tinyproxy inn2 rsyslog; do
    [ -x /etc/init.d/$svc ] && /etc/init.d/$svc stop >/dev/null 2>&1 || true
  done
}

build_only=0
[ "${1:-}" = --build ] && build_only=1 && packages=("${build_packages[@]}")
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
install_missing
[ $build_only = 1 ] || unpack_peers
