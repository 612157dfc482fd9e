#!/usr/bin/env bash
# Sanitizers: builds the tests once more with AddressSanitizer (with its
# leak checker) and UndefinedBehaviorSanitizer (clang, -DPENDRA_SANITIZE=ON)
# in a build folder of their own and runs them under CTest. Fails on a failing
# test and on any sanitizer report, also one from a child process that a test
# starts: every process writes its reports to files of their own (clang's
# runtime honours log_path; gcc 12's did not), which are counted and shown.
#
# What runs: the core, database and tag import tests and the replays of the
# fuzz targets' kept inputs. Left out: the window (Qt under ASan tests Qt more
# than this code) and everything that drives LibreOffice (spreadsheet layer,
# schedule jobs, batch command): UBSan's vptr check fails on the first call
# through any UNO interface reference, inside UNO's own inline headers, since
# the interfaces' type information lives in LibreOffice's libraries; those
# tests are also the slowest of the run, which has to stay within 30 minutes.
#
# PENDRA_SANITIZE_BUILD_DIR the build folder (default: the main one + "-sanitize")
# PENDRA_QUICK=1            leaves the suite out (a quick local run)
set -uo pipefail

SRC="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
BUILD="${PENDRA_BUILD_DIR:-$SRC/build}"
SAN_BUILD="${PENDRA_SANITIZE_BUILD_DIR:-${BUILD%/}-sanitize}"
processors=$(nproc)

if [ "${PENDRA_QUICK:-0}" = 1 ]; then
  echo "  SKIP  sanitizer run (PENDRA_QUICK=1)"
  exit 0
fi

source "$SRC/scripts/lib/clang-build.sh"
suite_start=$(now_ms)
work="$(mktemp -d /tmp/pendra-sanitize.XXXXXX)"
trap 'rm -rf "$work"' EXIT

# --- Build -----------------------------------------------------------------
echo "-- building the tests with ASan and UBSan (clang) in $SAN_BUILD"
start=$(now_ms)
clang_build "$SAN_BUILD" "the tests with the sanitizers" -DPENDRA_FUZZ=OFF || exit 1
build_seconds=$(seconds_since "$start")
echo "  ok    built in $build_seconds s"

# --- Tests -----------------------------------------------------------------
# Every report goes to a file of its own (name.<pid>), wherever in the tree
# of processes it happens; UBSan stops at the first finding like ASan.
reports="$work/reports"
mkdir -p "$reports"
export ASAN_OPTIONS="log_path=$reports/asan:detect_leaks=1:detect_stack_use_after_return=1:strict_string_checks=1:check_initialization_order=1"
export UBSAN_OPTIONS="log_path=$reports/ubsan:print_stacktrace=1:halt_on_error=1"
export XDG_RUNTIME_DIR="${XDG_RUNTIME_DIR:-$work/xdg}"
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"

echo "-- running the tests under the sanitizers"
start=$(now_ms)
ctest --test-dir "$SAN_BUILD" -j "$processors" --timeout 900 --output-on-failure >"$work/ctest.log" 2>&1
ctest_status=$?
test_seconds=$(seconds_since "$start")
summary=$(grep -E "tests passed|tests failed" "$work/ctest.log" | tail -1)
if [ "$ctest_status" -ne 0 ]; then
  grep -E "^\s*[0-9]+ - |\*\*\*Failed|Failed  |Exception|Timeout" "$work/ctest.log" | head -30
fi

report_files=("$reports"/*)
[ -e "${report_files[0]}" ] || report_files=()
# A report that reached a test's output all the same (a process that reset
# its environment) counts as well.
echoed=$(grep -cE "ERROR: (Address|Leak)Sanitizer|runtime error: " "$work/ctest.log")
if [ "$echoed" -gt 0 ]; then
  grep -E -A12 "ERROR: (Address|Leak)Sanitizer|runtime error: " "$work/ctest.log" | head -60 | sed 's/^/        | /'
fi
for report in "${report_files[@]}"; do
  echo "  report $(basename "$report"):"
  head -40 "$report" | sed 's/^/        | /'
done

tests=$(grep -oE "out of [0-9]+" <<<"$summary" | grep -oE "[0-9]+" || echo 0)
echo "sanitizer run: $tests tests (${summary:-no summary}), $((${#report_files[@]} + echoed)) sanitizer reports;" \
     "build ${build_seconds} s, tests ${test_seconds} s, suite $(seconds_since "$suite_start") s"
[ "$ctest_status" -eq 0 ] && [ "${#report_files[@]}" -eq 0 ] && [ "$echoed" -eq 0 ]
