#!/usr/bin/env bash
# FAT12, FAT16 and FAT32 images with deleted files to recover: nested folders,
# long and Unicode names, real pictures, sound and video made here, files
# deleted with mdel, a folder tree deleted with mdeltree, a deleted file whose
# later clusters were reused, a deleted folder whose cluster was reused, a
# zero-length file and a file without the archive bit. Writes
# fat{12,16,32}-deleted.img.gz and fat-expected.txt (what recovery must give:
# image, intact|partial|absent, size, SHA-256, path below the volume root).
set -euo pipefail
out="$(cd "$1" && pwd)"
here="$(cd "$(dirname "$0")" && pwd)"
tool="/usr/bin/python3 $here/fat_image_tool.py"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
export MTOOLS_SKIP_CHECK=1 LC_ALL=C.UTF-8
cd "$work"

# Content: small but real files, the same for every image.
mkdir -p src
convert -seed 1 -size 160x120 plasma:fractal -quality 85 src/beach.jpg
convert -seed 2 -size 120x90 gradient:orange-purple src/sunset.png
convert -seed 3 -size 140x100 plasma:fractal -quality 80 src/cafe.jpg
convert -seed 4 -size 64x48 xc:skyblue -fill navy -draw "circle 32,24 32,4" BMP3:src/nameless.bmp
convert -seed 5 -size 150x110 plasma:fractal -quality 80 src/lake.jpg
convert -seed 6 -size 100x80 gradient:green-yellow src/portrait.png
convert -seed 7 -size 60x40 xc:red -fill white -draw "rectangle 10,10 50,30" src/trip.gif
convert -seed 8 -size 120x90 plasma:fractal -quality 80 src/img2.jpg
convert -seed 9 -size 120x90 plasma:fractal -quality 80 src/img1.jpg
convert -seed 10 -size 300x200 plasma:fractal -quality 90 src/reused.jpg
ffmpeg -loglevel error -f lavfi -i "sine=frequency=440:duration=0.4" -ar 8000 -ac 1 src/sea.wav
ffmpeg -loglevel error -f lavfi -i "sine=frequency=660:duration=0.2" -ar 8000 -ac 1 src/keep.wav
ffmpeg -loglevel error -f lavfi -i "testsrc=size=64x48:rate=5:duration=1" -c:v mjpeg -q:v 8 src/clip.avi
printf 'Shopping list\n- milk\n- bread\n- film for the camera\n' > src/notes.txt
printf 'This file never had the archive bit.\n' > src/noarch.txt
# Less than one cluster, so that one replacement file takes all its folder freed.
printf 'Gone with its folder.\n' > src/lost.txt
: > src/empty.txt
head -c 3000 /dev/urandom > src/new.bin

make_image() {  # name mkfs-args... ; size in $size
  local img="$1"; shift
  truncate -s "$size" "$img"
  mkfs.fat "$@" "$img" >/dev/null
}

expect() {  # image status file path
  local sha size
  sha=$(sha256sum "$3" | cut -d' ' -f1)
  size=$(stat -c %s "$3")
  printf '%s\t%s\t%s\t%s\t%s\n' "$1" "$2" "$size" "$sha" "$4" >> expected.txt
}

fill() {  # image
  local i="-i $1"
  mmd $i ::/DCIM ::/DCIM/100CANON ::/Photos "::/Photos/Holiday 2024" ::/Music ::/Videos ::/Documents \
    "::/Old Album" "::/Old Album/Summer 2019" "::/Overwritten Folder" ::/Scratch
  mcopy $i src/img1.jpg ::/DCIM/100CANON/IMG_0001.JPG
  mcopy $i src/img2.jpg ::/DCIM/100CANON/IMG_0002.JPG
  mcopy $i src/beach.jpg "::/Photos/Holiday 2024/Beach Day.jpg"
  mcopy $i src/sunset.png "::/Photos/Holiday 2024/Sunset at the Pier.png"
  mcopy $i src/cafe.jpg "::/Photos/Café crème ☕.jpg"
  mcopy $i src/nameless.bmp "::/Documents/Без названия.bmp"
  mcopy $i src/sea.wav "::/Music/Song of the Sea.wav"
  mcopy $i src/keep.wav "::/Music/Keep Me.wav"
  mcopy $i src/clip.avi "::/Videos/Clip One.avi"
  mcopy $i src/notes.txt "::/Documents/Notes about Things.txt"
  mcopy $i src/noarch.txt "::/Documents/No Archive Bit.txt"
  mattrib $i -a "::/Documents/No Archive Bit.txt"
  mcopy $i src/empty.txt "::/Empty Note.txt"
  mcopy $i src/lake.jpg "::/Old Album/Summer 2019/Lake View.jpg"
  mcopy $i src/portrait.png "::/Old Album/Family Portrait.png"
  mcopy $i src/trip.gif "::/Old Album/日本の旅.gif"
  mcopy $i src/lost.txt "::/Overwritten Folder/Lost Cause.txt"
  mcopy $i src/reused.jpg "::/Reused Photo.jpg"
}

build() {  # name size mkfs-args...
  local name="$1"; size="$2"; shift 2
  local img="$name.img" i="-i $name.img"
  make_image "$img" "$@"
  if [ "$name" = fat32-deleted ]; then
    # Push everything above cluster 65,535 so deleted entries need their high word.
    local cb; cb=$($tool clusterbytes "$img")
    head -c $((66000 * cb)) /dev/zero > filler.bin
    mcopy $i filler.bin ::/FILLER.BIN
  fi
  fill "$img"
  local cb; cb=$($tool clusterbytes "$img")
  $tool entries "$img" > entries.txt

  # A deleted folder whose cluster a new file took: it must yield nothing.
  # Its two clusters (folder, file) are the lowest free ones after the delete.
  mdeltree $i "::/Overwritten Folder"
  $tool hint "$img"
  head -c $((2 * cb)) /dev/urandom > replacement.bin
  mcopy $i replacement.bin ::/Scratch/Replacement.bin

  # "Reused Photo.jpg" is deleted; its first five clusters are then taken by
  # a file holding those same bytes, the following ones by a live file, and
  # the first file is deleted again: its head is free and intact, its tail gone.
  mdel $i "::/Reused Photo.jpg"
  $tool hint "$img"
  head -c $((5 * cb)) src/reused.jpg > head.bin
  mcopy $i head.bin "::/Scratch/Reused Head.bin"
  mcopy $i src/new.bin "::/Scratch/New Data.bin"
  mdel $i "::/Scratch/Reused Head.bin"

  mdel $i ::/DCIM/100CANON/IMG_0002.JPG "::/Photos/Holiday 2024/Beach Day.jpg" \
    "::/Photos/Holiday 2024/Sunset at the Pier.png" "::/Photos/Café crème ☕.jpg" "::/Documents/Без названия.bmp" \
    "::/Music/Song of the Sea.wav" "::/Videos/Clip One.avi" "::/Documents/Notes about Things.txt" \
    "::/Documents/No Archive Bit.txt" "::/Empty Note.txt"
  mdeltree $i "::/Old Album"
  if [ "$name" = fat32-deleted ]; then
    $tool zerohigh "$img" $(cut -f1 entries.txt)
  fi

  local n="$name.img"
  expect "$n" intact src/img2.jpg "DCIM/100CANON/!MG_0002.JPG"
  expect "$n" intact src/beach.jpg "Photos/Holiday 2024/Beach Day.jpg"
  expect "$n" intact src/sunset.png "Photos/Holiday 2024/Sunset at the Pier.png"
  expect "$n" intact src/cafe.jpg "Photos/Café crème ☕.jpg"
  expect "$n" intact src/nameless.bmp "Documents/Без названия.bmp"
  expect "$n" intact src/sea.wav "Music/Song of the Sea.wav"
  expect "$n" intact src/clip.avi "Videos/Clip One.avi"
  expect "$n" intact src/notes.txt "Documents/Notes about Things.txt"
  expect "$n" intact src/empty.txt "Empty Note.txt"
  expect "$n" intact src/lake.jpg "Old Album/Summer 2019/Lake View.jpg"
  expect "$n" intact src/portrait.png "Old Album/Family Portrait.png"
  expect "$n" intact src/trip.gif "Old Album/日本の旅.gif"
  expect "$n" intact head.bin "Scratch/Reused Head.bin"
  expect "$n" partial head.bin "Reused Photo.jpg"
  expect "$n" absent src/noarch.txt "Documents/No Archive Bit.txt"
  expect "$n" absent src/lost.txt "Overwritten Folder/Lost Cause.txt"
  gzip -9n -c "$img" > "$out/$img.gz"
}

: > expected.txt
# A 1.44 MB floppy: 224 root entries, a 14-sector root region.
build fat12-deleted 1440K -F 12 -n KFAT12
# FAT16 with 256 root entries (16 sectors, not the usual 32).
build fat16-deleted 8M -F 16 -s 2 -r 256 -n KFAT16
# FAT32 with 512-byte clusters: more than 65,536 of them in 40 MB.
build fat32-deleted 40M -F 32 -s 1 -S 512 -n KFAT32
cp expected.txt "$out/fat-expected.txt"
