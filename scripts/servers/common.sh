# Helpers shared by the server scripts (sourced, not run).
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

# server_preamble NAME ACTION STATE [PID...]: the start of every server script NAME.sh. Sets
# action and state (made, and absolute) and exports the ports of ports.env. On stop it runs the
# script's server_stop when it has one, stops STATE/PID.pid of each PID (default NAME) and ends
# the script; on start it ends the script when the first of them runs already.
server_preamble() {
  local name=$1 pid
  action=${2:?usage: $name.sh start|stop STATE}
  state=${3:?usage: $name.sh start|stop STATE}
  shift 3
  [ $# -gt 0 ] || set -- "$name"
  mkdir -p "$state"; state=$(cd "$state" && pwd)
  set -a; . "$here/ports.env"; set +a
  if [ "$action" = stop ]; then
    if declare -F server_stop >/dev/null; then server_stop; fi
    for pid in "$@"; do stop_pidfile "$state/$pid.pid"; done
    exit 0
  fi
  if [ -f "$state/$1.pid" ] && alive "$(cat "$state/$1.pid")"; then exit 0; fi
}

# need_certificates: the test certificate authority and its certificates (tls.sh), made once.
need_certificates() {
  bash "$here/tls.sh" start "$state" || exit 1
}

# wait_port PORT [ADDR]: waits up to 10 s for a TCP listener; fails with a message otherwise.
wait_port() {
  local port=$1 addr=${2:-127.0.0.1}
  for _ in $(seq 1 100); do
    if [[ $addr == *:* ]]; then  # bash's /dev/tcp does not reach IPv6 loopback here
      python3 -c 'import socket,sys; socket.create_connection((sys.argv[1], int(sys.argv[2])), 1).close()' \
        "$addr" "$port" 2>/dev/null && return 0
    else
      (exec 3<>/dev/tcp/$addr/$port) 2>/dev/null && return 0
    fi
    sleep 0.1
  done
  echo "port $addr:$port did not open within 10 s" >&2
  return 1
}

# alive PID: true when the process runs and is not a zombie (orphans are not reaped here).
alive() {
  local pid=$1
  [ -r /proc/$pid/stat ] || return 1
  [ "$(awk '{print $3}' /proc/$pid/stat)" != Z ]
}

# stop_pidfile FILE: TERM, wait up to 5 s, then KILL.
stop_pidfile() {
  local f=$1 pid
  [ -f "$f" ] || return 0
  pid=$(cat "$f")
  if alive "$pid"; then
    kill -TERM "$pid" 2>/dev/null
    for _ in $(seq 1 50); do alive "$pid" || break; sleep 0.1; done
    alive "$pid" && kill -KILL "$pid" 2>/dev/null
  fi
  rm -f "$f"
}

# Servers that Debian will not install beside Postfix and Dovecot are unpacked by
# scripts/install-deps.sh into a folder each under PEERS.
PEERS=${QARVEL_PEERS:-/opt/qarvel-peers}

# peer_root NAME: the unpacked folder of a peer, or a message and failure when it is missing.
peer_root() {
  if [ ! -f "$PEERS/$1/.packages" ]; then
    echo "$1 is not unpacked under $PEERS (scripts/install-deps.sh)" >&2
    return 1
  fi
  echo "$PEERS/$1"
}

# peer_users LAYER NAME:UID:GID...: the layer's etc/passwd and etc/group are the machine's with
# the server's own users and groups added (the names it was built with), seen only by the server.
peer_users() {
  local layer=$1 entry name uid gid
  shift
  mkdir -p "$layer/etc"
  cp /etc/passwd "$layer/etc/passwd"
  cp /etc/group "$layer/etc/group"
  for entry in "$@"; do
    IFS=: read -r name uid gid <<< "$entry"
    grep -q "^$name:" "$layer/etc/group" || echo "$name:x:$gid:" >> "$layer/etc/group"
    grep -q "^$name:" "$layer/etc/passwd" || echo "$name:x:$uid:$gid::/nonexistent:/usr/sbin/nologin" >> "$layer/etc/passwd"
  done
}

# in_peer_root NAME LAYER COMMAND...: runs COMMAND (it execs, keeping the caller's process id) in a
# mount namespace of its own in which the unpacked packages of NAME lie over /usr, /etc and /var,
# and /etc, /var and /run are writable, their changes kept in LAYER/etc (which holds our
# configuration, passwd and group beforehand), LAYER/var and LAYER/run. The server so finds every
# path it was built with, and everything it writes stays under LAYER.
in_peer_root() {
  local root layer=$2 d
  root=$(peer_root "$1") || return 1
  shift 2
  for d in /usr /etc /var /run; do
    case "$layer/" in "$d"/*) echo "in_peer_root: $layer must not lie under $d" >&2; return 1 ;; esac
  done
  mkdir -p "$layer"/{etc,var,run} "$layer"/work/{etc,var,run}
  exec unshare -m --propagation private /bin/sh -c '
    set -e
    root=$1 layer=$2
    shift 2
    lower() { [ -d "$root$1" ] && printf %s "$root$1:$1" || printf %s "$1"; }
    mount -t overlay peer -o "lowerdir=$(lower /usr)" /usr
    for d in /etc /var /run; do
      mount -t overlay peer -o "lowerdir=$(lower $d),upperdir=$layer$d,workdir=$layer/work$d" $d
    done
    exec "$@"' in_peer_root "$root" "$layer" "$@"
}

# with_dev_log SOCKET CMD...: runs CMD in a mount namespace of its own whose /dev/log leads to
# SOCKET, so that what CMD writes with syslog(3) goes to a private syslog daemon and never to
# the machine's log. /dev there is a small folder of its own with the machine's null, zero,
# random, urandom and tty devices bound into it.
with_dev_log() {
  local socket=$1; shift
  unshare --mount --propagation private -- bash -c '
    set -e
    socket=$1; shift
    saved=$(dirname "$socket")/dev.machine
    mkdir -p "$saved"
    mount --bind /dev "$saved"
    mount -t tmpfs -o mode=755,size=64k qarvel-dev /dev
    for d in null zero random urandom tty; do : > "/dev/$d"; mount --bind "$saved/$d" "/dev/$d"; done
    ln -s "$socket" /dev/log
    exec "$@"' with_dev_log "$socket" "$@"
}
