#!/usr/bin/env bash
# Times the results grid of thumbnails over 10,000 found photos: a FAT32
# image of deleted real JPEGs is scanned in the real
# window, offscreen, and kestrel-bench-thumbnails prints the time to the
# first screen of thumbnails, to fill every screen top to bottom, a fast
# flick through the grid with the longest GUI-thread stall, and peak memory.
# usage: tools/bench-thumbnails.sh [BUILD_DIR] [PHOTOS] [WIDTHxHEIGHT]
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build}"
photos="${2:-10000}"
size="${3:-1600x1200}"
if [ ! -x "$build/kestrel-bench-thumbnails" ]; then
  echo "bench-thumbnails: $build/kestrel-bench-thumbnails is missing; run bash tools/build.sh first" >&2
  exit 2
fi
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
img="$work/photos.img"
/usr/bin/python3 tools/bench/make_fat32_many_files.py "$img" "$photos" 100 --photos "$size"
# Settings, scan logs and the thumbnail cache stay in the scratch folder.
export XDG_CONFIG_HOME="$work/config" XDG_DATA_HOME="$work/data" XDG_RUNTIME_DIR="$work/run"
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
QT_QPA_PLATFORM=offscreen "$build/kestrel-bench-thumbnails" "$img"
