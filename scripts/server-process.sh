# Shell functions shared by scripts/firebird.sh and scripts/firebird4.sh: waiting for
# the server one of them started to answer, and stopping it. Source it after defining
# port_open and answers (each script reaches its own server); it changes no shell option.
# shellcheck shell=bash

# Waits up to $1 tenths of a second for the server to take connections and answer;
# returns 1 when it did not.
wait_for_server() {
  local tenths=$1
  for _ in $(seq 1 "$tenths"); do
    if port_open && answers; then return 0; fi
    sleep 0.1
  done
  return 1
}

# Stops the server whose PID file is $1, if there is one: SIGTERM, up to $2 tenths of
# a second for it to end, then SIGKILL (which also ends one that ignored the SIGTERM).
# Removes the PID file and says "$3: stopped".
stop_server() {
  local pid_file=$1 tenths=$2 name=$3 pid
  [ -f "$pid_file" ] || return 0
  pid=$(cat "$pid_file")
  if kill -0 "$pid" 2>/dev/null; then
    kill -TERM "$pid" 2>/dev/null || true
    for _ in $(seq 1 "$tenths"); do
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.1
    done
    kill -KILL "$pid" 2>/dev/null || true
  fi
  rm -f "$pid_file"
  echo "$name: stopped"
}
