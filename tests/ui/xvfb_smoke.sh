#!/usr/bin/env bash
# tests/ui/xvfb_smoke.sh PATH/TO/cv-qrn: starts the real program on a virtual X
# server, checks that its window appears titled "CV-QRN V1.1", 440 x 340 and
# shaped, then closes it with the skin's close knob and checks a clean exit.
set -euo pipefail
fail() { echo "xvfb smoke: FAILED: $*" >&2; exit 1; }
[ -x "${1:-}" ] || fail "usage: xvfb_smoke.sh PATH/TO/cv-qrn"
if [ "${2:-}" != --inside ]; then
  exec timeout -k 5 90 xvfb-run -a -s "-screen 0 1024x768x24" bash "$0" "$1" --inside
fi

# The program keeps its folders and position; not in the user's settings.
XDG_CONFIG_HOME=$(mktemp -d) && export XDG_CONFIG_HOME
QT_QPA_PLATFORM=xcb "$1" >/dev/null 2>&1 &
pid=$!
trap 'kill "$pid" 2>/dev/null || true; rm -rf "$XDG_CONFIG_HOME"' EXIT
source "$(dirname "$0")/xvfb_windows.sh"
wid=$(find_window '^CV-QRN V1\.1$')

info=$(xwininfo -id "$wid")
field() { sed -n "s/^ *$1: *//p" <<<"$info"; }
[ "$(field Width)x$(field Height)" = 440x340 ] || fail "window is not 440 x 340: $info"
# The bounding shape must be set and smaller than the window (the skin's holes).
extents=$(xwininfo -shape -id "$wid" | sed -n 's/^ *Window shape extents: *//p')
[ -n "$extents" ] && [ "${extents%%+*}" != 440x340 ] || fail "no shape with holes ($extents)"

# The close knob sits at 388, 12 (29 x 21) in the window.
xdotool mousemove --sync $(($(field "Absolute upper-left X") + 402)) \
  $(($(field "Absolute upper-left Y") + 22)) click 1
timeout 10 tail --pid="$pid" -f /dev/null || fail "the window did not close by its close knob"
wait "$pid" || fail "the program ended with status $?"
echo "xvfb smoke: window $wid shaped ($extents), closed by its close knob"
