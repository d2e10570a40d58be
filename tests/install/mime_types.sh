#!/usr/bin/env bash
# mime_types.sh UPDATE_MIME_DATABASE GIO XML: builds a shared MIME database holding only XML,
# which must go through without a message, and asks gio for the type of files named and
# filled as the desktop meets them.
set -euo pipefail
update=$1 gio=$2 xml=$3
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
export XDG_DATA_DIRS=$scratch XDG_DATA_HOME=$scratch
mkdir -p "$scratch/mime/packages" "$scratch/files"
cp "$xml" "$scratch/mime/packages/quarnel.xml"
messages=$("$update" "$scratch/mime" 2>&1)
[ -z "$messages" ] || { echo "update-mime-database: $messages"; exit 1; }

# file name, contents, expected type: by magic without an extension, by extension alone
status=0
while read -r name bytes expected; do
  printf "$bytes" >"$scratch/files/$name"
  got=$("$gio" info -a standard::content-type "$scratch/files/$name" | sed -n 's/.*content-type: //p')
  [ "$got" = "$expected" ] || { echo "$name: $got, expected $expected"; status=1; }
done <<'TABLE'
archive   PVMH\010\0\0\0  application/x-pvm-archive
indexed   GBIX\010\0\0\0  image/x-pvr-texture
gcindexed GCIX\010\0\0\0  image/x-pvr-texture
bare      PVRT\010\0\0\0  image/x-pvr-texture
OBJ.PVM   x               application/x-pvm-archive
tex.pvr   x               image/x-pvr-texture
other     PVMX\001\002\003  application/octet-stream
TABLE
exit "$status"
