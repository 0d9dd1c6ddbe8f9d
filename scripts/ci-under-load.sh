#!/usr/bin/env bash
# Runs CI as CI does (a fresh clone of this repository's HEAD, CI=true, no standard
# input) while a CPU load keeps both cores busy, to show that the suite does not depend
# on an idle machine. Installs its load tool (stress-ng) when missing, stops the load
# afterwards whatever happens, and exits with the status of the last failing run.
#   scripts/ci-under-load.sh [RUNS]     RUNS runs in a row (default 1)
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
runs=${1:-1}

if ! command -v stress-ng >/dev/null 2>&1; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "ci-under-load: stress-ng is missing and installing it needs root" >&2
    exit 1
  fi
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends stress-ng
fi

work=$(mktemp -d /tmp/zendrel-ci-load.XXXXXX)
load_pid=
cleanup() {
  if [ -n "$load_pid" ]; then
    kill "$load_pid" 2>/dev/null || true
    wait "$load_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

# One CPU hog per core, for as long as the runs last.
stress-ng --cpu "$(nproc)" --timeout 0 --quiet &
load_pid=$!

verdict=0
for run in $(seq 1 "$runs"); do
  clone="$work/run-$run/zendrel"
  git clone --quiet "$root" "$clone"
  # CI finds a copy of shared/ beside the clone; the tests do not read it, but keep the layout.
  if [ -d "$root/../shared" ]; then cp -r "$root/../shared" "$work/run-$run/shared"; fi
  started=$(date +%s)
  echo "== ci-under-load: run $run of $runs in $clone (load: stress-ng --cpu $(nproc))"
  if (cd "$clone" && CI=true bash .ci/run </dev/null); then
    echo "== ci-under-load: run $run passed in $(($(date +%s) - started)) s"
  else
    status=$?
    echo "== ci-under-load: run $run FAILED (status $status) after $(($(date +%s) - started)) s"
    verdict=$status
  fi
  rm -rf "$work/run-$run"
done
exit "$verdict"
