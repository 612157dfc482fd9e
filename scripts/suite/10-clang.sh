#!/usr/bin/env bash
# Clang: runs clang-tidy with the checks of .clang-tidy over the product's
# own sources (the window, the batch command, the layers, the jobs and the
# tools), configured for clang in a build folder of their own. clang-tidy
# compiles every file with clang's front end, so code only gcc accepts fails
# here as a compile error. Nothing is built but the UNO type headers, the
# one thing the sources include from the build; the sanitizer run links most
# of the product with clang. Fails on a compile error and on any clang-tidy
# finding that .clang-tidy or a NOLINT with its reason does not excuse.
#
# PENDRA_CLANG_BUILD_DIR the build folder (default: the main one + "-clang")
# PENDRA_QUICK=1         leaves the suite out (a quick local run)
set -uo pipefail

SRC="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
BUILD="${PENDRA_BUILD_DIR:-$SRC/build}"
CLANG_BUILD="${PENDRA_CLANG_BUILD_DIR:-${BUILD%/}-clang}"

if [ "${PENDRA_QUICK:-0}" = 1 ]; then
  echo "  SKIP  clang build and clang-tidy (PENDRA_QUICK=1)"
  exit 0
fi

source "$SRC/scripts/lib/clang-build.sh"
work="$(mktemp -d /tmp/pendra-clang.XXXXXX)"
trap 'rm -rf "$work"' EXIT

# --- Configure ---------------------------------------------------------------
echo "-- configuring the product for clang in $CLANG_BUILD"
start=$(now_ms)
clang_build "$CLANG_BUILD" "the product for clang" \
  -DPENDRA_WITH_GUI=ON -DPENDRA_WITH_EXCEL=ON -DPENDRA_SANITIZE=OFF -DPENDRA_BUILD_TESTS=OFF -- pendra_uno_headers || exit 1
echo "  ok    configured, UNO headers generated in $(seconds_since "$start") s"

# --- clang-tidy --------------------------------------------------------------
# The product's own translation units; its headers are checked through them
# (HeaderFilterRegex in .clang-tidy). Generated and third-party code is not.
mapfile -t files < <(cd "$SRC" && git ls-files 'app/*.cpp' 'backups/*.cpp' 'cli/*.cpp' 'platform/*.cpp' 'schedule/*.cpp' \
                                    'tagimport/*.cpp' 'accessimport/*.cpp' 'tools/*.cpp' | sed "s|^|$SRC/|")
echo "-- clang-tidy over ${#files[@]} files of the product"
start=$(now_ms)
run-clang-tidy-14 -p "$CLANG_BUILD" -quiet -j "$(nproc)" "${files[@]}" >"$work/tidy.log" 2>&1
tidy_status=$?
findings=$(sed 's/\x1b\[[0-9;]*m//g' "$work/tidy.log" | grep -E "^/.*: (warning|error): " | sort -u)
count=$(printf '%s' "$findings" | grep -c . || true)
if [ "$tidy_status" -ne 0 ] || [ "$count" -ne 0 ]; then
  if [ -n "$findings" ]; then
    printf '%s\n' "$findings" | head -40
  else
    sed 's/\x1b\[[0-9;]*m//g' "$work/tidy.log" | tail -30
  fi
  echo "  FAIL  clang-tidy: $count findings (fix them, or excuse each with a reason; an error is code clang does not compile)"
  exit 1
fi
echo "  ok    clang-tidy: no findings in ${#files[@]} files ($(seconds_since "$start") s)"
echo "clang: the product compiles with clang, clang-tidy clean"
