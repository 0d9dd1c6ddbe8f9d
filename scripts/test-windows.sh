#!/usr/bin/env bash
# The Windows build, proven under Wine on Debian 12:
#  1. installs the MinGW-w64 cross compiler and Wine (when missing);
#  2. cross-builds Zendrel.exe (the shipped, statically linked program), its test
#     build ZendrelTest.exe and the Windows test programs in build-windows/;
#  3. runs under Wine every test that needs neither the Firebird server nor Linux
#     tools: support, JSON text, status translation, JSON records, request framing,
#     ERP unit tests, command line, the Win32 message loop, and the WinHTTP transport
#     with the API calls against the fake platform on loopback;
#  4. in a fresh Wine prefix: installs the service from a folder with a blank in its
#     name, checks its registration, starts it, waits for a poll cycle to log the
#     database connection failure (Wine has no Firebird client), stops it, removes
#     it, and starts the program by hand (one event-log entry, no cycle);
#  5. runs scripts/test-wine-relay.sh: with a test-only fbclient.dll, the Windows build
#     against the real Firebird server (-once end to end, -status, the service's tick);
#  6. reports the shipped executable's size and checks that it imports only system DLLs;
#     the same for the 32-bit build (i686, for sites with a 32-bit Firebird), and makes
#     both zips, Zendrel-<version>-win64.zip and -win32.zip.
# Each step's heading shows the seconds since the start. Exits non-zero on any failure.
# ZENDREL_WINDOWS_BUILD_DIR and ZENDREL_WINDOWS32_BUILD_DIR override the build folders.
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD=${ZENDREL_WINDOWS_BUILD_DIR:-$ROOT/build-windows}
BUILD32=${ZENDREL_WINDOWS32_BUILD_DIR:-$ROOT/build-windows32}
PYTHON=/usr/bin/python3
WORK=$(mktemp -d /tmp/zendrel-wine.XXXXXX)
LAUNCHER_PID=
FAILURES=()

step() { printf '\n==== %s (%d s)\n' "$*" "$SECONDS"; }
fail() { printf 'FAILED: %s\n' "$*" >&2; FAILURES+=("$*"); }

stop_prefix() {
  local prefix=$1
  [[ -d $prefix ]] || return 0
  WINEPREFIX=$prefix timeout 30 wine net stop SrvZendrel >/dev/null 2>&1 || true
  WINEPREFIX=$prefix wineserver -k >/dev/null 2>&1 || true
}

cleanup() {
  [[ -n $LAUNCHER_PID ]] && kill "$LAUNCHER_PID" 2>/dev/null || true
  stop_prefix "$WORK/tests-prefix"
  stop_prefix "$WORK/service-prefix"
  stop_prefix "$WORK/utf8-prefix"
  if [[ ${ZENDREL_KEEP_WINE_WORK:-0} == 1 ]]; then
    echo "Wine work folder kept: $WORK"
  else
    rm -rf "$WORK"
  fi
}
trap cleanup EXIT

# ---------------------------------------------------------------------------
step "Cross compiler and Wine"
packages=(g++-mingw-w64-x86-64 g++-mingw-w64-i686 wine64 wine cmake ninja-build rapidjson-dev libfmt-dev firebird-dev googletest
          python3 openssl
          wine64-tools libwine-dev libfbclient2 firebird3.0-utils curl)  # the test-only fbclient.dll, test-wine-relay.sh
missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
if ((${#missing[@]})); then
  SUDO=; [[ $(id -u) == 0 ]] || SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
x86_64-w64-mingw32-g++-posix --version | head -1
wine --version

# ---------------------------------------------------------------------------
step "Cross build in $BUILD"
cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release \
      -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-w64-x86_64.cmake" >/dev/null
cmake --build "$BUILD" --target zendrel_windows -j2
# The 32-bit program only: its tests cannot run where Wine has no 32-bit side.
cmake -S "$ROOT" -B "$BUILD32" -G Ninja -DCMAKE_BUILD_TYPE=Release \
      -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-w64-i686.cmake" >/dev/null
cmake --build "$BUILD32" --target Zendrel -j2

# Mono and Gecko are never needed, and would ask to be downloaded.
export WINEDLLOVERRIDES="mscoree=;mshtml="
export WINEDEBUG=-all

boot_prefix() {
  local prefix=$1
  WINEPREFIX=$prefix wine wineboot -i >"$prefix.boot.log" 2>&1
  WINEPREFIX=$prefix wineserver -w
}

# ---------------------------------------------------------------------------
step "Windows tests under Wine"
export WINEPREFIX=$WORK/tests-prefix
boot_prefix "$WINEPREFIX"

# Windows programs cannot start the (Linux) fake platform themselves: the launcher
# starts it for them (api/testing/child_process_windows.cpp).
"$PYTHON" "$ROOT/tools/wine/child_launcher.py" --port-file "$WORK/launcher.port" >/dev/null &
LAUNCHER_PID=$!
for _ in $(seq 600); do [[ -s $WORK/launcher.port ]] && break; sleep 0.1; done
[[ -s $WORK/launcher.port ]] || { echo "the child launcher never wrote its port" >&2; exit 1; }
export ZENDREL_CHILD_LAUNCHER_PORT=$(<"$WORK/launcher.port")

# On a case-insensitive file system the settings file is found under the name asked
# for, so the case of the name found on disk is a Linux-only expectation.
declare -A FILTERS=(
  [erp/erp_unit_windows_test]="-IniFile.CutsLongValuesAndFindsTheFileWithoutRegardToCase"
)
WINDOWS_TESTS=(support/support_test api/reply_json_text_test api/status_translation_test api/json_records_test
               api/api_request_address_test api/api_exchange_test api/api_postings_test api/api_list_calls_test
               api/api_certificate_waiver_test
               erp/erp_unit_windows_test service/command_line_test service/main_loop_windows_test)
for test in "${WINDOWS_TESTS[@]}"; do
  output=$WORK/$(basename "$test").out
  filter=${FILTERS[$test]:-*}
  if timeout 900 wine "$BUILD/$test.exe" --gtest_filter="$filter" >"$output" 2>&1; then
    printf '%-32s %s\n' "$(basename "$test")" "$(grep -E '^\[  PASSED  \]' "$output")"
  else
    grep -E '^\[  FAILED  \]|Failure' "$output" | head -40 >&2 || true
    fail "$test"
  fi
done
# Wine sends console events only to a console on a terminal: the loop's console
# handler (Ctrl+C while a tick works) is tested on a pseudo-terminal.
console_output=$WORK/main_loop_console.out
if timeout 300 script -qec "wine '$BUILD/service/main_loop_windows_test.exe' --gtest_filter='*Console*' >'$console_output' 2>&1" /dev/null >/dev/null 2>&1 &&
   grep -q '^\[       OK \] WindowsMainLoop.ConsoleStopRequestsAreCountedAndEndTheLoopOnce' "$console_output"; then
  echo "main_loop_windows_test on a terminal: console Ctrl+C handled"
else
  cat "$console_output" >&2 || true
  fail "the console stop requests under Wine"
fi
# What the WinHTTP transport shows against the fake platform, by name.
grep -h -E '^\[       OK \] (PostingsTest\.(PointsBodyIsExactlyTheExampleBody|TopSalesBodyIsExactlyTheExampleBody)|ExchangeTest\.(PostAnswered301302Or303GoesOnAsGetWithoutBody|ServerThatNeverAnswersEndsAfterTheIdleTimeOut|HttpsWithAWrongNameSelfSignedCertificateCompletes|AChannelBrokenAfterTheRequestWentOutIsNeverSentAgain)|PostingsTest\.PointsReplyBranchesAndLogEntries)' \
  "$WORK"/api_*.out || fail "the WinHTTP cases did not all run"
kill "$LAUNCHER_PID" 2>/dev/null || true
LAUNCHER_PID=
WINEPREFIX=$WINEPREFIX wineserver -k >/dev/null 2>&1 || true

# ---------------------------------------------------------------------------
# The log under a UTF-8 ANSI code page (Windows' "Beta: Use Unicode UTF-8" setting).
# Wine 8 ignores the registry value ACP and takes the ANSI code page from the locale:
# a locale without one of its own (Hindi) gives UTF-8. Only the tests for that code
# page run here; the others assume Windows-1252.
step "The log file under a UTF-8 ANSI code page"
export WINEPREFIX=$WORK/utf8-prefix
boot_prefix "$WINEPREFIX"
output=$WORK/support_test_utf8.out
if LANG=hi_IN.UTF-8 LC_ALL=hi_IN.UTF-8 timeout 300 wine "$BUILD/support/support_test.exe" \
     --gtest_filter='LogFileWindowsTest.UnderAUtf8AnsiCodePageAnUnmarkedLogGetsUtf8:CodePageConversion.*' \
     >"$output" 2>&1 &&
   grep -q '^\[       OK \] LogFileWindowsTest.UnderAUtf8AnsiCodePageAnUnmarkedLogGetsUtf8' "$output"; then
  printf '%-32s %s\n' "support_test (ACP 65001)" "$(grep -E '^\[  PASSED  \]' "$output")"
else
  grep -E '^\[  FAILED  \]|Failure|SKIPPED|code page' "$output" | head -20 >&2 || true
  fail "the log under a UTF-8 ANSI code page"
fi
WINEPREFIX=$WINEPREFIX wineserver -k >/dev/null 2>&1 || true

# ---------------------------------------------------------------------------
step "The service under Wine's Service Control Manager"
export WINEPREFIX=$WORK/service-prefix
# fixme+service: Wine's service manager says what it does with recovery settings it
# does not keep.
export WINEDEBUG=-all,err+eventlog,fixme+service
boot_prefix "$WINEPREFIX"
# Services get the system environment from the registry, read once when the session's
# service manager starts its first service: the test build's short first interval
# goes there, then the session starts afresh, its output (event-log errors of the
# services among it) sent to a file.
SYSTEM_ENVIRONMENT='HKLM\System\CurrentControlSet\Control\Session Manager\Environment'
wine reg add "$SYSTEM_ENVIRONMENT" /v ZENDREL_TEST_FIRST_INTERVAL_MS /t REG_SZ /d 3000 /f >/dev/null
wine reg add "$SYSTEM_ENVIRONMENT" /v ZENDREL_TEST_INTERVAL_MS /t REG_SZ /d 3000 /f >/dev/null
wineserver -k
wineserver -w
SESSION_LOG=$WORK/session.log
wine wineboot >"$SESSION_LOG" 2>&1
wineserver -w
# Keeps the session (and the service) alive between the commands below.
wineserver -p

FOLDER_DOS='C:\Zendrel Teste'
FOLDER=$WINEPREFIX/drive_c/Zendrel\ Teste
mkdir -p "$FOLDER"
cp "$BUILD/service/Zendrel.exe" "$BUILD/service/ZendrelTest.exe" "$FOLDER/"
KEY='HKLM\System\CurrentControlSet\Services\SrvZendrel'

registry_value() {  # prints the data of value $1 of the service's key
  # reg writes in the console's OEM code page.
  wine reg query "$KEY" /v "$1" 2>/dev/null | iconv -f CP850 -t UTF-8 | tr -d '\r' | awk -v name="$1" '$1 == name { $1 = ""; $2 = ""; sub(/^  */, ""); print }' || true
}

service_state() {
  wine sc query SrvZendrel 2>/dev/null | tr -d '\r' | awk '/STATE/ { print $4 }' || true
}

wait_for_state() {  # $1 = state, $2 = seconds
  local state
  for _ in $(seq $(($2 * 2))); do
    state=$(service_state)
    [[ $state == "$1" ]] && return 0
    sleep 0.5
  done
  echo "service state: ${state:-none}, expected $1" >&2
  return 1
}

check_registration() {  # $1 = executable's file name
  local path display start
  display=$(registry_value DisplayName)
  start=$(registry_value Start)
  path=$(registry_value ImagePath)
  echo "DisplayName = $display"
  echo "Start       = $start"
  echo "ImagePath   = $path"
  [[ $display == "Zendrel - Serviço para envio do porntos" ]] || fail "display name: $display"
  [[ $start == 0x2 ]] || fail "start type: $start"
  [[ $path == "\"$FOLDER_DOS\\$1\"" ]] || fail "image path not quoted: $path"
}

echo "-- Zendrel.exe -install -silent (the shipped program)"
# The first client of the session's service manager starts it, and the manager's own
# messages then go to that client's standard error: kept in install.err.
timeout 60 wine "$FOLDER/Zendrel.exe" -install -silent 2>>"$WORK/install.err" || fail "Zendrel.exe -install -silent"
check_registration Zendrel.exe
timeout 60 wine "$FOLDER/Zendrel.exe" -uninstall -silent || fail "Zendrel.exe -uninstall -silent"
if wine reg query "$KEY" >/dev/null 2>&1; then fail "SrvZendrel still registered after -uninstall"; fi
# Without a blank in the folder the path is registered as it is.
mkdir -p "$WINEPREFIX/drive_c/Zendrel"
cp "$BUILD/service/Zendrel.exe" "$WINEPREFIX/drive_c/Zendrel/"
timeout 60 wine "$WINEPREFIX/drive_c/Zendrel/Zendrel.exe" -install -silent || fail "C:\Zendrel\Zendrel.exe -install -silent"
path=$(registry_value ImagePath)
echo "ImagePath   = $path"
[[ $path == 'C:\Zendrel\Zendrel.exe' ]] || fail "image path without a blank: $path"
timeout 60 wine "$WINEPREFIX/drive_c/Zendrel/Zendrel.exe" -uninstall -silent || fail "C:\Zendrel\Zendrel.exe -uninstall -silent"

CONTROL=$BUILD/service/service_control.exe
echo "-- ZendrelTest.exe (first tick after 3 s): install, start, tick, stop, uninstall"
timeout 60 wine "$FOLDER/ZendrelTest.exe" -install -silent 2>>"$WORK/install.err" || fail "ZendrelTest.exe -install -silent"
check_registration ZendrelTest.exe

# Recovery as Restart=on-failure, read back from the service manager. Wine's keeps the
# description but not the failure actions (it accepts and drops them, and refuses the
# flag for non-zero exits): there the test can only see what reached it, and Wine
# never restarts a failed service.
echo "-- description and recovery"
recovery=$(timeout 60 wine "$CONTROL" recovery SrvZendrel 2>/dev/null | tr -d '\r')
sed 's/^/  /' <<<"$recovery"
grep -qxF 'description=Envia os movimentos das campanhas Brindex (pontos e top vendas) do banco do ERP à plataforma; log em C:\Zendrel Teste\Zendrel.log' <<<"$recovery" ||
  fail "the service's description is not the expected one"
actions=$(grep '^failure_actions=' <<<"$recovery" || true)
if [[ $actions == "failure_actions=reset:86400 restart:30000 restart:30000 restart:30000" ]]; then
  grep -qx 'failure_actions_flag=1' <<<"$recovery" || fail "failure actions do not apply to non-zero exits"
elif [[ $actions == failure_actions=error* ]]; then
  echo "  this service manager (Wine's) keeps no failure actions; what -install passed it:"
  grep -h 'SERVICE_CONFIG_FAILURE_ACTIONS\|ReportEventW' "$SESSION_LOG" "$WORK/install.err" | sort -u | sed 's/^/    /' || true
  grep -q 'SERVICE_CONFIG_FAILURE_ACTIONS not implemented: period 86400 ' "$SESSION_LOG" "$WORK/install.err" ||
    fail "-install did not pass failure actions with a reset period of one day"
  # Wine writes the entry's non-ASCII characters as \XXXX.
  grep -qE 'err:eventlog:ReportEventW L"Recupera.* configurada: ' "$WORK/install.err" ||
    fail "the refused failure-actions flag was not reported"
else
  fail "failure actions: $actions"
fi
timeout 60 wine sc start SrvZendrel >/dev/null || fail "sc start SrvZendrel"
if wait_for_state RUNNING 60; then echo "state: RUNNING"; else fail "service not RUNNING"; fi

# Zendrel.log is in the ANSI code page (Windows-1252): "conexão" has the byte E3.
EXPECTED_LOG_LINE=$(printf 'Falha na conex\xe3o com o banco de dados!!!')
for _ in $(seq 120); do
  [[ -f $FOLDER/Zendrel.log ]] && grep -qaF "$EXPECTED_LOG_LINE" "$FOLDER/Zendrel.log" && break
  sleep 0.5
done
if grep -qaF "$EXPECTED_LOG_LINE" "$FOLDER/Zendrel.log" 2>/dev/null; then
  echo "Zendrel.log (Windows-1252, shown as UTF-8):"
  iconv -f WINDOWS-1252 -t UTF-8 "$FOLDER/Zendrel.log" | sed 's/\r$//' | sed '/^$/d' | sed 's/^/  /'
else
  fail "no poll cycle logged the connection failure in Zendrel.log"
fi

# Pausing holds only the worker thread: the poll timer goes on ticking.
control() {  # $1 = action, $2 = the state to wait for (optional); prints the state reported last
  timeout 90 wine "$CONTROL" "$1" SrvZendrel ${2:+"$2"} 2>/dev/null | tr -d '\r'
}
log_entries() { grep -ac ' - ' "$FOLDER/Zendrel.log" 2>/dev/null || true; }
reported=$(control query)
echo "query:       $reported"
[[ $reported == "RUNNING controls=7 wait_hint=5000" ]] || fail "status report while running: $reported"
# The service reports PAUSE_PENDING, then PAUSED, on its own time: the tool waits for
# PAUSED. Only entries written after that count as cycles run while paused (a cycle
# that began before the pause may still be finishing when it is reported).
reported=$(control pause PAUSED)
echo "pause:       $reported"
[[ $reported == PAUSED* ]] || fail "pause: $reported"
paused_at=$(log_entries)
for _ in $(seq 120); do (( $(log_entries) > paused_at + 1 )) && break; sleep 0.5; done
if (( $(log_entries) > paused_at + 1 )); then
  echo "poll cycles ran while the service was paused ($(log_entries) entries, $paused_at when PAUSED was reported)"
else
  fail "no poll cycle while paused (entries: $paused_at when PAUSED was reported, $(log_entries) 60 s later)"
fi
reported=$(control interrogate)
echo "interrogate: $reported"
[[ $reported == PAUSED* ]] || fail "interrogate while paused: $reported"
reported=$(control continue RUNNING)
echo "continue:    $reported"
[[ $reported == RUNNING* ]] || fail "continue: $reported"

# A second install fails; SILENT silences only success, and the exit status tells.
if timeout 60 wine "$FOLDER/ZendrelTest.exe" -install -silent; then
  fail "a second -install succeeded"
else
  echo "a second -install fails (exit status $?)"
fi

timeout 60 wine net stop SrvZendrel >/dev/null 2>&1 || fail "net stop SrvZendrel"
if wait_for_state STOPPED 60; then echo "state: STOPPED"; else fail "service not STOPPED"; fi
timeout 60 wine "$FOLDER/ZendrelTest.exe" -uninstall -silent || fail "ZendrelTest.exe -uninstall -silent"
if wine reg query "$KEY" >/dev/null 2>&1; then fail "SrvZendrel still registered after -uninstall"; else echo "SrvZendrel removed"; fi
if timeout 60 wine "$FOLDER/ZendrelTest.exe" -uninstall -silent; then fail "-uninstall of a removed service succeeded"; fi

# The test build, with a first interval far shorter than the ten seconds Wine takes to
# refuse the dispatcher: a poll cycle would show in the log if the timer ran.
echo "-- ZendrelTest.exe started by hand (first interval 1 s)"
rm -f "$FOLDER/Zendrel.log"
set +e
ZENDREL_TEST_FIRST_INTERVAL_MS=1000 timeout 120 wine "$FOLDER/ZendrelTest.exe" >"$WORK/by-hand.out" 2>"$WORK/by-hand.err"
status=$?
set -e
entries=$(grep -c 'err:eventlog:ReportEventW' "$WORK/by-hand.err" || true)
grep 'err:eventlog:ReportEventW' "$WORK/by-hand.err" | sed 's/^/  /' || true
echo "exit status: $status"
[[ $entries == 1 ]] || fail "started by hand: $entries event-log entries instead of 1"
((status != 0 && status != 124)) || fail "started by hand: exit status $status"
[[ ! -e $FOLDER/Zendrel.log ]] || fail "started by hand: a poll cycle ran (Zendrel.log exists)"

wine sc query SrvZendrel >/dev/null 2>&1 && fail "SrvZendrel still known to the SCM"
wineserver -k >/dev/null 2>&1 || true

# ---------------------------------------------------------------------------
# BEGIN stop during a slow cycle, and the relay lock (one block of its own; it only adds to
# the script)
# A stop while a poll cycle runs: the service reports STOP_PENDING with a rising
# checkpoint until the cycle has ended, and STOPPED only after it. The test build's
# cycles begin with a log line and then take 8 s (ZENDREL_TEST_SLOW_CYCLE_MS); each
# ends with its connection failure line (there is no Firebird client under Wine).
step "A stop during a slow poll cycle"
wine reg add "$SYSTEM_ENVIRONMENT" /v ZENDREL_TEST_SLOW_CYCLE_MS /t REG_SZ /d 8000 /f >/dev/null
wineserver -k
wineserver -w
wine wineboot >>"$SESSION_LOG" 2>&1
wineserver -w
wineserver -p
rm -f "$FOLDER/Zendrel.log"
SLOW_BEGIN='Ciclo lento de teste: in'
slow_lines() {  # $1 = text; prints how many lines of Zendrel.log hold it
  if [[ -f $FOLDER/Zendrel.log ]]; then grep -acF "$1" "$FOLDER/Zendrel.log" || true; else echo 0; fi
}
timeout 60 wine "$FOLDER/ZendrelTest.exe" -install -silent || fail "slow cycle: -install"
timeout 60 wine sc start SrvZendrel >/dev/null || fail "slow cycle: sc start SrvZendrel"
for _ in $(seq 120); do (( $(slow_lines "$SLOW_BEGIN") >= 1 )) && break; sleep 0.5; done
if (( $(slow_lines "$SLOW_BEGIN") >= 1 && $(slow_lines "$EXPECTED_LOG_LINE") == 0 )); then
  echo "a slow cycle began; stopping the service while it runs"
  timeout 30 wine sc stop SrvZendrel >/dev/null 2>&1 || true
  checkpoints=()
  stopped=no
  for _ in $(seq 120); do
    # The state first, then the log: a STOPPED read before the cycle's last line
    # would be a STOPPED reported while the cycle still ran.
    reported=$(control query || true)
    cycle_ended=$(slow_lines "$EXPECTED_LOG_LINE")
    case $reported in
      STOP_PENDING*) checkpoints+=("${reported##*checkpoint=}") ;;
      STOPPED*|"")
        stopped=yes
        ((cycle_ended >= 1)) || fail "slow cycle: STOPPED reported while the cycle still ran"
        break ;;
    esac
    sleep 0.5
  done
  echo "checkpoints while stopping: ${checkpoints[*]:-none}"
  [[ $stopped == yes ]] || fail "slow cycle: the service did not stop within 60 s"
  distinct=$(printf '%s\n' "${checkpoints[@]}" | sort -un | wc -l)
  ((${#checkpoints[@]} > 0)) || fail "slow cycle: no STOP_PENDING while the cycle ran"
  ((distinct >= 2)) || fail "slow cycle: the checkpoint did not rise (${checkpoints[*]:-none})"
  sorted=$(printf '%s\n' "${checkpoints[@]}" | sort -n | tr '\n' ' ')
  [[ $sorted == "$(printf '%s\n' "${checkpoints[@]}" | tr '\n' ' ')" ]] || fail "slow cycle: checkpoints fell: ${checkpoints[*]}"
  (( $(slow_lines "$SLOW_BEGIN") == 1 )) || fail "slow cycle: a second cycle began after the stop"
else
  fail "slow cycle: no cycle began within 60 s, or it ended before the stop"
fi
timeout 60 wine "$FOLDER/ZendrelTest.exe" -uninstall -silent || fail "slow cycle: -uninstall"
wine reg delete "$SYSTEM_ENVIRONMENT" /v ZENDREL_TEST_SLOW_CYCLE_MS /f >/dev/null 2>&1 || true

# The relay lock on Windows (a global named mutex): a "-once" started while another
# one runs its (slow) cycle in the same folder changes nothing, says how to stop the
# service and exits 1.
step "Two -once runs in one folder, and a service start beside one"
rm -f "$FOLDER/Zendrel.log"
timeout 60 wine "$FOLDER/ZendrelTest.exe" -install -silent 2>/dev/null || fail "refused start: -install"
ZENDREL_TEST_SLOW_CYCLE_MS=8000 timeout 120 wine "$FOLDER/ZendrelTest.exe" -once >"$WORK/first-once.out" 2>&1 &
first_once=$!
for _ in $(seq 120); do (( $(slow_lines "$SLOW_BEGIN") >= 1 )) && break; sleep 0.5; done
if (( $(slow_lines "$SLOW_BEGIN") == 1 && $(slow_lines "$EXPECTED_LOG_LINE") == 0 )); then
  set +e
  timeout 120 wine "$FOLDER/ZendrelTest.exe" -once >"$WORK/second-once.out" 2>"$WORK/second-once.err"
  second_status=$?
  set -e
  echo "second -once: exit status $second_status"
  tr -d '\r' <"$WORK/second-once.err" | grep -v '^[0-9a-f]*:err:' | sed 's/^/  /' || true
  ((second_status == 1)) || fail "second -once: exit status $second_status instead of 1"
  grep -qF 'sc stop SrvZendrel' "$WORK/second-once.err" "$WORK/second-once.out" ||
    fail "second -once: no line saying how to stop the service"
  (( $(slow_lines "$SLOW_BEGIN") == 1 )) || fail "second -once: it began a cycle of its own"
  # The service's process is refused as well, and tells the service manager its start
  # failed (a non-zero exit code), which recovery answers by starting it again later.
  timeout 60 wine sc start SrvZendrel >/dev/null 2>&1 || true
  reported=
  for _ in $(seq 60); do
    reported=$(control query STOPPED || true)
    [[ $reported == *exit=1056 ]] && break
    sleep 0.5
  done
  echo "service started beside the -once: $reported"
  [[ $reported == "STOPPED controls=0 wait_hint=5000 exit=1056" ]] ||
    fail "refused start: the service did not report STOPPED with exit code 1056 ($reported)"
  # (Zendrel.log is in Windows-1252: an ASCII part of the line.)
  (( $(slow_lines "Outra execu") == 1 )) ||
    fail "refused start: not exactly one log line saying why"
  (( $(slow_lines "$SLOW_BEGIN") == 1 )) || fail "refused start: the service began a cycle of its own"
else
  fail "first -once: no slow cycle began within 60 s"
fi
wait "$first_once" || true
(( $(slow_lines "$EXPECTED_LOG_LINE") == 1 )) || fail "first -once: its cycle did not end with its log line"
timeout 60 wine "$FOLDER/ZendrelTest.exe" -uninstall -silent 2>/dev/null || fail "refused start: -uninstall"
wineserver -k >/dev/null 2>&1 || true
# END stop during a slow cycle, and the relay lock

# ---------------------------------------------------------------------------
# Against the real Firebird server, through a test-only fbclient.dll: the -once cases
# the Linux program passes, -status, and the service relaying in a tick.
step "The Windows build against the real Firebird server"
# The service manager's own notes (fixme+service, read above for the failure actions) would
# mix into the standard error that the relay's cases compare line by line.
WINEDEBUG=-all,err+eventlog ZENDREL_WINDOWS_BUILD_DIR=$BUILD bash "$ROOT/scripts/test-wine-relay.sh" ||
  fail "the Windows build against the real Firebird server"

# ---------------------------------------------------------------------------
step "The shipped executables and their zips"
# $1 = the build folder, $2 = objdump, $3 = the object format, $4 = the zip's flavour
check_shipped() {
  local build=$1 objdump=$2 format=$3 flavour=$4
  local exe=$build/service/Zendrel.exe
  echo "$flavour Zendrel.exe: $(stat -c %s "$exe") bytes"
  "$objdump" -f "$exe" | grep -q "file format $format" || fail "$flavour Zendrel.exe is not $format"
  local imports dll
  imports=$("$objdump" -p "$exe" | awk '/DLL Name:/ { print $3 }' | sort -u)
  echo "  imports: $(echo $imports)"
  for dll in $imports; do
    case ${dll,,} in
      kernel32.dll|user32.dll|advapi32.dll|ws2_32.dll|iphlpapi.dll|winhttp.dll|msvcrt.dll|shell32.dll|ole32.dll|gdi32.dll|api-ms-win-*) ;;
      *) fail "$flavour Zendrel.exe imports $dll, which is not a system DLL" ;;
    esac
  done
  if ! "${objdump%objdump}strings" -el "$exe" | grep -qx "Zendrel.exe" || ! grep -qa 'requireAdministrator' "$exe"; then
    fail "$flavour Zendrel.exe lacks its manifest or version information"
  fi
  local version zip
  version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
  zip=$build/Zendrel-$version-$flavour.zip
  rm -f "$zip"
  (cd "$build" && cpack -G ZIP >/dev/null) || fail "cpack in $build"
  if [[ -f $zip ]]; then
    echo "  $(basename "$zip"): $("$PYTHON" -c 'import sys, zipfile; print(" ".join(sorted(zipfile.ZipFile(sys.argv[1]).namelist())))' "$zip")"
    [[ $("$PYTHON" -c 'import sys, zipfile; print(" ".join(sorted(zipfile.ZipFile(sys.argv[1]).namelist())))' "$zip") == "README.md Zendrel.exe" ]] ||
      fail "$(basename "$zip") does not hold exactly Zendrel.exe and README.md"
  else
    fail "no $(basename "$zip")"
  fi
}
check_shipped "$BUILD" x86_64-w64-mingw32-objdump pei-x86-64 win64
check_shipped "$BUILD32" i686-w64-mingw32-objdump pei-i386 win32
# The 32-bit program is built and checked here, not run: Debian's 32-bit Wine needs a
# kernel that runs 32-bit code, which some machines (virtual ones among them) lack.
echo "  the 32-bit Zendrel.exe is not run by this stage"

if ((${#FAILURES[@]})); then
  printf '\n%d failure(s):\n' "${#FAILURES[@]}"
  printf '  %s\n' "${FAILURES[@]}"
  exit 1
fi
printf '\nWindows build and service checks passed.\n'
