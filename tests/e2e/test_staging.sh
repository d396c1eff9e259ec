#!/usr/bin/env bash
# The staging directory C:\windows\TEMP\ZARPO and the cleanup sweep, on the real executable
# under Wine with the development package, driven like a user ("&Yes", then OK on every box):
#   - no TEMP under C:\windows: the run makes TEMP and ZARPO, ends without a box, and leaves
#     TEMP (empty) behind but not ZARPO;
#   - ZARPO already there with a file of the user's: it is reused, the file survives byte for
#     byte, the payload is swept, and the one warning says the directory could not go;
#   - ZARPO already there with stale copies of the fifteen names: each is rewritten to its real
#     length (one stale copy is longer than the real file) and swept, with no box;
#   - a plain file TEMP in place of the directory: one "Can't change directory." and nothing else.
#
#   bash tests/e2e/test_staging.sh BUILD_DIR "Zarpo OGL Install.exe" ZDRIVE_EXE [PAYLOAD_DIR]
#
# PAYLOAD_DIR is the package the executable carries (default BUILD_DIR/package/payload).
source "$(dirname "$0")/lib.sh" "$@"

PAYLOAD_DIR=${4:-$E2E_BUILD/package/payload}
DIALOG="Zarpo OGL Install"
DIALOG_TEXT="This will install Zarpo OGL Trial Version.  Do you wish to continue?"
CANT_CHDIR="Can't change directory."
CANT_REMOVE="Couldn't remove all install files from the Windows 'Temp' directory."
expect_payload_built "$PAYLOAD_DIR"

# Nothing is inspected while setup runs: the engine finishes by itself.
export ZARPO_DEV_ENGINE_MS=300
export ZARPO_DEV_DELETER_MS=100

WORK=$E2E_BUILD/e2e-work/$E2E_NAME
rm -rf "$WORK"
mkdir -p "$WORK"

# ---- C:\windows\TEMP saved before a case replaces it, and put back after it (and on exit) ----
TEMP_SAVED=
save_temp() {
  local temp
  temp=$(windows_temp_dir)
  [ -d "$temp" ] || e2e_fail "expected C:\\windows\\TEMP to be a directory before the case, found: $(ls -ld "$temp" 2>&1)"
  rm -rf "$WORK/temp-saved"
  cp -a "$temp" "$WORK/temp-saved" || e2e_fail "expected to save $temp to $WORK/temp-saved"
  TEMP_SAVED=$(basename "$temp")
}
restore_temp() {
  [ -n "$TEMP_SAVED" ] || return 0
  rm -rf "$(windows_temp_dir)"
  mv "$WORK/temp-saved" "$(windows_dir)/$TEMP_SAVED"
  TEMP_SAVED=
}
staging_cleanup() {
  e2e_cleanup
  restore_temp
  reset_disk
}
trap staging_cleanup EXIT

# ---- running the installer -------------------------------------------------------------------

# run_expecting TEXT...: "&Yes", then exactly the boxes TEXT... in that order, each answered
# with OK; then no other box, and the program ends with status 0. Each box: the program's title
# as caption, a single OK button, owned by the dialog.
run_expecting() {
  local args=(window "$DIALOG" 15000 expect-text -1 "$DIALOG_TEXT" click 1) text dialog line i=0
  for text in "$@"; do
    args+=(msgbox 30000 "$DIALOG" expect-text -1 "$text" click 1 wait-gone 5000)
  done
  [ $# -gt 0 ] && args+=(no-msgbox 700)
  args+=(wait-exit 30000 0)
  launch_installer
  if ! drive "${args[@]}"; then
    drive windows || true
    e2e_fail "expected after \"&Yes\" the boxes [$(printf '"%s" ' "$@")] and then the end of the program with status 0 ($(grep -E '^(FAILED|no )' <<<"$DRIVE_OUT" | head -2 | tr '\n' ' '); windows up: see above)"
  fi
  dialog=$(field "$(out_line '^window ')" hwnd)
  while IFS= read -r line; do
    text=${*:$((i + 1)):1}
    i=$((i + 1))
    expect_eq "$DIALOG" "$(field "$line" caption)" "the caption of box $i (\"$text\")"
    expect_eq '1:"OK"' "$(sed -n 's/.* buttons=\(.*\) owner=.*/\1/p' <<<"$line")" "the buttons of box $i (\"$text\") (id:text)"
    expect_eq "$dialog" "$(field "$line" owner)" "the owner of box $i (\"$text\") (the dialog)"
  done < <(grep -E '^msgbox ' <<<"$DRIVE_OUT")
  expect_eq "$#" "$i" "the number of boxes described by the driver"
  expect_installer_exit 10 0
}

# expect_report REGEX WHAT: the development package's report has a line matching REGEX.
expect_report() {
  tr -d '\r' <"$REPORT" 2>/dev/null | grep -Eq "$1" || e2e_fail "expected $2 (a line matching '$1' in $REPORT); it reads:
$(cat "$REPORT" 2>/dev/null)"
}

# expect_full_run: setup ran to its end on the fifteen files the wrapper had staged, each found
# at its real length.
expect_full_run() {
  local name size
  for name in "${PAYLOAD_NAMES[@]}"; do
    size=$(stat -c %s "$PAYLOAD_DIR/$name")
    expect_report "^engine: found $name $size\$" "the engine to find $name staged at its real length $size bytes"
  done
  expect_report '^deleter: end' 'the deleter to have run to its end before the wrapper ended'
}

# expect_no_zarpo: no staging directory left under TEMP.
expect_no_zarpo() {
  [ -e "$(zarpo_dir)" ] && e2e_fail "expected no staging directory after the run, found $(zarpo_dir): $(ls -A "$(zarpo_dir)" | tr '\n' ' ')"
  return 0
}

# ---- the cases: preparation, then what the disk must hold afterwards -------------------------

# No TEMP directory: both levels are made; TEMP stays, empty.
prepare_no_temp() {
  save_temp
  rm -rf "$(windows_temp_dir)"
}
check_no_temp() {
  local temp
  temp=$(windows_temp_dir)
  [ -d "$temp" ] || e2e_fail "expected the run to have made C:\\windows\\TEMP and left it, found: $(ls -ld "$temp" 2>&1)"
  expect_no_zarpo
  [ -z "$(ls -A "$temp")" ] || e2e_fail "expected the TEMP the run made to be empty afterwards, it holds: $(ls -A "$temp" | tr '\n' ' ')"
  expect_full_run
}

# A staging directory holding a file of the user's.
KEEP_BYTES=$'kept by the user\r\nnot part of the package\r\n'
prepare_extra_file() {
  mkdir -p "$(windows_temp_dir)/ZARPO"
  printf '%s' "$KEEP_BYTES" >"$(zarpo_dir)/keep.txt"
  printf '%s' "$KEEP_BYTES" >"$WORK/keep.want"
}
check_extra_file() {
  local zarpo left
  zarpo=$(zarpo_dir)
  [ -d "$zarpo" ] || e2e_fail "expected the reused staging directory to remain (it holds keep.txt), found none"
  cmp -s "$WORK/keep.want" "$zarpo/keep.txt" || e2e_fail "expected ZARPO\\keep.txt to keep its bytes '${KEEP_BYTES//$'\r\n'/\\r\\n}', found: $(od -c "$zarpo/keep.txt" 2>&1 | head -3)"
  left=$(ls -A "$zarpo")
  expect_eq keep.txt "$left" "the staging directory's listing after the sweep (only the user's file)"
  expect_full_run
  expect_report '^engine: found keep.txt ' 'the engine to find keep.txt beside the payload (the directory reused as it was)'
}

# Stale copies of the fifteen names, each of a length the real file does not have; setup.lid's
# is longer than the real one, so a rewrite that does not cut the file shows there.
prepare_stale_copies() {
  local zarpo name size
  mkdir -p "$(windows_temp_dir)/ZARPO"
  zarpo=$(zarpo_dir)
  for name in "${PAYLOAD_NAMES[@]}"; do
    size=$(stat -c %s "$PAYLOAD_DIR/$name")
    if [ "$name" = setup.lid ]; then
      head -c $((size + 4000)) /dev/zero | tr '\0' 'S' >"$zarpo/$name"
    else
      printf 'stale %s from an earlier run\r\n' "$name" >"$zarpo/$name"
    fi
    [ "$(stat -c %s "$zarpo/$name")" != "$size" ] || e2e_fail "expected the stale $name to differ in length from the real one ($size bytes)"
  done
}
check_stale_copies() {
  expect_no_zarpo
  expect_full_run
}

# A plain file TEMP where the directory should be.
TEMP_FILE_BYTES=$'this TEMP is a file\r\n'
prepare_temp_is_file() {
  save_temp
  rm -rf "$(windows_temp_dir)"
  printf '%s' "$TEMP_FILE_BYTES" >"$(windows_dir)/$TEMP_SAVED"
  printf '%s' "$TEMP_FILE_BYTES" >"$WORK/temp-file.want"
}
check_temp_is_file() {
  local temp found
  temp=$(windows_temp_dir)
  [ -f "$temp" ] && cmp -s "$WORK/temp-file.want" "$temp" \
    || e2e_fail "expected the file C:\\windows\\TEMP unchanged ('${TEMP_FILE_BYTES//$'\r\n'/\\r\\n}'), found: $(ls -ld "$temp" 2>&1)"
  found=$(find "$WINEPREFIX/drive_c" "$E2E_BUILD" -maxdepth 3 -iname zarpo 2>/dev/null)
  [ -z "$found" ] || e2e_fail "expected no ZARPO directory anywhere after \"$CANT_CHDIR\", found: $found"
  [ ! -s "$REPORT" ] || e2e_fail "expected setup never to start after \"$CANT_CHDIR\", its report reads: $(cat "$REPORT")"
}

# Each row: case name|boxes expected after "&Yes" (separated by ';', none for a silent run).
# prepare_<name> sets the disk up, check_<name> inspects it after the program has ended.
cases=(
  "no_temp|"
  "extra_file|$CANT_REMOVE"
  "stale_copies|"
  "temp_is_file|$CANT_CHDIR"
)
for row in "${cases[@]}"; do
  IFS='|' read -r name boxes <<<"$row"
  IFS=';' read -r -a box_list <<<"$boxes"
  e2e_note "case: $name"
  end_test_processes
  reset_disk
  rm -rf "$WINEPREFIX"/drive_c/users/*/[Tt]emp/_ZOTMP*.DIR   # left by earlier deleters
  REPORT=$WORK/report-$name.txt
  rm -f "$REPORT"
  ZARPO_DEV_REPORT=$(win_path "$REPORT")
  export ZARPO_DEV_REPORT
  "prepare_$name"
  run_expecting "${box_list[@]}"
  "check_$name"
  restore_temp
done

echo "PASS"
