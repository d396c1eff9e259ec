#!/usr/bin/env bash
# Extraction failures on the real executable under Wine, with the development package:
#   - held: setup.bmp (resource 207) is held open, without sharing, by another process (zhold.exe);
#   - full: C:\windows\TEMP is a small tmpfs that fills up while data1.cab (resource 203) is
#     written. The free-space check looks at C:\ (the host's file system), so it passes.
# Each case presses "&Yes" and must then see "Can't create install files." (checked: the files
# before the failing one are in ZARPO, byte for byte, while it is up), then the sweep's warning
# "Couldn't remove all install files from the Windows 'Temp' directory." (the later files were
# never written), exactly those two boxes, then exit status 0; afterwards the sweep has removed
# every payload file it could, the partly written one included.
#
# Not tested here: a read-only staged file. Wine run as root opens read-only files for writing
# (the attribute stops only ordinary users), and CI runs as root.
#
#   bash tests/e2e/test_extraction_faults.sh BUILD_DIR "Zarpo OGL Install.exe" ZDRIVE_EXE ZHOLD_EXE [PAYLOAD_DIR]
#
# The full case mounts a tmpfs, so it must run as root; where mounting is refused it fails.
source "$(dirname "$0")/lib.sh" "$@"

[ $# -ge 4 ] || e2e_fail "expected the holder zhold.exe as the fourth argument, got $# arguments"
HOLDER_EXE=$(abs_path "$4")
[ -f "$HOLDER_EXE" ] || e2e_fail "expected the holder program at $HOLDER_EXE"
PAYLOAD_DIR=${5:-$E2E_BUILD/package/payload}
DIALOG="Zarpo OGL Install"
DIALOG_TEXT="This will install Zarpo OGL Trial Version.  Do you wish to continue?"
CANT_CREATE="Can't create install files."
CANT_REMOVE="Couldn't remove all install files from the Windows 'Temp' directory."
expect_payload_built "$PAYLOAD_DIR"

# Should a case get as far as setup, the engine finishes by itself.
export ZARPO_DEV_ENGINE_MS=300
export ZARPO_DEV_DELETER_MS=100
E2E_PROCESS_NAMES+=(zhold.exe)

WORK=$E2E_BUILD/e2e-work/$E2E_NAME
rm -rf "$WORK"
mkdir -p "$WORK"

# ---- the holder ------------------------------------------------------------------------------
HOLDER_PID=
RELEASE=$WORK/release
# hold WINDOWS_PATH: zhold.exe holds the file (making it if missing) until RELEASE exists.
hold() {
  local log=$E2E_LOGS/holder.log deadline
  rm -f "$RELEASE"
  (exec wine "$HOLDER_EXE" "$1" 100000 "$(win_path "$RELEASE")" </dev/null >"$log" 2>&1) &
  HOLDER_PID=$!
  deadline=$(( $(date +%s) + 15 ))
  until grep -q '^held' "$log" 2>/dev/null; do
    alive "$HOLDER_PID" || e2e_fail "expected zhold.exe to hold $1; it ended: $(cat "$log")"
    [ "$(date +%s)" -lt "$deadline" ] || e2e_fail "expected zhold.exe to print 'held' within 15 s; its output: $(cat "$log")"
    sleep 0.05
  done
  e2e_note "zhold.exe (pid $HOLDER_PID) holds $1"
}
# release: the holder closes the file and ends (bounded; ended by its pid if it does not).
release() {
  local _
  [ -n "$HOLDER_PID" ] || return 0
  : >"$RELEASE"
  for _ in $(seq 100); do alive "$HOLDER_PID" || break; sleep 0.05; done
  alive "$HOLDER_PID" && kill "$HOLDER_PID" 2>/dev/null
  wait "$HOLDER_PID" 2>/dev/null
  HOLDER_PID=
}

# ---- the small disk --------------------------------------------------------------------------
MOUNTED=
# unmount: the tmpfs goes; the programs that could still use it were ended before.
unmount() {
  local _
  [ -n "$MOUNTED" ] || return 0
  for _ in 1 2 3 4 5 6 7 8 9 10; do
    umount "$MOUNTED" 2>>"$E2E_LOGS/mount.log" && { MOUNTED=; return 0; }
    sleep 0.2
  done
  echo "FAIL: expected to unmount $MOUNTED; detaching it lazily" >&2
  umount -l "$MOUNTED" 2>>"$E2E_LOGS/mount.log"
  MOUNTED=
  return 1
}

faults_cleanup() {
  release
  e2e_cleanup
  unmount
  reset_disk
}
trap faults_cleanup EXIT

# ---- checks ----------------------------------------------------------------------------------

# staged_names: the names in ZARPO, upper-cased (Windows names ignore case), sorted, one a line.
staged_names() {
  local f
  for f in "$(zarpo_dir)"/*; do [ -e "$f" ] && basename "${f^^}"; done | LC_ALL=C sort
}
# expect_names WHEN NAME...: ZARPO holds exactly these names.
expect_names() {
  local when=$1 want got; shift
  want=$(for f in "$@"; do echo "${f^^}"; done | LC_ALL=C sort)
  got=$(staged_names)
  [ "$want" = "$got" ] || e2e_fail "expected ZARPO to hold exactly [$(tr '\n' ' ' <<<"$want")] $when, found [$(tr '\n' ' ' <<<"$got")]"
}
# expect_written COUNT WHEN: the first COUNT payload files are in ZARPO, byte for byte.
expect_written() {
  local i name
  for ((i = 0; i < $1; ++i)); do
    name=${PAYLOAD_NAMES[$i]}
    cmp -s "$PAYLOAD_DIR/$name" "$(find_ci "$(zarpo_dir)" "$name")" \
      || e2e_fail "expected ZARPO\\$name to be byte-identical to $PAYLOAD_DIR/$name $2"
  done
}
listing() { (cd "$(zarpo_dir)" 2>/dev/null && find . -mindepth 1 -printf '%s %p\n' | LC_ALL=C sort) || echo "(no ZARPO)"; }

# select_box TEXT: SELECTED becomes the driver commands that make the box reading TEXT the
# current window. The box and the dialog share their caption, and which of the two `window`
# finds first depends on their order on screen: look, then choose.
SELECTED=()
select_box() {
  drive_ok window "$DIALOG" 5000 show
  if [ "$(control_field -1 text)" = "$1" ]; then
    SELECTED=(window "$DIALOG" 5000)
  else
    SELECTED=(window "$DIALOG" 5000 msgbox 5000 "$DIALOG")
  fi
}

# ---- the cases -------------------------------------------------------------------------------

# held: setup.bmp, index 10, is open in zhold.exe; the ten before it are written.
HELD_INDEX=10
prepare_held() {
  local probe=$E2E_LOGS/holder-probe.log status
  mkdir -p "$(windows_temp_dir)/ZARPO"
  HELD_WIN="C:\\windows\\TEMP\\ZARPO\\${PAYLOAD_NAMES[$HELD_INDEX]}"
  hold "$HELD_WIN"
  # The fixture itself: a second open of the file must be refused as a sharing violation.
  timeout --kill-after=5 30 wine "$HOLDER_EXE" "$HELD_WIN" 0 </dev/null >"$probe" 2>&1
  status=$?
  [ $status = 1 ] && tr -d '\r' <"$probe" | grep -q 'error 32$' \
    || e2e_fail "expected a second open of the held $HELD_WIN to fail with error 32 (sharing violation), got status $status: $(cat "$probe")"
}
while_held() {
  expect_names "while \"$CANT_CREATE\" is up" "${PAYLOAD_NAMES[@]:0:$((HELD_INDEX + 1))}"
  expect_written $HELD_INDEX "while \"$CANT_CREATE\" is up"
}
after_held() {
  local held
  held=$(find_ci "$(zarpo_dir)" "${PAYLOAD_NAMES[$HELD_INDEX]}")
  alive "$HOLDER_PID" || e2e_fail "expected zhold.exe to hold ${PAYLOAD_NAMES[$HELD_INDEX]} to the end of the run; it ended: $(cat "$E2E_LOGS/holder.log")"
  [ -f "$held" ] || e2e_fail "expected the held file $held to remain after the sweep"
  expect_names "after the sweep (only the held file is left)" "${PAYLOAD_NAMES[$HELD_INDEX]}"
  release
  grep -q '^released' "$E2E_LOGS/holder.log" || e2e_fail "expected zhold.exe to release the file when told to; its output: $(cat "$E2E_LOGS/holder.log")"
}

# full: TEMP is a tmpfs with room for the six files before data1.cab (index 6) and for half
# of data1.cab. tmpfs gives out whole pages, so the sizes are rounded to them.
FULL_INDEX=6
prepare_full() {
  local temp page=4096 i bytes=0 size_kb
  temp=$(windows_temp_dir)
  [ -d "$temp" ] || e2e_fail "expected C:\\windows\\TEMP to be a directory at $temp to mount over"
  for ((i = 0; i < FULL_INDEX; ++i)); do
    bytes=$(( bytes + ($(stat -c %s "$PAYLOAD_DIR/${PAYLOAD_NAMES[$i]}") + page - 1) / page * page ))
  done
  size_kb=$(( (bytes + $(stat -c %s "$PAYLOAD_DIR/${PAYLOAD_NAMES[$FULL_INDEX]}") / 2) / 1024 / 4 * 4 ))
  mountpoint -q "$temp" && umount "$temp"   # left by a run that was stopped before its trap
  mount -t tmpfs -o "size=${size_kb}k,mode=0755" tmpfs "$temp" 2>>"$E2E_LOGS/mount.log" \
    || e2e_fail "expected to mount a ${size_kb} KiB tmpfs on $temp (this test must run as root): $(tail -1 "$E2E_LOGS/mount.log")"
  MOUNTED=$temp
  e2e_note "tmpfs of ${size_kb} KiB on $temp (the six files before data1.cab take $bytes bytes in pages)"
}
while_full() {
  local part real got
  expect_names "while \"$CANT_CREATE\" is up" "${PAYLOAD_NAMES[@]:0:$((FULL_INDEX + 1))}"
  expect_written $FULL_INDEX "while \"$CANT_CREATE\" is up"
  part=$(find_ci "$(zarpo_dir)" "${PAYLOAD_NAMES[$FULL_INDEX]}")
  real=$(stat -c %s "$PAYLOAD_DIR/${PAYLOAD_NAMES[$FULL_INDEX]}")
  got=$(stat -c %s "$part")
  [ "$got" -lt "$real" ] || e2e_fail "expected ZARPO\\${PAYLOAD_NAMES[$FULL_INDEX]} cut short by the full disk (under $real bytes), got $got bytes"
  cmp -s -n "$got" "$part" "$PAYLOAD_DIR/${PAYLOAD_NAMES[$FULL_INDEX]}" \
    || e2e_fail "expected the partly written ZARPO\\${PAYLOAD_NAMES[$FULL_INDEX]} ($got bytes) to be the start of the real file"
  e2e_note "disk full: ${PAYLOAD_NAMES[$FULL_INDEX]} has $got of $real bytes; $(df -k --output=used,size "$MOUNTED" | tail -1 | awk '{print $1 " of " $2 " KiB used"}')"
}
after_full() {
  local left name
  left=$(staged_names)
  for name in "${PAYLOAD_NAMES[@]}"; do
    grep -qxF "${name^^}" <<<"$left" && e2e_fail "expected the sweep to leave no payload file, found ZARPO\\$name; ZARPO holds: $(listing | tr '\n' ' ')"
  done
  # Emptied of every file it held, the staging directory is removed by the sweep as well.
  [ -e "$(zarpo_dir)" ] && e2e_fail "expected the emptied staging directory removed by the sweep, found $(zarpo_dir): $(listing | tr '\n' ' ')"
  return 0
}

# The cases by name: prepare_<name> sets the fault up, while_<name> inspects ZARPO while
# "Can't create install files." is up, after_<name> looks at what is left once the program ended.
cases=(held full)
for name in "${cases[@]}"; do
  e2e_note "case: $name"
  end_test_processes
  reset_disk
  "prepare_$name"
  launch_installer
  drive_ok window "$DIALOG" 15000 expect-text -1 "$DIALOG_TEXT" click 1 \
    msgbox 15000 "$DIALOG" expect-text -1 "$CANT_CREATE"
  dialog=$(field "$(out_line '^window ')" hwnd)
  box=$(out_line '^msgbox ')
  expect_eq '1:"OK"' "$(sed -n 's/.* buttons=\(.*\) owner=.*/\1/p' <<<"$box")" "the buttons of \"$CANT_CREATE\" (id:text)"
  expect_eq "$dialog" "$(field "$box" owner)" "the owner of \"$CANT_CREATE\" (the dialog)"
  "while_$name"

  # OK; then the next new window must be the sweep's warning, owned by the dialog, and after its
  # OK the program ends by itself: any further box would keep it from ending.
  select_box "$CANT_CREATE"
  drive_ok "${SELECTED[@]}" expect-text -1 "$CANT_CREATE" mark click 1 wait-gone 5000 \
    new-window 15000 expect-caption "$DIALOG" expect-text -1 "$CANT_REMOVE" expect-control 1 Button OK
  expect_eq "$dialog" "$(field "$(out_line '^new-window ')" owner)" "the owner of \"$CANT_REMOVE\" (the dialog)"
  expect_eq '#32770' "$(field "$(out_line '^new-window ')" class)" "the class of the window after \"$CANT_CREATE\" (a message box)"
  e2e_note "ZARPO while \"$CANT_REMOVE\" is up: $(listing | tr '\n' ' ')"
  select_box "$CANT_REMOVE"
  drive_ok "${SELECTED[@]}" expect-text -1 "$CANT_REMOVE" click 1 wait-gone 5000 wait-exit 10000 0
  expect_installer_exit 10 0
  e2e_note "ZARPO after the run: $(listing | tr '\n' ' ')"
  "after_$name"
  release
  end_test_processes
  unmount || e2e_fail "expected to unmount the tmpfs after the case"
  reset_disk
done

echo "PASS"
