# Shared by the set-up scripts: the source folder, the build folder and a
# configured, built tree.
set -euo pipefail
SRC="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="${PENDRA_BUILD_DIR:-$SRC/build}"

pendra_build() {
  "$SRC/scripts/install-deps"
  cmake -S "$SRC" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build "$BUILD" -j "$(nproc)"
}
