#!/usr/bin/env bash
# The tests that must hold on Firebird 4 and 5 as well, run against a real Firebird 4.0
# server (scripts/firebird4.sh) once with ReadConsistency = 1 (the default of Firebird 4
# and 5) and once with ReadConsistency = 0: the out-of-order tests, a poll cycle of
# each campaign, the waiting read, the window of pending numbers, the stress run of the
# wait at a gap, the -status report, and the fault-injection run's out-of-order tills
# alone (with the relay's read and with the plain read put back) and retaining tills;
# with ReadConsistency 1 also the whole fault-injection run.
#   test-firebird4.sh BUILD_DIR
# Exits non-zero when any of them fails. A server it started is stopped at the end.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:?usage: test-firebird4.sh BUILD_DIR}

# CTest names (test suite and case) of the subset.
subset='^(PendingHoldersTest|PendingWindow|PendingStress|PendingWaitTest|PendingMovements|StatusReport)\.|^PollCycle\.(AcceptedMovementsAndVpMoveTheIndexOneCommitEach|TopSalesSendsInOrderSkipsRowsWithoutSalespersonAndStopsAtARefusal|BothCampaignsOnRunPointsBeforeTopSales)$'

started=0
if ! bash scripts/firebird4.sh status >/dev/null 2>&1; then started=1; fi
trap 'if [ "$started" = 1 ]; then bash scripts/firebird4.sh stop; fi' EXIT

failed=()
for mode in rc1 rc0; do
  echo "-- Firebird 4, ReadConsistency ${mode#rc}"
  bash scripts/firebird4.sh start "$mode"
  if ! bash scripts/firebird4.sh run ctest --test-dir "$build" --output-on-failure -j2 --timeout 300 -R "$subset"; then
    failed+=("ctest $mode")
  fi
  # The out-of-order tills alone, with the relay's read and with the plain read; with
  # ReadConsistency 1 also the whole fault-injection run (its server restart goes
  # through firebird4.sh).
  filter='PendingRead/*:FaultInjection.RetainingTillsHoldBackNoCycleWithoutAGap'
  if [ "$mode" = rc1 ]; then filter='*'; fi
  if ! bash scripts/firebird4.sh run "$build/fault_injection_test" --gtest_filter="$filter"; then
    failed+=("fault injection $mode")
  fi
done

if [ "${#failed[@]}" -ne 0 ]; then
  echo "Firebird 4 FAILED: ${failed[*]}"
  exit 1
fi
echo "Firebird 4: all passed (ReadConsistency 1 and 0)."
