#!/usr/bin/env bash
# Packaging: builds the Debian package with CPack and checks it: its control
# data and file list, the folder it unpacks to and how its data seeding treats
# existing databases and a changed template; then, as root on a machine where
# nothing of it is installed yet, a real installation with apt-get, the
# installed programs on the demo data, a reinstallation over changed data,
# removal and purge. Leaves the machine as it found it. Prints its figures and
# exits non-zero when a check fails.
#
# PENDRA_PACKAGE_INSTALL=0 leaves out the real installation.
set -uo pipefail
export LC_ALL=C.UTF-8  # file names as text in listings; LibreOffice wants UTF-8

SRC="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
BUILD="$(cd "${PENDRA_BUILD_DIR:-$SRC/build}" && pwd)"
VERSION=$(sed -n 's/^project(Pendra_Set VERSION \([0-9.]*\).*/\1/p' "$SRC/CMakeLists.txt")
DEB_NAME="pendra-set_${VERSION}_amd64.deb"
DEB="$BUILD/$DEB_NAME"
PREFIX=/opt/pendra-set
# The fixed places as the build read them from the programs' own definition.
cached() { sed -n "s/^$1:INTERNAL=//p" "$BUILD/CMakeCache.txt"; }
TEMPLATE="$(cached PENDRA_TEMPLATE_NAME)"
read -r -a DATABASES <<<"$(cached PENDRA_DATABASE_FILES)"
SCHEDULE_DIR="$(cached PENDRA_SCHEDULE_DIR)"
TAG_DIR="$(cached PENDRA_TAG_DIR)"

work="$(mktemp -d /tmp/pendra-package.XXXXXX)"
checks=0
failures=0
installed_here=0
group_existed=1
user_made=0

pass() { checks=$((checks + 1)); echo "  ok    $1"; }
fail() { checks=$((checks + 1)); failures=$((failures + 1)); echo "  FAIL  $1"; }
# check DESCRIPTION COMMAND...: passes when the command succeeds.
check() {
  local what=$1
  shift
  if "$@" >"$work/check.log" 2>&1; then pass "$what"; else
    fail "$what"
    sed 's/^/        | /' "$work/check.log" | tail -15
  fi
}
sum() { sha256sum "$1" | cut -d' ' -f1; }
seconds_since() { echo "$(($(date +%s%N) / 1000000 - $1))" | awk '{printf "%.1f", $1 / 1000}'; }
now_ms() { echo $(($(date +%s%N) / 1000000)); }
finish() {
  echo "package checks: $checks, failed: $failures"
  [ "$failures" -eq 0 ]
  exit
}

# Whatever happens, a package installed by this script goes again, with every
# file it left (nothing of it was there before), and so does the group.
cleanup() {
  if [ "$user_made" = 1 ]; then userdel pendra-pkgcheck || true; fi
  if [ "$installed_here" = 1 ]; then
    dpkg --purge pendra-set >/dev/null 2>&1 || true
    rm -rf "$PREFIX" /var/lib/pendra-set
    if [ "$group_existed" = 0 ] && getent group pendra >/dev/null; then groupdel pendra || true; fi
  fi
  rm -rf "$work"
}
trap cleanup EXIT

# --- Build -----------------------------------------------------------------
echo "-- building $DEB_NAME"
cmake --build "$BUILD" --target pendra_package_data pendra_manpage >"$work/build.log" 2>&1 ||
  { cat "$work/build.log"; fail "package data builds"; finish; }
rm -f "$DEB"
start=$(now_ms)
if ! (cd "$BUILD" && cpack -G DEB) >"$work/cpack.log" 2>&1; then
  tail -30 "$work/cpack.log"
  fail "cpack builds the package"
  finish
fi
cpack_seconds=$(seconds_since "$start")
check "cpack wrote $DEB_NAME" test -f "$DEB"
[ -f "$DEB" ] || finish

# --- Control data ----------------------------------------------------------
echo "-- control data (dpkg-deb -I)"
field() { dpkg-deb -f "$DEB" "$1"; }
check "Package is pendra-set" test "$(field Package)" = pendra-set
check "Version is $VERSION" test "$(field Version)" = "$VERSION"
check "Architecture is amd64" test "$(field Architecture)" = amd64
depends="$(field Depends)"
echo "   Depends: $depends"
# Each entry must appear as a whole item (an alternative group or a package
# with an optional version), not as part of another name.
depends_on() {
  tr ',' '\n' <<<"$depends" | sed 's/^ *//; s/ *(.*)//' | grep -qxF "$1"
}
for dep in libqt6widgets6 libqt6gui6 libqt6core6 libsqlite3-0 libuno-sal3 libuno-cppu3 \
           "libreoffice-calc-nogui | libreoffice-calc" fonts-ipafont-gothic qt6-translations-l10n; do
  check "depends on $dep" depends_on "$dep"
done
dpkg-deb -e "$DEB" "$work/control"
for script in postinst postrm; do
  check "maintainer script $script is executable" test -x "$work/control/$script"
  check "maintainer script $script is valid shell" sh -n "$work/control/$script"
done

# --- File list -------------------------------------------------------------
echo "-- files (dpkg-deb -c)"
dpkg-deb -c "$DEB" >"$work/contents.txt"
# Just the paths, with link targets after " -> ".
awk '{ $1=$2=$3=$4=$5=""; sub(/^ +/, ""); print }' "$work/contents.txt" >"$work/paths.txt"
has_path() { grep -qxF "$1" "$work/paths.txt"; }
for path in "./opt/pendra-set/Pendra_Set" "./opt/pendra-set/pendra" \
            "./opt/pendra-set/share/pendra-seed-data" \
            "./opt/pendra-set/share/defaults/$TEMPLATE" \
            "./opt/pendra-set/share/defaults/${DATABASES[0]}" \
            "./opt/pendra-set/share/defaults/${DATABASES[1]}" \
            "./usr/bin/pendra -> /opt/pendra-set/pendra" \
            "./usr/share/applications/Pendra_Set.desktop" \
            "./usr/share/icons/hicolor/32x32/apps/Pendra_Set.png" \
            "./usr/share/man/man1/pendra.1.gz"; do
  check "package holds $path" has_path "$path"
done
# The live data are made by the postinst only: a file in the package at their
# place would be overwritten by every upgrade.
for path in "./opt/pendra-set/$TEMPLATE" "./opt/pendra-set/${DATABASES[0]}" "./opt/pendra-set/${DATABASES[1]}"; do
  check "package leaves $path to the installation" bash -c "! grep -qxF '$path' '$work/paths.txt'"
done
file_count=$(grep -vc '/$' "$work/paths.txt")
sed 's/^/   /' "$work/contents.txt" | grep -v '/$'

# --- Unpacked into a throw-away root ---------------------------------------
echo "-- unpacked into a throw-away root"
root="$work/root"
dpkg-deb -x "$DEB" "$root"
base="$root$PREFIX"
for program in Pendra_Set pendra; do
  [ -f "$base/$program" ] || continue
  check "$program is an executable" test -x "$base/$program"
  check "$program is stripped" bash -c "file -b '$base/$program' | grep -q ', stripped'"
  check "$program finds all its libraries" bash -c "! ldd '$base/$program' | grep -q 'not found'"
  runpath="$(readelf -d "$base/$program" | sed -n 's/.*R\(UN\)\?PATH.*\[\(.*\)\]/\2/p')"
  check "$program's RUNPATH is only LibreOffice's ('$runpath')" \
    bash -c "[ -z '$runpath' ] || [ '$runpath' = /usr/lib/libreoffice/program ]"
done
check "no file holds the source or build path" \
  bash -c "! grep -rlaF -e '$SRC/' -e '$BUILD/' '$root'"
check "/usr/bin/pendra links to $PREFIX/pendra" test "$(readlink "$root/usr/bin/pendra")" = "$PREFIX/pendra"
check "pendra --version through the unpacked folder" \
  test "$("$base/pendra" --version)" = "pendra (Pendra_Set) $VERSION"

desktop="$root/usr/share/applications/Pendra_Set.desktop"
entry() { sed -n "s/^$1=//p" "$desktop"; }
check "desktop entry starts $PREFIX/Pendra_Set" test "$(entry Exec)" = "$PREFIX/Pendra_Set"
check "desktop entry's program is in the package" test -x "$root$(entry Exec)"
check "desktop entry has an English name" test "$(entry Name)" = Pendra_Set
check "desktop entry has a Japanese name" test -n "$(entry 'Name\[ja\]')"
check "desktop entry has a Japanese comment" test -n "$(entry 'Comment\[ja\]')"
check "desktop entry's icon is installed" \
  test -f "$root/usr/share/icons/hicolor/32x32/apps/$(entry Icon).png"
check "icon is a 32 x 32 PNG" \
  bash -c "file -b '$root/usr/share/icons/hicolor/32x32/apps/Pendra_Set.png' | grep -q 'PNG image data, 32 x 32'"
if command -v desktop-file-validate >/dev/null; then
  check "desktop-file-validate accepts the entry" desktop-file-validate "$desktop"
fi
man="$root/usr/share/man/man1/pendra.1.gz"
check "manual page is gzip'd" gzip -t "$man"
check "manual page formats without warnings" \
  bash -c "zcat '$man' | groff -man -ww -z -k -Tutf8 2>&1 | { ! grep -q .; }"
check "manual page gives version $VERSION" bash -c "zcat '$man' | grep -qF 'Pendra_Set $VERSION'"

# Seeding: databases already there are never touched, a changed template is
# kept, an unchanged one follows the new version, a missing one comes back.
echo "-- data seeding in a copy of the throw-away root"
cp -a "$root" "$work/seedroot"
base="$work/seedroot$PREFIX"
seed() { sh "$base/share/pendra-seed-data" "$base" "$work/seedroot/state" >>"$work/seed.log" 2>&1; }
check "first seeding" seed
for f in "${DATABASES[@]}" "$TEMPLATE"; do
  check "seeded $f is the shipped copy" cmp "$base/$f" "$base/share/defaults/$f"
done
check "database folders are there" test -d "$base/$SCHEDULE_DIR" -a -d "$base/$TAG_DIR"
printf 'changed by the user' >>"$base/${DATABASES[0]}"
changed_db=$(sum "$base/${DATABASES[0]}")
rm "$base/${DATABASES[1]}"
cp "$base/$TEMPLATE" "$work/template-as-seeded"
printf 'new version' >>"$base/share/defaults/$TEMPLATE"   # an upgrade's template
seed
check "a changed database is kept" test "$(sum "$base/${DATABASES[0]}")" = "$changed_db"
check "a missing database is seeded again" test -f "$base/${DATABASES[1]}"
check "an unchanged template follows the new version" cmp "$base/$TEMPLATE" "$base/share/defaults/$TEMPLATE"
printf 'changed by the user' >>"$base/$TEMPLATE"
user_template=$(sum "$base/$TEMPLATE")
printf 'newer version' >>"$base/share/defaults/$TEMPLATE"
seed
check "a changed template is kept" test "$(sum "$base/$TEMPLATE")" = "$user_template"
base="$root$PREFIX"

# --- cmake --install -------------------------------------------------------
echo "-- cmake --install into a staging folder"
stage="$work/stage"
check "cmake --install" env DESTDIR="$stage" cmake --install "$BUILD"
for f in Pendra_Set pendra "$TEMPLATE" "${DATABASES[@]}" usr/share/applications/Pendra_Set.desktop; do
  case "$f" in usr/*) path="$stage/$f" ;; *) path="$stage$PREFIX/$f" ;; esac
  check "cmake --install lays out ${path#"$stage"}" test -e "$path"
done
printf 'changed by the user' >>"$stage$PREFIX/${DATABASES[1]}"
changed_db=$(sum "$stage$PREFIX/${DATABASES[1]}")
check "cmake --install again" env DESTDIR="$stage" cmake --install "$BUILD"
check "installing again keeps a changed database" \
  test "$(sum "$stage$PREFIX/${DATABASES[1]}")" = "$changed_db"

# --- Real installation -----------------------------------------------------
echo "-- real installation"
why_not=""
if [ "${PENDRA_PACKAGE_INSTALL:-1}" = 0 ]; then why_not="PENDRA_PACKAGE_INSTALL=0"
elif [ "$(id -u)" -ne 0 ]; then why_not="not root"
elif ! command -v apt-get >/dev/null; then why_not="no apt-get"
fi
if [ -z "$why_not" ]; then
  # Two test runs on one machine take turns.
  exec 9>/tmp/pendra-package-install.lock
  flock -w 900 9 || why_not="another run holds the installation lock"
fi
if [ -z "$why_not" ]; then
  if dpkg-query -W -f='${Status}' pendra-set 2>/dev/null | grep -q "installed\|config-files"; then
    why_not="pendra-set is already installed on this machine (left alone)"
  elif [ -e "$PREFIX" ] || [ -e /usr/bin/pendra ] || [ -e /var/lib/pendra-set ]; then
    why_not="$PREFIX, /usr/bin/pendra or /var/lib/pendra-set already exists (left alone)"
  fi
fi
if [ -n "$why_not" ]; then
  echo "  SKIP  real installation: $why_not"
  # The unpacked batch command on the unpacked demo data stands in for it.
  sh "$base/share/pendra-seed-data" "$base" "$root/state" >/dev/null
  # Stand-in user offices of other test runs on this machine live for
  # moments: a run they refused is tried again.
  retried() { for _ in 1 2 3 4 5; do "$@" && return 0; sleep 1; done; return 1; }
  check "unpacked pendra output on the unpacked folder" \
    retried "$base/pendra" output "$work/unpacked-out.xls" --base "$base" --yes
  echo "package: $(stat -c %s "$DEB") bytes, $file_count files, Installed-Size $(field Installed-Size) KiB, cpack ${cpack_seconds}s"
  finish
fi

getent group pendra >/dev/null || group_existed=0
export DEBIAN_FRONTEND=noninteractive
installed_here=1
start=$(now_ms)
check "apt-get install ./$DEB_NAME" apt-get install -y -q --no-install-recommends "$DEB"
install_seconds=$(seconds_since "$start")
check "dpkg reports pendra-set installed" \
  bash -c "dpkg-query -W -f='\${Status} \${Version}' pendra-set | grep -qx 'install ok installed $VERSION'"
check "pendra is on the PATH as /usr/bin/pendra" test "$(command -v pendra)" = /usr/bin/pendra
check "pendra --version" test "$(cd / && pendra --version)" = "pendra (Pendra_Set) $VERSION"
check "pendra --help" bash -c "pendra --help | grep -q '^Usage: pendra'"
for f in "${DATABASES[@]}" "$TEMPLATE"; do
  check "postinst put $f into place" cmp "$PREFIX/$f" "$PREFIX/share/defaults/$f"
done
check "database folders belong to group pendra, writable, setgid" \
  test "$(stat -c '%G %a' "$PREFIX/$SCHEDULE_DIR")" = "pendra 2775"
check "databases are writable by group pendra" \
  test "$(stat -c '%G %a' "$PREFIX/${DATABASES[0]}")" = "pendra 664"
if [ ! -e /usr/share/man/man1/pendra.1.gz ] &&
   grep -rqs 'path-exclude.*/usr/share/man' /etc/dpkg/dpkg.cfg /etc/dpkg/dpkg.cfg.d; then
  echo "  SKIP  manual page: dpkg on this machine excludes /usr/share/man"
else
  check "manual page installed" test -f /usr/share/man/man1/pendra.1.gz
  if command -v man >/dev/null; then
    check "man pendra shows the page" bash -c "MANPAGER=cat man pendra 2>/dev/null | grep -q 'run the jobs of Pendra_Set'"
  fi
fi
check "the window program starts and stays up (offscreen, 4 s)" \
  bash -c "cd / && QT_QPA_PLATFORM=offscreen timeout 4 $PREFIX/Pendra_Set; test \$? = 124"

# The jobs run as an ordinary member of the group pendra, made for this test:
# that is how the installation is meant to be used, and LibreOffice instances
# of other users (other test runs on this machine) are no concern of its.
user=pendra-pkgcheck
useradd --system --no-create-home --home-dir "$work/home" --shell /usr/sbin/nologin -G pendra "$user"
user_made=1
mkdir -p "$work/home" "$work/runtime" "$work/out"
chown "$user" "$work/home" "$work/runtime" "$work/out"
chmod 700 "$work/runtime"
chmod 711 "$work"
as_user() {
  (cd "$work/out" && runuser -u "$user" -- env HOME="$work/home" XDG_RUNTIME_DIR="$work/runtime" "$@")
}
out="$work/out/Pendra情報.xls"
before=$(sum "$PREFIX/${DATABASES[0]}")
start=$(now_ms)
check "pendra output on the installed demo folder (as a member of pendra)" as_user pendra output "$out" --yes
output_seconds=$(seconds_since "$start")
check "the output workbook is an .xls file" \
  bash -c "file -b '$out' | grep -qi 'Composite Document File V2\|CDF V2'"
check "output leaves the schedule database unchanged" test "$(sum "$PREFIX/${DATABASES[0]}")" = "$before"
start=$(now_ms)
check "pendra expand of that workbook writes the installed database (as a member of pendra)" \
  as_user pendra expand "$out" --yes
expand_seconds=$(seconds_since "$start")
check "the expansion left no journal behind" \
  bash -c "! ls '$PREFIX/$SCHEDULE_DIR' | grep -q -- '-journal\|-wal'"
userdel "$user"
user_made=0

# The user's work: a changed schedule database and a changed template.
if command -v sqlite3 >/dev/null; then
  sqlite3 "$PREFIX/${DATABASES[0]}" "CREATE TABLE package_probe(x); INSERT INTO package_probe VALUES ('mine');"
else
  printf 'changed by the user' >>"$PREFIX/${DATABASES[0]}"
fi
printf 'changed by the user' >>"$PREFIX/$TEMPLATE"
user_db=$(sum "$PREFIX/${DATABASES[0]}")
user_template=$(sum "$PREFIX/$TEMPLATE")
check "apt-get reinstall" apt-get install -y -q --reinstall --no-install-recommends "$DEB"
check "reinstalling keeps the changed database" test "$(sum "$PREFIX/${DATABASES[0]}")" = "$user_db"
check "reinstalling keeps the changed template" test "$(sum "$PREFIX/$TEMPLATE")" = "$user_template"

start=$(now_ms)
check "apt-get remove" apt-get remove -y -q pendra-set
check "remove takes the programs" test ! -e "$PREFIX/pendra" -a ! -e "$PREFIX/Pendra_Set"
check "remove takes /usr/bin/pendra, the desktop entry, icon and manual page" \
  test ! -e /usr/bin/pendra -a ! -e /usr/share/applications/Pendra_Set.desktop \
  -a ! -e /usr/share/icons/hicolor/32x32/apps/Pendra_Set.png -a ! -e /usr/share/man/man1/pendra.1.gz
for f in "${DATABASES[@]}" "$TEMPLATE"; do
  check "remove keeps $f" test -f "$PREFIX/$f"
done
check "apt-get purge" apt-get purge -y -q pendra-set
remove_seconds=$(seconds_since "$start")
check "purge keeps the changed database" test "$(sum "$PREFIX/${DATABASES[0]}" 2>/dev/null)" = "$user_db"
check "purge keeps the changed template" test "$(sum "$PREFIX/$TEMPLATE" 2>/dev/null)" = "$user_template"
check "purge deletes the unchanged demo database" test ! -e "$PREFIX/${DATABASES[1]}"
check "purge deletes the seeding records" test ! -e /var/lib/pendra-set
check "dpkg knows nothing of pendra-set any more" \
  bash -c "! dpkg-query -W -f='\${Status}' pendra-set 2>/dev/null | grep -q 'installed\|config-files'"
# What purge kept was made by this test: it goes, and so does the group.
rm -rf "$PREFIX"
if [ "$group_existed" = 0 ]; then groupdel pendra; fi
installed_here=0
check "the machine is as before ($PREFIX gone)" test ! -e "$PREFIX"

echo "package: $(stat -c %s "$DEB") bytes, $file_count files, Installed-Size $(field Installed-Size) KiB"
echo "times: cpack ${cpack_seconds}s, apt-get install ${install_seconds}s, pendra output ${output_seconds}s, pendra expand ${expand_seconds}s, remove+purge ${remove_seconds}s"
finish
