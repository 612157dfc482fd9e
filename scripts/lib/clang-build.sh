# Sourced by the suites that build a tree of their own with clang under
# AddressSanitizer and UndefinedBehaviorSanitizer (fuzzing, the sanitizer
# run). Expects SRC (the source folder) and work (a scratch folder for logs).

now_ms() { echo $(($(date +%s%N) / 1000000)); }
seconds_since() { awk -v ms="$(($(now_ms) - $1))" 'BEGIN { printf "%.1f", ms / 1000 }'; }

# clang_build DIR WHAT [CMAKE OPTION...] [-- TARGET...]
# Configures DIR with clang, the sanitizers on and the window and the
# spreadsheet layer off, then builds the targets named (all without any).
# Prints the tail of the failing log and "FAIL" with WHAT, and returns 1.
clang_build() {
  local dir="$1" what="$2"
  shift 2
  local options=() targets=()
  while [ $# -gt 0 ] && [ "$1" != "--" ]; do options+=("$1"); shift; done
  [ $# -gt 0 ] && shift
  for target in "$@"; do targets+=(--target "$target"); done
  if ! cmake -S "$SRC" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
        -DPENDRA_WITH_GUI=OFF -DPENDRA_WITH_EXCEL=OFF -DPENDRA_SANITIZE=ON \
        "${options[@]}" >"$work/configure.log" 2>&1; then
    tail -30 "$work/configure.log"
    echo "  FAIL  configuring $what"
    return 1
  fi
  if ! cmake --build "$dir" -j "$(nproc)" "${targets[@]}" >"$work/build.log" 2>&1; then
    grep -E "error|FAILED" "$work/build.log" | head -30
    echo "  FAIL  building $what"
    return 1
  fi
}
