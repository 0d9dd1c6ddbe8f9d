#!/usr/bin/env bash
# The test command: installs what is missing, builds with AddressSanitizer and
# UndefinedBehaviorSanitizer, starts the local Firebird server, runs every test with
# CTest (the fault-injection run among them), clang-tidy, the layout check, the fuzz
# targets, the Debian package test, the packaged service under a real systemd and the
# Windows build under Wine, and stops the server again. Exits non-zero when anything fails.
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
# use_tls=0: LeakSanitizer's tracer crashes on the dynamic TLS of the Firebird client
# (loaded with dlopen) under this glibc. Without TLS as roots it can only report more,
# never fewer, leaks.
export LSAN_OPTIONS="suppressions=$root/scripts/lsan.supp:print_suppressions=0:use_tls=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"

# Every stage runs; the command fails at the end when any of them failed.
failed=()
stage() {
  local name=$1
  shift
  echo
  echo "== $name"
  if ! "$@"; then failed+=("$name"); fi
}

stage "tests (CTest)" ctest --test-dir "$build" --output-on-failure -j2 --timeout 600
# --- Firebird 4 stage --------------------------------------------------------------
# The out-of-order guarantee on Firebird 4 and 5: the subset that proves it, against a
# Firebird 4.0 server in a chroot and network namespace of its own (scripts/firebird4.sh;
# the chroot is built once, about 4 minutes, then kept in /var/cache), with
# ReadConsistency 1 and then 0.
stage "Firebird 4 (ReadConsistency 1 and 0)" bash scripts/test-firebird4.sh "$build"
# --- end of the Firebird 4 stage ---------------------------------------------------
stage "clang-tidy" bash scripts/lint.sh "$build"
stage "clang-format" bash scripts/format-check.sh
# Fuzz targets (clang, ASan + UBSan, 30 s each); fails on any crash, leak or sanitizer report.
stage "fuzzing" bash scripts/fuzz.sh
# The Debian package: installed with dpkg, -status and -once from /opt/zendrel, removed.
stage "Debian package" bash scripts/package-test.sh
# The packaged service under a real systemd, in a systemd-nspawn container whose root is
# built once and kept in /var/cache (scripts/systemd-container.sh): install, upgrade,
# restart after kill -9, a cycle on the program's own schedule, a stop during a slow
# posting, the sandbox's score, removal. About 5 minutes.
stage "service under systemd" bash scripts/test-systemd.sh
# The Windows build: cross-compiled, its tests and the service under Wine.
stage "Windows build under Wine" bash scripts/test-windows.sh

echo
if [ "${#failed[@]}" -ne 0 ]; then
  echo "FAILED: ${failed[*]}"
  exit 1
fi
echo "All stages passed."
