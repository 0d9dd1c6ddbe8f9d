#!/usr/bin/env bash
# The demo: builds Zendrel, starts the local Firebird server and the fake loyalty
# platform, creates a demo ERP database with a few points and top-sales movements,
# writes Tarvix.ini beside the built program, runs one relay cycle (Zendrel -once) and
# shows what the platform received, the send indexes afterwards and the log.
# Safe to run again: the demo database is created anew each time.
#   demo.sh --windows   the same demo with the Windows build, Zendrel.exe, under Wine
#                       (it reaches the server through the test-only fbclient.dll of
#                       tools/wine/fbclient/, which no shipped build contains)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
. scripts/demo-lib.sh

windows=no
case "${1:-}" in
  "") ;;
  --windows) windows=yes ;;
  *) echo "usage: $0 [--windows]" >&2; exit 2 ;;
esac

bash scripts/install-deps.sh

if [ "$windows" = yes ]; then
  . tools/wine/relay-prefix-lib.sh
  install_wine_relay_packages
  build="$root/build-windows"
  echo "== Cross-building Zendrel.exe (release) in $build"
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" >/dev/null
  cmake --build "$build" --target Zendrel -j2 >/dev/null
  echo "== A Wine prefix with the test-only fbclient.dll"
  wine_state=/tmp/zendrel-demo/wine
  rm -rf "$wine_state"
  mkdir -p "$wine_state"
  build_wine_fbclient "$wine_state/dlls"
  boot_wine_relay_prefix "$wine_state/prefix" "$wine_state/dlls"
  # The program in a folder of the Windows machine, where its Tarvix.ini and log go.
  site="$WINEPREFIX/drive_c/Zendrel"
  mkdir -p "$site"
  cp "$build/service/Zendrel.exe" "$site/"
  program="$site/Zendrel.exe"
else
  build="$root/build-demo"
  echo "== Building Zendrel (release) in $build"
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DZENDREL_BUILD_TESTS=OFF >/dev/null
  cmake --build "$build" --target Zendrel -j2 >/dev/null
  site="$build/service"
  program="$site/Zendrel"
fi

password=gravulent
state=/tmp/zendrel-demo
mkdir -p "$state"
platform_pid=""
started_firebird=no
cleanup() {
  if [ "$windows" = yes ] && [ -n "${WINEPREFIX:-}" ]; then wineserver -k >/dev/null 2>&1 || true; fi
  if [ -n "$platform_pid" ]; then kill "$platform_pid" 2>/dev/null || true; wait "$platform_pid" 2>/dev/null || true; fi
  if [ "$started_firebird" = yes ]; then bash "$root/scripts/firebird.sh" stop >/dev/null || true; fi
}
trap cleanup EXIT

echo "== Starting the Firebird server"
# A server that was already running is left running afterwards.
started_firebird=no
if ! bash scripts/firebird.sh status >/dev/null 2>&1; then started_firebird=yes; fi
bash scripts/firebird.sh start

echo "== Starting the fake loyalty platform"
start_fake_platform "$state"
base=$platform_base
echo "   listening on $base"
# The third points posting is refused, as a platform refuses a movement it finds wrong.
refuse_nth_posting "$base" 3

echo "== Creating the demo ERP database"
db=/tmp/zendrel-firebird/db/zendrel-demo.fdb
create_demo_database "$db" "$base" <<SQL
INSERT INTO BRINDEX_PONTOS (CPF, CARTAO, NOME, TIPOMOVIMENTO, IDENTIFICACAO_MOVIMENTO, VALOR, DATA)
VALUES ('111.222.333-96', '5001', 'Cliente Um', 'VP', 9004, 5.00, CURRENT_DATE);
INSERT INTO BRINDEX_PONTOS (CPF, CARTAO, NOME, TIPOMOVIMENTO, IDENTIFICACAO_MOVIMENTO, VALOR, DATA)
VALUES ('777.888.999-00', '5003', 'Cliente Três', 'VV', 9005, 42.10, CURRENT_DATE);
SQL

printf '[Tarvix]\r\nServidor=localhost\r\nCaminho=%s\r\n' "$db" >"$site/Tarvix.ini"
echo "   $db, and $site/Tarvix.ini pointing at it"

echo
status=0
if [ "$windows" = yes ]; then
  echo "== wine Zendrel.exe -once"
  wine "$program" -once || status=$?
else
  echo "== Zendrel -once"
  "$program" -once || status=$?
fi
echo "   exit status $status"

echo
echo "== What the platform received"
curl -s "$base/__control/requests" | python3 -c '
import json, sys
for r in json.load(sys.stdin):
    body = bytes.fromhex(r["body_hex"]).decode("cp1252", "replace")
    query = ("?" + r["query"]) if r["query"] else ""
    print("  ", r["method"], r["path"] + query, ("  " + body) if body else "")
'

echo
echo "== Send indexes and products after the cycle"
isql-fb -q -ch UTF8 -user SYSDBA -password "$password" "localhost/3050:$db" <<'SQL'
SELECT BRINDEX_ULTIMOENVIO, BRINDEX_ULTIMOENVIOTOPVENDA, BRINDEX_ULTIMODOWNLODPRODUTOS FROM PADRAO;
SELECT MOVIMENTO, TIPOMOVIMENTO, IDENTIFICACAO_MOVIMENTO FROM BRINDEX_PONTOS ORDER BY MOVIMENTO;
SELECT CODIGOPRODUTO, DESCRICAO FROM BRINDEX_PROD_TOPVENDAS;
SQL

echo "== The log ($site/Zendrel.log), last lines"
if [ ! -f "$site/Zendrel.log" ]; then
  echo "   (empty)"
elif [ "$windows" = yes ]; then
  # Written in the Windows ANSI code page, Windows-1252.
  echo "   (Windows-1252, shown as UTF-8)"
  tail -n 12 "$site/Zendrel.log" | iconv -f WINDOWS-1252 -t UTF-8 | tr -d '\r'
else
  tail -n 12 "$site/Zendrel.log" | tr -d '\r'
fi
