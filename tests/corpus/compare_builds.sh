#!/usr/bin/env bash
# Fails unless two builds of cv-qrn-cli write the same bytes when they
# heartline the samples and COUNT seeded random layouts (made by MAKE_CORPUS).
#   compare_builds.sh REFERENCE_CLI CLI MAKE_CORPUS COUNT [SAMPLES_DIR (default samples/)]
# With CVQRN_COMPARE_KEEP=DIR the reference's listing is kept in DIR and taken
# from there when the same reference program, samples, corpus and options
# come again: several builds compared with one reference run it once.
set -euo pipefail
cd "$(dirname "$0")/../.."
samples=${5:-samples}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/corpus"
"$3" "$work/corpus" "$4"
kept="" reused=""
if [ -n "${CVQRN_COMPARE_KEEP:-}" ]; then
  key=$({
    sha256sum <"$1"
    sha256sum <"$3"
    echo "$4 ${CVQRN_CORPUS_OPTIONS:-}"
    for f in "$samples"/*.cvtrack; do
      echo "$(basename "$f") $(sha256sum <"$f")"
    done
  } | sha256sum | cut -c1-64)
  kept="$CVQRN_COMPARE_KEEP/$key.txt"
fi
if [ -n "$kept" ] && [ -f "$kept" ]; then
  cp "$kept" "$work/reference.txt"
  reused=1
  tests/corpus/run_corpus.sh "$2" "$samples" "$work/corpus" "$work/out" >"$work/build.txt"
else
  # The two builds run side by side, each in its own folder.
  tests/corpus/run_corpus.sh "$1" "$samples" "$work/corpus" "$work/ref" >"$work/reference.txt" &
  reference=$!
  tests/corpus/run_corpus.sh "$2" "$samples" "$work/corpus" "$work/out" >"$work/build.txt"
  wait "$reference"
  if [ -n "$kept" ]; then
    mkdir -p "$CVQRN_COMPARE_KEEP"
    cp "$work/reference.txt" "$kept"
  fi
fi
if ! diff "$work/reference.txt" "$work/build.txt" >"$work/diff.txt"; then
  echo "compare_builds: $2 writes other bytes than $1 in $(grep -c '^>' "$work/diff.txt") cases:" >&2
  head -20 "$work/diff.txt" >&2
  exit 1
fi
echo "compare_builds: same bytes in all $(wc -l <"$work/reference.txt") cases${reused:+ (the reference listing kept from before)}"
