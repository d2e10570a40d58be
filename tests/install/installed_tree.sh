#!/usr/bin/env bash
# installed_tree.sh CMAKE BUILD_DIR BUILT_CLI BUILT_SAMPLE VERSION: installs the build into a
# scratch DESTDIR under /usr, checks every desktop file lands where the desktop looks, and runs
# the installed quarnel-cli on the installed sample: it must list what the built one lists.
# The installed programs, man pages and AppStream release must all give VERSION.
set -euo pipefail
cmake=$1 build=$2 cli=$3 sample=$4 version=$5
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
DESTDIR=$scratch "$cmake" --install "$build" --prefix /usr >/dev/null
root=$scratch/usr
status=0
for f in bin/quarnel bin/quarnel-cli share/quarnel/docs.html share/quarnel/sample.pvm share/quarnel/sample.pvp \
         share/quarnel/screenshots/window.png share/applications/quarnel.desktop \
         share/mime/packages/quarnel.xml share/icons/hicolor/scalable/apps/quarnel.svg \
         share/man/man1/quarnel-cli.1.gz share/man/man1/quarnel.1.gz share/doc/quarnel/README.md \
         share/doc/quarnel/copyright share/doc/quarnel/changelog.gz \
         share/metainfo/io.github.quarnel.quarnel.metainfo.xml \
         share/icons/hicolor/{48x48,64x64,128x128,256x256}/apps/quarnel.png; do
  [ -s "$root/$f" ] || { echo "not installed: /usr/$f"; status=1; }
done
# Nothing of the build's own (tests, tools, benchmarks) goes along.
extra=$(find "$root/bin" -type f ! -name quarnel ! -name quarnel-cli)
[ -z "$extra" ] || { echo "installed by mistake: $extra"; status=1; }

expected=$("$cli" list "$sample")
got=$("$root/bin/quarnel-cli" list "$root/share/quarnel/sample.pvm")
[[ "$got" == *"Loaded "*" sets..."* ]] || { echo "no entries listed: $got"; status=1; }
[ "$got" = "$expected" ] || { echo "installed list differs:"; diff <(echo "$expected") <(echo "$got"); status=1; }
gzip -dc "$root/share/man/man1/quarnel-cli.1.gz" | grep -q "^\.SH COMMANDS" || { echo "man page unreadable"; status=1; }

for program in quarnel quarnel-cli; do
  got=$(env -u DISPLAY -u WAYLAND_DISPLAY "$root/bin/$program" --version) || true
  [ "$got" = "quarnel $version" ] || { echo "installed $program --version: $got"; status=1; }
  heading=$(gzip -dc "$root/share/man/man1/$program.1.gz" | grep -m1 "^\.TH") || true
  [[ "$heading" == *"\"Quarnel $version\""* ]] || { echo "man page $program.1: $heading"; status=1; }
done
grep -q "<release version=\"$version\"" "$root/share/metainfo/io.github.quarnel.quarnel.metainfo.xml" \
  || { echo "installed metainfo is not of $version"; status=1; }
gzip -dc "$root/share/doc/quarnel/changelog.gz" | head -n 1 | grep -qF "quarnel ($version)" \
  || { echo "changelog does not start with $version"; status=1; }
# Icons of the size their folder says, which is what the desktop looks them up by: a PNG's
# width and height are the big-endian words at bytes 16 and 20.
for size in 48 64 128 256; do
  got=$(od -An -v -tx1 -j16 -N8 "$root/share/icons/hicolor/${size}x${size}/apps/quarnel.png" | tr -d ' \n')
  [ "$got" = "$(printf '%08x%08x' "$size" "$size")" ] \
    || { echo "icon ${size}x${size} is not $size pixels square: $got"; status=1; }
done
exit "$status"
