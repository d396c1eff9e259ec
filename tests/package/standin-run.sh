#!/usr/bin/env bash
# Runs the development package's stand-ins under Wine, one case of standin_driver at a time.
#
#   standin-run.sh <work dir> <payload dir> <standin_driver.exe> <case>...
#
# Everything lives under <work dir>: a Wine prefix of its own, its wineserver and an Xvfb
# display of its own, all started here and stopped here by their own ids when the script ends.
set -euo pipefail

work=$1 payload=$2 driver=$3
shift 3
mkdir -p "$work"
work=$(cd "$work" && pwd)

export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
xvfb_pid=""
cleanup() {
  WINEPREFIX=$WINEPREFIX timeout 30 wineserver -k >/dev/null 2>&1 || true
  if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null || true; fi
}
trap cleanup EXIT

# A display of our own; Xvfb picks a free number and writes it once it is ready.
rm -f "$work/display"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" >/dev/null 2>&1 &
xvfb_pid=$!
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || { echo "FAILED: expected Xvfb to report its display"; exit 1; }
export DISPLAY=:$(head -n1 "$work/display")

mkdir -p "$WINEPREFIX"
wineserver -p </dev/null >/dev/null 2>&1
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  timeout 180 wine wineboot -i </dev/null >/dev/null 2>&1
fi
reg() { timeout 60 wine reg add "$@" /f </dev/null >/dev/null 2>&1; }
reg 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0
reg 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N

stage=$WINEPREFIX/drive_c/zarpo-stage
status=0
for case in "$@"; do
  rm -rf "$stage/$case" "$stage/$case.report"
  mkdir -p "$stage/$case"
  cp "$payload"/* "$stage/$case/"
  [ "$case" = missing ] && rm "$stage/$case/layout.bin"
  # Engine directories left by earlier runs (their deleter waits for a restart to remove them).
  find "$WINEPREFIX/drive_c/users" -maxdepth 3 -name '_ZOTMP*.DIR' -exec rm -rf {} + 2>/dev/null || true
  echo "=== case $case"
  if timeout 120 wine "$driver" "$case" "C:\\zarpo-stage\\$case" "C:\\zarpo-stage\\$case.report" </dev/null; then
    echo "=== case $case: passed"
  else
    echo "=== case $case: FAILED"
    status=1
  fi
  # What the deleter left: only itself, in the engine's directory, until the next restart.
  leftover=$(find "$WINEPREFIX/drive_c/users" -path '*/_ZOTMP*.DIR/*' -printf '%f\n' 2>/dev/null | sort | tr '\n' ' ')
  if [ "$case" != missing ] && [ "$leftover" != "_ISDEL.EXE " ]; then
    echo "FAILED: expected only _ISDEL.EXE left in the engine's directory, found: ${leftover:-nothing}"
    status=1
  fi
done
exit $status
