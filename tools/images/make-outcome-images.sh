#!/usr/bin/env bash
# A FAT16 card whose deleted files end up intact, damaged or partial the way
# real cards do, for the per-file outcome, integrity and report tests:
#   NEW.JPG      deleted JPEG, intact
#   TUNE.MID     deleted; NEW.JPG (written after it was deleted) took its cluster
#   KEEP.JPG, SONG.MP3, REPORT.PDF, SHEET.XLSX   deleted, intact
#   HOLIDAY.JPG  deleted; written around the live C.BIN, which was deleted
#                later: read as one run, its middle is C.BIN's bytes
#   PHOTO.JPG    deleted; LETTER.TXT (live) was written over its start, so
#                no fast scan lists it any more
#   "Report Q3 2024.pdf"  deleted; a new short-named file took its first
#                long-name slot, so only a cut long name is left
#   LAST.JPG     deleted; written into what PHOTO.JPG left free and on past
#                the live LETTER.TXT, so only its first part is one run
# Then the same card quick-formatted (mkfs.fat again), for carving.
# Output: $1/fat16-outcomes.img.gz and $1/deep-fat16-outcomes.img.gz.
set -euo pipefail
out="$(cd "$1" && pwd)"
here="$(cd "$(dirname "$0")" && pwd)"
samples="$here/../../tests/data/samples"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
export MTOOLS_SKIP_CHECK=1 LC_ALL=C.UTF-8
cd "$work"

# Content with fixed bytes (no random seeds that change between runs).
convert -seed 21 -size 400x300 plasma:fractal -quality 92 last.jpg
convert -seed 22 -size 200x150 plasma:fractal -quality 92 photo.jpg
for name in a b c; do
  /usr/bin/python3 -c "import random,sys; r=random.Random('$name'); sys.stdout.buffer.write(bytes(r.getrandbits(8) for _ in range(16384)))" > $name.bin
done
head -c 6000 /dev/zero | tr '\0' 'L' > letter.txt

img=fat16-outcomes.img
truncate -s 8M $img
mkfs.fat -F 16 -s 2 -n CARD -i 4B455354 $img >/dev/null
i="-i $img"
# First fit: each new file takes the lowest free clusters. New files go to
# other folders than the deleted ones, so that no deleted entry is reused,
# except where that is the point (X.TXT).
mmd $i ::/DCIM ::/MUSIC ::/DOCS ::/TMP ::/OLD ::/MIDI
mcopy $i "$samples/tune.mid" ::/MIDI/TUNE.MID
mdel $i ::/MIDI/TUNE.MID
mcopy $i "$samples/jfif.jpg" ::/DCIM/NEW.JPG
mcopy $i "$samples/exif.jpg" ::/DCIM/KEEP.JPG
mcopy $i "$samples/song.mp3" ::/MUSIC/SONG.MP3
mcopy $i "$samples/doc.pdf" "::/DOCS/Report Q3 2024.pdf"
mcopy $i "$samples/doc.pdf" ::/DOCS/REPORT.PDF
mcopy $i "$samples/sheet.xlsx" ::/DOCS/SHEET.XLSX
mcopy $i photo.jpg ::/OLD/PHOTO.JPG
mcopy $i a.bin ::/TMP/A.BIN
mcopy $i b.bin ::/TMP/B.BIN
mcopy $i c.bin ::/TMP/C.BIN
mdel $i ::/TMP/B.BIN
mcopy $i "$samples/noise.jpg" ::/DCIM/HOLIDAY.JPG
mdel $i ::/OLD/PHOTO.JPG
mcopy $i letter.txt ::/TMP/LETTER.TXT
mdel $i "::/DOCS/Report Q3 2024.pdf"
# A short name needs one slot: the first free one is the deleted long name's first.
printf 'x' > x.txt
mcopy $i x.txt ::/DOCS/X.TXT
mcopy $i last.jpg ::/DCIM/LAST.JPG
mdel $i ::/DCIM/NEW.JPG ::/DCIM/KEEP.JPG ::/MUSIC/SONG.MP3 ::/DOCS/REPORT.PDF ::/DOCS/SHEET.XLSX \
  ::/DCIM/HOLIDAY.JPG ::/TMP/C.BIN ::/DCIM/LAST.JPG

cp $img deep-fat16-outcomes.img
mkfs.fat -F 16 -s 2 -n CARD -i 4B455354 deep-fat16-outcomes.img >/dev/null

for name in $img deep-fat16-outcomes.img; do
  gzip -9n < $name > "$out/$name.gz"
done
