#!/usr/bin/env bash
# Runs that cannot reach setup, on variant executables built around a broken package:
#   - NotAProgram: its setup.exe is a text file, which Windows refuses to start;
#   - NoLayout: layout.bin (resource 205) is missing, so extraction stops at it.
#
#   bash tests/e2e/test_launch_failure.sh BUILD_DIR NOT_A_PROGRAM_EXE ZDRIVE_EXE \
#        NOT_A_PROGRAM_DIR NO_LAYOUT_EXE NO_LAYOUT_DIR
#
# (each *_DIR the package the executable before it carries). Each case presses "&Yes", then
# answers the boxes that must come, in their order, checking the staging directory while each
# box is up, and ends with no further box, exit status 0, and C:\windows\TEMP as it was.
source "$(dirname "$0")/lib.sh" "$@"

[ $# -eq 6 ] || e2e_fail "expected 6 arguments: BUILD_DIR NOT_A_PROGRAM_EXE ZDRIVE_EXE NOT_A_PROGRAM_DIR NO_LAYOUT_EXE NO_LAYOUT_DIR, got $#"
NOT_A_PROGRAM_EXE=$E2E_EXE
NOT_A_PROGRAM_DIR=$4
NO_LAYOUT_EXE=$(abs_path "$5")
NO_LAYOUT_DIR=$6

DIALOG="Zarpo OGL Install"
DIALOG_TEXT="This will install Zarpo OGL Trial Version.  Do you wish to continue?"
CANT_START="Can't start setup program."
CANT_FIND="Can't find a resource."
CANT_REMOVE="Couldn't remove all install files from the Windows 'Temp' directory."

# expect_staged PACKAGE_DIR COUNT WHEN: the staging directory holds exactly the first COUNT
# payload files, each byte for byte as PACKAGE_DIR has it.
expect_staged() {
  local package=$1 count=$2 when=$3 zarpo want got name i
  zarpo=$(zarpo_dir)
  [ -d "$zarpo" ] || e2e_fail "expected the staging directory C:\\windows\\TEMP\\ZARPO $when"
  want=$(for name in "${PAYLOAD_NAMES[@]:0:$count}"; do echo "${name^^}"; done | LC_ALL=C sort)
  got=$(for name in "$zarpo"/*; do [ -e "$name" ] && basename "${name^^}"; done | LC_ALL=C sort)
  [ "$want" = "$got" ] || e2e_fail "expected ZARPO to hold exactly the first $count payload files $when;
expected: $(tr '\n' ' ' <<<"$want")
found:    $(tr '\n' ' ' <<<"$got")"
  for ((i = 0; i < count; ++i)); do
    name=${PAYLOAD_NAMES[$i]}
    cmp -s "$package/$name" "$(find_ci "$zarpo" "$name")" \
      || e2e_fail "expected ZARPO\\$name to be byte-identical to $package/$name $when"
  done
}

# expect_box CAPTION TEXT: the program's next box, from a run of the driver that found the
# dialog first; a single OK button, owned by the dialog.
expect_box() {
  local caption=$1 text=$2 box
  drive_ok window "$DIALOG" 5000 msgbox 10000 "$caption" expect-text -1 "$text"
  box=$(out_line '^msgbox ') || e2e_fail "expected a box \"$text\""
  expect_eq '1:"OK"' "$(sed -n 's/.* buttons=\(.*\) owner=.*/\1/p' <<<"$box")" "the buttons of the box \"$text\" (id:text)"
  expect_eq "$(field "$(out_line '^window ')" hwnd)" "$(field "$box" owner)" "the owner of the box \"$text\" (the dialog)"
}

# answer_box CAPTION TEXT [last]: OK on the box; it goes. The box's caption differs from the
# dialog's, so the driver finds it by caption. After the last box no other box may come up, and
# the program ends with status 0.
answer_box() {
  local after=()
  [ "${3:-}" = last ] && after=(no-msgbox 700 wait-exit 10000 0)
  drive_ok window "$1" 5000 expect-text -1 "$2" click 1 wait-gone 5000 "${after[@]}"
}

# Each row: executable|package dir|box caption (the variant's title).
cases=(
  "$NOT_A_PROGRAM_EXE|$NOT_A_PROGRAM_DIR|Zarpo OGL Install NotAProgram"
  "$NO_LAYOUT_EXE|$NO_LAYOUT_DIR|Zarpo OGL Install NoLayout"
)
for row in "${cases[@]}"; do
  IFS='|' read -r exe package caption <<<"$row"
  [ -f "$exe" ] || e2e_fail "expected the variant executable $exe"
  E2E_EXE=$exe
  E2E_EXE_NAME=$(basename "$exe")
  E2E_PROCESS_NAMES+=("$E2E_EXE_NAME")
  e2e_note "case: $E2E_EXE_NAME"
  reset_disk
  before=$(temp_listing)
  launch_installer
  drive_ok window "$DIALOG" 15000 expect-text -1 "$DIALOG_TEXT" click 1

  case $caption in
    *NotAProgram)
      [ "$(head -c 2 "$package/setup.exe")" != MZ ] || e2e_fail "expected $package/setup.exe not to be a program"
      # The launch fails after all fifteen files are written, and says so before the sweep.
      expect_box "$caption" "$CANT_START"
      expect_staged "$package" 15 "while \"$CANT_START\" is up"
      answer_box "$caption" "$CANT_START" last
      ;;
    *NoLayout)
      [ ! -e "$package/layout.bin" ] || e2e_fail "expected $package without layout.bin"
      # Extraction stops at the ninth file: the eight before it are there while the box is up.
      expect_box "$caption" "$CANT_FIND"
      expect_staged "$package" 8 "while \"$CANT_FIND\" is up"
      answer_box "$caption" "$CANT_FIND"
      # The sweep then fails to remove the seven files never written and warns; the eight it
      # did remove leave the directory empty, so the directory itself is gone.
      expect_box "$caption" "$CANT_REMOVE"
      [ -e "$(zarpo_dir)" ] && e2e_fail "expected the emptied staging directory removed while \"$CANT_REMOVE\" is up, found $(zarpo_dir): $(ls -A "$(zarpo_dir)" | tr '\n' ' ')"
      answer_box "$caption" "$CANT_REMOVE" last
      ;;
  esac

  expect_installer_exit 10 0
  expect_disk_untouched "$before"
done

echo "PASS"
