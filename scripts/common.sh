# Shared by the set-up scripts: the source folder, the build folder and a
# configured, built tree.
set -euo pipefail
SRC="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="${PENDRA_BUILD_DIR:-$SRC/build}"

# What install-deps installs before configuring: PENDRA_DEPS names the
# purpose (run, package; all by default, as scripts/test needs). Where the
# test packages are not installed the tests are configured out.
pendra_configure() {
  local purpose="${PENDRA_DEPS:-all}" tests=ON
  "$SRC/scripts/install-deps" "$purpose"
  if [ "$purpose" != all ] && ! dpkg-query -W -f='${Status}' libgtest-dev 2>/dev/null | grep -q "install ok installed"; then
    tests=OFF
  fi
  cmake -S "$SRC" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPENDRA_BUILD_TESTS="$tests" >/dev/null
}

# Builds the targets named, or everything (tests and benchmarks included)
# when none is: a script that only runs the program builds only what it
# runs.
pendra_build() {
  pendra_configure
  if [ $# -eq 0 ]; then
    cmake --build "$BUILD" -j "$(nproc)"
  else
    cmake --build "$BUILD" -j "$(nproc)" --target "$@"
  fi
}

# The window program is part of the build unless it was configured out.
pendra_with_gui() { grep -q '^PENDRA_WITH_GUI:BOOL=ON' "$BUILD/CMakeCache.txt"; }

# The desktop Calc: the workbooks the tool writes are edited in it, and the
# office without a window cannot open them ("Unspecified Application
# Error"). It takes the place of the no-GUI office; the jobs drive either
# one invisibly.
pendra_install_desktop_calc() {
  if dpkg-query -W -f='${Status}' libreoffice-calc 2>/dev/null | grep -q "install ok installed"; then return 0; fi
  local sudo=""
  if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
  echo "installing libreoffice-calc (the desktop Calc, to edit the workbooks)"
  DEBIAN_FRONTEND=noninteractive $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends libreoffice-calc
}
