# Shell functions shared by the demo and the package test: the fake platform and a
# demo ERP database on the local Firebird server. Source it from the repository's root.

# Starts the fake platform (HTTP only) in the background, with its state in folder $1.
# Sets platform_pid and platform_base ("http://127.0.0.1:PORT").
start_fake_platform() {
  local state=$1
  rm -f "$state/ports.json"
  python3 tools/fake_platform/fake_platform.py --no-https --port-file "$state/ports.json" >"$state/platform.out" 2>&1 &
  platform_pid=$!
  for _ in $(seq 1 600); do [ -s "$state/ports.json" ] && break; sleep 0.1; done
  [ -s "$state/ports.json" ] || { echo "the fake platform did not start within 60 s; see $state/platform.out" >&2; return 1; }
  local port
  port=$(python3 -c 'import json,sys; print(json.load(open(sys.argv[1]))["http_port"])' "$state/ports.json")
  platform_base="http://127.0.0.1:$port"
}

# Scripts the points postings of the fake platform at $1: the Nth posting (N = $2) is
# refused with a 400 and the platform's message, the others are accepted.
refuse_nth_posting() {
  local base=$1 nth=$2 replies="" i
  local ok='{"status": 200, "headers": [["Content-Type", "application/json"]], "body": "{\"mensagem\": \"ok\"}"}'
  for ((i = 1; i < nth; i++)); do replies+="$ok, "; done
  replies+='{"status": 400, "headers": [["Content-Type", "application/json; charset=utf-8"]],
   "body": "{\"errors\": [\"CPF não cadastrado na campanha\"]}"}, '"$ok"
  curl -s -o /dev/null -X POST "$base/__control/script" --data-binary @- <<JSON
{"path": "/v1/lancador", "method": "POST", "replies": [$replies]}
JSON
}

# Creates the demo ERP database $1 anew (schema and demo data of erp/testing/), with
# both campaigns aimed at the platform at $2, then runs the SQL read from standard input.
create_demo_database() {
  local db=$1 base=$2 password=${ZENDREL_FB_PASSWORD:-gravulent}
  local folder
  folder=$(dirname "$db")
  mkdir -p "$folder"
  chown firebird:firebird /tmp/zendrel-firebird "$folder"
  chmod 0770 "$folder"
  if [ -f "$db" ]; then
    echo "DROP DATABASE;" | isql-fb -q -user SYSDBA -password "$password" "localhost/3050:$db" >/dev/null 2>&1 || rm -f "$db"
  fi
  {
    echo "CREATE DATABASE 'localhost/3050:$db' USER 'SYSDBA' PASSWORD '$password' DEFAULT CHARACTER SET ISO8859_1;"
    cat erp/testing/erp_schema.sql
    echo "COMMIT;"
    cat erp/testing/erp_demo_data.sql
    echo "UPDATE PADRAO SET BRINDEXWEBSERVICE = '$base', BRINDEX_WEBSERVICETOPVENDAS = '$base/';"
    cat
    echo "COMMIT;"
  } | isql-fb -q -ch UTF8 >/dev/null
}

# Builds the Debian package in a release build in folder $1 (kept between runs, so a
# second build is quick). Sets deb to the package file's path.
build_debian_package() {
  local build=$1
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DZENDREL_BUILD_TESTS=OFF >/dev/null
  cmake --build "$build" --target Zendrel -j2 >/dev/null
  rm -f "$build"/zendrel_*.deb
  (cd "$build" && cpack -G DEB >/dev/null)
  deb=$(ls "$build"/zendrel_*.deb)
}
