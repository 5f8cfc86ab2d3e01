# Sourced by the Xvfb checks: finding the program's windows on the X server.
# The caller defines fail().

# The id of the visible window whose title matches the pattern $1, waiting up
# to 10 s for it to appear.
find_window() {
  local id=""
  for _ in $(seq 100); do
    id=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -n 1 || true)
    [ -n "$id" ] && break
    sleep 0.1
  done
  [ -n "$id" ] || fail "no window titled $1 within 10 s"
  echo "$id"
}
