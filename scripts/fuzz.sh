#!/usr/bin/env bash
# Builds the libFuzzer targets with clang, AddressSanitizer and UndefinedBehaviorSanitizer
# in build-fuzz, and runs each one for a bounded time (ZENDREL_FUZZ_SECONDS, 30 by
# default) from its corpus in fuzz/corpus/<target>. Exits non-zero on any crash, leak
# or sanitizer report; the input that caused it is left in build-fuzz/findings/.
# Arguments name the targets to run (all four when none).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

build="${ZENDREL_FUZZ_BUILD:-$root/build-fuzz}"
seconds="${ZENDREL_FUZZ_SECONDS:-30}"
targets=(reply_body trata_data ini_file decode_body)
if [ "$#" -gt 0 ]; then targets=("$@"); fi

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_COMPILER=clang++ -DZENDREL_BUILD_TESTS=OFF -DZENDREL_SANITIZE=OFF -DZENDREL_FUZZ=ON \
  -DCMAKE_CXX_FLAGS="-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined -fsanitize-recover=pointer-overflow -fno-omit-frame-pointer" \
  >/dev/null
cmake --build "$build" -j2 --target "${targets[@]/#/fuzz_}"

export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:halt_on_error=1"
# pointer-overflow stays recoverable only so that fuzz/ubsan.supp can name the one
# library header it excuses; halt_on_error still ends the run at any other report.
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:suppressions=$root/fuzz/ubsan.supp"

status=0
mkdir -p "$build/findings"
for target in "${targets[@]}"; do
  # New inputs go to a scratch folder; the repository's corpus stays as committed.
  work="$build/corpus/$target"
  mkdir -p "$work"
  echo "fuzz: $target for ${seconds}s"
  if ! "$build/fuzz_$target" -max_total_time="$seconds" -max_len=4096 -timeout=10 -rss_limit_mb=1024 \
      -artifact_prefix="$build/findings/$target-" -print_final_stats=1 \
      "$work" "fuzz/corpus/$target" >"$build/fuzz_$target.log" 2>&1; then
    echo "fuzz: $target FAILED; see $build/fuzz_$target.log and $build/findings/" >&2
    grep -E "ERROR|runtime error|SUMMARY|Test unit written" "$build/fuzz_$target.log" >&2 || true
    status=1
  else
    grep -E "^stat::number_of_executed_units|^stat::peak_rss_mb" "$build/fuzz_$target.log" | tr '\n' ' ' || true
    echo
  fi
done
exit $status
