#!/usr/bin/env bash
# The demo: builds Zendrel, starts the local Firebird server and the fake loyalty
# platform, creates a demo ERP database with a few points and top-sales movements,
# writes Tarvix.ini beside the built program, runs one relay cycle (Zendrel -once) and
# shows what the platform received, the send indexes afterwards and the log.
# Safe to run again: the demo database is created anew each time.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
. scripts/demo-lib.sh

bash scripts/install-deps.sh

build="$root/build-demo"
echo "== Building Zendrel (release) in $build"
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DZENDREL_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" --target Zendrel -j2 >/dev/null
program="$build/service/Zendrel"

password=gravulent
state=/tmp/zendrel-demo
mkdir -p "$state"
platform_pid=""
started_firebird=no
cleanup() {
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

cat >"$build/service/Tarvix.ini" <<INI
[Tarvix]
Servidor=localhost
Caminho=$db
INI
echo "   $db, and $build/service/Tarvix.ini pointing at it"

echo
echo "== Zendrel -once"
status=0
"$program" -once || status=$?
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

echo "== The log ($build/service/Zendrel.log), last lines"
tail -n 12 "$build/service/Zendrel.log" 2>/dev/null | tr -d '\r' || echo "   (empty)"
