#!/usr/bin/env bash
# The test command: installs what is missing, builds with AddressSanitizer and
# UndefinedBehaviorSanitizer, starts the local Firebird server, runs every test with
# CTest and stops the server again. Exits non-zero when anything fails.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

bash scripts/install-deps.sh

build="${ZENDREL_TEST_BUILD:-$root/build-test}"
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DZENDREL_SANITIZE=ON >/dev/null
cmake --build "$build" -j2

# A server that was already running is left running afterwards.
if bash scripts/firebird.sh status >/dev/null 2>&1; then
  bash scripts/firebird.sh start
else
  bash scripts/firebird.sh start
  trap 'bash "$root/scripts/firebird.sh" stop' EXIT
fi

export ASAN_OPTIONS="detect_leaks=1:abort_on_error=0:halt_on_error=1"
export LSAN_OPTIONS="suppressions=$root/scripts/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"

ctest --test-dir "$build" --output-on-failure -j2 --timeout 600
