#!/bin/sh
# Rebuilds assets/title.pgm, prompt.pgm and banner.pgm from the DejaVu fonts (fonts-dejavu-core).
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
g++ -std=c++20 -O2 -o "$out/make_lettering" "$here/tools/make_lettering.cpp" \
  $(pkg-config --cflags --libs freetype2)
"$out/make_lettering" /usr/share/fonts/truetype/dejavu "$here/assets"
