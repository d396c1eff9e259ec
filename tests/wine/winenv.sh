#!/usr/bin/env bash
# The tests' Wine environment: a private 32-bit prefix, its persistent wineserver and a private
# Xvfb screen, all under one build directory.
#
#   winenv.sh start BUILD_DIR   bring it up (idempotent) and write BUILD_DIR/wine-env.sh
#   winenv.sh stop  BUILD_DIR   stop the wineserver and the Xvfb that start brought up
#
# With ZARPO_WINE_DISPLAY set (an X display such as :0), start uses that display instead of an
# Xvfb of its own and leaves the windows to its window manager: for a person at a screen.
#
# BUILD_DIR/wine-env.sh exports WINEPREFIX, WINEARCH, WINEDEBUG, WINEDLLOVERRIDES, DISPLAY and
# ZARPO_XVFB_PID; the end-to-end tests source it (through tests/e2e/lib.sh).
#
# Everything started here runs detached from the caller: stdin from /dev/null, output to logs
# under BUILD_DIR/wine-logs. CTest reads a test's output until end-of-file, so a background
# process holding its pipe would stall the test run. Every wait is bounded. Only processes
# started here are stopped, by their recorded pid or through this prefix's own wineserver.
set -euo pipefail

usage() { echo "usage: $0 start|stop BUILD_DIR" >&2; exit 2; }
[ $# -eq 2 ] || usage
action=$1
build=$(mkdir -p "$2" && cd "$2" && pwd)

prefix=$build/wineprefix
envfile=$build/wine-env.sh
logs=$build/wine-logs
ready=$prefix/.zarpo-prefix-ready

export WINEPREFIX=$prefix
export WINEARCH=win32
export WINEDEBUG=-all
# mscoree/mshtml: no Mono or Gecko install prompt. winemenubuilder: no menu entries or file
# associations written into the host user's home directory.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"

log() { echo "winenv: $*"; }
die() { echo "winenv: $*" >&2; exit 1; }
now_ms() { date +%s%3N; }

# True while PID is alive and is an Xvfb process (a recycled pid is not ours).
is_our_xvfb() {
  local pid=$1
  [ -n "$pid" ] && alive "$pid" && tr '\0' ' ' <"/proc/$pid/cmdline" | grep -q Xvfb
}

# A detached run: no terminal, no inherited pipes, bounded.
quiet() {
  local secs=$1; shift
  timeout --kill-after=5 "$secs" "$@" </dev/null >>"$logs/wine.log" 2>&1
}

# True while PID names a live process (not a zombie left for a parent that never reaps).
alive() {
  local state
  state=$(sed -n 's/^State:[[:space:]]*\([A-Z]\).*/\1/p' "/proc/$1/status" 2>/dev/null) || return 1
  [ -n "$state" ] && [ "$state" != Z ] && [ "$state" != X ]
}

start_xvfb() {
  local dfile=$logs/xvfb.display n t0
  # A display number of our own, clear of the low numbers that real X servers take. -displayfd
  # tells us when Xvfb accepts clients; if another server grabbed the number first, Xvfb exits
  # and the next number is tried.
  for n in $(seq 90 199); do
    [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] && continue
    rm -f "$dfile"
    setsid Xvfb ":$n" -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset \
      3>"$dfile" </dev/null >"$logs/xvfb.log" 2>&1 &
    xvfb_pid=$!
    t0=$(now_ms)
    while [ ! -s "$dfile" ] && alive "$xvfb_pid"; do
      [ $(( $(now_ms) - t0 )) -lt 15000 ] || { kill "$xvfb_pid"; die "Xvfb :$n did not accept clients within 15 s (see $logs/xvfb.log)"; }
      sleep 0.05
    done
    if [ -s "$dfile" ] && alive "$xvfb_pid"; then
      display=:$n
      log "Xvfb $display pid $xvfb_pid ($(( $(now_ms) - t0 )) ms)"
      return 0
    fi
  done
  die "could not start Xvfb on any display from :90 to :199 (see $logs/xvfb.log)"
}

write_envfile() {
  local tmp=$envfile.tmp
  cat >"$tmp" <<EOF
# Written by tests/wine/winenv.sh start; removed by winenv.sh stop.
export WINEPREFIX='$prefix'
export WINEARCH=win32
export WINEDEBUG=-all
export WINEDLLOVERRIDES='$WINEDLLOVERRIDES'
export DISPLAY='$display'
export ZARPO_XVFB_PID=$xvfb_pid
EOF
  mv "$tmp" "$envfile"
}

reg_add() { # KEY VALUE TYPE DATA
  quiet 30 wine reg add "$1" /v "$2" /t "$3" /d "$4" /f || die "wine reg add '$1' /v $2 failed (see $logs/wine.log)"
}

start() {
  local t0 t1 xvfb_pid="" display="" managed
  mkdir -p "$logs" "$prefix"
  t0=$(now_ms)

  # Already up? Reuse it when both the screen and our prefix's wineserver still answer.
  if [ -f "$envfile" ]; then
    xvfb_pid=$(sed -n 's/^export ZARPO_XVFB_PID=//p' "$envfile")
    display=$(sed -n "s/^export DISPLAY='\(.*\)'/\1/p" "$envfile")
    if ! is_our_xvfb "$xvfb_pid"; then
      log "stale $envfile (Xvfb $xvfb_pid is gone); starting afresh"
      xvfb_pid="" display=""
    fi
  fi
  if [ -n "${ZARPO_WINE_DISPLAY:-}" ]; then
    xvfb_pid="" display=$ZARPO_WINE_DISPLAY managed=Y
  else
    [ -n "$xvfb_pid" ] || start_xvfb
    managed=N
  fi
  export DISPLAY=$display

  # A persistent wineserver of our own, started before any wine program so that the services
  # Wine starts with the first program inherit /dev/null, not a caller's pipe. When one is
  # already running for this prefix this call just fails; that is fine.
  quiet 30 wineserver -p || true

  if [ ! -f "$ready" ]; then
    log "creating the prefix $prefix"
    t1=$(now_ms)
    timeout --kill-after=10 180 wineboot -i </dev/null >"$logs/wineboot.log" 2>&1 \
      || die "wineboot -i failed or took over 180 s; expected a new prefix (see $logs/wineboot.log)"
    [ -d "$prefix/drive_c/windows/system32" ] || die "wineboot left no C:\\windows\\system32 in $prefix"
    touch "$ready"
    log "prefix created in $(( $(now_ms) - t1 )) ms"
  fi

  # Settings, applied on every start (a few milliseconds each) so that an interrupted first
  # start cannot leave a prefix without them.
  # No crash dialog: a crashing program must end, not wait for someone to press a button.
  reg_add 'HKCU\Software\Wine\WineDbg' ShowCrashDialog REG_DWORD 0
  # Without a window manager Wine otherwise waits about 2 s for one on every hide or destroy;
  # on a person's display the window manager does its job.
  reg_add 'HKCU\Software\Wine\X11 Driver' Managed REG_SZ "$managed"
  # Also stored in the prefix, so that runs without our environment behave the same.
  reg_add 'HKCU\Software\Wine\DllOverrides' winemenubuilder.exe REG_SZ ''
  reg_add 'HKCU\Software\Wine\DllOverrides' mscoree REG_SZ ''
  reg_add 'HKCU\Software\Wine\DllOverrides' mshtml REG_SZ ''

  # One throwaway program run: starts the background services with output to /dev/null.
  quiet 60 wine cmd /c exit 0 || die "a first 'wine cmd /c exit 0' failed; expected a working prefix (see $logs/wine.log)"
  write_envfile
  log "ready in $(( $(now_ms) - t0 )) ms: WINEPREFIX=$prefix DISPLAY=$display"
}

stop() {
  local xvfb_pid="" t0
  mkdir -p "$logs"
  [ -f "$envfile" ] && xvfb_pid=$(sed -n 's/^export ZARPO_XVFB_PID=//p' "$envfile")
  if [ -d "$prefix" ]; then
    quiet 30 wineserver -k || true
  fi
  if is_our_xvfb "$xvfb_pid"; then
    kill "$xvfb_pid" 2>/dev/null || true
    t0=$(now_ms)
    while is_our_xvfb "$xvfb_pid" && [ $(( $(now_ms) - t0 )) -lt 5000 ]; do sleep 0.05; done
    if is_our_xvfb "$xvfb_pid"; then kill -9 "$xvfb_pid" 2>/dev/null || true; fi
    log "stopped Xvfb $xvfb_pid"
  fi
  rm -f "$envfile"
  log "stopped"
}

case $action in
  start) start ;;
  stop) stop ;;
  *) usage ;;
esac
