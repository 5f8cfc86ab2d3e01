#!/usr/bin/env bash
# Heartlines every sample track in SAMPLES_DIR and COUNT seeded random
# layouts (made by MAKE_CORPUS) with two builds of cv-qrn-cli, and fails
# unless both write the same bytes in every case.
#   compare_builds.sh REFERENCE_CLI CLI MAKE_CORPUS [COUNT [SAMPLES_DIR]]
#   (defaults: 100 layouts, the repository's samples/)
set -euo pipefail
cd "$(dirname "$0")/../.."
reference=$1 cli=$2 make_corpus=$3 count=${4:-100} samples=${5:-samples}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/corpus"
"$make_corpus" "$work/corpus" "$count"
tests/corpus/run_corpus.sh "$reference" "$samples" "$work/corpus" "$work/ref" >"$work/reference.txt"
tests/corpus/run_corpus.sh "$cli" "$samples" "$work/corpus" "$work/out" >"$work/build.txt"

written=$(grep -cv ' -$' "$work/reference.txt" || true)
if ! diff "$work/reference.txt" "$work/build.txt" >"$work/diff.txt"; then
  echo "compare_builds: $cli writes other bytes than $reference in" \
       "$(grep -c '^>' "$work/diff.txt") of $(wc -l <"$work/reference.txt") cases:" >&2
  head -20 "$work/diff.txt" >&2
  exit 1
fi
echo "compare_builds: same bytes in all $(wc -l <"$work/reference.txt") cases ($written tracks written)"
