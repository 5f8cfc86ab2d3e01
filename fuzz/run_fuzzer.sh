#!/usr/bin/env bash
# Runs every fuzz harness at once, each for SECONDS, from the committed corpus
# (fuzz/corpus/HARNESS/) and the seeds the track builder writes, with the
# chunk-tag dictionary.
#   fuzz/run_fuzzer.sh BUILD_DIR SECONDS          (CI: new inputs stay in BUILD_DIR)
#   fuzz/run_fuzzer.sh --long BUILD_DIR SECONDS   (then merges the inputs of at
#                                                  most 1 KB that add coverage to
#                                                  the seeds' into fuzz/corpus/)
# BUILD_DIR is a build of the "fuzz" preset. Exits non-zero on a finding; the
# input that caused it is left in BUILD_DIR/fuzz/findings/HARNESS/.
set -euo pipefail
long=0
if [ "${1:-}" = "--long" ]; then
  long=1
  shift
fi
if [ $# -ne 2 ]; then
  echo "usage: $0 [--long] BUILD_DIR SECONDS" >&2
  exit 2
fi
build=$1
seconds=$2
# A unit that runs longer than this counts as a hang. Under the fuzzer's
# instrumentation (ASan, UBSan, coverage) the heartline runs about 16 times
# slower than in the package: the smooth rebuild refusing a 400 m track with
# loops takes 8 s there (half a second in the package), and libFuzzer's own
# 10 s limit for a slow unit failed CI on a mutation of it. 30 s still
# catches a loop that never ends within one run.
timeout=30
here=$(cd "$(dirname "$0")" && pwd)
work="$build/fuzz"
harnesses=(fuzz_track_load fuzz_track_file fuzz_heartline)
for exe in "${harnesses[@]}" write_fuzz_seeds; do
  if [ ! -x "$work/$exe" ]; then
    echo "$0: $work/$exe is missing; build the fuzz preset first" >&2
    exit 2
  fi
done

rm -rf "$work/seeds" "$work/findings"
mkdir -p "$work/seeds"
"$work/write_fuzz_seeds" "$work/seeds"

# Adds to the committed corpus of harness $1 the inputs of at most 1 KB from
# $2 that reach what neither the committed corpus nor the seeds reach. The
# seeds are written afresh at every run, so they are not committed.
merge_into_committed() {
  local h=$1 found=$2 committed="$here/corpus/$1" tmp f
  tmp=$(mktemp -d)
  mkdir "$tmp/base" "$tmp/new"
  cp -r "$work/seeds"/. "$tmp/base/"
  cp -r "$committed"/. "$tmp/base/"
  find "$found" -type f -size -1025c -exec cp {} "$tmp/new/" \;
  "$work/$h" -merge=1 -timeout="$timeout" "$tmp/base" "$tmp/new" >>"$work/$h.log" 2>&1
  for f in "$tmp/base"/*; do
    [ -e "$work/seeds/$(basename "$f")" ] || cp "$f" "$committed/"
  done
  rm -rf "$tmp"
  echo "   committed corpus: $(ls "$committed" | wc -l) inputs," \
       "$(find "$committed" -type f -printf "%s\n" | awk "{s += \$1} END {print s + 0}") bytes"
}

# The three harnesses fuzz side by side, each for SECONDS of wall time, so the
# run takes SECONDS whatever the number of cores; each harness writes only
# below its own folders and log.
pids=()
for h in "${harnesses[@]}"; do
  scratch="$work/corpus/$h" committed="$here/corpus/$h" findings="$work/findings/$h"
  mkdir -p "$scratch" "$committed" "$findings"
  echo "Fuzzing $h for ${seconds} s (log: $work/$h.log)"
  "$work/$h" -max_total_time="$seconds" -rss_limit_mb=2048 -timeout="$timeout" \
    -report_slow_units="$timeout" \
    -dict="$here/track_tags.dict" -artifact_prefix="$findings/" -print_final_stats=1 \
    "$scratch" "$committed" "$work/seeds" >"$work/$h.log" 2>&1 &
  pids+=("$!")
done

status=0
for i in "${!harnesses[@]}"; do
  h=${harnesses[$i]} findings="$work/findings/${harnesses[$i]}"
  log="$work/$h.log"
  rc=0
  wait "${pids[$i]}" || rc=$?
  if [ "$rc" -ne 0 ] || [ -n "$(ls -A "$findings")" ]; then
    tail -n 60 "$log"
    echo "FUZZER FINDING in $h (exit status $rc); inputs in $findings/" >&2
    status=1
    continue
  fi
  echo "$h:"
  grep -E '^(Done|stat::number_of_executed_units|stat::peak_rss_mb)' "$log" || true
  grep -E '^#[0-9]+[[:space:]]+DONE' "$log" | tail -n 1 || true
  if [ "$long" -eq 1 ]; then
    merge_into_committed "$h" "$work/corpus/$h"
  fi
done
[ "$status" -eq 0 ] && echo "Fuzzers: no finding in ${seconds} s each"
exit "$status"
