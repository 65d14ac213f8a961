#!/usr/bin/env bash
# Redoes docs/screenshot.png: the program on its built-in virtual bus after a few polls,
# drawn offscreen (no display needed). Builds the program first if needed.
# Usage: scripts/screenshot.sh [SECONDS]   (default 35: four polls on the chart)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-35}"
if [ ! -x build/src/app/kalvex ]; then
  cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
fi
cmake --build build --target kalvex
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
mkdir -m 700 "$work/runtime"
mkdir -p docs
# A fresh folder: the demo's three sensors at their places, observation on by itself, over a
# floor plan: the living room above, the boiler room below, the outside sensor beyond the wall.
mkdir -p "$work/data"
convert -size 815x906 xc:'#0c0f14' -fill none -stroke '#6f7b8a' -strokewidth 4 \
  -draw 'rectangle 40,40 250,330' -draw 'line 40,185 150,185' -draw 'line 190,185 250,185' \
  -stroke '#3a4450' -strokewidth 2 -draw 'line 40,40 145,5' -draw 'line 145,5 250,40' \
  -quality 92 "$work/data/bk.jpg"
LANG=ru_RU.UTF-8 LC_ALL=ru_RU.UTF-8 QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR="$work/runtime" \
  build/src/app/kalvex --demo --dir "$work/data" \
  --screenshot "$work/window.png" --screenshot-delay "$((seconds * 1000))"
# A palette of 64 colours keeps the picture small enough for the repository.
convert "$work/window.png" -colors 64 -strip PNG8:docs/screenshot.png
echo "docs/screenshot.png: $(stat -c %s docs/screenshot.png) bytes"
