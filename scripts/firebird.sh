#!/usr/bin/env bash
# Starts or stops the local Firebird 3 server that the tests and the demo use.
#   firebird.sh start   start it on 127.0.0.1:3050 (or reuse one already running)
#   firebird.sh stop    stop the server this script started
#   firebird.sh status  say whether it answers
# These machines have no systemd, so the server runs in the background as the
# user "firebird", and its PID is kept for "stop".
set -euo pipefail

# shellcheck source=scripts/server-process.sh
source "$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")/server-process.sh"

password="${ZENDREL_FB_PASSWORD:-gravulent}"
state_dir="${ZENDREL_FB_STATE:-/tmp/zendrel-firebird}"
pid_file="$state_dir/firebird.pid"
log_file="$state_dir/firebird.log"

answers() {
  fbsvcmgr localhost/3050:service_mgr user SYSDBA password "$password" info_server_version >/dev/null 2>&1
}

port_open() {
  (exec 3<>/dev/tcp/127.0.0.1/3050) 2>/dev/null
}

set_password_offline() {
  # Sets the SYSDBA password straight in the security database; only while no server runs.
  isql-fb -user SYSDBA -q /var/lib/firebird/3.0/system/security3.fdb >/dev/null <<SQL
CREATE OR ALTER USER SYSDBA PASSWORD '$password' USING PLUGIN Srp;
COMMIT;
SQL
}

start() {
  mkdir -p "$state_dir"
  if port_open; then
    if answers; then
      echo "firebird: a server already answers on 127.0.0.1:3050; using it"
      return 0
    fi
    echo "firebird: something listens on 127.0.0.1:3050 but refuses the SYSDBA password" >&2
    return 1
  fi
  set_password_offline || echo "firebird: could not set the SYSDBA password offline; trying the server anyway" >&2
  chown firebird:firebird "$state_dir" 2>/dev/null || true
  setsid setpriv --reuid=firebird --regid=firebird --init-groups -- /usr/sbin/firebird </dev/null >>"$log_file" 2>&1 &
  echo $! >"$pid_file"
  # A loaded machine can take a while to start the server: wait up to 60 s.
  wait_for_server 600 || { echo "firebird: the server did not answer within 60 s; see $log_file" >&2; return 1; }
  echo "firebird: started (pid $(cat "$pid_file"))"
}

# Up to 30 s for the server to end after SIGTERM.
stop() { stop_server "$pid_file" 300 firebird; }

case "${1:-}" in
  start) start ;;
  stop) stop ;;
  status) if answers; then echo "firebird: answers"; else echo "firebird: not answering"; exit 1; fi ;;
  *) echo "usage: $0 start|stop|status" >&2; exit 2 ;;
esac
