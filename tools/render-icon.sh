#!/usr/bin/env bash
# Renders resources/pictoport.svg into the PNG sizes and the Windows .ico.
# Needs rsvg-convert (librsvg2-bin) and ImageMagick; the results are committed.
set -euo pipefail
cd "$(dirname "$0")/../resources"
for s in 16 24 32 48 64 128 256; do
  rsvg-convert -w "$s" -h "$s" pictoport.svg -o "pictoport-$s.png"
done
convert pictoport-16.png pictoport-24.png pictoport-32.png pictoport-48.png pictoport-64.png \
  pictoport-256.png pictoport.ico
