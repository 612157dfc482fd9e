#!/bin/sh
# pendra-move-data FROM TO NAME...
#
# Moves the installation's data NAME... (files or folders) from the folder
# FROM, where version 1.00 of the package kept them, to the folder TO. Only
# real files and folders move: a link at FROM/NAME (the layout since 1.00-2)
# is left alone. Nothing at TO is ever overwritten:
# - a folder is merged entry by entry;
# - where TO already holds a different file of that name, the copy from FROM
#   (the one the programs used until now) takes the place and the other one
#   is kept beside it as NAME.kept-TIME;
# - an identical file is kept once.
# Across filesystems every entry is copied under a temporary name, renamed
# into place and only then deleted at FROM, so an interrupted move never
# leaves a half-copied database and never loses the original.
set -eu

from_dir=$1
to_dir=$2
shift 2

same_filesystem() { [ "$(stat -c %d "$1")" = "$(stat -c %d "$2")" ]; }

# relocate FROM TO: moves a file or folder to the absent path TO.
relocate() {
  if same_filesystem "$(dirname "$1")" "$(dirname "$2")"; then
    mv -T "$1" "$2"
  else
    cp -a "$1" "$2.moving-$$"
    mv -T "$2.moving-$$" "$2"
    rm -rf "$1"
  fi
}

# set_aside PATH: renames PATH to an unused name beside it and says so.
set_aside() {
  aside="$1.kept-$(date +%Y%m%d%H%M%S)"
  [ ! -e "$aside" ] || aside="$aside-$$"
  mv -T "$1" "$aside"
  echo "pendra-move-data: $1 was already there; it is kept as $aside"
}

is_folder() { [ -d "$1" ] && [ ! -L "$1" ]; }
exists() { [ -e "$1" ] || [ -L "$1" ]; }

# move_in NAME: moves FROM/NAME to TO/NAME as described above.
move_in() {
  local from="$from_dir/$1" to="$to_dir/$1" entry
  if ! exists "$to"; then
    relocate "$from" "$to"
  elif is_folder "$from" && is_folder "$to"; then
    for entry in "$from"/* "$from"/.[!.]* "$from"/..?*; do
      if exists "$entry"; then move_in "$1/${entry##*/}"; fi
    done
    rmdir "$from"
  elif [ -f "$from" ] && [ -f "$to" ] && cmp -s "$from" "$to"; then
    rm -f "$from"
  else
    set_aside "$to"
    relocate "$from" "$to"
  fi
}

mkdir -p "$to_dir"
for name in "$@"; do
  if exists "$from_dir/$name" && [ ! -L "$from_dir/$name" ]; then
    move_in "$name"
    echo "pendra-move-data: moved $from_dir/$name to $to_dir/$name"
  fi
done
