#!/usr/bin/env bash
# The packaged service under a real systemd: Debian 12 booted in a container
# (scripts/systemd-container.sh; its root is built once and kept in /var/cache), with
# the machine's Firebird server and a fake platform on the machine's 127.0.0.1.
# In the container, in this order:
#   - dpkg -i of the package: the service's system user, the installation's owners
#     and modes, nothing registered or started;
#   - root's "-once" runs a cycle first and writes the log, which goes to that user;
#   - "-install" writes and enables the unit; its sandbox scores at most 2.0;
#   - an upgrade from a version whose unit ran the service as root (that unit and a
#     log and lock of root's put back, the service running as root, then dpkg -i
#     again): the unit is written anew, the files are handed over, and the service is
#     restarted as the user zendrel, without capabilities;
#   - kill -9 of the service: systemd starts it again about 30 s later;
#   - the packaged program's own schedule: the first cycle 2 minutes after the start
#     posts to the platform; "systemctl stop" during a slow posting waits for it: the
#     send index is written, the cycle runs to its end (its log entry is appended to
#     the log root created), and the stop ends with Result=success;
#   - systemd-analyze security on the loaded unit: at most 2.0;
#   - dpkg -r stops the service and removes the unit, and keeps Tarvix.ini and the log;
#   - "-install" from a plain copy on a machine without the user makes the user.
# The container runs on a tmpfs overlay of its root, so nothing of a run is kept; it
# is stopped on every way out of this script. About 5 minutes (the cycle's 2 minutes
# and the restart's 30 s are the packaged program's own). Needs root.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
. scripts/demo-lib.sh

fail() {
  echo "systemd-stage: FAILED: $*" >&2
  if [ "${container_up:-no}" = yes ]; then
    echo "--- the service's journal in the container (last 40 lines):" >&2
    inside journalctl -u SrvZendrel.service --no-pager -n 40 >&2 2>/dev/null || true
  fi
  exit 1
}
check() { echo "   ok: $*"; }

if [ "$(id -u)" -ne 0 ]; then fail "needs root (debootstrap, systemd-nspawn)"; fi

bash scripts/install-deps.sh
bash scripts/systemd-container.sh install

password=gravulent
container="$root/scripts/systemd-container.sh"
# Shared with the container as /srv/zendrel-stage; not under /tmp, which the booted
# container replaces with a tmpfs of its own.
state=$(mktemp -d /var/tmp/zendrel-systemd-stage.XXXXXX)
chmod 0755 "$state"
db_folder=/tmp/zendrel-firebird/db
db="$db_folder/zendrel-systemd-stage.fdb"
platform_pid=""
started_firebird=no
container_up=no

inside() { bash "$container" run "$@"; }

cleanup() {
  set +e
  if [ "$container_up" = yes ]; then bash "$container" stop >/dev/null; fi
  if [ -n "$platform_pid" ]; then kill "$platform_pid" 2>/dev/null; wait "$platform_pid" 2>/dev/null; fi
  if [ -f "$db" ]; then
    echo "DROP DATABASE;" | isql-fb -q -user SYSDBA -password "$password" "localhost/3050:$db" >/dev/null 2>&1 || rm -f "$db"
  fi
  if [ "$started_firebird" = yes ]; then bash "$root/scripts/firebird.sh" stop >/dev/null; fi
  rm -rf "$state"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

echo "== The Debian package (release build in build-package)"
build_debian_package "$root/build-package"
cp "$deb" "$state/zendrel.deb"
echo "   $deb"

echo "== The Firebird server, the fake platform and a demo ERP database"
if ! bash scripts/firebird.sh status >/dev/null 2>&1; then started_firebird=yes; fi
bash scripts/firebird.sh start >/dev/null
start_fake_platform "$state"
base=$platform_base
# The points campaign only, with its three movements.
create_demo_database "$db" "$base" <<'SQL'
UPDATE PADRAO SET BRINDEX_ATIVARTOPVENDA = 'N';
SQL
check "database $db, platform at $base"

ok_reply='{"status": 200, "headers": [["Content-Type", "application/json"]], "body": "{\"mensagem\": \"ok\"}"}'
refused_reply='{"status": 400, "headers": [["Content-Type", "application/json; charset=utf-8"]],
  "body": "{\"errors\": [\"CPF não cadastrado na campanha\"]}"}'
script_postings() {  # REPLY...: the points postings' replies, in order; the last repeats
  local replies
  replies=$(IFS=,; echo "$*")
  curl -s -f -o /dev/null -X POST "$base/__control/script" --data-binary @- <<JSON ||
{"path": "/v1/lancador", "method": "POST", "replies": [$replies]}
JSON
    fail "the fake platform took no script"
}
postings() {
  curl -s "$base/__control/requests" | python3 -c '
import json, sys
print(sum(1 for r in json.load(sys.stdin) if r["method"] == "POST" and r["path"] == "/v1/lancador"))'
}
points_index() {
  isql-fb -q -user SYSDBA -password "$password" "localhost/3050:$db" <<'SQL' | awk 'NF == 1 && $1 ~ /^-?[0-9]+$/ {print $1}'
SET HEADING OFF;
SELECT COALESCE(BRINDEX_ULTIMOENVIO, -1) FROM PADRAO;
SQL
}
# Waits up to $1 seconds for the command after it to succeed; 1 when it never did.
wait_for() {
  local seconds=$1 deadline
  shift
  deadline=$(($(date +%s) + seconds))
  until "$@"; do
    [ "$(date +%s)" -lt "$deadline" ] || return 1
    sleep 0.5
  done
}
unit_property() { inside systemctl show -p "$1" --value SrvZendrel.service; }
main_pid() {
  local pid
  pid=$(unit_property MainPID)
  echo "${pid:-0}"
}
# "UID CAPS": the real, effective, saved and file-system UIDs of process $1 (the same
# one four times when it cannot change them) and its five capability sets.
process_identity() {
  inside awk '/^Uid:/ {uid = $2 " " $3 " " $4 " " $5}
              /^Cap(Inh|Prm|Eff|Bnd|Amb):/ {caps = caps $2 " "}
              END {print uid " / " caps}' "/proc/$1/status"
}
expect_service_user() {  # PID
  local identity uid
  uid=$(inside id -u zendrel)
  identity=$(process_identity "$1")
  [ "$identity" = "$uid $uid $uid $uid / 0000000000000000 0000000000000000 0000000000000000 0000000000000000 0000000000000000 " ] ||
    fail "the service (pid $1) runs as uids/capabilities '$identity', expected user zendrel ($uid) with none"
}
exposure_of() {  # systemd-analyze security ARGS...: the overall exposure level
  inside systemd-analyze security --no-pager "$@" 2>&1 |
    sed -n 's/.*Overall exposure level for [^:]*: \([0-9.]*\).*/\1/p'
}
at_most_2() { [ -n "$1" ] && awk -v e="$1" 'BEGIN { exit !(e <= 2.0) }'; }

prefix=/opt/zendrel
program="$prefix/Zendrel"
unit=/etc/systemd/system/SrvZendrel.service

echo "== Booting the container"
container_up=yes
bash "$container" start "$state"
inside test -d /run/systemd/system || fail "the container's PID 1 is not systemd"
check "systemd $(inside systemctl --version | awk 'NR == 1 {print $2}') is PID 1 in the container"

echo "== dpkg -i in the container"
inside dpkg -i /srv/zendrel-stage/zendrel.deb >"$state/dpkg-i.out" 2>&1 || {
  cat "$state/dpkg-i.out" >&2
  fail "dpkg -i of the package failed in the container"
}
inside getent passwd zendrel >/dev/null || fail "dpkg -i made no user zendrel"
[ "$(inside stat -c '%U:%G %a' "$prefix")" = "root:zendrel 1770" ] || fail "$prefix is $(inside stat -c '%U:%G %a' "$prefix")"
[ "$(inside stat -c '%U:%G %a' "$program")" = "root:zendrel 750" ] || fail "$program is $(inside stat -c '%U:%G %a' "$program")"
! inside test -e "$unit" || fail "installing wrote a unit"
check "installed: user zendrel, $prefix root:zendrel 1770, $program 0750, no unit"

inside sh -c "printf '[Tarvix]\nServidor=localhost\nCaminho=$db\n' >$prefix/Tarvix.ini"

echo "== Root's -once before the service ever ran"
script_postings "$refused_reply"
status=0
inside sh -c "cd $prefix && $program -once" >"$state/once.out" 2>&1 || status=$?
sed 's/^/   | /' "$state/once.out"
[ "$status" -eq 1 ] || fail "-once exited $status, expected 1 (its refused posting is a log entry)"
[ "$(postings)" -eq 1 ] || fail "-once made $(postings) postings, expected 1"
[ "$(inside stat -c %U "$prefix/Zendrel.log")" = zendrel ] || fail "the log root's -once created is not the service user's"
index_before=$(points_index)
check "-once posted once (refused, logged); the log it created belongs to zendrel"

echo "== -install"
inside "$program" -install >"$state/install.out" 2>&1 || { cat "$state/install.out" >&2; fail "-install failed"; }
inside test -f "$unit" || fail "-install wrote no $unit"
[ "$(inside systemctl is-enabled SrvZendrel.service)" = enabled ] || fail "-install did not enable the service"
offline=$(exposure_of --offline=true "$unit")
at_most_2 "$offline" || fail "the written unit's exposure is '$offline', not at most 2.0"
check "-install wrote and enabled $unit; systemd-analyze security --offline: $offline"

echo "== An upgrade from a version whose unit ran the service as root"
# The unit the earlier version's -install wrote, word for word.
cat >"$state/old.service" <<UNIT
[Unit]
Description=Zendrel - Serviço para envio do porntos
After=network-online.target
Wants=network-online.target

[Service]
Type=simple
ExecStart=$program
Restart=on-failure
RestartSec=30
# A stop lets the poll cycle in progress finish, so that no movement is posted
# without its send index being written; the cycle may take a while on a backlog.
TimeoutStopSec=30min
KillMode=mixed

[Install]
WantedBy=multi-user.target
UNIT
inside cp /srv/zendrel-stage/old.service "$unit"
inside systemctl daemon-reload
inside systemctl start SrvZendrel.service
old_pid=$(main_pid)
[ "$old_pid" -gt 0 ] || fail "the service under the older unit did not start"
[ "$(process_identity "$old_pid" | cut -d' ' -f1)" = 0 ] || fail "the older unit's service does not run as root"
# What that service and root's runs left: a log and the installation's lock of root's (the
# locks of databases are new with this version, so no older version left one).
lock=$(inside sh -c 'ls /run/lock/zendrel-*.lock /run/zendrel/zendrel-*.lock 2>/dev/null | grep -v -- -database- || true' | head -n 1)
[ -n "$lock" ] || fail "no relay lock file in the container after -once and a start"
inside chown root:root "$prefix/Zendrel.log" "$lock"
inside chmod 0644 "$prefix/Zendrel.log" "$lock"
cp "$state/zendrel.deb" "$state/zendrel-upgrade.deb"
inside dpkg -i /srv/zendrel-stage/zendrel-upgrade.deb >"$state/dpkg-upgrade.out" 2>&1 || {
  cat "$state/dpkg-upgrade.out" >&2
  fail "dpkg -i over the older installation failed"
}
inside grep -qx "User=zendrel" "$unit" || fail "the upgrade left the older unit (not run as zendrel)"
[ "$(inside systemctl is-enabled SrvZendrel.service)" = enabled ] || fail "the upgrade left the service disabled"
[ "$(inside stat -c %U "$prefix/Zendrel.log")" = zendrel ] || fail "the upgrade did not hand root's log to zendrel"
[ "$(inside stat -c %U "$lock")" = zendrel ] || fail "the upgrade did not hand root's lock $lock to zendrel"
new_running() {
  local pid
  pid=$(main_pid)
  [ "$pid" -gt 0 ] && [ "$pid" != "$old_pid" ] && [ "$(unit_property ActiveState)" = active ]
}
wait_for 90 new_running || fail "the service was not restarted under the new unit within 90 s of the upgrade"
pid=$(main_pid)
expect_service_user "$pid"
check "after the upgrade: the unit runs as zendrel, the log and the lock are zendrel's, the service restarted (pid $pid)"
check "the service runs as zendrel, with no capabilities in any set"

echo "== kill -9 of the service"
script_postings "$ok_reply"
inside kill -KILL "$pid"
killed_at=$(date +%s)
restarted() {
  local now
  now=$(main_pid)
  [ "$now" -gt 0 ] && [ "$now" != "$pid" ] && [ "$(unit_property ActiveState)" = active ]
}
wait_for 120 restarted || fail "systemd did not start the service again within 120 s of kill -9"
restarted_at=$(date +%s)
after=$((restarted_at - killed_at))
[ "$after" -ge 25 ] || fail "the service was started again $after s after kill -9, expected about 30 s (RestartSec)"
[ "$(unit_property NRestarts)" -ge 1 ] || fail "systemd counts no restart"
pid=$(main_pid)
expect_service_user "$pid"
[ "$(postings)" -eq 1 ] || fail "something posted before the first cycle"
check "started again $after s after kill -9 (pid $pid), as zendrel"

echo "== The first cycle, 2 minutes after the start, and a stop during a slow posting"
# The first posting of the cycle takes 20 s (the client waits 30 s for a reply); the
# second is refused, which the cycle writes to the log.
slow_reply='{"status": 200, "headers": [["Content-Type", "application/json"]], "body": "{\"mensagem\": \"ok\"}",
  "delay_ms": 20000}'
script_postings "$slow_reply" "$refused_reply"
slow_posting_arrived() { [ "$(postings)" -ge 2 ]; }
wait_for 240 slow_posting_arrived ||
  fail "no posting reached the platform within 240 s of the service's start (first cycle due after 120 s)"
arrived=$(($(date +%s) - restarted_at))
[ "$(points_index)" = "$index_before" ] || fail "the index moved before the slow posting was answered"
stop_began=$(date +%s)
inside timeout 600 systemctl stop SrvZendrel.service || fail "systemctl stop failed or took over 10 minutes"
stop_took=$(($(date +%s) - stop_began))
[ "$(unit_property Result)" = success ] || fail "the stop ended with Result=$(unit_property Result)"
[ "$(unit_property ActiveState)" = inactive ] || fail "the service is $(unit_property ActiveState) after the stop"
[ "$(points_index)" = 1 ] || fail "the send index is $(points_index) after the stop, expected 1: the slow posting's index was not written"
[ "$(postings)" -eq 3 ] || fail "$(postings) postings in all, expected 3 (the cycle runs to its end)"
inside grep -c "CPF não cadastrado na campanha" "$prefix/Zendrel.log" >"$state/refusals" || true
[ "$(cat "$state/refusals")" -eq 2 ] ||
  fail "the log holds $(cat "$state/refusals") refusals, expected 2 (root's -once's and the service's)"
check "first posting $arrived s after the start; the stop took $stop_took s and waited for it: index 1, Result=success"
check "the cycle ran to its end and the service appended its entry to the log root created"

echo "== systemd-analyze security on the loaded unit"
loaded=$(exposure_of SrvZendrel.service)
at_most_2 "$loaded" || fail "the loaded unit's exposure is '$loaded', not at most 2.0"
check "exposure $loaded"

echo "== dpkg -r"
inside systemctl start SrvZendrel.service
inside cp "$prefix/Tarvix.ini" "$prefix/Zendrel.log" /root/
inside dpkg -r zendrel >"$state/dpkg-r.out" 2>&1 || { cat "$state/dpkg-r.out" >&2; fail "dpkg -r failed"; }
! inside test -e "$unit" || fail "dpkg -r left $unit"
! inside test -e "$program" || fail "dpkg -r left $program"
[ "$(inside systemctl show -p LoadState --value SrvZendrel.service)" = not-found ] || fail "systemd still knows the unit"
! inside pgrep -x Zendrel >/dev/null || fail "a Zendrel process still runs after dpkg -r"
inside cmp -s /root/Tarvix.ini "$prefix/Tarvix.ini" || fail "dpkg -r did not keep Tarvix.ini"
inside cmp -s /root/Zendrel.log "$prefix/Zendrel.log" || fail "dpkg -r did not keep the log"
check "the service stopped, the unit and the program removed; Tarvix.ini and the log kept"

echo "== -install from a plain copy, on a machine without the user zendrel"
inside deluser --system --quiet zendrel >/dev/null 2>&1 || fail "deluser zendrel failed"
inside dpkg-deb -x /srv/zendrel-stage/zendrel.deb /root/plain
status=0
inside /root/plain/opt/zendrel/Zendrel -install >"$state/plain.out" 2>&1 || status=$?
sed 's/^/   | /' "$state/plain.out"
[ "$status" -eq 0 ] || fail "-install from a plain copy exited $status"
grep -qx "System user zendrel created" "$state/plain.out" || fail "-install did not say it made the user"
inside getent passwd zendrel >/dev/null || fail "-install made no user zendrel"
[ "$(inside stat -c '%U:%G %a' /root/plain/opt/zendrel/Zendrel)" = "root:zendrel 750" ] ||
  fail "the plain copy's program is $(inside stat -c '%U:%G %a' /root/plain/opt/zendrel/Zendrel)"
inside grep -qx "ReadWritePaths=/root/plain/opt/zendrel.*" "$unit" || fail "the unit does not name the copy's folder"
check "the user made, the program 0750 root:zendrel, the unit names the copy's folder"

echo "systemd-stage: all checks passed"
