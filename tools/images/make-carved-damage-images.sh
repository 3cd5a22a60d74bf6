#!/usr/bin/env bash
# A FAT16 card whose only trace of a photo is its bytes: PHOTO.JPG was
# written in three consecutive pieces (the same clusters and bytes as one
# contiguous file), its middle piece was deleted and a file of random bytes
# took those clusters (first fit), and then the card was quick-formatted.
# A deep scan can only carve the photo, and what it carves has another
# file's bytes in its middle: it must come back marked damaged.
#   cluster 1 KiB; the photo's first 8 KiB are intact, the next 2 KiB are
#   OTHER.BIN's, the rest is the photo's again.
# Output: $1/deep-fat16-carved-damage.img.gz and, beside it, .sha256 with the
# whole photo's SHA-256 and its size (its bytes are not kept in the repository).
set -euo pipefail
out="$(cd "$1" && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
export MTOOLS_SKIP_CHECK=1 LC_ALL=C.UTF-8
cd "$work"

# Fixed content: a plasma picture from a fixed seed and seeded random bytes.
convert -seed 31 -size 320x240 plasma:fractal -quality 90 photo.jpg
head -c 8192 photo.jpg > start.part
tail -c +8193 photo.jpg | head -c 2048 > middle.part
tail -c +10241 photo.jpg > tail.part
/usr/bin/python3 -c "import random,sys; r=random.Random('other'); sys.stdout.buffer.write(bytes(r.getrandbits(8) for _ in range(2048)))" > other.bin

img=deep-fat16-carved-damage.img
truncate -s 8M $img
mkfs.fat -F 16 -s 2 -n CARD -i 4B455355 $img >/dev/null
i="-i $img"
mcopy $i start.part ::/PHOTO.JPG
mcopy $i middle.part ::/MIDDLE.TMP
mcopy $i tail.part ::/TAIL.TMP
mdel $i ::/MIDDLE.TMP
mcopy $i other.bin ::/OTHER.BIN
mkfs.fat -F 16 -s 2 -n CARD -i 4B455355 $img >/dev/null

gzip -9n < $img > "$out/$img.gz"
{
  echo "$(sha256sum < photo.jpg | cut -c1-64)  PHOTO.JPG"
  echo "size $(stat -c %s photo.jpg)"
} > "$out/$img.sha256"
