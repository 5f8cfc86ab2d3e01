#!/usr/bin/env bash
# Builds the browser page (web preset) and the native tools it is compared
# with (dev preset), checks the page's C library against its pinned results
# (tests/libm, with the smooth rebuild's portable functions), then runs the
# page tests in headless Chromium: the page's downloads against cv-qrn-cli on
# every sample and 75 seeded corpus layouts, and on the samples and the first
# 40 layouts again with the smooth rebuild (the WebAssembly core's bytes
# against the native ones, default and smooth), its messages, input rules and
# responsiveness; then the 3D panel on Chromium's software WebGL (drawn where
# the track is, cursor linked, frame time).
#   bash web/check_page.sh [--build | --test]
# --build only builds, --test only checks what is built (the checks leave
# the dev build alone, so it can build something else meanwhile).
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)
build=1 test=1
case "${1:-}" in
  --build) test=0 ;;
  --test) build=0 ;;
  "") ;;
  *) echo "usage: $0 [--build | --test]" >&2; exit 2 ;;
esac

if [ "$build" -eq 1 ]; then
  cmake --preset dev >/dev/null
  cmake --build --preset dev -j "$jobs" --target cv-qrn-cli make_corpus make_long_track
  cmake --preset web >/dev/null
  # The page and the C library check; the page's build also makes the command
  # line for Node.js (build/web/cli/cv-qrn-cli), for comparing runs by hand with
  # tests/corpus/compare_builds.sh, which the page test's downloads make
  # needless here.
  cmake --build --preset web -j "$jobs" --target cvqrn_page cvqrn_libm_check
fi
[ "$test" -eq 1 ] || exit 0

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/corpus"
build/dev/samples/make_corpus "$work/corpus" 75
node build/web/web/libm_check.js
node web/tests/page_test.mjs build/web/web/site build/dev samples "$work/corpus" "$work/run"
node web/tests/view3d_test.mjs build/web/web/site samples
