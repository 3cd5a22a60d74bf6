#!/usr/bin/env bash
# A FAT16 card whose free space was fragmented before files were written and
# deleted: fill it with small files, delete every other one, write pictures
# and a text file into the holes (so each runs around live files), then
# delete them. One picture has a deleted file's run between its pieces; one
# lost its first cluster to a file written after it was deleted. Writes
# fat16-fragmented.img.gz, fat-fragmented-expected.txt (image, intact or
# overwritten, size, SHA-256, path) and fat-fragmented-pieces.txt (path and
# how many pieces the file was written in, for the comparison script). Also
# writes fat16-fragmented-folder.img.gz: the same card after its DCIM folder
# was deleted, so that only a deep scan finds the pictures by their folder's
# own sectors (a lost folder), while the allocation table still holds the
# live files they were written around.
# usage: make-fat-fragmented-images.sh OUTDIR
set -euo pipefail
out="$(cd "$1" && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
export MTOOLS_SKIP_CHECK=1 LC_ALL=C.UTF-8
cd "$work"
img=fat16-fragmented.img
i="-i $img"

mkdir src
convert -seed 21 -size 160x120 plasma:fractal -quality 80 src/harbour.jpg
convert -seed 22 -size 48x40 plasma:fractal src/sky.png
convert -seed 23 -size 150x100 plasma:fractal -quality 80 src/market.jpg
convert -seed 24 -size 120x90 plasma:fractal -quality 75 src/bridge.jpg
convert -seed 25 -size 16x16 xc:tomato src/dot.png
for n in $(seq 1 30); do echo "Line $n of the travel diary, written on the ferry."; done > src/diary.txt

truncate -s 4M "$img"
mkfs.fat -F 16 -s 1 -S 512 -n FRAGMENTED "$img" >/dev/null
mmd $i ::/DCIM ::/Notes
# 60 small files of two clusters each, then every other one deleted: the free
# space is 30 holes of two clusters between live files.
for n in $(seq -w 1 60); do
  printf 'Filler %s %0990d\n' "$n" 0 > "filler$n.txt"
  mcopy $i "filler$n.txt" "::/Notes/FILL$n.TXT"
done
for n in $(seq -w 2 2 60); do mdel $i "::/Notes/FILL$n.TXT"; done

mcopy $i src/dot.png ::/DCIM/DOT.PNG                # fits in one hole
mcopy $i src/harbour.jpg ::/DCIM/HARBOUR.JPG
mcopy $i src/sky.png ::/DCIM/SKY.PNG
mcopy $i src/diary.txt ::/Notes/DIARY.TXT
mcopy $i src/market.jpg ::/DCIM/MARKET.JPG
mcopy $i src/bridge.jpg ::/DCIM/BRIDGE.JPG
: > pieces.txt
for f in DCIM/DOT.PNG DCIM/HARBOUR.JPG DCIM/SKY.PNG Notes/DIARY.TXT DCIM/MARKET.JPG DCIM/BRIDGE.JPG; do
  printf '%s\t%s\n' "$f" "$(mshowfat $i "::/$f" | grep -o '<' | wc -l)" >> pieces.txt
done
# The bridge is deleted first and a new file takes its first hole.
mdel $i ::/DCIM/BRIDGE.JPG
head -c 1024 /dev/zero | tr '\0' 'n' > newer.txt
mcopy $i newer.txt ::/Notes/NEWER.TXT
# A live filler between the market's first two pieces is deleted: its run is
# free now, between pieces of the market.
second=$(mshowfat $i ::/DCIM/MARKET.JPG | sed -E 's/.*<([0-9]+)-([0-9]+)> <([0-9]+)-.*/\2 \3/')
read -r endFirst startSecond <<< "$second"
for n in $(seq -w 1 2 60); do
  range=$(mshowfat $i "::/Notes/FILL$n.TXT" | sed -E 's/.*<([0-9]+)-([0-9]+)>.*/\1/')
  if [ "$range" -gt "$endFirst" ] && [ "$range" -lt "$startSecond" ]; then
    mdel $i "::/Notes/FILL$n.TXT"
    break
  fi
done
mdel $i ::/DCIM/DOT.PNG ::/DCIM/HARBOUR.JPG ::/DCIM/SKY.PNG ::/Notes/DIARY.TXT ::/DCIM/MARKET.JPG
fsck.fat -n "$img" >/dev/null

expect() {  # status file path
  printf '%s\t%s\t%s\t%s\t%s\n' "$img" "$1" "$(stat -c %s "$2")" "$(sha256sum "$2" | cut -d' ' -f1)" "$3" \
    >> expected.txt
}
: > expected.txt
expect intact src/dot.png DCIM/DOT.PNG
expect intact src/harbour.jpg DCIM/HARBOUR.JPG
expect intact src/sky.png DCIM/SKY.PNG
expect intact src/diary.txt Notes/DIARY.TXT
expect intact src/market.jpg DCIM/MARKET.JPG
expect overwritten src/bridge.jpg DCIM/BRIDGE.JPG
gzip -9n -c "$img" > "$out/$img.gz"
cp "$img" folder.img
mdeltree -i folder.img ::/DCIM
fsck.fat -n folder.img >/dev/null
gzip -9n -c folder.img > "$out/fat16-fragmented-folder.img.gz"
cp expected.txt "$out/fat-fragmented-expected.txt"
cp pieces.txt "$out/fat-fragmented-pieces.txt"
