#!/usr/bin/env bash
# The Debian package, end to end, on this machine: builds it in a release build
# (build-package), installs it with dpkg -i, checks that installing neither starts nor
# enables the service, puts a Tarvix.ini into /opt/zendrel pointing at a demo ERP
# database (the fake platform answering), runs "/opt/zendrel/Zendrel -status" and
# "-once" from there and checks what they did (the service's user, the owners and
# modes of /opt/zendrel, the log root created handed to that user), writes the unit
# with "-install" and scores its sandbox, then removes the package with dpkg -r
# (after "-install", so its prerm must take the service unit away) and checks that
# Tarvix.ini and Zendrel.log stayed. Cleans up after itself.
# Needs root (dpkg). Refuses to run when a zendrel package or /opt/zendrel is already
# there, so a real installation is never touched.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
. scripts/demo-lib.sh

fail() { echo "package-test: FAILED: $*" >&2; exit 1; }
check() { echo "   ok: $*"; }

if [ "$(id -u)" -ne 0 ]; then fail "needs root (dpkg -i, /opt/zendrel)"; fi
if dpkg-query -W -f='${Status}' zendrel 2>/dev/null | grep -q 'installed'; then
  fail "a zendrel package is already installed here; not touching it"
fi
if [ -e /opt/zendrel ]; then fail "/opt/zendrel already exists; not touching it"; fi
unit=/etc/systemd/system/SrvZendrel.service
if [ -e "$unit" ]; then fail "$unit already exists; not touching it"; fi

bash scripts/install-deps.sh

prefix=/opt/zendrel
program="$prefix/Zendrel"
password=gravulent
state=$(mktemp -d /tmp/zendrel-package-test.XXXXXX)
db_folder=/tmp/zendrel-firebird/db
db="$db_folder/zendrel-package-test.fdb"
platform_pid=""
started_firebird=no
wrote_unit=no
# The package's postinst makes the service's user; one this test made goes again.
had_user=no
if getent passwd zendrel >/dev/null; then had_user=yes; fi

cleanup() {
  set +e
  if dpkg-query -W -f='${Status}' zendrel 2>/dev/null | grep -q 'installed'; then dpkg -r zendrel >/dev/null 2>&1; fi
  rm -rf "$prefix"
  if [ "$had_user" = no ] && getent passwd zendrel >/dev/null; then
    deluser --system --quiet zendrel >/dev/null 2>&1
    delgroup --system --quiet zendrel >/dev/null 2>&1
  fi
  if [ "$wrote_unit" = yes ] && [ -e "$unit" ]; then rm -f "$unit"; fi
  if [ -n "$platform_pid" ]; then kill "$platform_pid" 2>/dev/null; wait "$platform_pid" 2>/dev/null; fi
  if [ -f "$db" ]; then
    echo "DROP DATABASE;" | isql-fb -q -user SYSDBA -password "$password" "localhost/3050:$db" >/dev/null 2>&1 || rm -f "$db"
  fi
  if [ "$started_firebird" = yes ]; then bash "$root/scripts/firebird.sh" stop >/dev/null; fi
  rm -rf "$state"
}
trap cleanup EXIT

echo "== Building the Debian package (release) in build-package"
build_debian_package "$root/build-package"
echo "   $deb"

contents=$(dpkg-deb -c "$deb" | awk '{print $6}' | grep -v '/$' | sort)
[ "$contents" = "$(printf './opt/zendrel/README.md\n./opt/zendrel/Zendrel')" ] ||
  fail "package files are not exactly Zendrel and README.md in /opt/zendrel: $contents"
check "the package holds /opt/zendrel/Zendrel and /opt/zendrel/README.md, nothing else"
program_mode=$(dpkg-deb -c "$deb" | awk '$6 == "./opt/zendrel/Zendrel" {print $1}')
[ "$program_mode" = "-rwxr-x---" ] || fail "the program is $program_mode in the package, expected -rwxr-x--- (0750)"
check "the program is 0750 in the package: not readable by other users"
depends=$(dpkg-deb -f "$deb" Depends)
case "$depends" in *libfbclient2*) ;; *) fail "Depends lacks libfbclient2: $depends" ;; esac
case "$depends" in *libcurl*) ;; *) fail "Depends lacks libcurl: $depends" ;; esac
case "$depends" in *adduser*) ;; *) fail "Depends lacks adduser (postinst makes the service's user): $depends" ;; esac
check "Depends: $depends"

echo "== dpkg -i"
dpkg -i "$deb" >/dev/null
[ -x "$program" ] || fail "$program is not there after dpkg -i"
[ ! -e "$unit" ] || fail "installing wrote a service unit"
if [ -d /run/systemd/system ]; then
  ! systemctl is-enabled --quiet SrvZendrel.service 2>/dev/null || fail "installing enabled the service"
  ! systemctl is-active --quiet SrvZendrel.service 2>/dev/null || fail "installing started the service"
fi
! pgrep -f "^$program" >/dev/null || fail "installing started $program"
check "installed; no service unit written, nothing started"
getent passwd zendrel >/dev/null || fail "installing made no system user zendrel"
[ "$(id -u zendrel)" -lt 1000 ] || fail "the user zendrel is not a system user (uid $(id -u zendrel))"
owner_mode() { stat -c '%U:%G %a' "$1"; }
[ "$(owner_mode "$prefix")" = "root:zendrel 1770" ] || fail "$prefix is $(owner_mode "$prefix"), expected root:zendrel 1770"
[ "$(owner_mode "$program")" = "root:zendrel 750" ] || fail "$program is $(owner_mode "$program"), expected root:zendrel 750"
check "system user zendrel; $prefix root:zendrel 1770, $program root:zendrel 0750"

echo "== The Firebird server, the fake platform and a demo ERP database"
if ! bash scripts/firebird.sh status >/dev/null 2>&1; then started_firebird=yes; fi
bash scripts/firebird.sh start >/dev/null
start_fake_platform "$state"
base=$platform_base
# The second points posting is refused, so the cycle writes the log and leaves one behind.
refuse_nth_posting "$base" 2
create_demo_database "$db" "$base" </dev/null

cat >"$prefix/Tarvix.ini" <<INI
[Tarvix]
Servidor=localhost
Caminho=$db
INI
check "$prefix/Tarvix.ini -> $db, platform at $base"

requests() { curl -s "$base/__control/requests"; }
count_requests() {  # METHOD PATH
  requests | python3 -c '
import json, sys
print(sum(1 for r in json.load(sys.stdin) if r["method"] == sys.argv[1] and r["path"] == sys.argv[2]))' "$1" "$2"
}
# The value of the first line "  LABEL ...: value" after the line TITLE of a report.
field() {  # FILE TITLE LABEL
  awk -v title="$2" -v label="$3" '
    $0 == title { inside = 1; next }
    inside && $0 == "" { inside = 0 }
    inside && index($0, "  " label) == 1 { sub(/^[^:]*: /, ""); print; exit }' "$1"
}

echo "== /opt/zendrel/Zendrel -status (before any cycle)"
cd "$prefix"
status=0
"$program" -status >"$state/status1.txt" 2>&1 || status=$?
sed 's/^/   | /' "$state/status1.txt"
[ "$status" -eq 0 ] || fail "-status exited $status"
[ "$(field "$state/status1.txt" "Instalação" "Pasta do executável")" = "$prefix" ] || fail "executable folder"
[ "$(field "$state/status1.txt" "Banco de dados" "SYSDBA, senha reserva")" = "aceita" ] || fail "connection"
[ "$(field "$state/status1.txt" "Campanha de pontos" "Pendentes")" = "3, o mais antigo de $(date +%d/%m/%Y)" ] ||
  fail "points pending before the cycle"
[ "$(count_requests GET /v1/reset)" -eq 2 ] || fail "expected two reset questions"
[ "$(count_requests POST /v1/reset)" -eq 0 ] || fail "-status acknowledged a reset"
[ "$(count_requests POST /v1/lancador)" -eq 0 ] || fail "-status posted a movement"
[ ! -e "$prefix/Zendrel.log" ] || fail "-status wrote the log"
check "-status: exit 0, 3 points movements pending, only GET /v1/reset sent, no log written"

echo "== /opt/zendrel/Zendrel -once"
status=0
"$program" -once >"$state/once.txt" 2>&1 || status=$?
sed 's/^/   | /' "$state/once.txt"
# The refusal is a log entry: -once says so and exits 1.
[ "$status" -eq 1 ] || fail "-once exited $status, expected 1 (a refused movement was logged)"
grep -q "^Zendrel -once: o ciclo escreveu 1 entrada no log (acima)$" "$state/once.txt" ||
  fail "-once did not say why it exited 1"
points_index=$(isql-fb -q -user SYSDBA -password "$password" "localhost/3050:$db" <<'SQL' | awk 'NF == 1 && $1 ~ /^[0-9]+$/ {print $1}'
SET HEADING OFF;
SELECT BRINDEX_ULTIMOENVIO FROM PADRAO;
SQL
)
[ "$points_index" = "1" ] || fail "points send index after -once is '$points_index', expected 1 (second posting refused)"
[ -s "$prefix/Zendrel.log" ] || fail "-once wrote no Zendrel.log beside the program"
check "-once: exit 1 for the logged refusal, points index 1, the refusal in $prefix/Zendrel.log"
[ "$(stat -c %U:%G "$prefix/Zendrel.log")" = "zendrel:zendrel" ] ||
  fail "the log root's -once created is $(stat -c %U:%G "$prefix/Zendrel.log"), not the service user's"
check "the log root's -once created belongs to zendrel, so the service can append to it"

echo "== /opt/zendrel/Zendrel -status (after the cycle)"
status=0
"$program" -status >"$state/status2.txt" 2>&1 || status=$?
sed 's/^/   | /' "$state/status2.txt"
[ "$status" -eq 0 ] || fail "-status exited $status after the cycle"
[ "$(field "$state/status2.txt" "Campanha de pontos" "Pendentes")" = "2, o mais antigo de $(date +%d/%m/%Y)" ] ||
  fail "points pending after the cycle"
[ "$(field "$state/status2.txt" "Campanha top vendas" "Índice de envio")" != "" ] || fail "top-sales index line"
grep -q "CPF não cadastrado na campanha" "$state/status2.txt" || fail "the log's refusal is not among the last entries"
# The cycle's record beside the log: it stopped at the first pending movement with a refusal.
[ -s "$prefix/Zendrel.state" ] || fail "-once wrote no Zendrel.state beside the log"
case "$(field "$state/status2.txt" "Campanha de pontos" "Retida")" in
  "sim: a plataforma recusou este movimento no último ciclo"*) ;;
  *) fail "-status does not say the campaign is held at the refused movement" ;;
esac
check "-status: 2 pending, the refusal shown from the log, the campaign held there by the last cycle's record"
cd "$root"

echo "== /opt/zendrel/Zendrel -install, so that removing the package has a service to take away"
wrote_unit=yes
"$program" -install -silent
[ -f "$unit" ] || fail "-install wrote no $unit"
grep -qx "User=zendrel" "$unit" || fail "the unit does not run the service as zendrel"
grep -qx "ReadWritePaths=$prefix.*" "$unit" || fail "the unit does not let the service write $prefix"
exposure=$(systemd-analyze security --offline=true --no-pager "$unit" 2>&1 | sed -n 's/.*Overall exposure level for [^:]*: \([0-9.]*\).*/\1/p')
[ -n "$exposure" ] || fail "systemd-analyze security gave no exposure level for $unit"
awk -v e="$exposure" 'BEGIN { exit !(e <= 2.0) }' || fail "the unit's exposure is $exposure, above 2.0"
check "$unit written: runs as zendrel, writes $prefix, exposure $exposure (at most 2.0)"

echo "== dpkg -r"
cp "$prefix/Tarvix.ini" "$state/Tarvix.before"
cp "$prefix/Zendrel.log" "$state/Zendrel.before"
dpkg -r zendrel >/dev/null 2>"$state/remove.err" || { cat "$state/remove.err" >&2; fail "dpkg -r"; }
[ ! -e "$program" ] || fail "$program is still there after dpkg -r"
[ ! -e "$prefix/README.md" ] || fail "README.md is still there after dpkg -r"
[ ! -e "$unit" ] || fail "dpkg -r left $unit behind"
cmp -s "$prefix/Tarvix.ini" "$state/Tarvix.before" || fail "Tarvix.ini did not survive dpkg -r"
cmp -s "$prefix/Zendrel.log" "$state/Zendrel.before" || fail "Zendrel.log did not survive dpkg -r"
check "removed, with the service unit; Tarvix.ini and Zendrel.log are still in $prefix, unchanged"

echo "package-test: all checks passed"
