#!/usr/bin/env bash
# Sets everything up on a fresh Debian 12 machine, builds and runs every test.
#   ./test.sh        unit and widget tests (ends with CTest's summary)
#   ./test.sh --all  the whole suite under ASan + UBSan (its sweeps over
#                    layouts thinned to every third case), the three fuzzers
#                    side by side for 30 seconds, the package (its output
#                    against the dev build's), its window under Xvfb, the
#                    suite built as the package is, and the browser page in
#                    headless Chromium, beside which a clang build's output
#                    is compared with GCC's and the benchmarks are built
set -euo pipefail
cd "$(dirname "$0")"
source scripts/setup.sh

all=0
for arg in "$@"; do
  case "$arg" in
    --all) all=1 ;;
    -h|--help) sed -n '2,10p' "$0"; exit 0 ;;
    *) echo "test.sh: unknown option '$arg'" >&2; exit 2 ;;
  esac
done

if [ "$all" -eq 1 ]; then
  cvqrn_packages+=("${cvqrn_web_packages[@]}")
fi
cvqrn_install_missing
jobs=$(nproc)

# Each section's header carries the seconds since the start and the CPU
# seconds every command so far has taken, so a slow CI run shows where its
# time went even on a machine others share.
cpu_seconds() {
  local stat
  read -ra stat <"/proc/$$/stat"  # fields 16 and 17: waited-for children's CPU
  echo $(((stat[15] + stat[16]) / $(getconf CLK_TCK)))
}
section() { echo "== $1 (at ${SECONDS} s, CPU $(cpu_seconds) s) =="; }

if [ "$all" -eq 1 ]; then
  section "Sanitizer build (ASan + UBSan)"
  cmake --preset asan >/dev/null
  cmake --build --preset asan -j "$jobs"
  # Every test runs; the smooth rebuild's sweeps over many layouts take every
  # third of their cases here (the suite built as the package is rides them
  # all below): a smooth rebuild runs some 4 times slower under the
  # sanitizers, and those sweeps were most of this section's time.
  CVQRN_SWEEP_STRIDE=3 ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
    UBSAN_OPTIONS=print_stacktrace=1 QT_QPA_PLATFORM=offscreen ctest --preset asan -j "$jobs"

  section "Fuzzers (30 s, side by side) and the clang release build"
  # The harnesses and the command line the clang comparison runs, nothing else
  # of the clang build (its window logic and sample tools take part in no check).
  cmake --preset fuzz >/dev/null
  cmake --build --preset fuzz -j "$jobs" --target fuzz_track_load fuzz_track_file \
    fuzz_heartline write_fuzz_seeds cv-qrn-cli
  bash fuzz/run_fuzzer.sh build/fuzz 30

  # The package's and clang's command lines are both compared with the dev
  # build's on the same samples and layouts: the dev build's listings are
  # made once and kept here for the second comparison.
  CVQRN_COMPARE_KEEP=$(mktemp -d)
  export CVQRN_COMPARE_KEEP
  trap 'rm -rf "$CVQRN_COMPARE_KEEP"' EXIT

  section "Debian package (built, unpacked and tried)"
  bash packaging/check_package.sh build/release build/dev

  # The window the package ships, not a build of it no user runs.
  section "The real window under Xvfb"
  bash tests/ui/xvfb_smoke.sh build/release/app/cv-qrn
  bash tests/ui/xvfb_profile.sh build/release/app/cv-qrn

  section "The suite built as the package is (release)"
  QT_QPA_PLATFORM=offscreen ctest --preset release -j "$jobs"

  section "The browser page (WebAssembly) in headless Chromium; beside it clang's bytes against GCC's and the benchmarks"
  bash web/check_page.sh --build
  # The page's checks wait on the browser most of the time and leave a core
  # idle; meanwhile, at a lower priority and one after the other:
  # - clang's command line (the fuzz preset builds the project as the clang
  #   preset does, beside the harnesses) against the dev build's, default and
  #   smooth rebuild;
  # - the benchmarks, in the package's build, so that they keep compiling.
  # The dev build makes only the command line and the tools the comparisons
  # use: the suite ran above as the package builds it and under the
  # sanitizers, and a third run at -O2 would guard nothing more (the dev
  # build's bytes are compared with the package's, clang's and the page's).
  beside_log=$(mktemp)
  (
    set -e
    echo "-- clang writes the same bytes as GCC"
    nice tests/corpus/compare_builds.sh build/dev/cli/cv-qrn-cli build/fuzz/cli/cv-qrn-cli \
      build/dev/samples/make_corpus 100
    CVQRN_CORPUS_OPTIONS=--smooth nice tests/corpus/compare_builds.sh build/dev/cli/cv-qrn-cli \
      build/fuzz/cli/cv-qrn-cli build/dev/samples/make_corpus 100
    echo "-- the benchmarks, built as the package is"
    nice cmake -S . -B build/release -DCVQRN_BUILD_BENCH=ON >/dev/null
    nice cmake --build build/release -j "$jobs" --target benchmarks
  ) >"$beside_log" 2>&1 &
  beside=$!
  page_status=0
  bash web/check_page.sh --test || page_status=$?
  beside_status=0
  wait "$beside" || beside_status=$?
  cat "$beside_log"
  rm -f "$beside_log"
  [ "$page_status" -eq 0 ] || { echo "test.sh: the browser page's checks failed" >&2; exit 1; }
  [ "$beside_status" -eq 0 ] || { echo "test.sh: the checks beside the page failed" >&2; exit 1; }
  section "All checks passed"
  exit 0
fi

section "Build and unit tests"
cmake --preset dev >/dev/null
cmake --build --preset dev -j "$jobs"
QT_QPA_PLATFORM=offscreen ctest --preset dev -j "$jobs"
