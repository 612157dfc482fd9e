#!/usr/bin/env bash
# scripts/run installs what building and running the tool need, never the
# tests' own tools (the npm reader mdb-reader, the test packages):
# install-deps is run in a copy of the scripts, so what it installs into
# the tree is seen; the system's packages are all present here.
set -euo pipefail
SRC="$1"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/tools/mdb-reader"
cp -r "$SRC/scripts" "$work/"
cp "$SRC/tools/mdb-reader/package.json" "$SRC/tools/mdb-reader/package-lock.json" "$work/tools/mdb-reader/"
status=0
check() {
  local what="$1"; shift
  if "$@"; then echo "ok   $what"; else echo "FAIL $what"; status=1; fi
}

check "scripts/run asks install-deps for what running needs" \
  grep -qF 'PENDRA_DEPS="${PENDRA_DEPS:-run}"' "$work/scripts/run"
check "common.sh passes the purpose to install-deps" grep -qF '"$SRC/scripts/install-deps" "$purpose"' "$work/scripts/common.sh"
run_plan="$("$work/scripts/install-deps" run --dry-run)"
check "install-deps run plans no mdb-reader" bash -c "! grep -q mdb-reader <<<'$run_plan'"
all_plan="$("$work/scripts/install-deps" --dry-run)"
check "install-deps (all) plans mdb-reader" grep -q mdb-reader <<<"$all_plan"
for purpose in run package; do
  "$work/scripts/install-deps" "$purpose" >"$work/$purpose.log" 2>&1 || { cat "$work/$purpose.log"; status=1; }
  check "install-deps $purpose installs no mdb-reader" test ! -e "$work/tools/mdb-reader/node_modules"
done
check "an unknown purpose is refused" bash -c "! '$work/scripts/install-deps' everything 2>/dev/null"
exit "$status"
