#!/usr/bin/env bash
# Reliability: the batch command killed mid-job (20 SIGKILLs over an
# expansion of 1000 + 32765 rows and over an import of 100,000 records), its
# office killed mid-job, its databases locked by another process, and a table
# of inputs no one should trust. Runs the gtest program
# tests/reliability/pendra_reliability_tests on its own, after the CTest run:
# its kill moments are measured against a whole run, which two tests running
# beside it on a two-core machine would skew, and its figures are shown here,
# where CTest would hide a passing test's output. Exits non-zero when
# anything was lost, left behind or reported wrongly.
set -uo pipefail
export LC_ALL=C.UTF-8

SRC="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
BUILD="$(cd "${PENDRA_BUILD_DIR:-$SRC/build}" && pwd)"
PROGRAM="$BUILD/tests/reliability/pendra_reliability_tests"

if [ ! -x "$PROGRAM" ]; then
  echo "reliability: $PROGRAM is not built (a build without the spreadsheet layer?); skipped"
  exit 0
fi

# Offices started by the suite keep their profiles in a runtime folder of
# their own, removed at the end.
own_runtime=""
if [ -z "${XDG_RUNTIME_DIR:-}" ] || [ ! -w "${XDG_RUNTIME_DIR}" ]; then
  own_runtime="$(mktemp -d /tmp/pendra-xdg.XXXXXX)"
  export XDG_RUNTIME_DIR="$own_runtime"
fi
chmod 700 "$XDG_RUNTIME_DIR"
log="$(mktemp /tmp/pendra-reliability.XXXXXX)"
trap 'rm -f "$log"; [ -n "$own_runtime" ] && rm -rf "$own_runtime"' EXIT

start=$(date +%s)
"$PROGRAM" --gtest_color=no 2>&1 | tee "$log" | grep -a -v '^\[ RUN  '
status=${PIPESTATUS[0]}
seconds=$(( $(date +%s) - start ))

echo "-- reliability figures"
grep -a -E 'kills survived:|kills timed inside|offices of killed runs|profile folders left' "$log" | sed 's/^  figure: /  /'
grep -a 'lock wait:' "$log" | sed 's/^  figure: /  /'
grep -a 'office killed' "$log" | sed 's/^  figure: /  /'
inputs=$(grep -a -o 'inputs tried: [0-9]*' "$log" | awk '{ n += $3 } END { print n + 0 }')
survived=$(grep -a -o 'kills survived: [0-9]*/[0-9]*' "$log" | awk -F'[ /]' '{ s += $3; t += $4 } END { printf "%d/%d", s, t }')
echo "  kills survived: $survived (the series spread over each run, 20 kills per job)"
echo "  inputs tried: $inputs"
echo "  suite time: ${seconds} s"
if [ "$status" -ne 0 ]; then
  echo "reliability: FAILED (see the failures above)"
fi
exit "$status"
