#!/usr/bin/env bash
# The driver's own checks against its fixture program (zfixture.exe): each check must pass on a
# dialog that is right and fail, saying what it expected, on one that is wrong in that respect.
# Otherwise a dialog test could pass on a broken program.
#
#   bash tests/e2e/test_driver.sh BUILD_DIR ZFIXTURE_EXE ZDRIVE_EXE
source "$(dirname "$0")/lib.sh" "$@"

# Each case: name | fixture switches | driver commands after finding the dialog |
#            driver status wanted | text the driver's output must contain.
cases=(
  'centred          ||expect-centred|0|ok centred'
  'off centre       |offset|expect-centred|1|centred in the work area'
  'focus on Yes     ||expect-focus 1|0|ok focus id=1'
  'focus elsewhere  |focus-no|expect-focus 1|1|expected the focus on control 1'
  'control text     ||expect-control -1 Static "A fixture dialog for the driver'"'"'s own tests."|0|ok control id=-1'
  'wrong text       ||expect-text 1 "&No"|1|expected control 1 to read "&No", got "&Yes"'
  'control order    ||expect-order 1 2 -1|0|ok order=1 2 -1'
  'wrong order      ||expect-order 2 1 -1|1|expected the controls in the order 2 1 -1, got 1 2 -1'
  'default button   ||expect-style 1 0xF 0x1|0|ok style 1='
  'not default      ||expect-style 2 0xF 0x1|1|masked with 0x0000000f to be 0x00000001'
  'app window       ||expect-exstyle window 0x40000 0x40000|0|ok exstyle window='
  'no box           ||msgbox 500|3|no message box appeared within 500 ms'
  'box appears      |box|no-msgbox 300 click 1 msgbox 5000 zfixture expect-text 65535 "Fixture question." command 6 wait-exit 5000 0|0|buttons=6:"&Yes",7:"&No"'
  'box unwanted     |box|click 1 no-msgbox 3000|1|expected no message box within 3000 ms'
  'exit code        |exit=4|key enter wait-exit 5000 4|0|exit code=4'
  'wrong exit code  |exit=4|key y wait-exit 5000 0|1|expected exit code 0, got 4'
  'No by key        |exit=4|key n wait-exit 5000 0|0|exit code=0'
  'close box        |exit=4|close wait-exit 5000 0|0|exit code=0'
  'UTF-16 caption   |chain exit=4|click 1 window "zfixture setup \u2014 window" 5000 expect-control 1 Button Finish click 1 wait-exit 5000 4|0|caption="zfixture setup — window"'
  'not there        ||window "zfixture setup \u2014 window" 500|1|expected a visible window captioned "zfixture setup — window" within 500 ms'
)

failures=0
for row in "${cases[@]}"; do
  IFS='|' read -r name switches commands want_status want_text <<<"$row"
  name=${name%"${name##*[! ]}"}
  e2e_note "case: $name"
  # shellcheck disable=SC2086  # the switches are words
  launch_installer $switches
  args=(); eval "args=($commands)"
  drive window zfixture 10000 "${args[@]}"
  status=$?
  if [ "$status" != "$want_status" ]; then
    echo "FAIL: case '$name': expected driver status $want_status, got $status"
    failures=$((failures + 1))
  elif ! grep -qF -- "$want_text" <<<"$DRIVE_OUT"; then
    echo "FAIL: case '$name': expected the driver's output to contain: $want_text"
    failures=$((failures + 1))
  fi
  stop_installer
  case $switches in *chain*) end_test_processes ;; esac   # its setup window, if left up
done

# The autopilot: presses "&Yes", deals with the setup window of another process (UTF-16 caption)
# by its default button, and reports the exit code when the program has ended.
e2e_note "case: autopilot"
launch_installer chain exit=4
shots=$E2E_LOGS/autopilot
mkdir -p "$shots"
if drive window zfixture 10000 autopilot 30000 "$(win_path "$shots")"; then
  for want in 'autopilot pressed="&Yes" id=1' 'caption="zfixture setup — window"' \
              'autopilot pressed="Finish" id=1 in="zfixture setup — window"' 'exit code=4'; do
    grep -qF -- "$want" <<<"$DRIVE_OUT" || { echo "FAIL: autopilot: expected the output to contain: $want"; failures=$((failures + 1)); }
  done
  [ "$(ls "$shots" | wc -l)" = 2 ] || { echo "FAIL: autopilot: expected 2 pictures (dialog and setup window) in $shots, got: $(ls "$shots")"; failures=$((failures + 1)); }
else
  echo "FAIL: autopilot: expected the driver to succeed"
  failures=$((failures + 1))
fi
stop_installer

[ "$failures" = 0 ] || e2e_fail "every driver case to behave as listed (see the FAIL lines above)"
echo "PASS"
