#!/usr/bin/env bash
# Heartlines every sample and every case of a make_corpus corpus with one
# cv-qrn-cli; one line per run: case, exit status, SHA-256 of the file written
# ("-" if none). Two builds write the same bytes when their listings are equal.
# CVQRN_CORPUS_OPTIONS (e.g. --smooth) is added to every run.
#   run_corpus.sh CLI SAMPLES_DIR CORPUS_DIR WORK_DIR
set -euo pipefail
cli=$1 samples=$2 corpus=$3 work=$4
mkdir -p "$work"

run() {  # name input options...
  local out="$work/$1.out.cvtrack" rc=0 hash=-
  rm -f "$out"
  # shellcheck disable=SC2086  # the extra options are words
  "$cli" heartline "$2" "$out" "${@:3}" ${CVQRN_CORPUS_OPTIONS:-} >/dev/null 2>&1 || rc=$?
  [ -f "$out" ] && hash=$(sha256sum <"$out" | cut -c1-64)
  echo "$1 $rc $hash"
}

for f in "$samples"/*.cvtrack; do
  base=$(basename "$f" .cvtrack)
  run "$base" "$f"
  run "$base-hl-1.1" "$f" --heartline=-1.1 --start-speed=20
done
while read -r file args; do
  # shellcheck disable=SC2086  # the options are words
  run "${file%.cvtrack}" "$corpus/$file" $args
done <"$corpus/cases.txt"
