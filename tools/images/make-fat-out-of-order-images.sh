#!/usr/bin/env bash
# A FAT32 card where deleted files were written out of order. mtools, like
# other FAT drivers, allocates from the volume's next-free hint (kept in the
# FSInfo sector) and wraps round to the start: with a free hole above the
# hint and one below it, a file's first piece lies after its second. Two such
# files are written and deleted: PHOTO.JPG, whose first piece runs to the
# volume's end, and NOTES.TXT, whose first piece is followed by a deleted
# picture. ROUTE.TXT is written around a live photo that is deleted later, so
# only the content of the clusters tells its second piece. Writes
# fat32-out-of-order.img.gz and fat-out-of-order-expected.txt (image, intact
# or out-of-order, size, SHA-256, path).
# usage: make-fat-out-of-order-images.sh OUTDIR
set -euo pipefail
out="$(cd "$1" && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
export MTOOLS_SKIP_CHECK=1 LC_ALL=C.UTF-8
cd "$work"
img=fat32-out-of-order.img
i="-i $img"
cluster=512
clusters() { echo $(( ($(stat -c %s "$1") + cluster - 1) / cluster )); }
# A text file of exactly n clusters.
filler() {  # name n
  local n="$2"
  printf 'Filler %s ' "$1" > "$1"
  head -c $(( n * cluster - $(stat -c %s "$1") )) /dev/zero | tr '\0' '.' >> "$1"
}
first() { mshowfat $i "::/$1" | sed -E 's/^[^<]*<([0-9]+).*/\1/'; }

mkdir src
convert -seed 31 -size 32x32 plasma:fractal -quality 80 src/map.jpg
convert -seed 32 -size 12x12 plasma:fractal src/late.png
convert -seed 33 -size 96x72 plasma:fractal -quality 80 src/photo.jpg
for n in $(seq 1 34); do printf 'Route %02d: along the coast road, then inland to the lake.\n' "$n"; done > src/route.txt
for n in $(seq 1 60); do printf 'Note %02d: the ferry leaves at nine from the north pier.\n' "$n"; done > src/notes.txt
truncate -s 1800 src/route.txt
truncate -s 2300 src/notes.txt
[ "$(clusters src/map.jpg)" -ge 2 ] && [ "$(clusters src/route.txt)" -eq 4 ]
photoN=$(clusters src/photo.jpg)
notesN=$(clusters src/notes.txt)

truncate -s 34M "$img"
mkfs.fat -F 32 -f 1 -s 1 -S $cluster -n OUTOFORDER "$img" >/dev/null
# From the start: two holes-to-be around the map, then four two-cluster
# files whose deletion moves the hint, a large live file, and at the end the
# first pieces' holes-to-be with the late picture between them.
filler h1.txt 2; filler h2.txt 2
for f in c a c2 a2 w w2; do filler $f.txt 2; done
filler p1.txt $((notesN - 2)); filler p2.txt $((photoN - 2))
mcopy $i h1.txt ::/H1.TXT; mcopy $i src/map.jpg ::/MAP.JPG; mcopy $i h2.txt ::/H2.TXT
for f in c a c2 a2; do mcopy $i $f.txt "::/${f^^}.TXT"; done
free=$(mdir $i ::/ | sed -n 's/ bytes free//p' | tr -d ' ')
big=$(( free / cluster - (notesN - 2) - $(clusters src/late.png) - (photoN - 2) ))
head -c $(( big * cluster )) /dev/zero > big.bin
mcopy $i big.bin ::/BIG.BIN
mcopy $i p1.txt ::/P1.TXT; mcopy $i src/late.png ::/LATE.PNG; mcopy $i p2.txt ::/P2.TXT
[ "$(mdir $i ::/ | sed -n 's/ bytes free//p' | tr -d ' ')" -eq 0 ]

# The route wraps round into the two holes around the live map.
mdel $i ::/H1.TXT ::/H2.TXT
mcopy $i src/route.txt ::/ROUTE.TXT
# The photo: a hole above the hint runs to the volume's end, one below it.
mdel $i ::/A.TXT; mcopy $i w.txt ::/W.TXT
mdel $i ::/C.TXT ::/P2.TXT
mcopy $i src/photo.jpg ::/PHOTO.JPG
# The notes: a hole above the hint before the late picture, one below it.
mdel $i ::/A2.TXT; mcopy $i w2.txt ::/W2.TXT
mdel $i ::/C2.TXT ::/P1.TXT
mcopy $i src/notes.txt ::/NOTES.TXT
# Out of order: the second piece starts before the first.
for f in PHOTO.JPG NOTES.TXT; do
  pieces=$(mshowfat $i "::/$f" | grep -oE '<[0-9]+' | tr -d '<' | tr '\n' ' ')
  read -r one two _ <<< "$pieces"
  [ "$two" -lt "$one" ]
done
mdel $i ::/ROUTE.TXT ::/MAP.JPG ::/PHOTO.JPG ::/NOTES.TXT ::/LATE.PNG
fsck.fat -n "$img" >/dev/null

expect() {  # status file path
  printf '%s\t%s\t%s\t%s\t%s\n' "$img" "$1" "$(stat -c %s "$2")" "$(sha256sum "$2" | cut -d' ' -f1)" "$3" \
    >> expected.txt
}
: > expected.txt
expect intact src/route.txt ROUTE.TXT
expect intact src/map.jpg MAP.JPG
expect intact src/late.png LATE.PNG
expect out-of-order src/photo.jpg PHOTO.JPG
expect out-of-order src/notes.txt NOTES.TXT
gzip -9n -c "$img" > "$out/$img.gz"
cp expected.txt "$out/fat-out-of-order-expected.txt"
