#!/usr/bin/env bash
# Packaging: builds the Debian package with CPack and checks it: its control
# data and file list, lintian's verdict, the hardening of its programs, its
# desktop entry and manual page (under UTF-8 locales and LANG=C), the folder
# it unpacks to and how its data seeding treats existing databases and a
# changed template; then, as root on a machine where nothing of it is
# installed yet, a real installation with apt-get, the installed programs on
# the demo data in /var/opt/pendra-set, a reinstallation over changed data,
# removal, reinstallation and purge, and an upgrade from a 1.00 package
# (data in /opt/pendra-set itself) that moves the data. Leaves the machine as
# it found it. Prints its figures and exits non-zero when a check fails.
#
# PENDRA_PACKAGE_INSTALL=0 leaves out the real installation;
# PENDRA_PACKAGE_FRESH=0 leaves out scripts/package on a fresh build folder.
set -uo pipefail
export LC_ALL=C.UTF-8  # file names as text in listings; LibreOffice wants UTF-8

SRC="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
BUILD="$(cd "${PENDRA_BUILD_DIR:-$SRC/build}" && pwd)"
VERSION=$(sed -n 's/^project(Pendra_Set VERSION \([0-9.]*\).*/\1/p' "$SRC/CMakeLists.txt")  # the program's own
PKG_VERSION="${VERSION}-2"  # the package's, with its Debian revision
DEB_NAME="pendra-set_${PKG_VERSION}_amd64.deb"
DEB="$BUILD/$DEB_NAME"
PREFIX=/opt/pendra-set
DATA=/var/opt/pendra-set
# The fixed places as the build read them from the programs' own definition.
cached() { sed -n "s/^$1:INTERNAL=//p" "$BUILD/CMakeCache.txt"; }
TEMPLATE="$(cached PENDRA_TEMPLATE_NAME)"
read -r -a DATABASES <<<"$(cached PENDRA_DATABASE_FILES)"
SCHEDULE_DIR="$(cached PENDRA_SCHEDULE_DIR)"
TAG_DIR="$(cached PENDRA_TAG_DIR)"

work="$(mktemp -d /tmp/pendra-package.XXXXXX)"
shm_data=""
checks=0
failures=0
installed_here=0
group_existed=1
var_opt_existed=1
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
    rm -rf "$PREFIX" "$DATA" /var/lib/pendra-set
    if [ "$var_opt_existed" = 0 ]; then rmdir /var/opt 2>/dev/null || true; fi
    if [ "$group_existed" = 0 ] && getent group pendra >/dev/null; then groupdel pendra || true; fi
  fi
  rm -rf "$work" "$shm_data"
}
trap cleanup EXIT

# --- Build -----------------------------------------------------------------
echo "-- building $DEB_NAME"
cmake --build "$BUILD" --target pendra_package_data pendra_manpage pendra_debian_changelog >"$work/build.log" 2>&1 ||
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

# --- scripts/package from a fresh build folder ------------------------------
# The README's package step is one command that builds what the package needs
# itself: on a build folder that holds nothing yet it must still make the
# package, with the same files as the one cpack made above.
if [ "${PENDRA_PACKAGE_FRESH:-1}" != 0 ]; then
  echo "-- scripts/package on a fresh build folder"
  fresh="$work/fresh-build"
  start=$(now_ms)
  if PENDRA_BUILD_DIR="$fresh" "$SRC/scripts/package" >"$work/package.log" 2>&1; then
    pass "scripts/package made a package from a fresh build folder ($(seconds_since "$start")s)"
    fresh_deb="$(tail -n1 "$work/package.log")"
    check "scripts/package printed the package's path ($fresh_deb)" test "$fresh_deb" = "$fresh/$DEB_NAME" -a -f "$fresh_deb"
    check "its package holds the same files as cpack's" \
      bash -c "diff <(dpkg-deb -c '$fresh_deb' | awk '{print \$6}' | sort) <(dpkg-deb -c '$DEB' | awk '{print \$6}' | sort)"
  else
    fail "scripts/package made a package from a fresh build folder"
    tail -20 "$work/package.log" | sed 's/^/        | /'
  fi
  rm -rf "$fresh"
fi

# --- Control data ----------------------------------------------------------
echo "-- control data (dpkg-deb -I)"
field() { dpkg-deb -f "$DEB" "$1"; }
check "Package is pendra-set" test "$(field Package)" = pendra-set
check "Version is $PKG_VERSION" test "$(field Version)" = "$PKG_VERSION"
check "Architecture is amd64" test "$(field Architecture)" = amd64
maintainer="$(field Maintainer)"
check "Maintainer is a name and an address with a real host ('$maintainer')" \
  bash -c "grep -qE '^[^<>]+ <[^@<>]+@[a-z0-9-]+(\.[a-z0-9-]+)+>\$' <<<'$maintainer' && ! grep -q localhost <<<'$maintainer'"
check "Description has a summary and a paragraph that names Calc and the data folder" \
  bash -c "dpkg-deb -f '$DEB' Description | sed 1d | grep -q 'LibreOffice Calc' &&
           dpkg-deb -f '$DEB' Description | grep -q '$DATA'"
depends="$(field Depends)"
echo "   Depends: $depends"
# Each entry must appear as a whole item (an alternative group or a package
# with an optional version), not as part of another name.
depends_on() {
  tr ',' '\n' <<<"$depends" | sed 's/^ *//; s/ *(.*)//' | grep -qxF "$1"
}
for dep in libqt6widgets6 libqt6gui6 libqt6core6 libsqlite3-0 libuno-sal3 libuno-cppu3 libmdb3 \
           "libreoffice-calc | libreoffice-calc-nogui" "libreoffice-core | libreoffice-core-nogui" \
           fonts-ipafont-gothic qt6-translations-l10n passwd; do
  check "depends on $dep" depends_on "$dep"
done
dpkg-deb -e "$DEB" "$work/control"
for script in postinst prerm postrm; do
  check "maintainer script $script is executable" test -x "$work/control/$script"
  check "maintainer script $script is valid shell" sh -n "$work/control/$script"
done

# --- File list -------------------------------------------------------------
echo "-- files (dpkg-deb -c)"
dpkg-deb -c "$DEB" >"$work/contents.txt"
# Just the paths, with link targets after " -> ".
awk '{ $1=$2=$3=$4=$5=""; sub(/^ +/, ""); print }' "$work/contents.txt" >"$work/paths.txt"
has_path() { grep -qxF "$1" "$work/paths.txt"; }
for path in "./opt/pendra-set/Pendra_Set" "./opt/pendra-set/pendra" "./opt/pendra-set/pendra-mdb-read" \
            "./opt/pendra-set/share/pendra-seed-data" \
            "./opt/pendra-set/share/pendra-move-data" \
            "./opt/pendra-set/share/examples/master-sample.csv" \
            "./opt/pendra-set/share/defaults/$TEMPLATE" \
            "./opt/pendra-set/share/defaults/${DATABASES[0]}" \
            "./opt/pendra-set/share/defaults/${DATABASES[1]}" \
            "./usr/bin/pendra -> /opt/pendra-set/pendra" \
            "./usr/share/applications/Pendra_Set.desktop" \
            "./usr/share/applications/Pendra_Set-backups.desktop" \
            "./usr/share/icons/hicolor/32x32/apps/Pendra_Set.png" \
            "./usr/share/man/man1/pendra.1.gz" \
            "./usr/share/doc/pendra-set/copyright" \
            "./usr/share/doc/pendra-set/changelog.Debian.gz" \
            "./usr/share/lintian/overrides/pendra-set"; do
  check "package holds $path" has_path "$path"
done
# The live data and their links are made by the maintainer scripts only: a
# file in the package at their place would be overwritten by every upgrade.
for path in "$TEMPLATE" "$SCHEDULE_DIR" "$TAG_DIR" "${DATABASES[@]}"; do
  check "package leaves $path to the maintainer scripts" \
    bash -c "! grep -qE '^\\.($PREFIX|$DATA)/$path(/| |\$)' '$work/paths.txt'"
done
check "package holds nothing in $DATA" bash -c "! grep -q '^\\.$DATA' '$work/paths.txt'"

# --- lintian ---------------------------------------------------------------
# Every error and warning fails; an override stands only with a comment
# above it that says why, and must still match something.
echo "-- lintian -I --pedantic"
if command -v lintian >/dev/null; then
  lintian -I --pedantic --fail-on error,warning "$DEB" >"$work/lintian.txt" 2>&1
  lintian_status=$?
  sed 's/^/   /' "$work/lintian.txt"
  check "lintian finds no error or warning" test "$lintian_status" = 0
  check "lintian's output has no E: or W: line" bash -c "! grep -q '^[EW]: ' '$work/lintian.txt'"
  check "every lintian override is used" \
    bash -c "! grep -qE 'unused-override|mismatched-override' '$work/lintian.txt'"
  dpkg-deb --fsys-tarfile "$DEB" | tar -xO ./usr/share/lintian/overrides/pendra-set >"$work/overrides"
  check "every lintian override has a comment saying why" \
    awk '/^#/ { said = 1; next } /^[[:space:]]*$/ { said = 0; next } !said { bad = 1; print "no reason: " $0 } END { exit bad }' \
    "$work/overrides"
  check "overrides are only for the /opt add-on's rules and the code page 932 sample" \
    bash -c "! grep -v '^#' '$work/overrides' | grep . |
             grep -vE '^pendra-set: (dir-or-file-in-opt|custom-library-search-path) ' |
             grep -vxF 'pendra-set: national-encoding [opt/pendra-set/share/examples/master-sample.csv]'"
else
  fail "lintian is installed (scripts/install-deps installs it)"
fi
file_count=$(grep -vc '/$' "$work/paths.txt")
sed 's/^/   /' "$work/contents.txt" | grep -v '/$'

# --- Unpacked into a throw-away root ---------------------------------------
echo "-- unpacked into a throw-away root"
root="$work/root"
dpkg-deb -x "$DEB" "$root"
base="$root$PREFIX"
for program in Pendra_Set pendra pendra-mdb-read; do
  [ -f "$base/$program" ] || continue
  check "$program is an executable" test -x "$base/$program"
  check "$program is stripped" bash -c "file -b '$base/$program' | grep -q ', stripped'"
  check "$program finds all its libraries" bash -c "! ldd '$base/$program' | grep -q 'not found'"
  runpath="$(readelf -d "$base/$program" | sed -n 's/.*R\(UN\)\?PATH.*\[\(.*\)\]/\2/p')"
  check "$program's RUNPATH is only LibreOffice's ('$runpath')" \
    bash -c "[ -z '$runpath' ] || [ '$runpath' = /usr/lib/libreoffice/program ]"
  # The hardening of dpkg-buildflags, as the ELF file shows it.
  readelf -W -h -l -d -S --dyn-syms "$base/$program" >"$work/elf.txt"
  check "$program is position-independent (PIE)" \
    bash -c "grep -q 'Type:.*DYN' '$work/elf.txt' && grep -q 'FLAGS_1.*PIE' '$work/elf.txt'"
  check "$program has read-only relocations (relro)" grep -q 'GNU_RELRO' "$work/elf.txt"
  check "$program binds immediately (bind-now)" grep -qE 'BIND_NOW|FLAGS.* NOW' "$work/elf.txt"
  check "$program has the stack protector" grep -q '__stack_chk_fail' "$work/elf.txt"
  check "$program calls fortified functions" grep -qE ' __[a-z_]+_chk(@|$)' "$work/elf.txt"
  check "$program has no .comment or .note section" \
    bash -c "! grep -qE '\] \.(comment|note) ' '$work/elf.txt'"
done
check "no file holds the source or build path" \
  bash -c "! grep -rlaF -e '$SRC/' -e '$BUILD/' '$root'"
check "/usr/bin/pendra links to $PREFIX/pendra" test "$(readlink "$root/usr/bin/pendra")" = "$PREFIX/pendra"
check "pendra --version through the unpacked folder" \
  test "$("$base/pendra" --version)" = "pendra (Pendra_Set) $VERSION"
# The sample master file imports into the demo databases the package holds.
sample_base="$work/sample-base"
cp -r "$base/share/defaults" "$sample_base"
check "the installed sample master file imports into the demo database" \
  "$base/pendra" import-csv "$base/share/examples/master-sample.csv" --base "$sample_base" --yes
# An Access file is read by the reading program beside pendra.
check "the unpacked pendra reads an Access file through the reading program beside it" \
  bash -c "'$base/pendra' import-mdb '$SRC/tests/data/access/ja_V2000.mdb' --base '$sample_base' --dry-run | grep -q '(Jet 4)'"

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
check "desktop-file-validate accepts the entry (desktop-file-utils)" desktop-file-validate "$desktop"
backups_desktop="$root/usr/share/applications/Pendra_Set-backups.desktop"
check "the backups entry starts $PREFIX/Pendra_Set --backups" \
  test "$(sed -n 's/^Exec=//p' "$backups_desktop")" = "$PREFIX/Pendra_Set --backups"
check "desktop-file-validate accepts the backups entry" desktop-file-validate "$backups_desktop"
man="$root/usr/share/man/man1/pendra.1.gz"
check "manual page is gzip'd" gzip -t "$man"
for device in utf8 ascii; do
  check "manual page formats without warnings (groff -T$device)" \
    bash -c "zcat '$man' | preconv -e UTF-8 | groff -man -ww -z -T$device 2>&1 | { ! grep -q .; }"
done
check "manual page gives version $VERSION" bash -c "zcat '$man' | grep -qF 'Pendra_Set $VERSION'"
check "manual page declares its encoding for man" bash -c "zcat '$man' | head -1 | grep -qi 'coding: *UTF-8'"
check "manual page names $DATA" bash -c "zcat '$man' | grep -qF '$DATA'"
# man as a user runs it, under every UTF-8 locale of this machine and LANG=C.
if ! command -v man >/dev/null; then
  fail "man is installed (scripts/install-deps installs man-db)"
else
  man_as() { env -u LANGUAGE LANG="$1" LC_ALL="$1" MANWIDTH=80 man --warnings -l "$man" 2>&1; }
  for loc in $(locale -a | grep -iE '\.utf-?8$'); do
    check "man under $loc shows $TEMPLATE and Pendra情報.xls, without warnings" \
      bash -c "out=\$(env -u LANGUAGE LANG=$loc LC_ALL=$loc MANWIDTH=80 man --warnings -l '$man' 2>&1) &&
               grep -qF '$TEMPLATE' <<<\"\$out\" && grep -qF 'Pendra情報.xls' <<<\"\$out\" &&
               ! grep -qi 'warning' <<<\"\$out\""
  done
  man_as C >"$work/man-C.txt"
  check "man under LANG=C shows the names romanised, never with the Japanese dropped" \
    bash -c "grep -qF 'Pendra_[genshi].xls' '$work/man-C.txt' && grep -qF 'Pendra[jouhou].xls' '$work/man-C.txt' &&
             ! grep -qE 'Pendra_?\.xls' '$work/man-C.txt'"
  check "man under LANG=C is plain ASCII, without warnings, and says how to see the Japanese" \
    bash -c "! grep -qP '[^\\x00-\\x7F]' '$work/man-C.txt' && ! grep -qi warning '$work/man-C.txt' &&
             grep -qF 'LANG=C.UTF-8 man pendra' '$work/man-C.txt'"
fi

# Seeding: databases already there are never touched, a changed template is
# kept, an unchanged one follows the new version, a missing one comes back.
echo "-- data seeding in a copy of the throw-away root"
cp -a "$root" "$work/seedroot"
base="$work/seedroot$PREFIX"
data="$work/seedroot$DATA"
seed() {
  sh "$base/share/pendra-seed-data" "$base/share/defaults" "$data" "$work/seedroot/state" >>"$work/seed.log" 2>&1
}
check "first seeding" seed
for f in "${DATABASES[@]}" "$TEMPLATE"; do
  check "seeded $f is the shipped copy" cmp "$data/$f" "$base/share/defaults/$f"
done
check "database folders are there" test -d "$data/$SCHEDULE_DIR" -a -d "$data/$TAG_DIR"
printf 'changed by the user' >>"$data/${DATABASES[0]}"
changed_db=$(sum "$data/${DATABASES[0]}")
rm "$data/${DATABASES[1]}"
printf 'new version' >>"$base/share/defaults/$TEMPLATE"   # an upgrade's template
seed
check "a changed database is kept" test "$(sum "$data/${DATABASES[0]}")" = "$changed_db"
check "a missing database is seeded again" test -f "$data/${DATABASES[1]}"
check "an unchanged template follows the new version" cmp "$data/$TEMPLATE" "$base/share/defaults/$TEMPLATE"
printf 'changed by the user' >>"$data/$TEMPLATE"
user_template=$(sum "$data/$TEMPLATE")
printf 'newer version' >>"$base/share/defaults/$TEMPLATE"
seed
check "a changed template is kept" test "$(sum "$data/$TEMPLATE")" = "$user_template"
base="$root$PREFIX"

# Moving the data of the 1.00 layout: every file arrives unchanged, nothing
# at the destination is overwritten, links are left alone; once into a folder
# on the same filesystem, once (where /dev/shm is another one) across.
echo "-- moving 1.00 data in a throw-away root"
move_case() {
  local from="$work/move-from" to=$1
  rm -rf "$from" "$to"
  mkdir -p "$from/${SCHEDULE_DIR}/backup" "$from/${TAG_DIR}/backup" "$to/${TAG_DIR}/backup"
  chmod 2775 "$from/${SCHEDULE_DIR}"
  printf 'schedule in use' >"$from/${DATABASES[0]}"
  printf 'a backup' >"$from/${SCHEDULE_DIR}/backup/Orvik-1.mdb"
  printf 'hidden' >"$from/${SCHEDULE_DIR}/.hidden"
  printf 'tags in use' >"$from/${DATABASES[1]}"
  printf 'a tag backup' >"$from/${TAG_DIR}/backup/Velmora-1.mdb"
  printf 'the template' >"$from/$TEMPLATE"
  printf 'an older backup' >"$to/${TAG_DIR}/backup/Velmora-0.mdb"
  printf 'older tags' >"$to/${DATABASES[1]}"
  printf 'the template' >"$to/$TEMPLATE"
  ln -s "$to/elsewhere" "$from/linked"
  (cd "$from" && find . ! -type d ! -name linked -exec sha256sum {} + | sort -k2) >"$work/move-before.txt"
  sh "$base/share/pendra-move-data" "$from" "$to" "$SCHEDULE_DIR" "$TAG_DIR" "$TEMPLATE" linked >"$work/move.log" 2>&1 &&
    (cd "$to" && sha256sum "${DATABASES[@]}" */backup/*-1.mdb "${SCHEDULE_DIR}/.hidden" "$TEMPLATE" |
       sed 's|  |  ./|' | sort -k2) >"$work/move-after.txt"
}
if [ -d /dev/shm ] && [ -w /dev/shm ] && [ "$(stat -c %d /dev/shm)" != "$(stat -c %d "$work")" ]; then
  shm_data="$(mktemp -d /dev/shm/pendra-move.XXXXXX)"
fi
for to in "$work/move-to" ${shm_data:+"$shm_data/data"}; do
  where="same filesystem"
  [ "$to" = "$work/move-to" ] || where="across filesystems"
  check "pendra-move-data runs ($where)" move_case "$to"
  check "every moved file arrives unchanged ($where)" diff "$work/move-before.txt" "$work/move-after.txt"
  check "nothing of the moved data is left behind ($where)" \
    test ! -e "$work/move-from/${SCHEDULE_DIR}" -a ! -e "$work/move-from/${TAG_DIR}" -a ! -e "$work/move-from/$TEMPLATE"
  check "a different file already there is kept beside ($where)" \
    bash -c "cat '$to/${DATABASES[1]}'.kept-* | grep -qx 'older tags'"
  check "a backup already there stays ($where)" test -f "$to/${TAG_DIR}/backup/Velmora-0.mdb"
  check "an identical file is kept once ($where)" \
    bash -c "! ls '$to' | grep -q 'kept' && [ \$(ls '$to' | wc -l) = 3 ]"
  check "the folder keeps its mode ($where)" test "$(stat -c %a "$to/${SCHEDULE_DIR}")" = 2775
  check "a link is left alone and no temporary copy is left ($where)" \
    bash -c "[ -L '$work/move-from/linked' ] && ! find '$to' -name '*.moving-*' | grep -q ."
done
[ -n "$shm_data" ] || echo "  SKIP  moving across filesystems: /dev/shm is not another filesystem here"

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
check "cmake --install leaves Debian's documents to the package" \
  test ! -e "$stage/usr/share/doc/pendra-set" -a ! -e "$stage/usr/share/lintian"

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
  elif [ -e "$PREFIX" ] || [ -e "$DATA" ] || [ -e /usr/bin/pendra ] || [ -e /var/lib/pendra-set ]; then
    why_not="$PREFIX, $DATA, /usr/bin/pendra or /var/lib/pendra-set already exists (left alone)"
  fi
fi
if [ -n "$why_not" ]; then
  echo "  SKIP  real installation: $why_not"
  # The unpacked batch command on the unpacked demo data stands in for it.
  sh "$base/share/pendra-seed-data" "$base/share/defaults" "$base" "$root/state" >/dev/null
  # Stand-in user offices of other test runs on this machine live for
  # moments: a run they refused is tried again.
  retried() { for _ in 1 2 3 4 5; do "$@" && return 0; sleep 1; done; return 1; }
  check "unpacked pendra output on the unpacked folder" \
    retried "$base/pendra" output "$work/unpacked-out.xls" --base "$base" --yes
  echo "package: $(stat -c %s "$DEB") bytes, $file_count files, Installed-Size $(field Installed-Size) KiB, cpack ${cpack_seconds}s"
  finish
fi

getent group pendra >/dev/null || group_existed=0
[ -d /var/opt ] || var_opt_existed=0
export DEBIAN_FRONTEND=noninteractive
installed_here=1
apt_install() { apt-get install -y -q --no-install-recommends "$@"; }
installed_as() { test "$(dpkg-query -W -f='${Status} ${Version}' pendra-set 2>/dev/null)" = "install ok installed $1"; }
# Each data entry of the installation folder is the postinst's link into DATA.
links_in_place() {
  for name in "$SCHEDULE_DIR" "$TAG_DIR" "$TEMPLATE"; do
    [ -L "$PREFIX/$name" ] && [ "$(readlink "$PREFIX/$name")" = "$DATA/$name" ] || return 1
  done
}
not_owned_by_dpkg() { ! dpkg-query -S "$1" >/dev/null 2>&1; }

# The jobs run as an ordinary member of the group pendra, made for this test:
# that is how the installation is meant to be used, and LibreOffice instances
# of other users (other test runs on this machine) are no concern of its.
user=pendra-pkgcheck
mkdir -p "$work/home" "$work/runtime" "$work/out"
chmod 700 "$work/runtime"
chmod 711 "$work"
as_user() {
  (cd "$work/out" && runuser -u "$user" -- env HOME="$work/home" XDG_RUNTIME_DIR="$work/runtime" "$@")
}
out="$work/out/Pendra情報.xls"

echo "-- fresh installation"
start=$(now_ms)
check "apt-get install ./$DEB_NAME" apt_install "$DEB"
install_seconds=$(seconds_since "$start")
check "dpkg reports pendra-set $PKG_VERSION installed" installed_as "$PKG_VERSION"
check "pendra is on the PATH as /usr/bin/pendra" test "$(command -v pendra)" = /usr/bin/pendra
check "pendra --version still reports $VERSION" test "$(cd / && pendra --version)" = "pendra (Pendra_Set) $VERSION"
check "pendra --help" bash -c "pendra --help | grep -q '^Usage: pendra'"
for f in "${DATABASES[@]}" "$TEMPLATE"; do
  check "postinst put $f into $DATA" cmp "$DATA/$f" "$PREFIX/share/defaults/$f"
done
check "$PREFIX/${SCHEDULE_DIR}, ${TAG_DIR} and the template link into $DATA" links_in_place
check "the programs find the data through the links" cmp "$PREFIX/${DATABASES[0]}" "$DATA/${DATABASES[0]}"
for path in "$DATA/${DATABASES[0]}" "$DATA/$TEMPLATE" "$PREFIX/${SCHEDULE_DIR}" "$PREFIX/$TEMPLATE"; do
  check "dpkg leaves $path to the maintainer scripts" not_owned_by_dpkg "$path"
done
check "database folders belong to group pendra, writable, setgid" \
  test "$(stat -c '%G %a' "$DATA/$SCHEDULE_DIR")" = "pendra 2775"
check "databases are writable by group pendra" \
  test "$(stat -c '%G %a' "$DATA/${DATABASES[0]}")" = "pendra 664"
check "backup folders belong to group pendra, writable, setgid" \
  test "$(stat -c '%G %a' "$DATA/$SCHEDULE_DIR/backup" "$DATA/$TAG_DIR/backup" | sort -u)" = "pendra 2775"
if [ ! -e /usr/share/man/man1/pendra.1.gz ] &&
   grep -rqs 'path-exclude.*/usr/share/man' /etc/dpkg/dpkg.cfg /etc/dpkg/dpkg.cfg.d; then
  echo "  SKIP  manual page: dpkg on this machine excludes /usr/share/man"
else
  check "manual page installed" test -f /usr/share/man/man1/pendra.1.gz
  if command -v man >/dev/null; then
    check "man pendra shows the page" bash -c "MANPAGER=cat man pendra 2>/dev/null | grep -q 'run the jobs of Pendra_Set'"
    check "man pendra under C.UTF-8 shows $TEMPLATE" \
      bash -c "LANG=C.UTF-8 LC_ALL=C.UTF-8 MANPAGER=cat man pendra 2>/dev/null | grep -qF '$TEMPLATE'"
    check "man pendra under LANG=C shows Pendra_[genshi].xls" \
      bash -c "LANG=C LC_ALL=C MANPAGER=cat man pendra 2>/dev/null | grep -qF 'Pendra_[genshi].xls'"
  fi
fi
check "the window program starts and stays up (offscreen, 4 s)" \
  bash -c "cd / && QT_QPA_PLATFORM=offscreen timeout 4 $PREFIX/Pendra_Set; test \$? = 124"

useradd --system --no-create-home --home-dir "$work/home" --shell /usr/sbin/nologin -G pendra "$user"
user_made=1
chown "$user" "$work/home" "$work/runtime" "$work/out"
before=$(sum "$DATA/${DATABASES[0]}")
start=$(now_ms)
check "pendra output on the installed demo data (as a member of pendra)" as_user pendra output "$out" --yes
output_seconds=$(seconds_since "$start")
check "the output workbook is an .xls file" \
  bash -c "file -b '$out' | grep -qi 'Composite Document File V2\|CDF V2'"
check "output leaves the schedule database unchanged" test "$(sum "$DATA/${DATABASES[0]}")" = "$before"
# A change for the expansion to undo: an unedited workbook changes nothing
# and keeps no backup.
check "a member of pendra changes a group's name" \
  as_user sqlite3 "$DATA/${DATABASES[0]}" "UPDATE GroupMaster SET GP名称 = GP名称 || '*' WHERE rowid = 1"
start=$(now_ms)
check "pendra expand of that workbook writes the installed database (as a member of pendra)" \
  as_user pendra expand "$out" --yes
expand_seconds=$(seconds_since "$start")
check "the expansion left no journal behind" \
  bash -c "! ls '$DATA/$SCHEDULE_DIR' | grep -q -- '-journal\|-wal'"
check "the expansion kept its backup in $DATA/$SCHEDULE_DIR/backup" \
  test -n "$(ls -A "$DATA/$SCHEDULE_DIR/backup")"

# The user's work: a changed schedule database and a changed template.
change_database() {
  if command -v sqlite3 >/dev/null; then
    sqlite3 "$1" "CREATE TABLE package_probe(x); INSERT INTO package_probe VALUES ('mine');"
  else
    printf 'changed by the user' >>"$1"
  fi
}
change_database "$DATA/${DATABASES[0]}"
printf 'changed by the user' >>"$DATA/$TEMPLATE"
user_db=$(sum "$DATA/${DATABASES[0]}")
user_template=$(sum "$DATA/$TEMPLATE")
check "apt-get reinstall" apt-get install -y -q --reinstall --no-install-recommends "$DEB"
check "reinstalling keeps the changed database" test "$(sum "$DATA/${DATABASES[0]}")" = "$user_db"
check "reinstalling keeps the changed template" test "$(sum "$DATA/$TEMPLATE")" = "$user_template"
check "reinstalling keeps the links" links_in_place

start=$(now_ms)
check "apt-get remove" apt-get remove -y -q pendra-set
check "remove takes the programs, the links and with them $PREFIX" test ! -e "$PREFIX" -a ! -L "$PREFIX/${SCHEDULE_DIR}"
check "remove takes /usr/bin/pendra, the desktop entry, icon and manual page" \
  test ! -e /usr/bin/pendra -a ! -e /usr/share/applications/Pendra_Set.desktop \
  -a ! -e /usr/share/icons/hicolor/32x32/apps/Pendra_Set.png -a ! -e /usr/share/man/man1/pendra.1.gz
for f in "${DATABASES[@]}" "$TEMPLATE"; do
  check "remove keeps $DATA/$f" test -f "$DATA/$f"
done
check "installing again after removal" apt_install "$DEB"
check "the new installation links the kept data again" links_in_place
check "the new installation keeps the changed database" test "$(sum "$DATA/${DATABASES[0]}")" = "$user_db"
check "the new installation keeps the changed template" test "$(sum "$DATA/$TEMPLATE")" = "$user_template"
check "apt-get purge" apt-get purge -y -q pendra-set
remove_seconds=$(seconds_since "$start")
check "purge keeps the changed database" test "$(sum "$DATA/${DATABASES[0]}" 2>/dev/null)" = "$user_db"
check "purge keeps the changed template" test "$(sum "$DATA/$TEMPLATE" 2>/dev/null)" = "$user_template"
check "purge deletes the unchanged demo database and its folder" test ! -e "$DATA/${TAG_DIR}"
check "purge deletes the seeding records" test ! -e /var/lib/pendra-set
check "purge leaves nothing in $PREFIX" test ! -e "$PREFIX"
check "dpkg knows nothing of pendra-set any more" \
  bash -c "! dpkg-query -W -f='\${Status}' pendra-set 2>/dev/null | grep -q 'installed\|config-files'"
# What purge kept was made by this test.
rm -rf "$DATA"

# --- Upgrade from the 1.00 layout ------------------------------------------
# Version 1.00 kept the data in the installation folder itself. Its package
# is rebuilt from this one with the maintainer scripts and seeding script it
# was released with (package-1.00/), its dependencies and version: the same
# programs, the old layout.
echo "-- upgrade from a 1.00 installation (data in $PREFIX)"
old="$work/old-package"
old_deb="$work/pendra-set_${VERSION}_amd64.deb"
dpkg-deb -R "$DEB" "$old"
rm -rf "$old/usr/share/doc/pendra-set" "$old/usr/share/lintian" "$old/DEBIAN/prerm"
cp "$SRC/scripts/suite/package-1.00/postinst" "$SRC/scripts/suite/package-1.00/postrm" "$old/DEBIAN/"
cp "$SRC/scripts/suite/package-1.00/pendra-seed-data" "$old$PREFIX/share/pendra-seed-data"
sed -i -e "s/^Version: .*/Version: $VERSION/" \
  -e 's/libreoffice-calc | libreoffice-calc-nogui/libreoffice-calc-nogui | libreoffice-calc/' \
  -e 's/libreoffice-core | libreoffice-core-nogui/libreoffice-core-nogui | libreoffice-core/' "$old/DEBIAN/control"
(cd "$old" && find . -path ./DEBIAN -prune -o -type f -print0 | xargs -0 md5sum | sed 's|  \./|  |' >DEBIAN/md5sums)
check "the 1.00 package builds" dpkg-deb --root-owner-group -b "$old" "$old_deb"
check "apt-get install the 1.00 package" apt_install "$old_deb"
check "dpkg reports pendra-set $VERSION installed" installed_as "$VERSION"
check "1.00 keeps its data in $PREFIX itself" \
  bash -c "[ -d '$PREFIX/${SCHEDULE_DIR}' ] && [ ! -L '$PREFIX/${SCHEDULE_DIR}' ] && [ -f '$PREFIX/$TEMPLATE' ] && [ ! -L '$PREFIX/$TEMPLATE' ]"
# The user's work in the old layout: a changed schedule database and
# template, and a backup beside the database.
change_database "$PREFIX/${DATABASES[0]}"
printf 'changed by the user' >>"$PREFIX/$TEMPLATE"
mkdir "$PREFIX/${SCHEDULE_DIR}/backup"
printf 'a backup' >"$PREFIX/${SCHEDULE_DIR}/backup/Orvik-20261207-120000-expand.mdb"
user_db=$(sum "$PREFIX/${DATABASES[0]}")
user_template=$(sum "$PREFIX/$TEMPLATE")
in_use_db=$(sum "$PREFIX/${DATABASES[1]}")
# A stray older copy at the new place, as an earlier installation of the
# new layout may have left: the move must not overwrite it.
mkdir -p "$DATA/${TAG_DIR}"
printf 'an older copy' >"$DATA/${DATABASES[1]}"
start=$(now_ms)
check "apt-get upgrades 1.00 to $PKG_VERSION" apt_install "$DEB"
upgrade_seconds=$(seconds_since "$start")
check "dpkg reports pendra-set $PKG_VERSION installed" installed_as "$PKG_VERSION"
check "after the upgrade $PREFIX links into $DATA" links_in_place
check "the upgrade moved the changed database" test "$(sum "$DATA/${DATABASES[0]}")" = "$user_db"
check "the upgrade moved the changed template" test "$(sum "$DATA/$TEMPLATE")" = "$user_template"
check "the upgrade moved the backup with its database" \
  test "$(cat "$DATA/${SCHEDULE_DIR}/backup/Orvik-20261207-120000-expand.mdb")" = "a backup"
check "the database that was in use is the one in place" test "$(sum "$DATA/${DATABASES[1]}")" = "$in_use_db"
check "the older copy that was in $DATA is kept beside it" \
  bash -c "cat '$DATA/${DATABASES[1]}'.kept-* | grep -qx 'an older copy'"
check "no data are left as files in $PREFIX" \
  test -z "$(find "$PREFIX" -mindepth 1 -maxdepth 1 ! -type l ! -name Pendra_Set ! -name pendra ! -name pendra-mdb-read ! -name share)"
check "the moved database folder still belongs to group pendra, setgid" \
  test "$(stat -c '%G %a' "$DATA/${SCHEDULE_DIR}")" = "pendra 2775"
check "pendra output on the upgraded installation (as a member of pendra)" as_user pendra output "$out" --yes
check "apt-get purge after the upgrade" apt-get purge -y -q pendra-set
check "purge keeps the moved, changed database and template" \
  test "$(sum "$DATA/${DATABASES[0]}")" = "$user_db" -a "$(sum "$DATA/$TEMPLATE")" = "$user_template"
check "purge keeps the backup and the older copy" \
  test -f "$DATA/${SCHEDULE_DIR}/backup/Orvik-20261207-120000-expand.mdb" -a -n "$(ls "$DATA/${TAG_DIR}"/*.kept-* 2>/dev/null)"
check "purge deletes the unchanged database seeded by 1.00" test ! -e "$DATA/${DATABASES[1]}"
check "purge leaves nothing in $PREFIX" test ! -e "$PREFIX"

userdel "$user"
user_made=0
# What purge kept was made by this test: it goes, and so does the group.
rm -rf "$DATA"
if [ "$var_opt_existed" = 0 ]; then rmdir /var/opt 2>/dev/null || true; fi
if [ "$group_existed" = 0 ]; then groupdel pendra; fi
installed_here=0
check "the machine is as before ($PREFIX, $DATA and the package gone)" \
  bash -c "[ ! -e '$PREFIX' ] && [ ! -e '$DATA' ] && [ ! -e /usr/bin/pendra ] &&
           ! dpkg-query -W -f='\${Status}' pendra-set 2>/dev/null | grep -q 'installed\|config-files'"

echo "package: $(stat -c %s "$DEB") bytes, $file_count files, Installed-Size $(field Installed-Size) KiB"
echo "times: cpack ${cpack_seconds}s, apt-get install ${install_seconds}s, pendra output ${output_seconds}s, pendra expand ${expand_seconds}s, remove+reinstall+purge ${remove_seconds}s, upgrade from 1.00 ${upgrade_seconds}s"
finish
