#!/usr/bin/env bash
# Volumes that only a deep scan can read: FAT32 and NTFS volumes filled with
# files and then formatted again, a FAT32 volume whose boot sectors are gone,
# and a whole-disk image with an MBR holding a FAT32 and an NTFS partition.
# Beside each image, <image>.sha256 lists "sha256  path" of every file that was
# written into it, so tests can tell which recovered bytes are the old files.
# Needs root for the ntfs-3g FUSE mounts.
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
py=/usr/bin/python3
export MTOOLS_SKIP_CHECK=1

# Deterministic pictures and documents; every file differs from every other.
# $1 folder, $2 seed. Photos are made with PIL (JPEG, PNG) and ImageMagick.
make_files() {
  local dir="$1" seed="$2"
  mkdir -p "$dir/DCIM/100CANON" "$dir/Photos/Summer holiday 2023/Notes" "$dir/Documents"
  "$py" - "$dir" "$seed" <<'PYEOF'
import random, sys
from PIL import Image, ImageDraw
root, seed = sys.argv[1], int(sys.argv[2])
rnd = random.Random(seed)
def picture(path, w, h, fmt):
    img = Image.new("RGB", (w, h), (rnd.randrange(256), rnd.randrange(256), rnd.randrange(256)))
    d = ImageDraw.Draw(img)
    for _ in range(40):
        x0, y0 = rnd.randrange(w), rnd.randrange(h)
        d.ellipse([x0, y0, x0 + rnd.randrange(8, w // 2), y0 + rnd.randrange(8, h // 2)],
                  fill=(rnd.randrange(256), rnd.randrange(256), rnd.randrange(256)))
    for _ in range(w * h // 40):
        img.putpixel((rnd.randrange(w), rnd.randrange(h)), (rnd.randrange(256),) * 3)
    img.save(path, fmt, **({"quality": 85} if fmt == "JPEG" else {}))
for i in range(1, 5):
    picture(f"{root}/DCIM/100CANON/IMG_000{i}.JPG", 320, 240, "JPEG")
picture(f"{root}/Photos/Summer holiday 2023/Beach at sunset.jpg", 400, 300, "JPEG")
picture(f"{root}/Photos/Summer holiday 2023/Family picnic by the lake.jpg", 360, 270, "JPEG")
picture(f"{root}/Photos/Summer holiday 2023/Map of the coast.png", 200, 150, "PNG")
picture(f"{root}/Birthday cake.jpg", 300, 200, "JPEG")
with open(f"{root}/Photos/Summer holiday 2023/Notes/itinerary.txt", "w") as f:
    for day in range(1, 40):
        f.write(f"Day {day}: walk {rnd.randrange(3, 25)} km, stay at site {rnd.randrange(100)}\n")
with open(f"{root}/Documents/letter.pdf", "wb") as f:
    f.write(b"%PDF-1.4\n% fake but recognisable\n" + bytes(rnd.randrange(256) for _ in range(3000)) + b"\n%%EOF\n")
with open(f"{root}/readme.txt", "w") as f:
    f.write("Seed %d: the card of a careful photographer.\n" % seed)
PYEOF
  convert -size 240x180 -seed "$seed" plasma:fractal -quality 80 "$dir/Photos/Summer holiday 2023/Cliffs.jpg"
}

# sha256 list of a folder's files, paths relative to it.
list_sums() {
  (cd "$1" && find . -type f | sed 's|^\./||' | LC_ALL=C sort | while read -r f; do
     printf '%s  %s\n' "$(sha256sum "$f" | cut -d' ' -f1)" "$f"; done)
}

# Copies a folder tree into a FAT image (offset in bytes) with mtools.
fill_fat() {
  local img="$work/$1" src="$2" off="${3:-0}"
  (cd "$src" && mcopy -s -i "$img@@$off" ./* ::/)
}

fill_ntfs() {
  local img="$1" src="$2" off="${3:-0}"
  ntfs-3g -o offset="$off" "$img" "$mnt"
  cp -r "$src"/. "$mnt"/
  umount "$mnt"
}

# (mtools needs at least 65,525 clusters to see FAT32.)
# 1. FAT32, filled and then formatted again with the same layout.
make_files files-fat 1
truncate -s 34M deep-fat32-formatted.img
mkfs.fat -F 32 -s 1 -n CARD deep-fat32-formatted.img >/dev/null 2>&1
fill_fat deep-fat32-formatted.img files-fat
mkfs.fat -F 32 -s 1 -n CARD deep-fat32-formatted.img >/dev/null 2>&1
list_sums files-fat > deep-fat32-formatted.img.sha256

# 2. NTFS, filled and then quick-formatted (as Windows does by default: the
# old file records and data stay where they were).
make_files files-ntfs 2
truncate -s 16M deep-ntfs-formatted.img
mkntfs -F -q -L DISK deep-ntfs-formatted.img >/dev/null 2>&1
fill_ntfs deep-ntfs-formatted.img files-ntfs
mkntfs -F -Q -q -L DISK deep-ntfs-formatted.img >/dev/null 2>&1
list_sums files-ntfs > deep-ntfs-formatted.img.sha256

# 3. FAT32 with both boot sectors (0 and the backup at 6) overwritten: no
# geometry but what the directories themselves tell.
make_files files-boot 3
truncate -s 66M deep-fat32-noboot.img
mkfs.fat -F 32 -s 2 -n NOBOOT deep-fat32-noboot.img >/dev/null 2>&1
fill_fat deep-fat32-noboot.img files-boot
dd if=/dev/zero of=deep-fat32-noboot.img bs=512 count=1 conv=notrunc status=none
dd if=/dev/zero of=deep-fat32-noboot.img bs=512 seek=6 count=1 conv=notrunc status=none
list_sums files-boot > deep-fat32-noboot.img.sha256

# 4. A whole disk: MBR, FAT32 at sector 2048, NTFS after it. Some files are
# deleted in each volume before the disk is imaged.
make_files files-disk-fat 4
make_files files-disk-ntfs 5
fat_start=2048 fat_sectors=$((34 * 2048)) ntfs_sectors=$((16 * 2048))
ntfs_start=$((fat_start + fat_sectors))
truncate -s $(((ntfs_start + ntfs_sectors + 2048) * 512)) deep-disk-mbr.img
printf 'label: dos\nstart=%d, size=%d, type=c\nstart=%d, size=%d, type=7\n' \
  $fat_start $fat_sectors $ntfs_start $ntfs_sectors | sfdisk -q deep-disk-mbr.img
truncate -s $((fat_sectors * 512)) part-fat.img
mkfs.fat -F 32 -s 1 -h $fat_start -n DISKFAT part-fat.img >/dev/null 2>&1
fill_fat part-fat.img files-disk-fat
mdel -i part-fat.img "::/DCIM/100CANON/IMG_0002.JPG" "::/Birthday cake.jpg"
truncate -s $((ntfs_sectors * 512)) part-ntfs.img
mkntfs -F -q -p $ntfs_start -L DISKNTFS part-ntfs.img >/dev/null 2>&1
fill_ntfs part-ntfs.img files-disk-ntfs
ntfs-3g part-ntfs.img "$mnt"
rm "$mnt/Photos/Summer holiday 2023/Beach at sunset.jpg" "$mnt/readme.txt"
umount "$mnt"
dd if=part-fat.img of=deep-disk-mbr.img bs=512 seek=$fat_start conv=notrunc status=none
dd if=part-ntfs.img of=deep-disk-mbr.img bs=512 seek=$ntfs_start conv=notrunc status=none
{ list_sums files-disk-fat | sed 's|  |  fat/|'; list_sums files-disk-ntfs | sed 's|  |  ntfs/|'; } \
  > deep-disk-mbr.img.sha256

for img in deep-*.img; do
  gzip -9n -c "$img" > "$out/$img.gz"
  cp "$img.sha256" "$out/"
done
