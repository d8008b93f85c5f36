# Helpers shared by the server scripts (sourced, not run).

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
