#!/usr/bin/env bash
# Compares the exit status and written bytes (SHA-256) of heartlining the samples
# and the first 40 seeded random layouts with the list recorded from the correct build.
#   check_recorded.sh CLI MAKE_CORPUS SAMPLES_DIR RECORDED_LIST
set -euo pipefail
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/corpus"
"$2" "$work/corpus" 40 >/dev/null
"$(dirname "$0")/run_corpus.sh" "$1" "$3" "$work/corpus" "$work/out" | diff "$4" -
