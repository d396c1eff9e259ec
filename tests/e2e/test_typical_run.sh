#!/usr/bin/env bash
# The typical run with the development package, on the real executable under Wine, in both
# install modes:
#   - automatic wait (win98, win10): after "&Yes" no box at any time; the wrapper stays while the
#     engine and then the deleter run, and only then removes the staging directory and ends;
#   - manual exit (nt40): the NT4 box comes once the launcher has ended, with the staged files
#     still there; they go only after its OK.
#
#   bash tests/e2e/test_typical_run.sh BUILD_DIR "Zarpo OGL Install.exe" ZDRIVE_EXE [PAYLOAD_DIR]
#
# PAYLOAD_DIR is the package the executable carries (default BUILD_DIR/package/payload).
source "$(dirname "$0")/lib.sh" "$@"

PAYLOAD_DIR=${4:-$E2E_BUILD/package/payload}
DIALOG="Zarpo OGL Install"
ENGINE='Zarpo OGL Trial Version \u2014 development package'
NT4_PROMPT="Windows NT4 user: Press OK after Setup finishes and exits (for cleanup)."

# The payload as built: the fifteen files the staging directory must hold, byte for byte.
mapfile -t PAYLOAD < <(cd "$PAYLOAD_DIR" 2>/dev/null && ls -A)
[ "${#PAYLOAD[@]}" = 15 ] || e2e_fail "expected the fifteen payload files in $PAYLOAD_DIR, found ${#PAYLOAD[@]}: ${PAYLOAD[*]}"

# The engine stays until Finish is pressed; the deleter lingers long enough to be seen.
unset ZARPO_DEV_ENGINE_MS
export ZARPO_DEV_DELETER_MS=1500

# prefix_running NAME: a process of this test's prefix with the executable name NAME runs (seen
# from the host: Wine names each process after its executable, and it carries our WINEPREFIX).
prefix_running() {
  local p
  for p in /proc/[0-9]*; do
    [ "$(cat "$p/comm" 2>/dev/null)" = "$1" ] || continue
    grep -qsxz "WINEPREFIX=$WINEPREFIX" "$p/environ" && alive "${p#/proc/}" && return 0
  done
  return 1
}

# expect_staged WHEN: C:\windows\TEMP\ZARPO holds exactly the payload's fifteen files (names
# compared without regard to case), each byte-identical to the built one.
expect_staged() {
  local zarpo want got name
  zarpo=$(zarpo_dir)
  [ -d "$zarpo" ] || e2e_fail "expected the staging directory C:\\windows\\TEMP\\ZARPO $1"
  want=$(for name in "${PAYLOAD[@]}"; do echo "${name^^}"; done | LC_ALL=C sort)
  got=$(for name in "$zarpo"/*; do [ -e "$name" ] && basename "${name^^}"; done | LC_ALL=C sort)
  [ "$want" = "$got" ] || e2e_fail "expected ZARPO to hold exactly the fifteen payload files $1;
expected: $(tr '\n' ' ' <<<"$want")
found:    $(tr '\n' ' ' <<<"$got")"
  for name in "${PAYLOAD[@]}"; do
    cmp -s "$PAYLOAD_DIR/$name" "$(find_ci "$zarpo" "$name")" \
      || e2e_fail "expected ZARPO\\$name to be byte-identical to $PAYLOAD_DIR/$name $1"
  done
}

# expect_report LINE-REGEX WHAT: the stand-ins' report has a line matching LINE-REGEX.
expect_report() {
  grep -Eq "$1" "$REPORT" || e2e_fail "expected $2 (a line matching '$1' in $REPORT); it reads:
$(cat "$REPORT" 2>/dev/null)"
}

# NT4_BOX: driver commands that make the NT4 box the current window. Its caption is the dialog's,
# so which of the two `window` finds first depends on their order on screen: look, then choose.
nt4_box() {
  drive_ok window "$DIALOG" 5000 show
  if [ "$(control_field -1 text)" = "$NT4_PROMPT" ]; then
    NT4_BOX=(window "$DIALOG" 5000)
  else
    NT4_BOX=(window "$DIALOG" 5000 msgbox 5000 "$DIALOG")
  fi
}

# Each row: Windows version|install mode.
cases=(
  "win98|automatic"
  "win10|automatic"
  "nt40|manual"
)
for row in "${cases[@]}"; do
  IFS='|' read -r version mode <<<"$row"
  e2e_note "case: $version, $mode"
  reset_disk
  rm -rf "$WINEPREFIX"/drive_c/users/*/[Tt]emp/_ZOTMP*.DIR   # left by earlier deleters
  set_winver "$version"
  REPORT=$E2E_LOGS/report-$version.txt
  rm -f "$REPORT"
  ZARPO_DEV_REPORT=$(win_path "$REPORT")
  export ZARPO_DEV_REPORT
  launch_installer

  if [ "$mode" = automatic ]; then
    drive_ok window "$DIALOG" 15000 click 1 window "$ENGINE" 15000 no-msgbox 300 expect-running
    alive "$INSTALLER_PID" || e2e_fail "expected the wrapper to run while the engine's window is up"
    expect_staged "while the engine's window is up"
    expect_report '^engine: files 15' 'the engine to have found the fifteen files'
    shot "typical-$version-engine" window "$ENGINE" 5000
    drive_ok window "$ENGINE" 5000 click 1

    # Until the wrapper ends: whenever the deleter runs, the wrapper must still run and the
    # staging directory still exist. Each is looked at before the deleter, so a deleter seen
    # running proves they were there while it ran.
    deleter_seen=0
    deadline=$(( $(date +%s) + 30 ))
    while :; do
      wrapper_up=0; staged=0
      alive "$INSTALLER_PID" && wrapper_up=1
      [ -d "$(zarpo_dir)" ] && staged=1
      if prefix_running _ISDEL.EXE; then
        deleter_seen=1
        [ $wrapper_up = 1 ] || e2e_fail "expected the wrapper to run while _ISDEL.EXE runs; it had ended"
        [ $staged = 1 ] || e2e_fail "expected C:\\windows\\TEMP\\ZARPO to exist while _ISDEL.EXE runs; it was gone"
      fi
      [ $wrapper_up = 1 ] || break
      if [ "$(date +%s)" -ge "$deadline" ]; then
        drive windows || true
        e2e_fail "expected the wrapper to end by itself within 30 s of Finish, with no box (windows up: see above)"
      fi
      sleep 0.05
    done
    [ $deleter_seen = 1 ] || e2e_fail "expected to see _ISDEL.EXE running (it lingers ${ZARPO_DEV_DELETER_MS} ms) before the wrapper ended"
    # The deleter writes its last line just before it ends, so a wrapper that waited for it
    # finds the line there when it ends.
    expect_report '^deleter: end' 'the deleter to have ended before the wrapper did'
    expect_installer_exit 10 0
  else
    drive_ok window "$DIALOG" 15000 click 1 msgbox 15000 "$DIALOG" expect-text -1 "$NT4_PROMPT"
    # The box is up: the launcher must have ended before it came. Its last report line is
    # written just before it ends, so it must be there now.
    expect_report '^setup: engine .* listed 1' 'the launcher to have started the engine and ended before the NT4 box came up'
    box=$(out_line '^msgbox ')
    dialog=$(field "$(out_line '^window ')" hwnd)
    expect_eq '1:"OK"' "$(sed -n 's/.* buttons=\(.*\) owner=.*/\1/p' <<<"$box")" "the buttons of the NT4 box (id:text)"
    expect_eq "$dialog" "$(field "$box" owner)" "the owner of the NT4 box (the dialog)"
    # Its host process may take a moment to go after Windows has reported it ended, so only
    # one that stays counts.
    for _ in $(seq 20); do prefix_running setup.exe || break; sleep 0.05; done
    prefix_running setup.exe && e2e_fail "expected setup.exe to have ended before the NT4 box came up; it still runs 1 s after the box appeared"
    drive_ok window "$ENGINE" 15000
    alive "$INSTALLER_PID" || e2e_fail "expected the wrapper to run while the NT4 box is up"
    expect_staged "while the NT4 box is up"
    nt4_box
    shot "typical-$version-box" "${NT4_BOX[@]}" expect-text -1 "$NT4_PROMPT"
    shot "typical-$version-engine" window "$ENGINE" 5000

    # Setup finishes; the box stays, and so do the staged files, until the user's OK.
    drive_ok window "$ENGINE" 5000 click 1 wait-gone 10000
    expect_report '^engine: end' 'the engine to have ended after Finish'
    nt4_box
    drive_ok "${NT4_BOX[@]}" expect-text -1 "$NT4_PROMPT" expect-running
    expect_staged "after Finish, while the NT4 box is still up"
    drive_ok "${NT4_BOX[@]}" expect-text -1 "$NT4_PROMPT" click 1 wait-gone 5000 \
      no-msgbox 700 wait-exit 10000 0
    expect_installer_exit 10 0
  fi

  expect_report '^engine: files 15' 'the engine to have found the fifteen files'
  [ -e "$(zarpo_dir)" ] && e2e_fail "expected no staging directory after the run under $version, found $(zarpo_dir): $(ls -A "$(zarpo_dir)" | tr '\n' ' ')"
  [ -d "$(windows_temp_dir)" ] || e2e_fail "expected C:\\windows\\TEMP to remain after the run under $version"
  clear_winver
done

echo "PASS"
