#!/usr/bin/env bash
# The window for Windows under wine, as a user meets it: installed from
# build/windows as the package lays it out (Qt's DLLs and plugins beside the
# program), started with --simulate on the X display, and checked:
# - the window maps with its title;
# - the service row appears by its hotkey Ctrl+Alt+Shift+Enter, and
#   Ctrl+Alt+Shift+L switches the log on (keys through the X server, wine
#   and RegisterHotKey);
# - a read and a write of the simulated EEPROM, clicked with the mouse, end
#   with PASS: the day's log says so ("*** compare data ok") and holds no
#   failure;
# - a screenshot in Chinese and one in English (build/windows-window/).
#   scripts/check-window-windows.sh      (run by scripts/test-windows.sh)
# Needs DISPLAY and WINEPREFIX as scripts/test-windows.sh sets them (the
# prefix with its CJK font). QRT_UPDATE_SCREENSHOTS=1 copies the screenshots
# to docs/screenshots/windows-*.png.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=$root/build/windows
out=$root/build/windows-window

fail() {
  # What the screen showed then, for the one who reads the failure.
  [ -n "${DISPLAY:-}" ] && [ -d "$out" ] && import -window root "$out/failure.png" 2>/dev/null
  echo "check-window-windows: $*" >&2
  exit 1
}
[ -n "${DISPLAY:-}" ] || fail "no X display: run it through scripts/test-windows.sh"
[ -f "$build/src/app/qrt4250-config.exe" ] || fail "$build has no qrt4250-config.exe"
rm -rf "$out"
mkdir -p "$out/work"
cmake --install "$build" --prefix "$out/install" >/dev/null
version=$(sed -n 's/^project(qrt4250 VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
title="QRT4250 EEPROM 数据配置工具_V$version"

pids=()
cleanup() { for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done; }
trap cleanup EXIT
# A window manager, so the screenshots carry the title bar (in a font with
# the title's Chinese).
if command -v icewm >/dev/null; then
  mkdir -p "$out/icewm"
  echo 'TitleFontNameXft="WenQuanYi Micro Hei,Noto Sans CJK SC:size=11:bold"' >"$out/icewm/preferences"
  ICEWM_PRIVCFG=$out/icewm icewm >/dev/null 2>&1 &
  pids+=($!)
fi
# The log and the dumps go to the current folder.
(cd "$out/work" && exec wine "$out/install/qrt4250-config.exe" --simulate) >"$out/stdout.txt" 2>&1 &
pids+=($!)

wid=$(timeout 180 xdotool search --sync --onlyvisible --name '^QRT4250 EEPROM ' | head -n 1) ||
  fail "no window mapped within 3 minutes ($(cat "$out/stdout.txt"))"
name=$(xdotool getwindowname "$wid")
[ "$name" = "$title" ] || fail "the window's title is \"$name\", not \"$title\""

# A screenshot of the window with its frame once it has stopped changing
# (two equal shots in a row), 60 tries at most.
shot() {
  local file=$1 previous=$out/previous.png try
  import -window "$wid" -frame "$previous" 2>/dev/null
  for try in $(seq 60); do
    sleep 0.5
    import -window "$wid" -frame "$file" 2>/dev/null
    if compare -metric AE "$file" "$previous" null: 2>/dev/null; then return 0; fi
    cp "$file" "$previous"
  done
  fail "the window does not settle ($file)"
}
differ() { ! compare -metric AE "$1" "$2" null: 2>/dev/null; }
# Mouse clicks at places of the form (client coordinates).
click() { xdotool mousemove --window "$wid" "$1" "$2" click 1; }
# button_rows SHOT X: the middle rows (client coordinates) of the buttons
# that cross client column X in a framed shot, top to bottom. A button's
# face is a run of 18-32 rows of one colour between its border rows; the
# frame's title bar is cut off first (the client's size from xdotool, the
# frame's borders alike left, right and below). Found in the picture, so a
# form whose rows move is still clicked where its buttons are.
button_rows() {
  local shot=$1 x=$2 WIDTH HEIGHT fw fh left top
  eval "$(xdotool getwindowgeometry --shell "$wid" | grep -E '^(WIDTH|HEIGHT)=')"
  read -r fw fh < <(identify -format '%w %h\n' "$shot")
  left=$(((fw - WIDTH) / 2))
  top=$((fh - HEIGHT - left))
  convert "$shot" -crop "1x${HEIGHT}+$((x + left))+${top}" +repage txt:- |
    awk 'NR > 1 { split($1, p, /[,:]/); y = p[2]; c = $3
                  if (c != prev) { if (n >= 18 && n <= 32) print start + int(n / 2)
                                   prev = c; start = y; n = 0 }
                  n++ }'
}
log=$out/work/$(date +%Y_%m%d)_LogFile.txt
# The window's message box after a transfer ("Load data from EEPROM OK!")
# is answered with OK.
answer_box() {
  local box
  for box in $(xdotool search --onlyvisible --name '^qrt4250-config$' 2>/dev/null); do
    xdotool windowactivate "$box" >/dev/null 2>&1 || true
    xdotool windowfocus --sync "$box" key Return >/dev/null 2>&1 || true
  done
}
wait_log() {
  local try
  for try in $(seq 240); do
    answer_box
    grep -q -- "$1" "$log" 2>/dev/null && return 0
    grep -q -i "fail" "$log" 2>/dev/null && fail "the log reports a failure: $(cat "$log")"
    sleep 0.5
  done
  fail "the log never said \"$1\" ($(cat "$log" 2>/dev/null))"
}

# hotkey KEYS BEFORE AFTER: Ctrl+Alt+Shift+KEYS until the window looks
# other than BEFORE (shot into AFTER). Wine sees the keys that X gives its
# windows: the hotkeys of a wine program work while one of its windows has
# the focus, and a key typed while the window manager is still settling
# the focus is lost; so the window is focused first, and a chord without
# effect is typed again (5 times at most; each shot waits for the window to
# settle, so a key that took effect is never typed twice).
hotkey() {
  local keys=$1 before=$2 after=$3 try
  for try in 1 2 3 4 5; do
    xdotool windowactivate "$wid" >/dev/null 2>&1 || true
    xdotool windowfocus --sync "$wid"
    xdotool key --clearmodifiers "ctrl+alt+shift+$keys"
    shot "$after"
    differ "$before" "$after" && return 0
  done
  return 1
}

shot "$out/windows-zh.png"
hotkey Return "$out/windows-zh.png" "$out/row.png" ||
  fail "Ctrl+Alt+Shift+Enter did not show the service row"
hotkey l "$out/row.png" "$out/log-on.png" || fail "Ctrl+Alt+Shift+L did not tick Log"

# The transfer box's left column: Load file, Save file, Read EEPROM and
# Write EEPROM are its last four buttons (the service row below has none).
rows=($(button_rows "$out/log-on.png" 28))
[ "${#rows[@]}" -ge 4 ] || fail "the transfer buttons were not found in log-on.png (rows: ${rows[*]:-none})"
read_y=${rows[-2]} write_y=${rows[-1]}
click 94 "$read_y"   # ReadEEPROMBitBtn; the size dialog's default button is OK
dialog=$(timeout 60 xdotool search --sync --onlyvisible --name '^ReadEEPROMForm$' | head -n 1) ||
  fail "Read EEPROM showed no size dialog"
xdotool windowfocus --sync "$dialog" key Return
wait_log "===  READ EEPROM  ==="
# A read that passed leaves its dump file.
for try in $(seq 240); do
  answer_box
  ls "$out/work"/*_ReadData-R_*.bin >/dev/null 2>&1 && break
  grep -q -i "fail" "$log" && fail "the read failed: $(cat "$log")"
  [ "$try" -lt 240 ] || fail "the read left no dump file ($(cat "$log"))"
  sleep 0.5
done
answer_box
click 94 "$write_y"   # WriteEEPROMBitBtn
wait_log "compare data ok"
answer_box
echo "check-window-windows: read and write of the simulated EEPROM passed: $(tr -d '\r' <"$log" | grep -c .) log lines"

shot "$out/after-write.png"
hotkey Return "$out/after-write.png" "$out/row-hidden.png" ||
  fail "Ctrl+Alt+Shift+Enter did not hide the service row"
click 749 27   # EnglishPanel
shot "$out/windows-en.png"
differ "$out/windows-zh.png" "$out/windows-en.png" || fail "English looks like Chinese"
if [ "${QRT_UPDATE_SCREENSHOTS:-0}" = "1" ]; then
  cp "$out/windows-zh.png" "$out/windows-en.png" docs/screenshots/
fi
echo "check-window-windows: the window ran under wine ($title); screenshots in $out"
