#!/usr/bin/env bash
# Installs into a scratch prefix and builds the .deb, then checks what both hold.
set -euo pipefail
build=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
id=io.github.quavrel.Quavrel

cmake --install "$build" --prefix "$work/prefix" >/dev/null
(cd "$work" && cpack --config "$build/CPackConfig.cmake" -B "$work/deb" >/dev/null)
deb=$(ls "$work"/deb/quavrel_*.deb)
contents=$(dpkg-deb -c "$deb")
for file in bin/quavrel share/applications/$id.desktop share/metainfo/$id.metainfo.xml \
  share/icons/hicolor/{16x16,32x32,48x48,128x128}/apps/$id.png share/icons/hicolor/scalable/apps/$id.svg; do
  [ -f "$work/prefix/$file" ] || { echo "not installed: $file"; exit 1; }
  grep -q -F " ./usr/$file" <<<"$contents" || { echo "not in the package: $file"; exit 1; }
done
[ -x "$work/prefix/bin/quavrel" ] || { echo "quavrel is not executable"; exit 1; }
info=$(dpkg-deb -I "$deb")
for field in "Package: quavrel" "Depends: .*libqt6widgets6" "Depends: .*libfluidsynth3" \
  "Depends: .*fluid-soundfont-gm" "Depends: .*libqt6dbus6" "Depends: .*fonts-liberation" "Section: sound"; do
  grep -q -E "$field" <<<"$info" || { echo "control field missing: $field"; exit 1; }
done
echo "package and install layout are complete"
