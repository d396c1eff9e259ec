# shellcheck shell=bash
# Shared helpers of the end-to-end tests. Each test is a bash script run by CTest as
#
#   bash tests/e2e/<test>.sh BUILD_DIR EXE DRIVER
#
# (BUILD_DIR the build tree, EXE the host path of the program under test, DRIVER the host path
# of zdrive.exe) and starts with
#
#   source "$(dirname "$0")/lib.sh" "$@"
#
# which loads the Wine environment that the wine_env fixture (tests/wine/winenv.sh) brought up,
# sets the variables below and installs an exit trap that stops whatever the test left running.
#
# Variables:
#   E2E_BUILD     the build tree                     E2E_EXE     the program under test (host path)
#   E2E_DRIVER    zdrive.exe (host path)             E2E_NAME    the test's name (its file name)
#   E2E_LOGS      BUILD/e2e-logs/NAME: output of every program the test ran
#   E2E_SCREENS   BUILD/screens: pictures worth keeping (PNG)
#   E2E_EXE_NAME  the program's file name, as Wine's AppDefaults key names it
#
# Programs under Wine are always run with stdin from /dev/null and output to files: a Wine
# background process (the desktop's explorer.exe in particular) started by a program inherits
# its output, and a reader of a pipe would then wait for that process to end.
#
# Helpers (each described where it is defined):
#   reporting   e2e_fail e2e_note expect_eq
#   payload     PAYLOAD_NAMES (in resource id order) expect_payload_built
#   paths       win_path windows_dir windows_temp_dir zarpo_dir find_ci
#   disk        reset_disk temp_listing expect_disk_untouched
#   versions    set_winver clear_winver
#   programs    launch_installer wait_installer_exit expect_installer_exit stop_installer
#               end_test_processes wine_quiet alive
#   the driver  drive drive_ok, then out_line field control_field rect_part on its output
#   pictures    shot bmp_to_png
#
# Failures: every helper that checks something calls e2e_fail with what was expected, which
# prints "FAIL: ..." and ends the test with status 1. Call checks at the top level of the test,
# not inside $(...), where e2e_fail would only end the subshell.

set -uo pipefail

[ $# -ge 3 ] || { echo "usage: $0 BUILD_DIR EXE DRIVER" >&2; exit 2; }
E2E_BUILD=$(cd "$1" && pwd) || exit 2
abs_path() { (cd "$(dirname "$1")" 2>/dev/null && printf '%s/%s\n' "$(pwd)" "$(basename "$1")") || printf '%s\n' "$1"; }
E2E_EXE=$(abs_path "$2")
E2E_DRIVER=$(abs_path "$3")
E2E_NAME=$(basename "$0" .sh)
E2E_EXE_NAME=$(basename "$E2E_EXE")
E2E_LOGS=$E2E_BUILD/e2e-logs/$E2E_NAME
E2E_SCREENS=$E2E_BUILD/screens

if [ ! -f "$E2E_BUILD/wine-env.sh" ]; then
  echo "FAIL: expected $E2E_BUILD/wine-env.sh from the wine_env fixture (run through ctest, or 'bash tests/wine/winenv.sh start $E2E_BUILD')" >&2
  exit 1
fi
# shellcheck source=/dev/null
. "$E2E_BUILD/wine-env.sh"
[ -f "$E2E_EXE" ] || { echo "FAIL: expected the program under test at $E2E_EXE" >&2; exit 1; }
[ -f "$E2E_DRIVER" ] || { echo "FAIL: expected the driver at $E2E_DRIVER" >&2; exit 1; }
rm -rf "$E2E_LOGS"
mkdir -p "$E2E_LOGS" "$E2E_SCREENS"

# ---- reporting -------------------------------------------------------------------------------

e2e_fail() { echo "FAIL: $*"; exit 1; }
E2E_T0=$(date +%s%N)
# e2e_note TEXT: a progress line, with the seconds since the test began.
e2e_note() { local t=$(( ($(date +%s%N) - E2E_T0) / 1000000 )); printf -- '-- [%d.%03d s] %s\n' $((t / 1000)) $((t % 1000)) "$*"; }

# expect_eq WANT GOT WHAT
expect_eq() { [ "$1" = "$2" ] || e2e_fail "expected $3 to be '$1', got '$2'"; }

# ---- the payload -------------------------------------------------------------------------------

# The payload's names in resource id order (197..211); extraction writes them in this order.
PAYLOAD_NAMES=(_inst32i.ex_ _isdel.exe _setup.dll _sys1.cab _user1.cab data.tag data1.cab lang.dat
               layout.bin os.dat setup.bmp setup.exe setup.ini setup.ins setup.lid)

# expect_payload_built DIR: DIR holds every payload file, as the build made it.
expect_payload_built() {
  local name
  for name in "${PAYLOAD_NAMES[@]}"; do
    [ -f "$1/$name" ] || e2e_fail "expected the built payload file $1/$name"
  done
}

# ---- paths -----------------------------------------------------------------------------------

# win_path HOST_PATH: the same file as a Windows path through drive Z: (the host's /).
win_path() {
  local p
  p=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
  printf 'Z:%s\n' "${p//\//\\}"
}

# The prefix's C:\windows directory on the host.
windows_dir() { printf '%s\n' "$WINEPREFIX/drive_c/windows"; }

# find_ci DIR NAME: DIR/NAME as it exists on disk in any letter case (Windows names do not
# distinguish case, the host's do); DIR/NAME itself when there is none.
find_ci() {
  local dir=$1 name=$2 entry base
  if [ -d "$dir" ]; then
    for entry in "$dir"/*; do
      base=${entry##*/}
      if [ "${base^^}" = "${name^^}" ] && { [ -e "$entry" ] || [ -L "$entry" ]; }; then
        printf '%s\n' "$entry"
        return 0
      fi
    done
  fi
  printf '%s\n' "$dir/$name"
}

# Host paths of C:\windows\TEMP and of the staging directory C:\windows\TEMP\ZARPO, whether or
# not they exist.
windows_temp_dir() { find_ci "$(windows_dir)" TEMP; }
zarpo_dir() { find_ci "$(windows_temp_dir)" ZARPO; }

# ---- disk state ------------------------------------------------------------------------------

# reset_disk: the disk as a fresh prefix has it, as far as the tests touch it: no staging
# directory, and C:\windows\TEMP a directory (made anew, empty, if a test removed it or put a
# file in its place). Other content of TEMP is kept. Call it after end_test_processes when a
# previous case may have left setup programs running (they hold files open).
reset_disk() {
  local temp
  temp=$(windows_temp_dir)
  rm -rf "$(zarpo_dir)"
  if [ ! -d "$temp" ] || [ -L "$temp" ]; then
    rm -rf "$temp"
    mkdir -p "$(windows_dir)/temp"
  fi
}

# temp_listing: every path under C:\windows\TEMP (relative, with type and size), one a line.
temp_listing() {
  local temp
  temp=$(windows_temp_dir)
  [ -d "$temp" ] || { echo "(no TEMP directory)"; return; }
  (cd "$temp" && find . -mindepth 1 -printf '%y %s %p\n' | LC_ALL=C sort)
}

# expect_disk_untouched BEFORE: no staging directory, and TEMP lists as BEFORE (from temp_listing).
expect_disk_untouched() {
  local now
  [ -e "$(zarpo_dir)" ] && e2e_fail "expected no staging directory, found $(zarpo_dir): $(ls -A "$(zarpo_dir)" | head -5 | tr '\n' ' ')"
  now=$(temp_listing)
  [ "$now" = "$1" ] || e2e_fail "expected C:\\windows\\TEMP unchanged; before:
$1
after:
$now"
}

# ---- Windows version -------------------------------------------------------------------------

# set_winver VALUE [EXE_NAME]: the Windows version Wine reports to the program from its next
# start on (win31 win95 win98 nt351 nt40 win2k winxp win10). The exit trap clears it again.
E2E_WINVER_SET=
set_winver() {
  local exe=${2:-$E2E_EXE_NAME}
  case $1 in win31|win95|win98|nt351|nt40|win2k|winxp|win10) ;; *) e2e_fail "set_winver: expected win31 win95 win98 nt351 nt40 win2k winxp or win10, got '$1'" ;; esac
  wine_quiet 30 reg add "HKCU\\Software\\Wine\\AppDefaults\\$exe" /v Version /t REG_SZ /d "$1" /f \
    || e2e_fail "expected 'wine reg add' to set the Windows version $1 for $exe"
  E2E_WINVER_SET="$E2E_WINVER_SET $exe"
}

# clear_winver [EXE_NAME]: back to Wine's default version for the program.
clear_winver() {
  local exe=${1:-$E2E_EXE_NAME}
  wine_quiet 30 reg delete "HKCU\\Software\\Wine\\AppDefaults\\$exe" /v Version /f || true
}

# ---- running programs ------------------------------------------------------------------------

# wine_quiet SECONDS ARGS...: wine ARGS, bounded, output to the test's log.
wine_quiet() {
  local secs=$1; shift
  timeout --kill-after=5 "$secs" wine "$@" </dev/null >>"$E2E_LOGS/wine.log" 2>&1
}

# alive PID: the process runs (a zombie does not count).
alive() {
  local state
  state=$(sed -n 's/^State:[[:space:]]*\([A-Z]\).*/\1/p' "/proc/$1/status" 2>/dev/null) || return 1
  [ -n "$state" ] && [ "$state" != Z ] && [ "$state" != X ]
}

# launch_installer: starts the program under test in the background, with the build tree as its
# current directory. Sets INSTALLER_PID (the host pid, which is also the Windows process) and
# INSTALLER_LOG. The exit trap ends it if the test leaves it running.
INSTALLER_PID=
INSTALLER_STATUS=
E2E_RUN=0
launch_installer() {
  E2E_RUN=$((E2E_RUN + 1))
  INSTALLER_LOG=$E2E_LOGS/installer-$E2E_RUN.log
  INSTALLER_STATUS=
  (cd "$E2E_BUILD" && exec wine "$E2E_EXE" "$@" </dev/null >"$INSTALLER_LOG" 2>&1) &
  INSTALLER_PID=$!
  e2e_note "started $E2E_EXE_NAME (pid $INSTALLER_PID)"
}

# wait_installer_exit SECONDS: waits (bounded) for the program to end; sets INSTALLER_STATUS to
# its exit status. Fails the test if it is still running after SECONDS.
wait_installer_exit() {
  local secs=$1 deadline
  [ -n "$INSTALLER_PID" ] || e2e_fail "wait_installer_exit: expected a program started with launch_installer"
  deadline=$(( $(date +%s%N) / 1000000 + secs * 1000 ))
  while alive "$INSTALLER_PID"; do
    [ $(( $(date +%s%N) / 1000000 )) -lt "$deadline" ] || e2e_fail "expected $E2E_EXE_NAME (pid $INSTALLER_PID) to exit within $secs s"
    sleep 0.05
  done
  wait "$INSTALLER_PID"
  INSTALLER_STATUS=$?
  INSTALLER_PID=
  e2e_note "$E2E_EXE_NAME exited with status $INSTALLER_STATUS"
}

# expect_installer_exit SECONDS STATUS: it ends within SECONDS with STATUS.
expect_installer_exit() {
  wait_installer_exit "$1"
  expect_eq "$2" "$INSTALLER_STATUS" "the exit status of $E2E_EXE_NAME"
}

# stop_installer: ends the program if it still runs (by its pid), bounded.
stop_installer() {
  local _
  [ -n "$INSTALLER_PID" ] || return 0
  if alive "$INSTALLER_PID"; then
    kill "$INSTALLER_PID" 2>/dev/null
    for _ in $(seq 40); do alive "$INSTALLER_PID" || break; sleep 0.05; done
    alive "$INSTALLER_PID" && kill -9 "$INSTALLER_PID" 2>/dev/null
  fi
  wait "$INSTALLER_PID" 2>/dev/null
  INSTALLER_PID=
}

# Executable names of the programs a test may leave running: the program under test, the setup
# package's programs it starts and Wine's help engine (F1). Tests may add to the list.
E2E_PROCESS_NAMES=("$E2E_EXE_NAME" setup.exe _INS5176._MP _ISDEL.EXE winhlp32.exe)

# end_test_processes: ends every process of the prefix named in E2E_PROCESS_NAMES and all that
# they started (through the driver, by process id), so that the next test starts clean.
end_test_processes() {
  timeout --kill-after=5 30 wine "$E2E_DRIVER" end-processes "${E2E_PROCESS_NAMES[@]}" \
    </dev/null >>"$E2E_LOGS/end-processes.log" 2>&1 || true
}

# drive ARGS...: runs zdrive.exe with ARGS (see tests/e2e/driver/zdrive.cpp), bounded by 90 s.
# Its output is shown and kept in DRIVE_OUT; returns the driver's status (0 done, 1 a check or
# wait failed, 3 no message box / new window appeared).
DRIVE_OUT=
E2E_DRIVES=0
drive() {
  local log status
  E2E_DRIVES=$((E2E_DRIVES + 1))
  log=$E2E_LOGS/drive-$E2E_DRIVES.log
  timeout --kill-after=5 90 wine "$E2E_DRIVER" "$@" </dev/null >"$log" 2>&1
  status=$?
  DRIVE_OUT=$(cat "$log")
  sed 's/^/   | /' "$log"
  [ $status -ne 124 ] || echo "   | (the driver was stopped after 90 s)"
  return $status
}

# drive_ok ARGS...: drive, and fail the test unless every command succeeded.
drive_ok() {
  drive "$@" || e2e_fail "expected the driver to succeed: $(grep -E '^(FAILED|USAGE|no )' <<<"$DRIVE_OUT" | head -3)"
}

# ---- reading the driver's output -------------------------------------------------------------

# out_line PATTERN: the first line of DRIVE_OUT matching the extended regular expression PATTERN.
out_line() { grep -E -m1 -- "$1" <<<"$DRIVE_OUT"; }

# field LINE KEY: the value of KEY=... in a driver line, with quotes and escapes removed.
field() {
  local line=" $1" key=$2 re v
  re=" $key=(\"([^\"\\\\]|\\\\.)*\"|[^ ]*)"
  [[ $line =~ $re ]] || return 1
  v=${BASH_REMATCH[1]}
  if [[ $v == \"* ]]; then
    v=${v:1:${#v}-2}
    v=${v//\\\"/\"}
    v=${v//\\\\/\\}
  fi
  printf '%s\n' "$v"
}

# control_field ID KEY: KEY of the control with id ID in the last `show` (ids -1 and 65535
# alike); status 1 when the listing has no such control or key.
control_field() {
  local id=$1 line
  case $id in -1|65535) id='(-1|65535)' ;; esac
  line=$(out_line "^control .* id=$id ") || return 1
  field "$line" "$2"
}

# rect_part RECT N: the Nth number (1 left, 2 top, 3 right, 4 bottom) of "l,t,r,b".
rect_part() { cut -d, -f"$2" <<<"$1"; }

# ---- pictures --------------------------------------------------------------------------------

# shot NAME [DRIVER-ARGS-BEFORE...]: a picture of the current window after the given driver
# commands (which must select it, e.g. window CAPTION MS), saved as E2E_SCREENS/NAME.png.
shot() {
  local name=$1 bmp; shift
  bmp=$E2E_LOGS/$name.bmp
  drive_ok "$@" shot "$(win_path "$bmp")"
  bmp_to_png "$bmp" "$E2E_SCREENS/$name.png"
}

# bmp_to_png BMP PNG: converts the driver's BMP (keeps the BMP when ImageMagick is missing).
bmp_to_png() {
  if command -v convert >/dev/null 2>&1 && convert "$1" "$2" 2>>"$E2E_LOGS/convert.log"; then
    e2e_note "picture $2"
  else
    cp "$1" "${2%.png}.bmp"
    e2e_note "picture ${2%.png}.bmp"
  fi
}

# ---- clean-up --------------------------------------------------------------------------------

e2e_cleanup() {
  local exe
  stop_installer
  end_test_processes
  for exe in $E2E_WINVER_SET; do clear_winver "$exe"; done
}
trap e2e_cleanup EXIT
# A test that was stopped from outside (a CTest timeout) had no chance to clean up after itself.
end_test_processes
