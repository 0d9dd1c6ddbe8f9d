#!/usr/bin/env bash
# A real systemd for the tests of the Linux service: Debian 12 booted in a systemd-nspawn
# container. Its root is a debootstrap of bookworm with systemd, built once and kept
# under /var/cache; each boot runs on a tmpfs overlay of that root (--volatile=overlay),
# so whatever a test installs, writes or removes inside is gone when the container
# stops, and the next boot starts from the same clean system. The container shares the
# machine's network: it reaches the Firebird server and the fake platform on the
# machine's 127.0.0.1.
#   systemd-container.sh install         build the root (a second run only checks it is there)
#   systemd-container.sh start HOST_DIR  boot it, with HOST_DIR seen inside as /srv/zendrel-stage;
#                                        returns once its systemd has finished starting up
#   systemd-container.sh run CMD...      run CMD inside, in every namespace of its systemd
#   systemd-container.sh stop            shut it down (powered off, else killed)
#   systemd-container.sh status          say whether it runs
# Needs root (debootstrap, systemd-nspawn, nsenter).
set -euo pipefail

cache_dir="${ZENDREL_SYSTEMD_CACHE:-/var/cache/zendrel-systemd}"
root_dir="$cache_dir/root"
ready_mark="$root_dir/.zendrel-ready"
machine="${ZENDREL_SYSTEMD_MACHINE:-zendrel-systemd}"
state_dir="${ZENDREL_SYSTEMD_STATE:-/run/zendrel-systemd}"
pid_file="$state_dir/nspawn.pid"
log_file="$state_dir/nspawn.log"
mirror="${ZENDREL_DEBIAN_MIRROR:-http://deb.debian.org/debian}"
# What the package needs from Debian, installed into the root once, so that a test
# installs the package with dpkg alone and never waits for the mirror.
root_packages=systemd,systemd-sysv,dbus,adduser,libfbclient2,libcurl4,libfmt9,ca-certificates,procps,libcap2-bin

install() {
  if [ -f "$ready_mark" ]; then
    return 0
  fi
  local missing=()
  command -v debootstrap >/dev/null || missing+=(debootstrap)
  command -v systemd-nspawn >/dev/null || missing+=(systemd-container)
  if [ "${#missing[@]}" -ne 0 ]; then
    apt-get -o DPkg::Lock::Timeout=600 update -qq
    DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 install -y -qq --no-install-recommends \
      "${missing[@]}"
  fi
  echo "systemd-container: building the Debian 12 root in $root_dir (once)"
  rm -rf "$root_dir"
  mkdir -p "$cache_dir"
  debootstrap --variant=minbase --include="$root_packages" bookworm "$root_dir" "$mirror" \
    >"$cache_dir/debootstrap.log" 2>&1 || {
    echo "systemd-container: debootstrap failed; see $cache_dir/debootstrap.log" >&2
    return 1
  }
  # A minbase root has no /etc/hosts: without it "localhost" does not resolve inside.
  cp /etc/hosts "$root_dir/etc/hosts"
  # Nothing inside needs a login prompt, and the container has no network of its own.
  chroot "$root_dir" systemctl mask console-getty.service getty@tty1.service systemd-networkd.service \
    systemd-resolved.service >/dev/null 2>&1 || true
  chroot "$root_dir" apt-get clean
  touch "$ready_mark"
}

nspawn_pid() {
  if [ -f "$pid_file" ] && kill -0 "$(cat "$pid_file")" 2>/dev/null; then
    cat "$pid_file"
  fi
}

# The container's PID 1 (its systemd): the child of systemd-nspawn.
container_init() {
  local pid
  pid=$(nspawn_pid)
  [ -n "$pid" ] || return 1
  pgrep -P "$pid" | head -n 1
}

run() {
  local init
  init=$(container_init) || { echo "systemd-container: not running" >&2; return 1; }
  [ -n "$init" ] || { echo "systemd-container: its systemd is not there" >&2; return 1; }
  nsenter -t "$init" -a "$@"
}

start() {
  local host_dir=${1:?start needs the folder to share with the container}
  install
  if [ -n "$(nspawn_pid)" ]; then
    echo "systemd-container: already running (pid $(nspawn_pid)); stop it first" >&2
    return 1
  fi
  mkdir -p "$state_dir"
  : >"$log_file"
  # --register=no and --keep-unit: the machine's own PID 1 is not systemd here, so
  # there is no machined or system bus to register with. setsid: the container keeps
  # running when the calling shell's terminal or process group goes.
  setsid systemd-nspawn --quiet -D "$root_dir" --machine="$machine" --register=no --keep-unit \
    --volatile=overlay --bind="$host_dir:/srv/zendrel-stage" -b \
    </dev/null >>"$log_file" 2>&1 &
  echo $! >"$pid_file"
  # Up to 120 s for the boot to finish, however busy the machine.
  local state=""
  for _ in $(seq 1 240); do
    if [ -z "$(nspawn_pid)" ]; then
      echo "systemd-container: systemd-nspawn ended while booting; see $log_file" >&2
      tail -n 20 "$log_file" >&2
      rm -f "$pid_file"
      return 1
    fi
    state=$(run systemctl is-system-running 2>/dev/null || true)
    case "$state" in
      running | degraded) break ;;
    esac
    sleep 0.5
  done
  case "$state" in
    running | degraded) ;;
    *)
      echo "systemd-container: its systemd did not finish starting within 120 s (state '$state'); see $log_file" >&2
      return 1
      ;;
  esac
  echo "systemd-container: booted (systemd $state, nspawn pid $(nspawn_pid))"
}

stop() {
  local pid
  pid=$(nspawn_pid)
  if [ -z "$pid" ]; then
    rm -f "$pid_file"
    return 0
  fi
  # An orderly shutdown first (SIGTERM to systemd-nspawn asks the container's systemd
  # to power off), up to 60 s; then the whole container is killed.
  kill -TERM "$pid" 2>/dev/null || true
  for _ in $(seq 1 600); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  if kill -0 "$pid" 2>/dev/null; then
    echo "systemd-container: no orderly shutdown within 60 s; killing it" >&2
    kill -KILL "$pid" 2>/dev/null || true
    for _ in $(seq 1 100); do
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.1
    done
  fi
  rm -f "$pid_file"
  echo "systemd-container: stopped"
}

status() {
  if [ -n "$(nspawn_pid)" ]; then
    echo "systemd-container: running (nspawn pid $(nspawn_pid), systemd pid $(container_init))"
  else
    echo "systemd-container: not running"
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
    run "$@"
    ;;
  *) echo "usage: $0 install|start HOST_DIR|stop|status|run CMD..." >&2; exit 2 ;;
esac
