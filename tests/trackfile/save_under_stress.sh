#!/usr/bin/env bash
# Checks of load and save that need signals or resource limits, on the real
# cv-qrn-cli with builder-made files (run by ./test.sh --all):
# - SIGKILL and SIGTERM at random moments of a 25 MB save leave the complete
#   old or the complete new file; SIGTERM leaves no temporary file, and after
#   one more save no temporary file of ours remains;
# - a file-size limit makes the save fail with a message (exit 1, not death by
#   SIGXFSZ), the old file intact and no temporary file left;
# - a load that runs out of memory exits 1 with one message, never aborts.
#   save_under_stress.sh CLI MAKE_TEST_TRACK [ROUNDS]
set -u
cli=$1 make_track=$2 rounds=${3:-15}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
check() {  # check NAME EXPECTED ACTUAL
    if [ "$2" != "$3" ]; then
        echo "FAIL: $1: expected [$2], got [$3]"
        failures=$((failures + 1))
    fi
}
sum() { sha256sum <"$1" | cut -c1-64; }
temps() { find "$1" -maxdepth 1 -name '.cvqrn-*' | wc -l; }

"$make_track" "$work/large.cvtrack" large || exit 1
"$make_track" "$work/small.cvtrack" || exit 1
mkdir "$work/out"
old=$(sum "$work/small.cvtrack")
new=$(sum "$work/large.cvtrack")  # the builder writes the canonical image

for round in $(seq 1 "$rounds"); do
    for sig in KILL TERM; do
        cp "$work/small.cvtrack" "$work/out/t.cvtrack"
        "$cli" roundtrip "$work/large.cvtrack" "$work/out/t.cvtrack" >/dev/null 2>&1 &
        pid=$!
        sleep "0.$(printf '%03d' $((150 + RANDOM % 350)))"  # the save runs at about 250-450 ms
        kill -s "$sig" "$pid" 2>/dev/null
        wait "$pid" 2>/dev/null
        now=$(sum "$work/out/t.cvtrack")
        if [ "$now" != "$old" ] && [ "$now" != "$new" ]; then
            check "SIG$sig round $round leaves the old or the new file" whole torn
        fi
        [ "$sig" = TERM ] && check "SIGTERM round $round leaves no temp" 0 "$(temps "$work/out")"
    done
done
"$cli" roundtrip "$work/small.cvtrack" "$work/out/t.cvtrack" >/dev/null 2>&1
check "one more save: status" 0 $?
check "one more save: no temp of ours remains" 0 "$(temps "$work/out")"

cp "$work/small.cvtrack" "$work/out/f.cvtrack"
err=$( (ulimit -f 1024; "$cli" roundtrip "$work/large.cvtrack" "$work/out/f.cvtrack") 2>&1 >/dev/null)
check "file-size limit: status" 1 $?
case "$err" in *"File too large"*) ;; *) check "file-size limit: message" "File too large" "$err" ;; esac
check "file-size limit: old file kept" "$old" "$(sum "$work/out/f.cvtrack")"
check "file-size limit: no temp" 0 "$(temps "$work/out")"

err=$( (ulimit -v 40000; "$cli" roundtrip "$work/large.cvtrack" "$work/out/m.cvtrack") 2>&1 >/dev/null)
check "too little memory: status" 1 $?
check "too little memory: one message line" 1 "$(printf '%s\n' "$err" | wc -l)"
case "$err" in *"memory"*) ;; *) check "too little memory: message" "...memory..." "$err" ;; esac

[ $failures -eq 0 ] || { echo "$failures check(s) failed"; exit 1; }
echo "all save and load stress checks passed"
