#!/usr/bin/env bash
# A Firebird 4 server for the tests that must hold on Firebird 4 and 5 as well as on
# Firebird 3. The server is Debian 13's firebird4.0-server in a chroot of its own (built
# once with debootstrap and kept under /var/cache), started inside a network namespace
# of its own, so that it listens on 127.0.0.1:3050 there while the Firebird 3 server
# keeps 127.0.0.1:3050 of the machine. Tests reach it by running inside the namespace.
#   firebird4.sh install        build the chroot (a second run only checks it is there)
#   firebird4.sh start [rc1|rc0] start the server with ReadConsistency 1 or 0 (default: the
#                               last one used, else 1); one running with the other is restarted
#   firebird4.sh stop           stop the server this script started
#   firebird4.sh status         say whether it answers, and with which ReadConsistency
#   firebird4.sh run CMD...     run CMD inside the namespace, with ZENDREL_FIREBIRD_SCRIPT
#                               naming this script (the tests restart the server through it)
# Needs root (debootstrap, chroot, ip netns).
set -euo pipefail

script=$(readlink -f "$0")
# shellcheck source=scripts/server-process.sh
source "$(dirname "$script")/server-process.sh"
password="${ZENDREL_FB_PASSWORD:-gravulent}"
cache_dir="${ZENDREL_FB4_CACHE:-/var/cache/zendrel-firebird4}"
root_dir="$cache_dir/root"
ready_mark="$root_dir/.zendrel-ready"
namespace="${ZENDREL_FB4_NAMESPACE:-zendrel-fb4}"
state_dir="${ZENDREL_FB4_STATE:-/tmp/zendrel-firebird4}"
pid_file="$state_dir/firebird.pid"
mode_file="$state_dir/read-consistency"
log_file="$state_dir/firebird.log"
conf_file="$root_dir/etc/firebird/4.0/firebird.conf"
mirror="${ZENDREL_DEBIAN_MIRROR:-http://deb.debian.org/debian}"

in_namespace() {
  ip netns exec "$namespace" "$@"
}

ensure_namespace() {
  if ! ip netns list | grep -qw "$namespace"; then
    ip netns add "$namespace"
  fi
  ip -n "$namespace" link set lo up
}

answers() {
  in_namespace fbsvcmgr localhost/3050:service_mgr user SYSDBA password "$password" \
    info_server_version >/dev/null 2>&1
}

port_open() {
  in_namespace bash -c 'exec 3<>/dev/tcp/127.0.0.1/3050' 2>/dev/null
}

install() {
  if [ -f "$ready_mark" ]; then
    return 0
  fi
  if ! command -v debootstrap >/dev/null; then
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends debootstrap
  fi
  echo "firebird4: building the Debian 13 chroot in $root_dir (once)"
  rm -rf "$root_dir"
  mkdir -p "$cache_dir"
  debootstrap --variant=minbase trixie "$root_dir" "$mirror" >"$cache_dir/debootstrap.log" 2>&1 || {
    echo "firebird4: debootstrap failed; see $cache_dir/debootstrap.log" >&2
    return 1
  }
  # Without /etc/hosts the server cannot resolve localhost and exits at start.
  cp /etc/hosts "$root_dir/etc/hosts"
  # Packages must not try to start services inside the chroot.
  printf '#!/bin/sh\nexit 101\n' >"$root_dir/usr/sbin/policy-rc.d"
  chmod 755 "$root_dir/usr/sbin/policy-rc.d"
  echo "firebird4.0-server shared/firebird/sysdba_password/first_install password $password" |
    chroot "$root_dir" debconf-set-selections
  chroot "$root_dir" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
    firebird4.0-server firebird4.0-utils >"$cache_dir/install.log" 2>&1 || {
    echo "firebird4: installing firebird4.0-server failed; see $cache_dir/install.log" >&2
    return 1
  }
  chroot "$root_dir" apt-get clean
  touch "$ready_mark"
}

set_read_consistency() {
  # One setting line at the end, earlier ones removed, so the file says one thing.
  sed -i '/^[[:space:]]*ReadConsistency[[:space:]]*=/d' "$conf_file"
  echo "ReadConsistency = $1" >>"$conf_file"
}

set_password_offline() {
  # Sets the SYSDBA password straight in the security database; only while no server runs.
  chroot "$root_dir" isql-fb -user SYSDBA -q /var/lib/firebird/4.0/system/security4.fdb >/dev/null <<SQL
CREATE OR ALTER USER SYSDBA PASSWORD '$password' USING PLUGIN Srp;
COMMIT;
SQL
}

running_mode() {
  if [ -f "$pid_file" ] && kill -0 "$(cat "$pid_file")" 2>/dev/null && [ -f "$mode_file" ]; then
    cat "$mode_file"
  fi
}

start() {
  # Without a mode, the one it last ran with (a test restarting the server keeps it).
  local mode=${1:-$(cat "$mode_file" 2>/dev/null || echo rc1)}
  case "$mode" in
    rc1 | rc0) ;;
    *) echo "firebird4: unknown mode $mode (rc1 or rc0)" >&2; return 2 ;;
  esac
  install
  ensure_namespace
  mkdir -p "$state_dir"
  local current
  current=$(running_mode)
  if [ -n "$current" ]; then
    if [ "$current" = "$mode" ] && answers; then
      echo "firebird4: already running ($mode)"
      return 0
    fi
    stop
  fi
  if port_open; then
    echo "firebird4: something else listens on 127.0.0.1:3050 in namespace $namespace" >&2
    return 1
  fi
  set_read_consistency "${mode#rc}"
  set_password_offline || echo "firebird4: could not set the SYSDBA password offline; trying the server anyway" >&2
  local uid gid
  uid=$(chroot "$root_dir" id -u firebird)
  gid=$(chroot "$root_dir" id -g firebird)
  # The test databases live in the server's file system, under the same path the
  # fixtures name (the host's copy of the folder stays empty).
  mkdir -p "$root_dir/tmp/zendrel-firebird/db" "$root_dir/run/firebird4.0"
  chown "$uid:$gid" "$root_dir/tmp/zendrel-firebird" "$root_dir/tmp/zendrel-firebird/db" "$root_dir/run/firebird4.0"
  chmod 0770 "$root_dir/tmp/zendrel-firebird/db"
  setsid ip netns exec "$namespace" chroot --userspec="$uid:$gid" "$root_dir" /usr/sbin/firebird \
    </dev/null >>"$log_file" 2>&1 &
  echo $! >"$pid_file"
  echo "$mode" >"$mode_file"
  wait_for_server 150 || { echo "firebird4: the server did not answer within 15 s; see $log_file" >&2; return 1; }
  echo "firebird4: started ($mode, pid $(cat "$pid_file"))"
}

# Up to 10 s for the server to end after SIGTERM.
stop() { stop_server "$pid_file" 100 firebird4; }

status() {
  if answers; then
    echo "firebird4: answers (ReadConsistency $(cat "$mode_file" 2>/dev/null || echo '?'))"
  else
    echo "firebird4: not answering"
    return 1
  fi
}

case "${1:-}" in
  install) install ;;
  start) start "${2:-}" ;;
  stop) stop ;;
  status) status ;;
  run)
    shift
    ensure_namespace
    ZENDREL_FIREBIRD_SCRIPT="$script" in_namespace "$@"
    ;;
  *) echo "usage: $0 install|start [rc1|rc0]|stop|status|run CMD..." >&2; exit 2 ;;
esac
