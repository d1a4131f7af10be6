#!/usr/bin/env bash
# Renders the PNG icons from the SVG (rsvg-convert from librsvg2-bin, ImageMagick for the
# 16-colour small sizes). The PNGs are committed; run this after changing the SVG.
set -euo pipefail
cd "$(dirname "$0")"
svg=io.github.quavrel.Quavrel.svg
for size in 16 32 48 128; do
  mkdir -p "${size}x${size}"
  out="${size}x${size}/io.github.quavrel.Quavrel.png"
  rsvg-convert -w "$size" -h "$size" "$svg" -o "$out"
  if [ "$size" -le 32 ]; then
    # The small images keep to 16 colours, as a classic window icon does.
    convert-im6.q16 "$out" -colors 16 "PNG8:$out"
  fi
done
