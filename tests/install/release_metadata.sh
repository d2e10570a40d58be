#!/usr/bin/env bash
# release_metadata.sh APPSTREAMCLI METAINFO VERSION QUARNEL QUARNEL_CLI: the AppStream
# metadata validates without a single remark (infos fail too, --strict), names VERSION as
# its release, and both programs print "quarnel VERSION" and succeed, without a display.
set -uo pipefail
appstreamcli=$1 metainfo=$2 version=$3
shift 3
status=0
"$appstreamcli" validate --no-net --strict --explain "$metainfo" || { echo "metainfo does not validate"; status=1; }
grep -q "<release version=\"$version\" date=\"[0-9-]*\"" "$metainfo" \
  || { echo "metainfo's release is not $version"; status=1; }
for program in "$@"; do
  got=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$program" --version 2>&1)
  code=$?
  [ "$code" -eq 0 ] || { echo "$program --version exited $code"; status=1; }
  [ "$got" = "quarnel $version" ] || { echo "$program --version printed: $got"; status=1; }
done
exit "$status"
