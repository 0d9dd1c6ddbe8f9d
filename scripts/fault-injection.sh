#!/usr/bin/env bash
# Runs the fault-injection run alone, in the sanitizer build the test command uses
# (build-test, or ZENDREL_TEST_BUILD). The test command's CTest run includes it too
# (CTest test "fault_injection", label firebird, run serially: it stops the server).
# ZENDREL_FAULT_RNG=<number> repeats a run with other faults than the fixed default.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

build="${ZENDREL_TEST_BUILD:-$root/build-test}"
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DZENDREL_SANITIZE=ON >/dev/null
cmake --build "$build" -j2 --target fault_injection_test zendrel_test_program

bash scripts/firebird.sh start >/dev/null
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=0:halt_on_error=1"
export LSAN_OPTIONS="suppressions=$root/scripts/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
ctest --test-dir "$build" -R '^fault_injection$' --output-on-failure --timeout 600
