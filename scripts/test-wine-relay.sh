#!/usr/bin/env bash
# The Windows build relaying for real under Wine, against the local Firebird 3 server
# (through the test-only fbclient.dll of tools/wine/fbclient/) and the fake platform:
#  1. builds the DLL and boots a Wine prefix that loads it;
#  2. runs the end-to-end cases of "-once" (service/testing/end_to_end_cases.cpp, the
#     same table the Linux program passes, but for those that send signals, which
#     Wine turns into Ctrl+C only on a terminal's console; the console handler is
#     tested on one by test-windows.sh) against ZendrelTest.exe under Wine, and two
#     copies in two folders started together;
#  3. checks Zendrel.exe -status: its report and exit status 0 on a working site, 1
#     when the platform does not answer; and that the shipped Zendrel.exe -once relays;
#  4. installs ZendrelTest.exe as a service under Wine's service manager and sees its
#     first tick relay a pending movement;
#  5. puts the client only where a store's Firebird installation puts it (a registry
#     instance's folder, an installed Firebird service's folder) and sees the shipped
#     Zendrel.exe relay through it; a DLL that lacks a function, and a 32-bit one, are
#     named in -status (and the latter in the log) and give exit status 1.
# Called by scripts/test-windows.sh after the cross build; runs on its own too once
# build-windows/ holds the Windows build. Starts the Firebird server when it is not
# running (and leaves it running). Exits non-zero on any failure.
# ZENDREL_WINDOWS_BUILD_DIR: the Windows build; ZENDREL_TEST_BUILD: the Linux test
# build that holds (or gets) the end-to-end test driver.
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$ROOT"
BUILD=${ZENDREL_WINDOWS_BUILD_DIR:-$ROOT/build-windows}
LINUX_BUILD=${ZENDREL_TEST_BUILD:-$ROOT/build-test}
PASSWORD=${ZENDREL_FB_PASSWORD:-gravulent}
WORK=$(mktemp -d /tmp/zendrel-wine-relay.XXXXXX)
FAILURES=()
platform_pid=

# shellcheck source=tools/wine/relay-prefix-lib.sh
. tools/wine/relay-prefix-lib.sh
# shellcheck source=scripts/demo-lib.sh
. scripts/demo-lib.sh

step() { printf '\n==== %s\n' "$*"; }
fail() { printf 'FAILED: %s\n' "$*" >&2; FAILURES+=("$*"); }

stop_platform() {
  if [[ -n $platform_pid ]]; then
    kill "$platform_pid" 2>/dev/null || true
    wait "$platform_pid" 2>/dev/null || true
    platform_pid=
  fi
}

cleanup() {
  stop_platform
  if [[ -d ${WINEPREFIX:-/nonexistent} ]]; then
    timeout 30 wine net stop SrvZendrel >/dev/null 2>&1 || true
    wineserver -k >/dev/null 2>&1 || true
  fi
  if [[ ${ZENDREL_KEEP_WINE_WORK:-0} == 1 ]]; then
    echo "Wine relay work folder kept: $WORK"
  else
    rm -rf "$WORK"
  fi
}
trap cleanup EXIT

# The value of one column of PADRAO in database $1.
padrao_value() {
  echo "SELECT $2 FROM PADRAO;" |
    isql-fb -q -user SYSDBA -password "$PASSWORD" "localhost/3050:$1" 2>/dev/null |
    awk 'NF && $1 !~ /^=+$/ && $1 != "'"$2"'" { print $1; exit }'
}

# The requests the fake platform at $1 received, one "METHOD PATH BODY" line each.
platform_requests() {
  curl -s "$1/__control/requests" | python3 -c '
import json, sys
for r in json.load(sys.stdin):
    print(r["method"], r["path"], bytes.fromhex(r["body_hex"]).decode("cp1252", "replace"))
'
}

# ---------------------------------------------------------------------------
step "The test-only fbclient.dll and a Wine prefix that loads it"
install_wine_relay_packages cmake ninja-build firebird3.0-utils curl python3
[[ -f $BUILD/service/ZendrelTest.exe && -f $BUILD/service/Zendrel.exe ]] ||
  cmake --build "$BUILD" --target Zendrel zendrel_test_program -j2
DLLS=$WORK/dlls
build_wine_fbclient "$DLLS"
boot_wine_relay_prefix "$WORK/prefix" "$DLLS"
echo "fbclient.dll.so: $(stat -c %s "$DLLS/x86_64-windows/fbclient.dll.so") bytes, prefix $WINEPREFIX"
bash scripts/firebird.sh start

# ---------------------------------------------------------------------------
step "Zendrel -once end to end under Wine (the cases the Linux program passes)"
if [[ ! -f $LINUX_BUILD/CMakeCache.txt ]]; then
  cmake -S . -B "$LINUX_BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DZENDREL_SANITIZE=ON >/dev/null
fi
cmake --build "$LINUX_BUILD" --target once_end_to_end_test -j2 >/dev/null
# The driver is the Linux test build, with the sanitizers' settings of scripts/test.sh.
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=0:halt_on_error=1"
export LSAN_OPTIONS="suppressions=$ROOT/scripts/lsan.supp:print_suppressions=0:use_tls=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
# One Wine session for all the runs, instead of one started and ended per run.
wineserver -p
if ZENDREL_WINE_TEST_PROGRAM=$BUILD/service/ZendrelTest.exe \
   "$LINUX_BUILD/service/once_end_to_end_test" \
   --gtest_filter='EndToEnd/WindowsProgramOnceUnderWine.*:EndToEndCycle.TwoWindowsCopies*:-*Interrupt*:*ATerminationSignal*' \
   >"$WORK/once.out" 2>&1; then
  grep -E '^\[ +(OK|PASSED|SKIPPED) +\]' "$WORK/once.out"
  # A skip would mean the Windows program never ran.
  if grep -q '^\[  SKIPPED \]' "$WORK/once.out"; then fail "end-to-end cases skipped under Wine"; fi
else
  grep -E '^\[  FAILED  \]|Failure|Expected|Which is|actual' "$WORK/once.out" | head -60 >&2 || true
  fail "Zendrel.exe -once end-to-end cases"
fi

# ---------------------------------------------------------------------------
step "Zendrel.exe -status under Wine"
mkdir -p "$WORK/state"
start_fake_platform "$WORK/state"
STATUS_DB=/tmp/zendrel-firebird/db/zendrel-wine-status.fdb
create_demo_database "$STATUS_DB" "$platform_base" <<'SQL'
UPDATE PADRAO SET BRINDEX_ULTIMOENVIO = 1;
SQL
SITE=$WORK/prefix/drive_c/Zendrel
mkdir -p "$SITE"
cp "$BUILD/service/Zendrel.exe" "$SITE/"
printf '[Tarvix]\r\nServidor=localhost\r\nCaminho=%s\r\n' "$STATUS_DB" >"$SITE/Tarvix.ini"

run_status() {  # $1 = output file; prints the exit status
  local status=0
  timeout 120 wine "$SITE/Zendrel.exe" -status >"$1" 2>"$1.err" || status=$?
  echo "$status"
}
status=$(run_status "$WORK/status-ok.txt")
sed 's/\r$//' "$WORK/status-ok.txt" | sed 's/^/  /'
echo "exit status: $status"
[[ $status == 0 ]] || fail "-status on a working site: exit status $status"
grep -qE 'Situação +: OK' <(sed 's/\r$//' "$WORK/status-ok.txt") || fail "-status on a working site: no 'Situação : OK'"
grep -qE 'Conexão +: aberta' <(sed 's/\r$//' "$WORK/status-ok.txt") || fail "-status: the database connection is not shown open"
# The points campaign: send index 1, two of the three demo movements after it.
grep -A3 '^Campanha de pontos' <(sed 's/\r$//' "$WORK/status-ok.txt") | grep -qE 'Índice de envio +: 1$' ||
  fail "-status: the points send index 1 is not shown"
grep -A4 '^Campanha de pontos' <(sed 's/\r$//' "$WORK/status-ok.txt") | grep -qE 'Pendentes +: 2,' ||
  fail "-status: the two pending points movements are not shown"

# The shipped program (no test settings, the real clock) relays the two movements.
echo "-- the shipped Zendrel.exe -once on the same site"
status=0
timeout 120 wine "$SITE/Zendrel.exe" -once >"$WORK/once-shipped.txt" 2>&1 || status=$?
echo "exit status: $status, points send index $(padrao_value "$STATUS_DB" BRINDEX_ULTIMOENVIO)"
[[ $status == 0 ]] || fail "shipped Zendrel.exe -once: exit status $status"
[[ $(padrao_value "$STATUS_DB" BRINDEX_ULTIMOENVIO) == 3 ]] || fail "shipped Zendrel.exe -once: points send index not 3"
[[ $(platform_requests "$platform_base" | grep -oE '^POST /v1/lancador cpf=[0-9]+&legado=[0-9]+' | sed 's/.*legado=//' | tr '\n' ' ') == "9002 9003 " ]] ||
  fail "shipped Zendrel.exe -once: the points postings are not 9002 then 9003"

stop_platform
status=$(run_status "$WORK/status-down.txt")
echo "-- with the platform stopped: exit status $status"
sed 's/\r$//' "$WORK/status-down.txt" | sed -n '/^Resultado/,$p' | sed 's/^/  /'
[[ $status == 1 ]] || fail "-status with the platform down: exit status $status instead of 1"
grep -qE 'Situação +: OK' <(sed 's/\r$//' "$WORK/status-down.txt") && fail "-status with the platform down says OK"
echo "DROP DATABASE;" | isql-fb -q -user SYSDBA -password "$PASSWORD" "localhost/3050:$STATUS_DB" >/dev/null 2>&1 || true

# ---------------------------------------------------------------------------
step "The service under Wine's service manager relays a pending movement"
start_fake_platform "$WORK/state"
SERVICE_DB=/tmp/zendrel-firebird/db/zendrel-wine-service.fdb
create_demo_database "$SERVICE_DB" "$platform_base" <<'SQL'
UPDATE PADRAO SET BRINDEX_ATIVARTOPVENDA = 'N', BRINDEX_ULTIMOENVIO = 2;
SQL
# Of the three demo movements the first two count as sent: the tick relays the third.
SERVICE_FOLDER="$WORK/prefix/drive_c/Zendrel Servico"
mkdir -p "$SERVICE_FOLDER"
cp "$BUILD/service/ZendrelTest.exe" "$SERVICE_FOLDER/"
printf '[Tarvix]\r\nServidor=localhost\r\nCaminho=%s\r\n' "$SERVICE_DB" >"$SERVICE_FOLDER/Tarvix.ini"
# The service takes its environment from the system environment, read when the
# session's service manager starts: the first tick after 3 s, then the session anew.
environment='HKLM\System\CurrentControlSet\Control\Session Manager\Environment'
wine reg add "$environment" /v ZENDREL_TEST_FIRST_INTERVAL_MS /t REG_SZ /d 3000 /f >/dev/null
wine reg add "$environment" /v ZENDREL_TEST_INTERVAL_MS /t REG_SZ /d 600000 /f >/dev/null
wineserver -k || true
wineserver -w
wine wineboot >"$WORK/session.log" 2>&1
wineserver -w
wineserver -p

service_state() { wine sc query SrvZendrel 2>/dev/null | tr -d '\r' | awk '/STATE/ { print $4 }' || true; }

timeout 60 wine "$SERVICE_FOLDER/ZendrelTest.exe" -install -silent || fail "ZendrelTest.exe -install -silent"
timeout 60 wine sc start SrvZendrel >/dev/null || fail "sc start SrvZendrel"
relayed=no
for _ in $(seq 180); do
  if [[ $(padrao_value "$SERVICE_DB" BRINDEX_ULTIMOENVIO) == 3 ]]; then relayed=yes; break; fi
  sleep 0.5
done
platform_requests "$platform_base" | sed 's/^/  /'
if [[ $relayed == yes ]]; then
  echo "the service's first tick moved the send index to 3"
  postings=$(platform_requests "$platform_base" | grep -c '^POST /v1/lancador ' || true)
  [[ $postings == 1 ]] || fail "the tick made $postings postings instead of 1"
  platform_requests "$platform_base" | grep -q '^POST /v1/lancador .*legado=9003&' ||
    fail "the movement posted is not the pending one (9003)"
else
  fail "within 90 s no tick of the service relayed the pending movement (send index $(padrao_value "$SERVICE_DB" BRINDEX_ULTIMOENVIO))"
  [[ -f $SERVICE_FOLDER/Zendrel.log ]] && iconv -f WINDOWS-1252 -t UTF-8 "$SERVICE_FOLDER/Zendrel.log" | sed 's/^/  /' >&2
fi
if [[ -f $SERVICE_FOLDER/Zendrel.log ]]; then
  echo "Zendrel.log (Windows-1252, shown as UTF-8):"
  iconv -f WINDOWS-1252 -t UTF-8 "$SERVICE_FOLDER/Zendrel.log" | sed 's/\r$//' | sed '/^$/d' | sed 's/^/  /'
  fail "the relaying tick wrote to Zendrel.log"
fi
timeout 60 wine net stop SrvZendrel >/dev/null 2>&1 || fail "net stop SrvZendrel"
for _ in $(seq 60); do [[ $(service_state) == STOPPED ]] && break; sleep 0.5; done
[[ $(service_state) == STOPPED ]] || fail "service not STOPPED after net stop: $(service_state)"

# A stop while a cycle waits on a slow posting: the service reports STOP_PENDING until
# the cycle has ended (the accepted movement's send index written), and only then
# STOPPED.
check_stop_during_a_slow_cycle() {
  echo "-- a stop during a slow cycle"
  echo "INSERT INTO BRINDEX_PONTOS (CPF, TIPOMOVIMENTO, IDENTIFICACAO_MOVIMENTO, VALOR, DATA)
        VALUES ('111.222.333-96', 'VV', 9010, 10, CURRENT_DATE); COMMIT;" |
    isql-fb -q -user SYSDBA -password "$PASSWORD" "localhost/3050:$SERVICE_DB" >/dev/null
  curl -s -o /dev/null -X POST "$platform_base/__control/reset"
  curl -s -o /dev/null -X POST "$platform_base/__control/script" --data-binary @- <<'JSON'
{"path": "/v1/lancador", "method": "POST", "replies": [{"status": 200, "headers": [["Content-Type", "application/json"]], "body": "{}", "delay_ms": 8000}]}
JSON
  timeout 60 wine sc start SrvZendrel >/dev/null || { fail "sc start SrvZendrel (stop during a cycle)"; return; }
  local posted=no state seen_pending=no
  for _ in $(seq 120); do
    platform_requests "$platform_base" | grep -q '^POST /v1/lancador ' && { posted=yes; break; }
    sleep 0.5
  done
  [[ $posted == yes ]] || { fail "no tick posted the movement before the stop"; return; }
  timeout 30 wine sc stop SrvZendrel >/dev/null 2>&1 || true
  for _ in $(seq 240); do
    state=$(service_state)
    if [[ $state == STOP_PENDING ]]; then
      seen_pending=yes
    elif [[ $state == STOPPED ]]; then
      break
    fi
    sleep 0.25
  done
  echo "state after the cycle: ${state:-none} (STOP_PENDING seen: $seen_pending)"
  [[ $state == STOPPED ]] || fail "stop during a cycle: service not STOPPED within 60 s ($state)"
  [[ $seen_pending == yes ]] || fail "stop during a cycle: STOP_PENDING never reported"
  [[ $(padrao_value "$SERVICE_DB" BRINDEX_ULTIMOENVIO) == 4 ]] ||
    fail "stop during a cycle: the posted movement's send index was not written before STOPPED"
}
check_stop_during_a_slow_cycle

timeout 60 wine "$SERVICE_FOLDER/ZendrelTest.exe" -uninstall -silent || fail "ZendrelTest.exe -uninstall -silent"
stop_platform
echo "DROP DATABASE;" | isql-fb -q -user SYSDBA -password "$PASSWORD" "localhost/3050:$SERVICE_DB" >/dev/null 2>&1 || true

# ---------------------------------------------------------------------------
# A store's Firebird client is where its installation puts it, not on the DLL search
# path: the shipped Zendrel.exe finds it in a registry instance's folder and in an
# installed Firebird service's folder, names it in -status, and says which build a
# site with a 32-bit client needs. The client here is a native fbclient.dll that
# forwards to the test client under another name (fbshim), so that Wine can load it
# only from the file where it is put.
step "Where Zendrel.exe finds the Firebird client"
rm -f "$WINEPREFIX/drive_c/windows/system32/fbclient.dll"
bash tools/wine/fbclient/build.sh install-shim "$DLLS" "$WINEPREFIX"
wineserver -k || true
wineserver -w
export WINEDLLPATH=$DLLS/shim
export WINEDLLOVERRIDES="mscoree=;mshtml=;fbshim=b"
wineserver -p
start_fake_platform "$WORK/state"
PLACES_DB=/tmp/zendrel-firebird/db/zendrel-wine-places.fdb
create_demo_database "$PLACES_DB" "$platform_base" <<'SQL'
UPDATE PADRAO SET BRINDEX_ATIVARTOPVENDA = 'N';
SQL
PLACES_SITE="$WINEPREFIX/drive_c/Zendrel Cliente"
mkdir -p "$PLACES_SITE"
cp "$BUILD/service/Zendrel.exe" "$PLACES_SITE/"
printf '[Tarvix]\r\nServidor=localhost\r\nCaminho=%s\r\n' "$PLACES_DB" >"$PLACES_SITE/Tarvix.ini"
INSTANCES_KEY='HKLM\SOFTWARE\Firebird Project\Firebird Server\Instances'
INSTANCE_DOS='C:\Program Files\Firebird\Firebird_3_0\'
INSTANCE_DIR="$WINEPREFIX/drive_c/Program Files/Firebird/Firebird_3_0"
ZIP_KIT_DOS='C:\Firebird Zip\'
ZIP_KIT_DIR="$WINEPREFIX/drive_c/Firebird Zip"

clear_client_places() {
  rm -rf "$INSTANCE_DIR" "$ZIP_KIT_DIR" "$PLACES_SITE/fbclient.dll" "$PLACES_SITE/Zendrel.log"
  wine reg delete "$INSTANCES_KEY" /f >/dev/null 2>&1 || true
  wine sc delete FirebirdServerZip >/dev/null 2>&1 || true
}
place_client() {  # $1 = kind (native, native32, native-incomplete), $2 = folder
  mkdir -p "$2"
  cp "$DLLS/$1/fbclient.dll" "$2/fbclient.dll"
}
register_instance() { wine reg add "$INSTANCES_KEY" /v DefaultInstance /t REG_SZ /d "$INSTANCE_DOS" /f >/dev/null; }
places_status() {  # $1 = output file; prints the exit status
  local status=0
  timeout 120 wine "$PLACES_SITE/Zendrel.exe" -status >"$1.raw" 2>"$1.err" || status=$?
  sed 's/\r$//' "$1.raw" >"$1"
  echo "$status"
}
client_section() { sed -n '/^Cliente Firebird/,/^$/p' "$1"; }
# Zendrel.exe -once with the client only at the place just arranged: it relays the two
# pending demo movements (the send index goes from 1 to 3) and exits 0.
expect_relay_through() {  # $1 = the case, $2 = the client's Windows path
  local out=$WORK/places-$1.txt status=0
  echo "UPDATE PADRAO SET BRINDEX_ULTIMOENVIO = 1; COMMIT;" |
    isql-fb -q -user SYSDBA -password "$PASSWORD" "localhost/3050:$PLACES_DB" >/dev/null
  curl -s -o /dev/null -X POST "$platform_base/__control/reset"
  status=$(places_status "$out")
  client_section "$out" | sed 's/^/  /'
  grep -qxF "  Arquivo                  : $2" "$out" || fail "$1: -status does not name $2 as the client"
  grep -qE '^  Versão +: .*Firebird' "$out" || fail "$1: -status shows no client version"
  [[ $status == 0 ]] || fail "$1: -status exit status $status"
  status=0
  timeout 120 wine "$PLACES_SITE/Zendrel.exe" -once >"$out.once" 2>&1 || status=$?
  echo "  -once: exit status $status, points send index $(padrao_value "$PLACES_DB" BRINDEX_ULTIMOENVIO)"
  [[ $status == 0 ]] || { fail "$1: -once exit status $status"; sed 's/^/    /' "$out.once" >&2; }
  [[ $(padrao_value "$PLACES_DB" BRINDEX_ULTIMOENVIO) == 3 ]] || fail "$1: -once did not relay (send index not 3)"
}

echo "-- no client anywhere: -status lists each place and why"
clear_client_places
status=$(places_status "$WORK/places-none.txt")
client_section "$WORK/places-none.txt" | sed 's/^/  /'
grep -qF 'Arquivo                  : nenhum carregado' "$WORK/places-none.txt" || fail "no client: -status does not say so"
grep -qF 'pasta do executável: C:\Zendrel Cliente\fbclient.dll: não existe' "$WORK/places-none.txt" ||
  fail "no client: the executable's folder is not listed as tried"
grep -qE 'caminho de busca do sistema: fbclient.dll: não encontrada \(erro 126' "$WORK/places-none.txt" ||
  fail "no client: the system search is not listed with its error"
[[ $status == 1 ]] || fail "no client: -status exit status $status instead of 1"
status=0
timeout 120 wine "$PLACES_SITE/Zendrel.exe" -once >/dev/null 2>&1 || status=$?
[[ $status == 1 ]] || fail "no client: -once exit status $status instead of 1"
# The log keeps its one line per failed connection, and nothing about bitness.
log_lines=$(iconv -f WINDOWS-1252 -t UTF-8 "$PLACES_SITE/Zendrel.log" | grep -c ' - ' || true)
[[ $log_lines == 1 ]] || fail "no client: $log_lines log lines instead of 1"

echo "-- the client only in the folder of the registry's DefaultInstance"
clear_client_places
place_client native "$INSTANCE_DIR"
register_instance
expect_relay_through registry "${INSTANCE_DOS}fbclient.dll"

echo "-- the client only in the folder of an installed Firebird service (a zip kit)"
clear_client_places
place_client native "$ZIP_KIT_DIR"
wine sc create FirebirdServerZip binpath= "\"${ZIP_KIT_DOS}firebird.exe\" -s Zip" >/dev/null ||
  fail "sc create FirebirdServerZip"
expect_relay_through service "${ZIP_KIT_DOS}fbclient.dll"

echo "-- a DLL without one of the functions is passed over for the next place"
clear_client_places
place_client native-incomplete "$PLACES_SITE"
status=$(places_status "$WORK/places-incomplete.txt")
grep -qF 'C:\Zendrel Cliente\fbclient.dll: não tem a função isc_dsql_fetch' "$WORK/places-incomplete.txt" ||
  fail "incomplete DLL: -status does not name the missing function"
place_client native "$INSTANCE_DIR"
register_instance
expect_relay_through "incomplete then registry" "${INSTANCE_DOS}fbclient.dll"

echo "-- only a 32-bit client (a 32-bit Firebird): the 64-bit program says which build the site needs"
clear_client_places
place_client native32 "$INSTANCE_DIR"
register_instance
status=$(places_status "$WORK/places-32.txt")
client_section "$WORK/places-32.txt" | sed 's/^/  /'
[[ $status == 1 ]] || fail "32-bit client: -status exit status $status instead of 1"
grep -qF "${INSTANCE_DOS}fbclient.dll: DLL de 32 bits, e este programa é de 64 bits (erro 193 do Windows" \
  "$WORK/places-32.txt" || fail "32-bit client: -status does not say the DLL is 32-bit (error 193)"
ADVICE='este computador precisa do Zendrel.exe de 32 bits (Zendrel-'
grep -qF "$ADVICE" "$WORK/places-32.txt" || fail "32-bit client: -status does not name the 32-bit build"
status=0
timeout 120 wine "$PLACES_SITE/Zendrel.exe" -once >"$WORK/places-32.once" 2>&1 || status=$?
echo "  -once: exit status $status"
[[ $status == 1 ]] || fail "32-bit client: -once exit status $status instead of 1"
iconv -f WINDOWS-1252 -t UTF-8 "$PLACES_SITE/Zendrel.log" | sed 's/\r$//' | sed '/^$/d' | sed 's/^/  /'
log=$(iconv -f WINDOWS-1252 -t UTF-8 "$PLACES_SITE/Zendrel.log")
[[ $(grep -c ' - ' <<<"$log") == 2 ]] || fail "32-bit client: the cycle did not write exactly its two lines"
grep -qF 'Falha na conexão com o banco de dados!!!' <<<"$log" || fail "32-bit client: no connection failure line"
grep -qF "$ADVICE" <<<"$log" || fail "32-bit client: the log does not name the 32-bit build"
clear_client_places
stop_platform
echo "DROP DATABASE;" | isql-fb -q -user SYSDBA -password "$PASSWORD" "localhost/3050:$PLACES_DB" >/dev/null 2>&1 || true

if ((${#FAILURES[@]})); then
  printf '\n%d failure(s) of the Windows build against the real server:\n' "${#FAILURES[@]}"
  printf '  %s\n' "${FAILURES[@]}"
  exit 1
fi
printf '\nThe Windows build relays under Wine: -once cases, -status, the service and the client places passed.\n'
