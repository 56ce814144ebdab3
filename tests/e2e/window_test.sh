#!/usr/bin/env bash
# Drives the real program in a real X server the way a person would: files
# come in through the open dialog, the destination is typed, the quality is
# set with the keyboard, "Start Converting To JPG" is clicked and the "Done."
# box is dismissed. Then the results are decoded by djpeg and the settings
# file is read. Leaves the window's picture in ARTEFACTS/window.png.
#
# Usage: window_test.sh PROGRAM ARTEFACTS. Exits 77 (skipped) only where no X
# server can be started.
set -euo pipefail

program=$1
artefacts=$2
here=$(cd "$(dirname "$0")" && pwd)

skip() {
  echo "SKIPPED: $*"
  exit 77
}
fail() {
  echo "FAILED: $*" >&2
  [ -n "${DISPLAY:-}" ] && mkdir -p "$artefacts" && import -window root "$artefacts/failure.png"
  [ -s "${work:-/nonexistent}/program.log" ] && sed 's/^/program: /' "$work/program.log" >&2
  exit 1
}

command -v Xvfb >/dev/null || skip "Xvfb is not installed, so no X server can be started"
for tool in xdotool djpeg import python3; do
  command -v "$tool" >/dev/null || fail "$tool is missing; scripts/setup installs it"
done

work=$(mktemp -d -t window-test.XXXXXX)
xvfb_pid=
program_pid=
# Runs to the end whatever fails on the way: a program that already died
# must not keep Xvfb running or the work folder behind.
cleanup() {
  set +e
  [ -n "$program_pid" ] && kill -9 "$program_pid" 2>/dev/null
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

# Waits up to $1 seconds for the command that follows to succeed.
wait_until() {
  local limit=$(($1 * 10))
  shift
  for ((i = 0; i < limit; i++)); do
    "$@" && return 0
    sleep 0.1
  done
  return 1
}

# Xvfb picks a free display itself and writes its number to the descriptor.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" \
  >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
wait_until 10 test -s "$work/display" ||
  skip "Xvfb could not start: $(tail -n 3 "$work/xvfb.log" | tr '\n' ' ')"
export DISPLAY=":$(cat "$work/display")"
wait_until 10 xdotool getdisplaygeometry >/dev/null 2>&1 ||
  skip "Xvfb started on $DISPLAY but takes no connections"

# A fresh user: nothing remembered from an earlier start.
export HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config"
export XDG_CACHE_HOME="$work/home/.cache" XDG_RUNTIME_DIR="$work/runtime"
export TMPDIR="$work/tmp" QT_QPA_PLATFORM=xcb BROWSER=true
unset QT_QPA_PLATFORMTHEME
mkdir -p "$HOME" "$TMPDIR" "$XDG_RUNTIME_DIR" "$work/in" "$work/out folder"
chmod 700 "$XDG_RUNTIME_DIR"
python3 "$here/pictures.py" make "$work/in"

visible_windows() { xdotool search --onlyvisible --name "$1" 2>/dev/null || true; }
has_focus() { [ "$(xdotool getwindowfocus 2>/dev/null)" = "$1" ]; }
window_count_is() { [ "$(visible_windows "$1" | wc -l)" -eq "$2" ]; }

"$program" >"$work/program.log" 2>&1 &
program_pid=$!
wait_until 20 window_count_is '^Brisklume$' 1 || fail "the window did not appear"
window=$(visible_windows '^Brisklume$')

# Where a person points: the middle of a control, in window coordinates.
click() { xdotool mousemove --window "$window" "$1" "$2" click "${3:-1}"; }

# "Add Image File(s)", then the folder and the chosen names, quoted.
click 136 196
wait_until 10 window_count_is '^Add File' 1 || fail "the open dialog did not appear"
# Keys typed before the dialog holds the focus would go to the window.
dialog=$(visible_windows '^Add File')
wait_until 10 has_focus "$dialog" || fail "the open dialog never took the focus"
sleep 0.5
xdotool type --delay 15 "$work/in/"
xdotool key Return
sleep 1
xdotool type --delay 15 '"red field.png" "half clear.png" "grey (16 bit).png"'
xdotool key Return
wait_until 10 window_count_is '^Add File' 0 || fail "the open dialog stayed open"

# The destination folder, typed over the suggested one.
click 200 376
xdotool key ctrl+a
xdotool type --delay 15 "$work/out folder/"
# The quality: the slider takes the keyboard once clicked; End is 100.
click 440 277
xdotool key End Left Left Left Left Left Left Left Left Left Left Left Left \
  Left Left Left Left Left Left Left Left
sleep 0.5
mkdir -p "$artefacts"
import -window "$window" "$artefacts/window.png"

# "Start Converting To JPG", then the "Done." box over the window.
click 268 454
wait_until 60 window_count_is '^Brisklume$' 2 || fail "no Done. box after 60 s"
box=$(visible_windows '^Brisklume$' | grep -vx "$window")
# A box that lists failures is several lines high; "Done." alone is one.
eval "$(xdotool getwindowgeometry --shell "$box")"
[ "$HEIGHT" -lt 120 ] || fail "the Done. box is $HEIGHT pixels high: it lists failures"
xdotool key Return
wait_until 10 window_count_is '^Brisklume$' 1 || fail "the Done. box stayed open"

# The results, decoded by an independent decoder.
for source in "red field" "half clear" "grey (16 bit)"; do
  result="$work/out folder/$source.jpg"
  [ -f "$result" ] || fail "no $source.jpg"
  djpeg -pnm -outfile "$work/decoded.ppm" "$result" || fail "$source.jpg does not decode"
  python3 "$here/pictures.py" check "$source.png" "$work/decoded.ppm" || fail "$source.jpg is wrong"
done
leftovers=$(ls -A "$work/out folder" | grep -v '\.jpg$' || true)
[ -z "$leftovers" ] || fail "left in the destination: $leftovers"
[ "$(ls "$work/out folder" | wc -l)" -eq 3 ] || fail "not exactly three results"
[ ! -e "$work/in/not chosen.jpg" ] && [ ! -e "$work/out folder/not chosen.jpg" ] ||
  fail "a file that was not chosen was converted"

# The choices are remembered for the next start.
settings=$(find "$XDG_CONFIG_HOME" -name '*.ini' -print -quit)
[ -n "$settings" ] || fail "no settings file under $XDG_CONFIG_HOME"
for line in "Slider1=80" "Text2=$work/out folder/" "Option1=True" "Option2=False"; do
  grep -qxF "$line" "$settings" || fail "$settings lacks $line"
done

# Closed as a window manager's close button would; the program must end
# cleanly and leave no working folder behind.
python3 "$here/close_window.py" "$window"
wait_until 10 bash -c "! kill -0 $program_pid 2>/dev/null" || fail "the program did not end"
status=0
wait "$program_pid" || status=$?
program_pid=
[ "$status" -eq 0 ] || fail "the program ended with status $status"
[ -z "$(ls -A "$TMPDIR")" ] || fail "left in TMPDIR: $(ls -A "$TMPDIR")"
echo "PASSED: three files converted through the real window; picture in $artefacts/window.png"
