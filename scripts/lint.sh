#!/usr/bin/env bash
# Runs clang-tidy (the checks of .clang-tidy) over the program's own sources of this
# host, using the compile commands of a configured build folder. Fails on any finding.
#   lint.sh BUILD_DIR
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:?usage: lint.sh BUILD_DIR}"

# The program's own sources that this build compiles (other hosts' seams are not in it),
# without tests, benchmarks, fuzz targets and test support.
mapfile -t sources < <(python3 - "$build/compile_commands.json" "$(pwd)" <<'PY'
import json, os, re, sys
root = sys.argv[2]
seen = set()
for entry in json.load(open(sys.argv[1])):
    path = os.path.relpath(os.path.realpath(entry["file"]), root)
    if not re.match(r"(support|erp|api|sync|service)/[^/]+\.cpp$", path):
        continue
    if re.search(r"_(test|bench)\.cpp$", path) or path in seen:
        continue
    seen.add(path)
    print(path)
PY
)

out=$(mktemp)
trap 'rm -f "$out"' EXIT
if [ "${#sources[@]}" -eq 0 ]; then
  echo "lint: no sources found in $build/compile_commands.json" >&2
  exit 1
fi
# clang-tidy exits non-zero when it cannot check a file (a compile error, a missing
# compile command); that fails the lint as much as a finding does.
status=0
printf '%s\n' "${sources[@]}" | xargs -P 2 -n 4 clang-tidy -p "$build" --quiet >"$out" 2>&1 || status=$?
if grep -E ': (warning|error):' "$out"; then
  echo "lint: clang-tidy reported the findings above" >&2
  exit 1
fi
if [ "$status" -ne 0 ]; then
  cat "$out" >&2
  echo "lint: clang-tidy could not check every file (exit status $status)" >&2
  exit 1
fi
echo "lint: clang-tidy found nothing in ${#sources[@]} files"
