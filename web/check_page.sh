#!/usr/bin/env bash
# Builds the browser page (web preset) and the native tools it is compared
# with (dev preset), checks the page's C library against its pinned results
# (tests/libm, with the smooth rebuild's portable functions) and the
# WebAssembly command line's bytes against the native one's (default and
# smooth rebuild), then runs the page tests in headless Chromium: the page's
# downloads against cv-qrn-cli on every sample and 75 seeded corpus layouts
# (and 30 of them again with the smooth rebuild),
# its messages, input rules and responsiveness; then the 3D panel on
# Chromium's software WebGL (drawn where the track is, cursor linked, frame time).
#   bash web/check_page.sh
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)

cmake --preset dev >/dev/null
cmake --build --preset dev -j "$jobs" --target cv-qrn-cli make_corpus make_long_track
cmake --preset web >/dev/null
cmake --build --preset web -j "$jobs"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/corpus"
build/dev/samples/make_corpus "$work/corpus" 75
node build/web/web/libm_check.js
# The command line compiled to WebAssembly writes the native bytes, run by run,
# with the default rebuild and with the smooth one.
tests/corpus/compare_builds.sh build/dev/cli/cv-qrn-cli build/web/cli/cv-qrn-cli \
  build/dev/samples/make_corpus 40
CVQRN_CORPUS_OPTIONS=--smooth tests/corpus/compare_builds.sh build/dev/cli/cv-qrn-cli \
  build/web/cli/cv-qrn-cli build/dev/samples/make_corpus 40
node web/tests/page_test.mjs build/web/web/site build/dev samples "$work/corpus" "$work/run"
node web/tests/view3d_test.mjs build/web/web/site samples
