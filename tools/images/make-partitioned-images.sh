#!/usr/bin/env bash
# Whole-disk images with partition tables, as `dd if=/dev/sdX of=card.img`
# makes them:
#   disk-mbr.img  MBR: primary 1 FAT32, a free stretch longer than one
#                 cylinder, an extended partition holding logical 5 (NTFS)
#                 and logical 6 (FAT32)
#   disk-gpt.img  GPT: 1 FAT32, 2 NTFS
# Every volume holds a few files in folders, some of them deleted.
# Usage: make-partitioned-images.sh OUTDIR. Needs root for the ntfs-3g mount.
set -euo pipefail
out="$(cd "$1" && pwd)"
work="$(mktemp -d)"
mnt="$work/mnt"
cleanup() {
  mountpoint -q "$mnt" 2>/dev/null && umount "$mnt" || true
  rm -rf "$work"
}
trap cleanup EXIT
cd "$work"
mkdir -p "$mnt"
export MTOOLS_SKIP_CHECK=1

# Deterministic files that differ per volume: $1 folder, $2 seed.
make_files() {
  python3 - "$1" "$2" <<'PYEOF'
import os, random, sys
root, seed = sys.argv[1], int(sys.argv[2])
rnd = random.Random(seed)
def blob(n): return bytes(rnd.randrange(256) for _ in range(n))
def jpeg(path, n):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(b"\xff\xd8\xff\xe0\x00\x10JFIF\x00\x01\x01\x00\x00\x01\x00\x01\x00\x00" + blob(n) + b"\xff\xd9")
def text(path, lines):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "w") as f:
        for i in range(lines): f.write(f"seed {seed} line {i}: {rnd.randrange(10**9)}\n")
jpeg(f"{root}/DCIM/100CARD/IMG_0001.JPG", 3000 + seed * 100)
jpeg(f"{root}/DCIM/100CARD/IMG_0002.JPG", 5000 + seed * 50)
jpeg(f"{root}/DCIM/100CARD/IMG_0003.JPG", 1500 + seed * 10)
jpeg(f"{root}/Holiday/Beach.jpg", 4000)
text(f"{root}/Holiday/notes.txt", 200 + seed)
text(f"{root}/readme.txt", 20)
PYEOF
}
# Deleted on every volume: two pictures and the notes.
deleted="DCIM/100CARD/IMG_0002.JPG DCIM/100CARD/IMG_0003.JPG Holiday/notes.txt"

fill_fat() {  # image offset-bytes folder
  (cd "$3" && mcopy -s -i "$1@@$2" ./* ::/)
  for f in $deleted; do mdel -i "$1@@$2" "::/$f"; done
}

fill_ntfs() {  # image offset-bytes folder
  ntfs-3g -o offset="$2" "$1" "$mnt"
  cp -r "$3"/. "$mnt"/
  sync
  for f in $deleted; do rm "$mnt/$f"; done
  umount "$mnt"
}

# FAT32 needs 65,525 clusters: 36 MiB at one sector per cluster.
fat_sectors=$((36 * 2048))
ntfs_sectors=$((4 * 2048))

# --- MBR: 1 FAT32 at 1 MiB, 10 MiB free, extended with 5 NTFS and 6 FAT32 ---
p1=2048
ext=$((p1 + fat_sectors + 10 * 2048))
p5=$((ext + 2048))
p6=$((p5 + ntfs_sectors + 2048))
total=$((p6 + fat_sectors + 2048))
truncate -s $((total * 512)) disk-mbr.img
sfdisk -q disk-mbr.img <<SFDISK
label: dos
label-id: 0x4b657374
start=$p1, size=$fat_sectors, type=c
start=$ext, size=$((total - ext)), type=5
start=$p5, size=$ntfs_sectors, type=7
start=$p6, size=$fat_sectors, type=c
SFDISK

# --- GPT: 1 FAT32, 2 NTFS ---
g1=2048
g2=$((g1 + fat_sectors))
gtotal=$((g2 + ntfs_sectors + 2048))
truncate -s $((gtotal * 512)) disk-gpt.img
sfdisk -q disk-gpt.img <<SFDISK
label: gpt
label-id: 4B657374-7265-6C00-0000-000000000001
start=$g1, size=$fat_sectors, type=EBD0A0A2-B9E5-4433-87C0-68B99B26B9C7, uuid=4B657374-7265-6C00-0000-000000000011
start=$g2, size=$ntfs_sectors, type=EBD0A0A2-B9E5-4433-87C0-68B99B26B9C7, uuid=4B657374-7265-6C00-0000-000000000012
SFDISK

# Volumes are formatted as files and written into place, so mkfs never
# touches a loop device.
make_fat() {  # image start-sector label seed
  rm -f part.img
  mkfs.fat -C -F 32 -s 1 -h "$2" -i 4b657374 -n "$3" part.img $((fat_sectors / 2)) >/dev/null
  make_files "files-$4" "$4"
  fill_fat "$work/part.img" 0 "files-$4"
  dd if=part.img of="$1" bs=512 seek="$2" conv=notrunc status=none
}
make_ntfs() {  # image start-sector label seed
  rm -f part.img
  truncate -s $((ntfs_sectors * 512)) part.img
  mkntfs -F -q -p "$2" -L "$3" part.img >/dev/null 2>&1
  make_files "files-$4" "$4"
  fill_ntfs "$work/part.img" 0 "files-$4"
  dd if=part.img of="$1" bs=512 seek="$2" conv=notrunc status=none
}
make_fat disk-mbr.img $p1 MBRFAT 1
make_ntfs disk-mbr.img $p5 MBRNTFS 2
make_fat disk-mbr.img $p6 MBRLOGICAL 3
make_fat disk-gpt.img $g1 GPTFAT 4
make_ntfs disk-gpt.img $g2 GPTNTFS 5

for img in disk-mbr.img disk-gpt.img; do
  gzip -9n -c "$img" > "$out/$img.gz"
done
