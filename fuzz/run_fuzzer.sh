#!/usr/bin/env bash
# Runs the track loader fuzzer for a while, seeded by the track builder.
#   fuzz/run_fuzzer.sh BUILD_DIR SECONDS
# BUILD_DIR is a build of the "fuzz" preset. Exits non-zero on a finding; the
# input that caused it is left in BUILD_DIR/fuzz/findings/.
set -euo pipefail
if [ $# -ne 2 ]; then
  echo "usage: $0 BUILD_DIR SECONDS" >&2
  exit 2
fi
build=$1
seconds=$2
here=$(cd "$(dirname "$0")" && pwd)
work="$build/fuzz"
fuzzer="$work/fuzz_track_load"
for exe in "$fuzzer" "$work/write_fuzz_seeds"; do
  if [ ! -x "$exe" ]; then
    echo "$0: $exe is missing; build the fuzz preset first" >&2
    exit 2
  fi
done

rm -rf "$work/seeds" "$work/findings"
mkdir -p "$work/seeds" "$work/corpus" "$work/findings"
"$work/write_fuzz_seeds" "$work/seeds"

log="$work/fuzz.log"
echo "Fuzzing the track loader for ${seconds} s (log: $log)"
status=0
"$fuzzer" -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=10 \
  -dict="$here/track_tags.dict" -artifact_prefix="$work/findings/" -print_final_stats=1 \
  "$work/corpus" "$work/seeds" >"$log" 2>&1 || status=$?
if [ "$status" -ne 0 ] || [ -n "$(ls -A "$work/findings")" ]; then
  tail -n 60 "$log"
  echo "FUZZER FINDING (exit status $status); inputs in $work/findings/" >&2
  exit 1
fi
grep -E '^(Done|stat::number_of_executed_units|stat::peak_rss_mb)' "$log" || true
echo "Fuzzer: no finding in ${seconds} s"
