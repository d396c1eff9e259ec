#!/usr/bin/env bash
# The operating-system test of the install run, on the real executable under Wine: each Windows
# version Wine can report, set for the program alone (AppDefaults), then "&Yes".
#
#   bash tests/e2e/test_versions.sh BUILD_DIR "Zarpo OGL Install.exe" ZDRIVE_EXE
#
# Accepted versions go on to setup: the development package's engine window comes up, presses
# Finish by itself, and the run ends without any message. Refused versions show exactly one box,
# then the program ends and nothing has been made on disk.
source "$(dirname "$0")/lib.sh" "$@"

DIALOG="Zarpo OGL Install"
DIALOG_TEXT="This will install Zarpo OGL Trial Version.  Do you wish to continue?"
ENGINE='Zarpo OGL Trial Version \u2014 development package'
REFUSED="Zarpo OGL requires Windows 95/NT4.0 or later."

# The engine finishes by itself soon after it comes up: nothing is inspected while it runs.
export ZARPO_DEV_ENGINE_MS=300
export ZARPO_DEV_DELETER_MS=100

# expect_one_box CAPTION TEXT: after "&Yes", one box CAPTION / TEXT with a single OK button; OK
# ends the program with status 0 and no second box comes up.
expect_one_box() {
  local caption=$1 text=$2 box buttons dialog
  drive_ok window "$DIALOG" 15000 expect-text -1 "$DIALOG_TEXT" click 1 \
    msgbox 10000 expect-caption "$caption" expect-text -1 "$text" \
    click 1 wait-gone 5000 no-msgbox 700 wait-exit 10000 0
  box=$(out_line '^msgbox ') || e2e_fail "expected the driver to describe the box \"$text\""
  dialog=$(field "$(out_line '^window ')" hwnd)
  buttons=$(sed -n 's/.* buttons=\(.*\) owner=.*/\1/p' <<<"$box")
  expect_eq '1:"OK"' "$buttons" "the buttons of the box \"$text\" (id:text)"
  expect_eq "$dialog" "$(field "$box" owner)" "the owner of the box \"$text\" (the dialog)"
  expect_installer_exit 10 0
}

# ---- accepted versions: automatic wait, the run reaches setup and ends by itself --------------
for version in win95 win98 winxp win10; do
  e2e_note "case: $version is accepted"
  reset_disk
  set_winver "$version"
  report=$E2E_LOGS/report-$version.txt
  rm -f "$report"
  ZARPO_DEV_REPORT=$(win_path "$report")
  export ZARPO_DEV_REPORT
  launch_installer
  drive_ok window "$DIALOG" 15000 click 1 window "$ENGINE" 15000 no-msgbox 200
  # An accepted run stops at no box of its own: it must end without anyone pressing anything.
  expect_installer_exit 30 0
  grep -q '^engine: finish by timer' "$report" \
    || e2e_fail "expected the engine to have run to its end under $version (\"engine: finish by timer\" in $report)"
  grep -q '^deleter: end' "$report" \
    || e2e_fail "expected the deleter to have run to its end under $version (\"deleter: end\" in $report)"
  [ -e "$(zarpo_dir)" ] && e2e_fail "expected no staging directory after the run under $version, found $(zarpo_dir)"
  [ -d "$(windows_temp_dir)" ] || e2e_fail "expected C:\\windows\\TEMP to remain after the run under $version"
  clear_winver
done
unset ZARPO_DEV_REPORT

# ---- refused versions: one box, captioned with the program's title, and nothing on disk -------
# Each row: version|executable name (as run)|expected caption of the box.
refusals=(
  "win31|$E2E_EXE_NAME|Zarpo OGL Install"
  "nt351|$E2E_EXE_NAME|Zarpo OGL Install"
  "nt351|Other.Name.v2.exe|Other.Name.v2"
)
product_exe=$E2E_EXE
copies=$E2E_BUILD/e2e-work/$E2E_NAME
for row in "${refusals[@]}"; do
  IFS='|' read -r version exe caption <<<"$row"
  e2e_note "case: $version refused, run as \"$exe\""
  if [ "$exe" = "$(basename "$product_exe")" ]; then
    E2E_EXE=$product_exe
  else
    mkdir -p "$copies"
    cp "$product_exe" "$copies/$exe" || e2e_fail "expected to copy the program to $copies/$exe"
    E2E_EXE=$copies/$exe
    E2E_PROCESS_NAMES+=("$exe")
  fi
  E2E_EXE_NAME=$exe
  reset_disk
  before=$(temp_listing)
  set_winver "$version" "$exe"
  launch_installer
  expect_one_box "$caption" "$REFUSED"
  expect_disk_untouched "$before"
  clear_winver "$exe"
done
E2E_EXE=$product_exe
E2E_EXE_NAME=$(basename "$product_exe")

echo "PASS"
