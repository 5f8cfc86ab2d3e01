#!/usr/bin/env bash
# Fails unless two builds of cv-qrn-cli write the same bytes when they
# heartline the samples and COUNT seeded random layouts (made by MAKE_CORPUS).
#   compare_builds.sh REFERENCE_CLI CLI MAKE_CORPUS COUNT [SAMPLES_DIR (default samples/)]
set -euo pipefail
cd "$(dirname "$0")/../.."
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/corpus"
"$3" "$work/corpus" "$4"
# The two builds run side by side, each in its own folder.
tests/corpus/run_corpus.sh "$1" "${5:-samples}" "$work/corpus" "$work/ref" >"$work/reference.txt" &
reference=$!
tests/corpus/run_corpus.sh "$2" "${5:-samples}" "$work/corpus" "$work/out" >"$work/build.txt"
wait "$reference"
if ! diff "$work/reference.txt" "$work/build.txt" >"$work/diff.txt"; then
  echo "compare_builds: $2 writes other bytes than $1 in $(grep -c '^>' "$work/diff.txt") cases:" >&2
  head -20 "$work/diff.txt" >&2
  exit 1
fi
echo "compare_builds: same bytes in all $(wc -l <"$work/reference.txt") cases"
