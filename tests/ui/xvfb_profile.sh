#!/usr/bin/env bash
# tests/ui/xvfb_profile.sh PATH/TO/cv-qrn [SCREENSHOT.png]: the ride profile
# window on a real X server with a 1366 x 768 screen. `cv-qrn FILE` opens the
# panel; Ctrl+G opens the profile, which must lie beside the panel and inside
# the screen; a heartline run (Ctrl+Return on the panel, raised over the
# profile) must update the profile without raising it over the panel or
# moving it. With SCREENSHOT, the screen after the run is saved there.
set -euo pipefail
fail() { echo "xvfb profile: FAILED: $*" >&2; exit 1; }
[ -x "${1:-}" ] || fail "usage: xvfb_profile.sh PATH/TO/cv-qrn [SCREENSHOT.png]"
if [ "${3:-}" != --inside ]; then
  exec timeout -k 5 120 xvfb-run -a -s "-screen 0 1366x768x24" bash "$0" "$1" "${2:-}" --inside
fi
here=$(cd "$(dirname "$0")/../.." && pwd)

XDG_CONFIG_HOME=$(mktemp -d) && export XDG_CONFIG_HOME
QT_QPA_PLATFORM=xcb "$1" "$here/samples/family_coaster.cvtrack" >/dev/null 2>&1 &
pid=$!
trap 'kill "$pid" 2>/dev/null || true; rm -rf "$XDG_CONFIG_HOME"' EXIT
source "$here/tests/ui/xvfb_windows.sh"
# x y width height of a window on the screen
geometry() {
  xwininfo -id "$1" | awk -F: '/Absolute upper-left X/{x=$2} /Absolute upper-left Y/{y=$2}
    /Width/{w=$2} /Height/{h=$2} END{print x+0, y+0, w+0, h+0}'
}
# The two windows' names as the screen stacks them, the top one first.
stacking() { xwininfo -root -children | grep -oE '"(CV-QRN V1\.1|Ride profile)"' | tr -d '"' | paste -sd,; }

panel=$(find_window '^CV-QRN V1\.1$')
xdotool windowfocus --sync "$panel" key --clearmodifiers ctrl+g
profile=$(find_window '^Ride profile$')
sleep 0.5
read -r px py pw ph < <(geometry "$panel")
read -r x y w h < <(geometry "$profile")
[ "$x" -ge 0 ] && [ "$y" -ge 0 ] && [ $((x + w)) -le 1366 ] && [ $((y + h)) -le 768 ] ||
  fail "the profile ($w x $h at $x, $y) does not fit the 1366 x 768 screen"
[ "$x" -ge $((px + pw)) ] || fail "the profile at $x lies over the panel (to $((px + pw)))"

xdotool windowraise "$panel"
xdotool windowfocus --sync "$panel" key --clearmodifiers ctrl+Return
sleep 2
[ "$(stacking)" = "CV-QRN V1.1,Ride profile" ] ||
  fail "after a run the profile was raised over the panel ($(stacking))"
[ "$(geometry "$profile")" = "$x $y $w $h" ] || fail "the run moved the profile"
[ -z "${2:-}" ] || import -window root "$2"
echo "xvfb profile: $w x $h at $x, $y beside the panel; a run left the panel on top"
