#!/usr/bin/env bash
# Small empty volumes of each recognised kind, for file-system detection.
set -euo pipefail
out="$(cd "$1" && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cd "$work"

truncate -s 1440K probe-fat12.img && mkfs.fat -F 12 -n PROBE12 probe-fat12.img >/dev/null
truncate -s 16M probe-fat16.img && mkfs.fat -F 16 -n PROBE16 probe-fat16.img >/dev/null
truncate -s 40M probe-fat32.img && mkfs.fat -F 32 -n PROBE32 probe-fat32.img >/dev/null
truncate -s 8M probe-ntfs.img && mkntfs -F -q -L PROBE probe-ntfs.img >/dev/null 2>&1
truncate -s 4M probe-ext4.img && mke2fs -q -t ext4 -O ^has_journal -b 4096 probe-ext4.img
truncate -s 2M probe-ext2-1k.img && mke2fs -q -t ext2 -b 1024 probe-ext2-1k.img
# Random bytes: no file system at all.
head -c 64K /dev/urandom > probe-random.img

for img in probe-*.img; do
  gzip -9n -c "$img" > "$out/$img.gz"
done
