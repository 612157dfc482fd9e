#!/usr/bin/env bash
# Benchmarks that still work: every benchmark program once with --smoke
# (tiny sizes, one pair; a few seconds each), through scripts/bench on the
# programs scripts/test built. A benchmark whose job or reference fails, or
# that no longer takes its options, fails the suite; the figures of so short
# a run mean nothing and are not judged. The full runs stay out of the test
# run: scripts/bench.
set -uo pipefail
export LC_ALL=C.UTF-8

SRC="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
start=$(date +%s)
PENDRA_BUILD_DIR="${PENDRA_BUILD_DIR:-$SRC/build}" "$SRC/scripts/bench" --smoke --no-build
status=$?
echo "  suite time: $(( $(date +%s) - start )) s"
[ "$status" -eq 0 ] || echo "bench smoke: FAILED (see above)"
exit "$status"
