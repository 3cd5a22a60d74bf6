#!/usr/bin/env bash
# Pictures of every page of the desktop application for the README: the real
# window, under Xvfb, walked through the bundled FAT32 card image (home,
# sources, file types, results with a photo previewed, the preview window,
# the thumbnail grid with its intact/damaged marks, recovery done, image
# mode). Needs a build (bash tools/build.sh) and xvfb.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ ! -x build/kestrel-screenshots ]; then
  echo "screenshots: build/kestrel-screenshots is missing; run bash tools/build.sh first" >&2
  exit 2
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
gzip -dc tests/data/fat32-deleted.img.gz > "$work/card.img"
gzip -dc tests/data/disk-mbr.img.gz > "$work/disk-mbr.img"
# Settings, scan logs and the instance lock stay in the scratch folder.
export XDG_CONFIG_HOME="$work/config" XDG_DATA_HOME="$work/data" XDG_RUNTIME_DIR="$work/run"
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
mkdir -p docs/screenshots
xvfb-run -a -s "-screen 0 1280x800x24" env QT_QPA_PLATFORM=xcb \
  build/kestrel-screenshots "$work/card.img" docs/screenshots "$work/recovered" "$work/disk-mbr.img"
ls -1 docs/screenshots
