#!/usr/bin/env bash
# Runs "Zarpo OGL Install.exe" (with the embedded development package) under Wine.
#
#   scripts/run-installer.sh
#
# Installs what is missing, configures and builds into build/, then runs the installer in a
# Wine prefix of its own (build/run/wineprefix, apart from the tests' prefix).
#  - With a usable $DISPLAY the installer appears there for you to use.
#  - Without one it runs on a private Xvfb and is driven as a user would: "&Yes", then each box
#    and the setup window answered with its default button. What it saw is printed, and a
#    picture of each window is saved under build/screens/run/.
# Everything this script started (the installer, Wine's server, the Xvfb) is stopped at the
# end. The exit status is the installer's.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

scripts/ensure-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default

build=$root/build
exe=$build/"Zarpo OGL Install.exe"
driver=$build/tests/e2e/zdrive.exe
run=$build/run
screens=$build/screens/run
winenv=$root/tests/wine/winenv.sh
[ -f "$exe" ] || { echo "run-installer: expected the built installer at $exe" >&2; exit 1; }
mkdir -p "$run"

# A display is usable when an X client can reach it: the local server's socket for ":N", or
# anything else left to xdpyinfo when it is installed.
display_usable() {
  local d=${DISPLAY:-} n
  [ -n "$d" ] || return 1
  if command -v xdpyinfo >/dev/null 2>&1; then
    timeout 5 xdpyinfo >/dev/null 2>&1
    return
  fi
  case $d in
    :*) n=${d#:}; n=${n%%.*}; [ -S "/tmp/.X11-unix/X$n" ] ;;
    *) return 0 ;;
  esac
}

# alive PID: the process runs (an exited child waiting to be collected does not count).
alive() {
  local state
  state=$(sed -n 's/^State:[[:space:]]*\([A-Z]\).*/\1/p' "/proc/$1/status" 2>/dev/null) || return 1
  [ -n "$state" ] && [ "$state" != Z ] && [ "$state" != X ]
}

installer_pid=
cleanup() {
  if [ -n "$installer_pid" ] && alive "$installer_pid"; then
    kill "$installer_pid" 2>/dev/null || true
  fi
  bash "$winenv" stop "$run" >/dev/null 2>&1 || true
}
trap cleanup EXIT

if display_usable; then
  echo "run-installer: showing the installer on $DISPLAY"
  ZARPO_WINE_DISPLAY=$DISPLAY bash "$winenv" start "$run"
  # shellcheck source=/dev/null
  . "$run/wine-env.sh"
  # Output to a file: Wine's background processes inherit it and would hold a pipe open.
  set +e
  (cd "$build" && exec wine "$exe" </dev/null >"$run/installer.log" 2>&1)
  status=$?
  set -e
  echo "run-installer: the installer exited with status $status (its output: $run/installer.log)"
  exit $status
fi

[ -f "$driver" ] || { echo "run-installer: expected the driver at $driver (built with the tests)" >&2; exit 1; }
echo "run-installer: no display; running the installer on a private Xvfb, driven automatically"
bash "$winenv" start "$run"
# shellcheck source=/dev/null
. "$run/wine-env.sh"
rm -rf "$screens" "$run/shots"
mkdir -p "$screens" "$run/shots"

(cd "$build" && exec wine "$exe" </dev/null >"$run/installer.log" 2>&1) &
installer_pid=$!

# The driver's report goes to a file (see above) and is shown as it grows.
shots_win=Z:$(printf '%s' "$run/shots" | tr / '\\')
timeout --kill-after=5 330 wine "$driver" window "Zarpo OGL Install" 30000 autopilot 300000 "$shots_win" \
  </dev/null >"$run/autopilot.log" 2>&1 &
driver_pid=$!
tail -n +1 -f --pid="$driver_pid" "$run/autopilot.log" 2>/dev/null | sed 's/^/  /'
set +e
wait "$driver_pid"
driver_status=$?
set -e

for bmp in "$run/shots"/*.bmp; do
  [ -e "$bmp" ] || continue
  png=$screens/$(basename "${bmp%.bmp}").png
  if convert "$bmp" "$png" 2>/dev/null; then echo "run-installer: picture $png"; else cp "$bmp" "$screens/"; fi
done

if [ "$driver_status" -ne 0 ]; then
  echo "run-installer: the automatic run did not finish (driver status $driver_status); see $run/autopilot.log" >&2
  exit 1
fi
# The driver saw the installer end; collect its status (bounded, it has already exited).
for _ in $(seq 100); do alive "$installer_pid" || break; sleep 0.05; done
set +e
wait "$installer_pid"
status=$?
set -e
installer_pid=
echo "run-installer: the installer exited with status $status"
exit $status
