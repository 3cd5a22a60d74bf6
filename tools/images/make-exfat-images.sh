#!/usr/bin/env bash
# exFAT images with deleted files, made with mkfs.exfat and the exfat-fuse
# driver on a loop device (run as root): nested folders, a long Unicode name,
# contiguous (NoFatChain) files, a fragmented file whose chain the driver
# wiped on delete, a fragmented file whose chain survived (as drivers that
# leave the FAT alone keep it), a deleted folder tree and a zero-length file.
# Then the same volume
# quick-formatted. Writes exfat-deleted.img.gz, exfat-formatted.img.gz and
# exfat-expected.txt (image, intact|partial|absent, size, SHA-256, path below
# the volume root; for the formatted image the path is what must survive: the
# folder the file was in and its name).
set -euo pipefail
out="$(cd "$1" && pwd)"
here="$(cd "$(dirname "$0")" && pwd)"
samples="$here/../../tests/data/samples"
tool="/usr/bin/python3 $here/exfat_image_tool.py"
work="$(mktemp -d)"
mnt="$work/mnt"
loop=""
cleanup() {
  if mountpoint -q "$mnt"; then umount "$mnt"; fi
  if [ -n "$loop" ]; then losetup -d "$loop"; fi
  rm -rf "$work"
}
trap cleanup EXIT
export LC_ALL=C.UTF-8
mkdir -p "$mnt"
img="$work/exfat-deleted.img"

mount_image() {
  loop=$(losetup -f --show "$img")
  mount.exfat-fuse "$loop" "$mnt"
}
unmount_image() {
  umount "$mnt"
  losetup -d "$loop"
  loop=""
}

truncate -s 4M "$img"
mkfs.exfat -c 4096 -L KESTREL "$img" >/dev/null
long="Café crème ☕ — a long name that goes on past every short-name limit, with Ünïcödé letters, 日本語の写真 and more words to pass one hundred and fifty characters.jpg"

mount_image
m="$mnt"
mkdir -p "$m/DCIM/100CANON" "$m/Photos/Holiday 2024" "$m/Music" "$m/Documents" "$m/Old Album/Summer 2019" "$m/Scratch"
cp "$samples/exif.jpg" "$m/DCIM/100CANON/IMG_0001.JPG"
cp "$samples/jfif.jpg" "$m/DCIM/100CANON/IMG_0002.JPG"
cp "$samples/image.png" "$m/Photos/Holiday 2024/Sunset at the Pier.png"
cp "$samples/raw.jpg" "$m/Photos/$long"
cp "$samples/image.bmp" "$m/Documents/Без названия.bmp"
cp "$samples/doc.pdf" "$m/Documents/report.pdf"
: > "$m/Documents/Empty Note.txt"
cp "$samples/sound.wav" "$m/Music/Song of the Sea.wav"
cp "$samples/song.mp3" "$m/Music/tune.mp3"
cp "$samples/jfif.jpg" "$m/Old Album/Summer 2019/Lake View.jpg"
cp "$samples/clip.avi" "$m/Old Album/Summer 2019/clip.avi"
# Fragmented files: each fills a freed gap and goes on behind a kept file.
cp "$samples/book.xls" "$m/Scratch/gap.xls"
cp "$samples/word.doc" "$m/Scratch/keep.doc"
rm "$m/Scratch/gap.xls"
cp "$samples/noise.jpg" "$m/Scratch/Fragmented Photo.jpg"
cp "$samples/archive.zip" "$m/Scratch/gap.zip"
cp "$samples/report.docx" "$m/Scratch/between.docx"
rm "$m/Scratch/gap.zip"
cp "$samples/clip.avi" "$m/Scratch/Chained Clip.avi"
sync
unmount_image
chained=$($tool chain "$img" "Scratch/Chained Clip.avi")

mount_image
rm "$m/DCIM/100CANON/IMG_0002.JPG" "$m/Photos/Holiday 2024/Sunset at the Pier.png" "$m/Photos/$long"
rm "$m/Documents/Без названия.bmp" "$m/Documents/Empty Note.txt" "$m/Music/Song of the Sea.wav"
rm -r "$m/Old Album"
rm "$m/Scratch/Fragmented Photo.jpg" "$m/Scratch/Chained Clip.avi" "$m/Scratch/between.docx"
sync
unmount_image
# exfat-fuse zeroes a deleted file's chain; this one gets its chain back.
# shellcheck disable=SC2086
$tool setchain "$img" $chained
fsck.exfat -n "$img" >/dev/null

: > "$work/expected.txt"
expect() {  # image status file path
  printf '%s\t%s\t%s\t%s\t%s\n' "$1" "$2" "$(stat -c %s "$3")" "$(sha256sum "$3" | cut -d' ' -f1)" "$4" \
    >> "$work/expected.txt"
}
: > "$work/empty"
for name in exfat-deleted.img exfat-formatted.img; do
  expect $name intact "$samples/jfif.jpg" "DCIM/100CANON/IMG_0002.JPG"
  expect $name intact "$samples/image.png" "Photos/Holiday 2024/Sunset at the Pier.png"
  expect $name intact "$samples/image.bmp" "Documents/Без названия.bmp"
  expect $name intact "$samples/sound.wav" "Music/Song of the Sea.wav"
  expect $name intact "$samples/jfif.jpg" "Old Album/Summer 2019/Lake View.jpg"
  expect $name intact "$samples/clip.avi" "Old Album/Summer 2019/clip.avi"
  expect $name intact "$samples/noise.jpg" "Scratch/Fragmented Photo.jpg"
  # A format wipes the FAT and the bitmap: this file's later pieces lie past
  # a file deleted before the format, and cannot be told apart from it. (The
  # photo above went round a file still live at the format: it is known.)
  status=intact
  if [ $name = exfat-formatted.img ]; then status=fragmented; fi
  expect $name $status "$samples/clip.avi" "Scratch/Chained Clip.avi"
  expect $name intact "$samples/report.docx" "Scratch/between.docx"
  expect $name intact "$samples/raw.jpg" "Photos/$long"
  expect $name intact "$work/empty" "Documents/Empty Note.txt"
done

cp "$img" "$work/exfat-formatted.img"
mkfs.exfat -c 4096 -L KESTREL "$work/exfat-formatted.img" >/dev/null
fsck.exfat -n "$work/exfat-formatted.img" >/dev/null

for name in exfat-deleted.img exfat-formatted.img; do
  gzip -9n < "$work/$name" > "$out/$name.gz"
done
cp "$work/expected.txt" "$out/exfat-expected.txt"
