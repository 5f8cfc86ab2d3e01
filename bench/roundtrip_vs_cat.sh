#!/usr/bin/env bash
# bench/roundtrip_vs_cat.sh BUILD [REPETITIONS]: the load and save round trip
# of the large track (about 25 MB: terrain, 100,000 scenery entries, 20,000
# vertices) as whole processes, `cv-qrn-cli roundtrip IN OUT`, against a plain
# copy of the same file, `cat IN > COPY` and `sync COPY` (the copy flushed to
# disk as the save flushes its file), taking turns in one run. Prints the
# fastest of REPETITIONS (7) each, the ratio (goal: at most 3) and the round
# trip's peak memory from /usr/bin/time -v (goal: at most 1.2 times the file's
# size plus 16 MB). The files live in TMPDIR (default /tmp).
set -euo pipefail
build=${1:?usage: roundtrip_vs_cat.sh BUILD [REPETITIONS]}
repetitions=${2:-7}
cli=$build/cli/cv-qrn-cli
work=$(mktemp -d "${TMPDIR:-/tmp}/cvqrn-roundtrip-XXXXXX")
trap 'rm -rf "$work"' EXIT
"$build/bench/make_large_track" "$work/large.cvtrack"
size=$(stat -c %s "$work/large.cvtrack")

ms() { echo $(( ($2 - $1) / 1000000 )); }
best_roundtrip=999999
best_copy=999999
for _ in $(seq "$repetitions"); do
  t0=$(date +%s%N)
  "$cli" roundtrip "$work/large.cvtrack" "$work/out.cvtrack" >/dev/null
  t1=$(date +%s%N)
  cat "$work/large.cvtrack" >"$work/copy.cvtrack"
  sync "$work/copy.cvtrack"
  t2=$(date +%s%N)
  best_roundtrip=$(( $(ms "$t0" "$t1") < best_roundtrip ? $(ms "$t0" "$t1") : best_roundtrip ))
  best_copy=$(( $(ms "$t1" "$t2") < best_copy ? $(ms "$t1" "$t2") : best_copy ))
done
cmp -s "$work/large.cvtrack" "$work/out.cvtrack" || { echo "the round trip changed the file" >&2; exit 1; }

# Peak resident memory in kB, and the user and system seconds, of one round trip.
report=$(/usr/bin/time -v "$cli" roundtrip "$work/large.cvtrack" "$work/out.cvtrack" 2>&1 >/dev/null)
peak_kb=$(sed -n 's/^\s*Maximum resident set size (kbytes): //p' <<<"$report")
user=$(sed -n 's/^\s*User time (seconds): //p' <<<"$report")
system=$(sed -n 's/^\s*System time (seconds): //p' <<<"$report")
limit_kb=$(( size * 12 / 10 / 1024 + 16 * 1024 ))

echo "round trip of a $(( size / 1000 )) kB track (fastest of $repetitions):"
echo "  cv-qrn-cli roundtrip   ${best_roundtrip} ms  (user ${user} s, system ${system} s)"
echo "  cat + sync FILE        ${best_copy} ms"
awk -v a="$best_roundtrip" -v b="$best_copy" \
  'BEGIN { printf "  ratio                  %.2f x  (goal: at most 3)\n", a / (b > 0 ? b : 1) }'
echo "  peak memory            $(( peak_kb / 1024 )) MB  (goal: at most $(( limit_kb / 1024 )) MB," \
     "$(awk -v p="$peak_kb" -v s="$size" 'BEGIN { printf "%.2f", p * 1024 / s }') x the file)"
