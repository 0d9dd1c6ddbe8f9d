# Shell function shared by scripts/firebird.sh and scripts/firebird4.sh: ending the
# server process one of them started. Source it; it changes no shell option.
# shellcheck shell=bash

# Ends process $1 if it still runs: SIGTERM, then up to $2 tenths of a second for it to
# end, then SIGKILL (which also reaches a server that ignored the SIGTERM).
end_server_process() {
  local pid=$1 tenths=$2
  if kill -0 "$pid" 2>/dev/null; then
    kill -TERM "$pid" 2>/dev/null || true
    for _ in $(seq 1 "$tenths"); do
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.1
    done
    kill -KILL "$pid" 2>/dev/null || true
  fi
}
