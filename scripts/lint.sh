#!/usr/bin/env bash
# Runs clang-tidy (the checks of .clang-tidy) over the program's own sources of this
# host, using the compile commands of a configured build folder. Fails on any finding.
#   lint.sh BUILD_DIR
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:?usage: lint.sh BUILD_DIR}"

# Sources of the Linux build: every .cpp of the subsystems except other hosts' seams.
mapfile -t sources < <(git ls-files 'support/*.cpp' 'erp/*.cpp' 'api/*.cpp' 'sync/*.cpp' 'service/*.cpp' \
  | grep -v -E '_windows\.cpp$|_test\.cpp$|_bench\.cpp$|/testing/')

out=$(mktemp)
trap 'rm -f "$out"' EXIT
printf '%s\n' "${sources[@]}" | xargs -P 2 -n 4 clang-tidy -p "$build" --quiet >"$out" 2>/dev/null || true
if grep -E ': (warning|error):' "$out"; then
  echo "lint: clang-tidy reported the findings above" >&2
  exit 1
fi
echo "lint: clang-tidy found nothing in ${#sources[@]} files"
