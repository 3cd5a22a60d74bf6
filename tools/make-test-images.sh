#!/usr/bin/env bash
# Remakes every test image under tests/data with real file-system tools.
# Needs root (loop-free: images are files; NTFS is filled through an ntfs-3g
# FUSE mount). The committed results are gzip-compressed.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
for script in "$here"/images/make-*.sh; do
  echo "== $(basename "$script")"
  bash "$script" "$here/../tests/data"
done
