#!/usr/bin/env bash
# The confirmation dialog of the real executable, as a user meets it: how it looks, every way
# to leave it without installing, and F1.
#
#   bash tests/e2e/test_dialog.sh BUILD_DIR "Zarpo OGL Install.exe" ZDRIVE_EXE
source "$(dirname "$0")/lib.sh" "$@"

CAPTION="Zarpo OGL Install"
TEXT="This will install Zarpo OGL Trial Version.  Do you wish to continue?"

# Style bits (winuser.h): the dialog is a fixed-size pop-up with caption and system menu and a
# modal frame, without sizing frame or minimize/maximize boxes, and a taskbar button.
WINDOW_MASK=0x80CF0080     # WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX | DS_MODALFRAME
WINDOW_STYLE=0x80C80080    # WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME
WS_EX_APPWINDOW=0x40000
BUTTON_MASK=0x1001000F     # WS_VISIBLE | WS_TABSTOP | BS_TYPEMASK
STATIC_MASK=0x1002001F     # WS_VISIBLE | WS_GROUP | SS_TYPEMASK

# ---- how it looks ----------------------------------------------------------------------------
e2e_note "case: the dialog as it first appears"
reset_disk
launch_installer
drive_ok window "$CAPTION" 15000 show \
  expect-caption "$CAPTION" \
  expect-centred \
  expect-focus 1 \
  expect-order 1 2 -1 \
  expect-control 1 Button "&Yes" \
  expect-control 2 Button "&No" \
  expect-control -1 Static "$TEXT" \
  expect-style window $WINDOW_MASK $WINDOW_STYLE \
  expect-exstyle window $WS_EX_APPWINDOW $WS_EX_APPWINDOW \
  expect-style 1 $BUTTON_MASK 0x10010001 \
  expect-style 2 $BUTTON_MASK 0x10010000 \
  expect-style -1 $STATIC_MASK 0x10020000

# "&Yes" left of "&No" on one row, both below the text, all inside the dialog's client area.
yes=$(control_field 1 client) || e2e_fail "expected \"&Yes\" in the driver's listing"
no=$(control_field 2 client) || e2e_fail "expected \"&No\" in the driver's listing"
text=$(control_field -1 client) || e2e_fail "expected the static text in the driver's listing"
e2e_note "client rectangles: &Yes $yes, &No $no, text $text"
[ "$(rect_part "$yes" 2)" = "$(rect_part "$no" 2)" ] && [ "$(rect_part "$yes" 4)" = "$(rect_part "$no" 4)" ] \
  || e2e_fail "expected \"&Yes\" ($yes) and \"&No\" ($no) on one row (same top and bottom)"
[ "$(rect_part "$yes" 3)" -le "$(rect_part "$no" 1)" ] \
  || e2e_fail "expected \"&Yes\" ($yes) left of \"&No\" ($no), not overlapping"
[ "$(rect_part "$text" 4)" -le "$(rect_part "$yes" 2)" ] \
  || e2e_fail "expected the text ($text) above the buttons ($yes), not overlapping"
for r in "$yes" "$no" "$text"; do
  [ "$(rect_part "$r" 1)" -ge 0 ] && [ "$(rect_part "$r" 2)" -ge 0 ] \
    || e2e_fail "expected every control inside the dialog's client area, got $r"
done

shot dialog window "$CAPTION" 5000
drive_ok window "$CAPTION" 5000 click 2 wait-exit 5000 0
expect_installer_exit 10 0

# ---- every way out without installing ---------------------------------------------------------
# Each ends the program at once with status 0, shows nothing and leaves the disk as it was.
endings=(
  '"&No" clicked|click 2'
  'Esc|key esc'
  'the close box|close'
  'N, the underlined letter of "&No"|key n'
  'Enter with the focus moved to "&No"|key tab expect-focus 2 key enter'
)
for row in "${endings[@]}"; do
  IFS='|' read -r how commands <<<"$row"
  e2e_note "case: leaving by $how"
  reset_disk
  before=$(temp_listing)
  launch_installer
  # shellcheck disable=SC2086  # the commands are words
  drive_ok window "$CAPTION" 15000 expect-focus 1 $commands wait-exit 5000 0
  expect_installer_exit 10 0
  expect_disk_untouched "$before"
done

# ---- F1 ---------------------------------------------------------------------------------------
# F1 asks the Windows help engine for "Zarpo OGL Install.HLP", which does not exist. Under Wine
# the help engine (winhlp32) answers with a box of its own; a program whose help engine cannot
# start shows "Failed to launch help." instead. Either way: whatever appeared is closed, and the
# dialog must still be up and still work.
e2e_note "case: F1"
reset_disk
before=$(temp_listing)
launch_installer
drive window "$CAPTION" 15000 mark key f1 new-window 8000
status=$?
[ $status = 3 ] && e2e_fail "expected F1 to bring up the help engine's window or the box \"Failed to launch help.\" within 8 s; nothing appeared"
[ $status = 0 ] || e2e_fail "expected the driver to find the dialog and press F1"
dialog_hwnd=$(field "$(out_line '^window ')" hwnd)
dialog_pid=$(field "$(out_line '^window ')" pid)

# Deal with every window besides the dialog until none is left (a help engine may show a
# second one after the first is answered). A box of the help engine is answered "No" (the
# other answer would ask for the file), Cancel or OK in that order of preference.
for round in 1 2 3 4; do
  drive_ok sleep 500 windows
  others=$(grep '^top ' <<<"$DRIVE_OUT" | grep -v " hwnd=$dialog_hwnd ")
  [ -n "$others" ] || break
  while IFS= read -r line; do
    caption=$(field "$line" caption) pid=$(field "$line" pid)
    if [ "$pid" = "$dialog_pid" ]; then
      owner="the program"
      select=(window "$CAPTION" 3000 msgbox 3000)   # our own box shares the dialog's caption
    else
      owner="another process (pid $pid)"
      select=(window "$caption" 3000)
    fi
    drive_ok "${select[@]}" show
    text=$(control_field -1 text) || text="(none)"
    e2e_note "after F1, round $round: a window of $owner: caption \"$caption\", text \"$text\""
    button=
    for id in 7 2 1; do
      out_line "^control .* id=$id class=\"Button\"" >/dev/null && { button=$id; break; }
    done
    shot "f1-$round-$(tr -c 'A-Za-z0-9\n' _ <<<"$caption")" "${select[@]}"
    if [ -n "$button" ]; then
      drive_ok "${select[@]}" command "$button" wait-gone 5000
    else
      drive_ok "${select[@]}" close wait-gone 5000
    fi
  done <<<"$others"
done
[ -z "$others" ] || e2e_fail "expected the windows brought up by F1 to be gone after answering them; still up: $others"

drive_ok window "$CAPTION" 5000 expect-running no-msgbox 500 \
  expect-control 1 Button "&Yes" expect-control 2 Button "&No" click 2 wait-exit 5000 0
expect_installer_exit 10 0
expect_disk_untouched "$before"

echo "PASS"
