#!/usr/bin/env bash
# Starts the real program on a virtual X server and checks that its window
# appears shaped, 440 x 340 and titled "CV-QRN V1.1"; then closes it with the
# close knob of the skin and checks that the program ends cleanly.
#   tests/ui/xvfb_smoke.sh PATH/TO/cv-qrn
set -euo pipefail

fail() { echo "xvfb smoke: FAILED: $*" >&2; exit 1; }

if [ "${1:-}" != "--inside" ]; then
  exe=${1:?usage: xvfb_smoke.sh PATH/TO/cv-qrn}
  [ -x "$exe" ] || fail "no program at $exe"
  for tool in xvfb-run xdotool xwininfo xprop timeout; do
    command -v "$tool" >/dev/null || fail "$tool is not installed"
  done
  # The program keeps its folders and position; not in the user's settings.
  XDG_CONFIG_HOME=$(mktemp -d)
  export XDG_CONFIG_HOME
  trap 'rm -rf "$XDG_CONFIG_HOME"' EXIT
  # The whole check is bounded, whatever hangs inside.
  timeout -k 5 90 xvfb-run -a -s "-screen 0 1024x768x24" bash "$0" --inside "$exe" ||
    fail "the check did not pass (exit status $?)"
  exit 0
fi

exe=$2
export QT_QPA_PLATFORM=xcb
log=$(mktemp)
"$exe" >"$log" 2>&1 &
pid=$!
cleanup() { kill "$pid" 2>/dev/null || true; rm -f "$log"; }
trap cleanup EXIT

wid=""
for _ in $(seq 1 100); do
  wid=$(xdotool search --onlyvisible --name '^CV-QRN V1\.1$' 2>/dev/null | head -n 1 || true)
  [ -n "$wid" ] && break
  kill -0 "$pid" 2>/dev/null || { cat "$log" >&2; fail "the program ended before its window appeared"; }
  sleep 0.1
done
[ -n "$wid" ] || { cat "$log" >&2; fail "no window titled \"CV-QRN V1.1\" within 10 s"; }

info=$(xwininfo -id "$wid")
width=$(sed -n 's/^ *Width: *//p' <<<"$info")
height=$(sed -n 's/^ *Height: *//p' <<<"$info")
left=$(sed -n 's/^ *Absolute upper-left X: *//p' <<<"$info")
top=$(sed -n 's/^ *Absolute upper-left Y: *//p' <<<"$info")
[ "$width" = 440 ] && [ "$height" = 340 ] || fail "window is ${width} x ${height}, not 440 x 340"

title=$(xprop -id "$wid" _NET_WM_NAME WM_NAME)
grep -q '"CV-QRN V1.1"' <<<"$title" || fail "title is not \"CV-QRN V1.1\": $title"

# The bounding shape must be set and smaller than the window (the skin's holes).
shape=$(xwininfo -shape -id "$wid")
extents=$(sed -n 's/^ *Window shape extents: *//p' <<<"$shape")
[ -n "$extents" ] || fail "the window has no shape: $shape"
[ "${extents%%+*}" != "440x340" ] || fail "the shape covers the whole window ($extents)"

echo "xvfb smoke: window $wid, ${width} x ${height} at ${left},${top}, shape $extents"

# The close knob sits at 388, 12 (29 x 21) in the window.
xdotool mousemove --sync $((left + 402)) $((top + 22)) click 1
for _ in $(seq 1 100); do
  if ! kill -0 "$pid" 2>/dev/null; then
    wait "$pid" && status=0 || status=$?
    [ "$status" -eq 0 ] || { cat "$log" >&2; fail "the program ended with status $status"; }
    echo "xvfb smoke: closed by its close knob"
    exit 0
  fi
  sleep 0.1
done
fail "the window did not close when its close knob was clicked"
