#!/usr/bin/env bash
# installed_tree.sh CMAKE BUILD_DIR BUILT_CLI BUILT_SAMPLE: installs the build into a scratch
# DESTDIR under /usr, checks every desktop file lands where the desktop looks, and runs the
# installed quarnel-cli on the installed sample: it must list what the built one lists.
set -euo pipefail
cmake=$1 build=$2 cli=$3 sample=$4
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
DESTDIR=$scratch "$cmake" --install "$build" --prefix /usr >/dev/null
root=$scratch/usr
status=0
for f in bin/quarnel bin/quarnel-cli share/quarnel/docs.html share/quarnel/sample.pvm \
         share/quarnel/screenshots/window.png share/applications/quarnel.desktop \
         share/mime/packages/quarnel.xml share/icons/hicolor/scalable/apps/quarnel.svg \
         share/man/man1/quarnel-cli.1.gz share/doc/quarnel/README.md; do
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
exit "$status"
