#!/usr/bin/env bash
# Runs the real cv-qrn-cli binary on builder-made files and checks exit
# statuses, the one-line error form and the saved bytes.
#   cli_binary_check.sh CLI MAKE_TEST_TRACK VERSION
set -u
cli=$1 make_track=$2 version=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
check() {  # check NAME EXPECTED ACTUAL
    if [ "$2" != "$3" ]; then
        echo "FAIL: $1: expected [$2], got [$3]"
        failures=$((failures + 1))
    fi
}

"$make_track" "$work/full.cvtrack" || exit 1
"$make_track" "$work/straight.cvtrack" straight || exit 1

check "--version" "cv-qrn-cli $version" "$("$cli" --version)"
"$cli" --help >/dev/null; check "--help status" 0 $?

"$cli" roundtrip "$work/full.cvtrack" "$work/copy" >/dev/null; check "roundtrip status" 0 $?

err=$("$cli" roundtrip "$work/missing.cvtrack" "$work/x" 2>&1 >/dev/null); status=$?
check "missing input status" 1 $status
check "missing input message" "cv-qrn-cli: cannot load $work/missing.cvtrack: No such file or directory" "$err"
mkdir "$work/dir.cvtrack"
err=$("$cli" roundtrip "$work/full.cvtrack" "$work/dir.cvtrack" 2>&1 >/dev/null); status=$?
check "directory output status" 1 $status
check "one error line" 1 "$(printf '%s\n' "$err" | wc -l)"
case "$err" in "cv-qrn-cli: cannot save $work/dir.cvtrack: "*) ;; *) check "save error form" "cannot save ..." "$err" ;; esac

out=$("$cli" info "$work/straight.cvtrack"); check "info status" 0 $?
check "info length" "length: 20.000" "$(printf '%s\n' "$out" | grep '^length:')"

if [ $failures -ne 0 ]; then
    echo "$failures check(s) failed"
    exit 1
fi
echo "all cv-qrn-cli checks passed"
