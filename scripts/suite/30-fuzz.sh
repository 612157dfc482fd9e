#!/usr/bin/env bash
# Fuzzing: builds the fuzz targets of tests/fuzz/ (the master CSV reader, the
# code page 932 decoding, the numeric test, Access files and property blobs)
# with clang as libFuzzer programs under AddressSanitizer and
# UndefinedBehaviorSanitizer, in a build folder of their own; replays their seed corpora and kept crash inputs; then fuzzes
# each target for a bounded time. Prints the executions per target and fails
# on any crash, leak, timeout or sanitizer report. The input of a failure is
# kept in tests/fuzz/regressions/<target>/, where every later build replays
# it as a test: commit it together with the fix.
#
# PENDRA_FUZZ_SECONDS   seconds per target (default: 60 for the CSV reader
#                       and Access files, whose inputs are slow to run and
#                       rich in paths; 30 for the three small decoders,
#                       which run 15,000-150,000 inputs a second)
# PENDRA_FUZZ_JOBS      targets fuzzed at the same time (default: 2, at most
#                       the number of processors)
# PENDRA_FUZZ_BUILD_DIR the build folder (default: the main one + "-fuzz")
# PENDRA_QUICK=1        leaves the suite out (a quick local run)
set -uo pipefail

SRC="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
BUILD="${PENDRA_BUILD_DIR:-$SRC/build}"
FUZZ_BUILD="${PENDRA_FUZZ_BUILD_DIR:-${BUILD%/}-fuzz}"
# The longest first: two at a time, the five end together after 120 s.
TARGETS=(access_file csv_reader cp932_decoding numeric_text jet_properties)
declare -A SECONDS_OF=([access_file]=60 [csv_reader]=60 [cp932_decoding]=30 [numeric_text]=30 [jet_properties]=30)
if [ -n "${PENDRA_FUZZ_SECONDS:-}" ]; then
  for target in "${TARGETS[@]}"; do SECONDS_OF[$target]=$PENDRA_FUZZ_SECONDS; done
fi
processors=$(nproc)
JOBS="${PENDRA_FUZZ_JOBS:-$((processors < 2 ? processors : 2))}"

if [ "${PENDRA_QUICK:-0}" = 1 ]; then
  echo "  SKIP  fuzzing (PENDRA_QUICK=1)"
  exit 0
fi

source "$SRC/scripts/lib/clang-build.sh"
suite_start=$(now_ms)
work="$(mktemp -d /tmp/pendra-fuzz.XXXXXX)"
trap 'rm -rf "$work"' EXIT

# --- Build -----------------------------------------------------------------
echo "-- building the fuzz targets (clang, libFuzzer, ASan, UBSan) in $FUZZ_BUILD"
start=$(now_ms)
clang_build "$FUZZ_BUILD" "the fuzz targets" -DPENDRA_FUZZ=ON -- "${TARGETS[@]/#/pendra_fuzz_}" || exit 1
echo "  ok    built in $(seconds_since "$start") s"

# Reports of either sanitizer end the run with a stack; libFuzzer keeps the input.
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:detect_stack_use_after_return=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"

# --- Replay ----------------------------------------------------------------
echo "-- replaying the seed corpora and the kept crash inputs"
if ! ctest --test-dir "$FUZZ_BUILD" -L fuzz --output-on-failure >"$work/replay.log" 2>&1; then
  tail -40 "$work/replay.log"
  echo "  FAIL  a kept input fails again"
  exit 1
fi
kept_inputs=$(find "$SRC/tests/fuzz/corpus" "$SRC/tests/fuzz/regressions" -type f 2>/dev/null | wc -l)
echo "  ok    $kept_inputs inputs replayed without a report"

# --- Fuzzing ---------------------------------------------------------------
# The corpus each run grows is kept in the build folder, so that local runs
# go on where the last one stopped; the committed seeds stay as they are.
fuzz() {
  local target=$1
  local exe="$FUZZ_BUILD/tests/fuzz/pendra_fuzz_$target"
  local corpus="$FUZZ_BUILD/fuzz-corpus/$target"
  local artifacts="$work/artifacts/$target"
  mkdir -p "$corpus" "$artifacts"
  local args=(-max_total_time="${SECONDS_OF[$target]}" -timeout=10 -rss_limit_mb=2048
              -print_final_stats=1 -artifact_prefix="$artifacts/")
  [ -f "$SRC/tests/fuzz/$target.dict" ] && args+=(-dict="$SRC/tests/fuzz/$target.dict")
  local seeds=("$SRC/tests/fuzz/corpus/$target")
  [ -d "$SRC/tests/fuzz/regressions/$target" ] && seeds+=("$SRC/tests/fuzz/regressions/$target")
  "$exe" "${args[@]}" "$corpus" "${seeds[@]}" >"$work/$target.log" 2>&1
  echo $? >"$work/$target.rc"
}

echo "-- fuzzing ${#TARGETS[@]} targets ($(for t in "${TARGETS[@]}"; do printf '%s %s s, ' "$t" "${SECONDS_OF[$t]}"; done)$JOBS at a time)"
start=$(now_ms)
for target in "${TARGETS[@]}"; do
  while [ "$(jobs -rp | wc -l)" -ge "$JOBS" ]; do wait -n; done
  fuzz "$target" &
done
wait
fuzz_seconds=$(seconds_since "$start")

failures=0
total=0
for target in "${TARGETS[@]}"; do
  log="$work/$target.log"
  rc=$(cat "$work/$target.rc" 2>/dev/null || echo 1)
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
  corpus_size=$(find "$FUZZ_BUILD/fuzz-corpus/$target" -type f | wc -l)
  total=$((total + ${runs:-0}))
  mkdir -p "$FUZZ_BUILD/fuzz-logs"
  cp "$log" "$FUZZ_BUILD/fuzz-logs/$target.log"
  echo "fuzz executions: $target ${runs:-?} (${rate:-?}/s, corpus $corpus_size inputs)"
  if [ "$rc" != 0 ]; then
    failures=$((failures + 1))
    echo "  FAIL  $target ended with status $rc:"
    grep -E "check failed|runtime error|ERROR: |SUMMARY|in LLVMFuzzerTestOneInput|in pendra::|Test unit written" \
      "$log" | head -40 | sed 's/^/        | /'
    echo "        whole log: $FUZZ_BUILD/fuzz-logs/$target.log"
    kept="$SRC/tests/fuzz/regressions/$target"
    mkdir -p "$kept"
    for input in "$work/artifacts/$target"/{crash,leak,timeout,oom}-*; do
      [ -f "$input" ] || continue
      cp "$input" "$kept/"
      echo "        input kept as ${kept#"$SRC"/}/$(basename "$input")"
    done
  fi
done
echo "fuzz executions: $total in total, ${fuzz_seconds} s of fuzzing, $(seconds_since "$suite_start") s in all"
[ "$failures" -eq 0 ]
