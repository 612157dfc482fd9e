#!/bin/sh
# pendra-seed-data DEFAULTS DATA STATE [GROUP]
#
# Puts the installation's own data into the folder DATA (the installation
# folder itself for `cmake --install`, /var/opt/pendra-set for the package):
# the two databases and the template are copied from the pristine copies in
# DEFAULTS only where nothing is there yet, so databases already in place
# are never touched. The template is refreshed only while it is still the very copy
# seeded earlier (the user has not changed it); a changed template is kept.
# STATE records a checksum of every file seeded, so that a later run (and a
# package purge) can tell seeded files from the user's own.
# With GROUP, the database folders and newly seeded databases become
# writable by that group, so that its members can run the jobs that write.
set -eu

defaults=$1
data=$2
state=$3
group=${4:-}
template="Pendra_原紙.xls"

sum() { sha256sum "$1" | cut -d' ' -f1; }
record_of() { printf '%s/%s.sha256' "$state" "$(printf '%s' "$1" | tr / _)"; }
record() { sum "$data/$1" >"$(record_of "$1")"; }

# Copies a pristine file into place through a temporary name, so that an
# interrupted copy never leaves a half-written database behind.
place() {
  cp "$defaults/$1" "$data/$1.new-$$"
  chmod "$2" "$data/$1.new-$$"
  if [ -n "$group" ]; then chgrp "$group" "$data/$1.new-$$"; fi
  mv -f "$data/$1.new-$$" "$data/$1"
  record "$1"
}

mkdir -p "$data" "$state"
for folder in OV_DataBase VL_Database; do
  mkdir -p "$data/$folder"
  if [ -n "$group" ]; then
    chgrp "$group" "$data/$folder"
    chmod 2775 "$data/$folder"
  fi
done

for db in OV_DataBase/Orvik.mdb VL_Database/Velmora.mdb; do
  if [ ! -f "$defaults/$db" ]; then
    echo "pendra-seed-data: no pristine $db to seed from" >&2
  elif [ -e "$data/$db" ]; then
    echo "pendra-seed-data: kept the existing $db"
  else
    place "$db" "$([ -n "$group" ] && echo 0664 || echo 0644)"
    echo "pendra-seed-data: seeded $db with the demo database"
  fi
done

if [ ! -f "$defaults/$template" ]; then
  echo "pendra-seed-data: no pristine template to seed from" >&2
elif [ ! -e "$data/$template" ]; then
  place "$template" 0644
  echo "pendra-seed-data: seeded the template"
elif [ "$(sum "$data/$template")" = "$(sum "$defaults/$template")" ]; then
  record "$template"
elif [ -f "$(record_of "$template")" ] &&
     [ "$(sum "$data/$template")" = "$(cat "$(record_of "$template")")" ]; then
  place "$template" 0644
  echo "pendra-seed-data: updated the unchanged template to the new version"
else
  echo "pendra-seed-data: kept the changed template; the shipped one is $defaults/$template"
fi
