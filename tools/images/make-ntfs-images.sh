#!/usr/bin/env bash
# NTFS volumes with deleted files, made by mkntfs and filled through an ntfs-3g
# mount (run as root). For each image the SHA-256 of every file deleted last
# (whose clusters nothing overwrote) goes to tests/data/<image>-expected.txt as
# "<sha256>  <path as recovered with --keep-paths>".
#
#   ntfs-main.img  4 KiB clusters: nested folders, resident and non-resident
#                  files, a fragmented file, a compressed folder, a sparse file,
#                  Unicode names, a DOS + Win32 name, a deleted folder tree, a
#                  folder whose record is reused (its file lands in
#                  LostFolder<n>) and a file marked encrypted.
#   ntfs-4k.img    4,096-byte sectors and MFT records.
#   ntfs-512.img   512-byte clusters (a record spans two), compressed file.
set -euo pipefail
out="$(cd "$1" && pwd)"
work="$(mktemp -d)"
mnt="$work/mnt"
mkdir -p "$mnt"
cleanup() {
  mountpoint -q "$mnt" && umount "$mnt"
  rm -rf "$work"
}
trap cleanup EXIT

# Deterministic content: text lines (compress well, unique per seed) or random bytes.
text() { python3 -c "import sys
n,seed=int(sys.argv[1]),sys.argv[2]
out=''.join(f'{seed} line {i}: the quick brown fox jumps over the lazy dog {i*i}\n' for i in range(n*2))
sys.stdout.write(out[:n])" "$1" "$2"; }
random_bytes() { python3 -c "import random,sys
random.seed(sys.argv[2]); sys.stdout.buffer.write(random.randbytes(int(sys.argv[1])))" "$1" "$2"; }

new_volume() {  # image size mkntfs-options...
  local image="$1" size="$2"
  shift 2
  rm -f "$image"
  truncate -s "$size" "$image"
  mkntfs -F -q "$@" -L KESTREL "$image" >/dev/null 2>&1
}

expected=()
expect() {  # path-inside-mount recovered-path: remember a file that will be deleted last
  expected+=("$(sha256sum "$mnt/$1" | cut -d' ' -f1)  $2")
}
write_expected() {  # image-name
  printf '%s\n' "${expected[@]}" | LC_ALL=C sort -k2 > "$out/$1-expected.txt"
  expected=()
}

set_compressed() {  # folder: files made in it afterwards are LZNT1-compressed
  python3 - "$1" <<'EOF'
import os, struct, sys
p = sys.argv[1]
a = struct.unpack('<I', os.getxattr(p, 'system.ntfs_attrib'))[0]
os.setxattr(p, 'system.ntfs_attrib', struct.pack('<I', a | 0x800))
EOF
}

# Sets the encrypted flag on the unnamed $DATA attribute of MFT record n, as
# EFS leaves it; ntfs-3g cannot encrypt, the bytes stay as written.
mark_encrypted() {  # image record-number
  python3 - "$1" "$2" <<'EOF'
import struct, sys
path, number = sys.argv[1], int(sys.argv[2])
with open(path, 'r+b') as f:
    boot = f.read(512)
    bps = struct.unpack_from('<H', boot, 11)[0]
    cluster = bps * boot[13]
    mft = struct.unpack_from('<Q', boot, 0x30)[0] * cluster
    raw = struct.unpack_from('<b', boot, 0x40)[0]
    size = (1 << -raw) if raw < 0 else raw * cluster
    f.seek(mft + number * size)
    rec = bytearray(f.read(size))
    assert rec[:4] == b'FILE'
    pos = struct.unpack_from('<H', rec, 20)[0]
    while True:
        kind, length = struct.unpack_from('<II', rec, pos)
        assert kind != 0xFFFFFFFF and length > 0
        if kind == 0x80 and rec[pos + 9] == 0:
            break
        pos += length
    flags = pos + 12
    assert flags % 512 < 510, 'flag bytes under a fix-up'
    rec[flags + 1] |= 0x40
    f.seek(mft + number * size)
    f.write(rec)
EOF
}

inode() { stat -c %i "$1"; }

# ---------------------------------------------------------------- ntfs-main
img="$work/ntfs-main.img"
new_volume "$img" 8M -c 4096
ntfs-3g -o compression "$img" "$mnt"
# Made first so it has the lowest record number; reused after a remount below.
mkdir "$mnt/gone"
random_bytes 9000 victim > "$mnt/gone/victim.bin"
gone=$(inode "$mnt/gone")

mkdir -p "$mnt/docs/deep/er" "$mnt/photos" "$mnt/unicode" "$mnt/packed" "$mnt/trash/a/b" "$mnt/frag" "$mnt/keep"
text 700 readme > "$mnt/docs/readme.txt"
random_bytes 4000 live > "$mnt/keep/live.bin"
text 300 notes > "$mnt/docs/notes.txt"
text 200 nested > "$mnt/docs/deep/er/nested.txt"
convert -size 160x120 plasma:fractal -seed 7 -quality 90 "$mnt/photos/big.jpg" 2>/dev/null ||
  convert -size 160x120 gradient:red-blue "$mnt/photos/big.jpg"
convert -size 32x32 gradient:yellow-green "$mnt/photos/small.png"
text 120 unicode > "$mnt/unicode/Ünïcödé 日本語.txt"
random_bytes 5000 camera > "$mnt/unicode/📷 camera.bin"
text 400 dosname > "$mnt/docs/longfilename document.txt"
python3 -c "import os; os.setxattr('$mnt/docs/longfilename document.txt', 'system.ntfs_dos_name', b'LONGFI~1.TXT')"
set_compressed "$mnt/packed"
text 180000 packed > "$mnt/packed/text.txt"
random_bytes 70000 noise > "$mnt/packed/noise.bin"       # units that do not compress are stored raw
{ text 30000 head; head -c 200000 /dev/zero; text 30000 tail; } > "$mnt/packed/holes.txt"
# A sparse file: data, a 256 KiB hole, data.
python3 -c "
import random
random.seed('sparse')
with open('$mnt/docs/sparse.bin', 'wb') as f:
    f.write(random.randbytes(8192)); f.seek(8192 + 262144); f.write(random.randbytes(5000))"
text 250 file1 > "$mnt/trash/a/b/file1.txt"
random_bytes 30000 file2 > "$mnt/trash/a/file2.bin"
text 2000 secret > "$mnt/docs/secret.txt"

# Fragmentation: small fillers, the rest of the volume taken by ballast, every
# other filler deleted, then a file that can only go into the holes.
for i in $(seq -w 0 39); do text 8192 "filler$i" > "$mnt/frag/filler$i.bin"; done
dd if=/dev/zero of="$mnt/keep/ballast.bin" bs=64k 2>/dev/null || true
for i in $(seq -w 1 2 39); do rm "$mnt/frag/filler$i.bin"; done
text 122880 fragmented > "$mnt/frag/fragmented.bin"
rm "$mnt/keep/ballast.bin"

# Everything below is deleted last: nothing is written over it afterwards.
expect "gone/victim.bin" "LostFolder$gone/victim.bin"
expect docs/notes.txt docs/notes.txt
expect docs/deep/er/nested.txt docs/deep/er/nested.txt
expect photos/big.jpg photos/big.jpg
expect photos/small.png photos/small.png
expect "unicode/Ünïcödé 日本語.txt" "unicode/Ünïcödé 日本語.txt"
expect "unicode/📷 camera.bin" "unicode/📷 camera.bin"
expect "docs/longfilename document.txt" "docs/longfilename document.txt"
expect packed/text.txt packed/text.txt
expect packed/noise.bin packed/noise.bin
expect packed/holes.txt packed/holes.txt
expect docs/sparse.bin docs/sparse.bin
expect trash/a/b/file1.txt trash/a/b/file1.txt
expect trash/a/file2.bin trash/a/file2.bin
expect docs/secret.txt docs/secret.txt
expect frag/fragmented.bin frag/fragmented.bin
for i in $(seq -w 0 2 38); do expect "frag/filler$i.bin" "frag/filler$i.bin"; done
secret=$(inode "$mnt/docs/secret.txt")

umount "$mnt"
fragments=$(ntfsinfo -v -F /frag/fragmented.bin "$img" | sed -n 's/.*fragments: \([0-9]*\).*/\1/p' | head -1)
[ "${fragments:-0}" -gt 1 ] || { echo "fragmented.bin is not fragmented" >&2; exit 1; }
ntfs-3g -o compression "$img" "$mnt"
rm -rf "$mnt/gone" "$mnt/trash" "$mnt/photos/big.jpg" "$mnt/photos/small.png" "$mnt/unicode"/* \
  "$mnt/docs/notes.txt" "$mnt/docs/deep/er/nested.txt" "$mnt/docs/longfilename document.txt" \
  "$mnt/packed"/* "$mnt/docs/sparse.bin" "$mnt/docs/secret.txt" "$mnt/frag"/*
umount "$mnt"
# The first record made after a fresh mount is the lowest free one: the
# deleted folder's. A resident file takes it, so no deleted cluster is touched.
ntfs-3g "$img" "$mnt"
echo "reused" > "$mnt/keep/reuser.txt"
[ "$(inode "$mnt/keep/reuser.txt")" = "$gone" ] || { echo "record $gone was not reused" >&2; exit 1; }
umount "$mnt"
mark_encrypted "$img" "$secret"
write_expected ntfs-main
echo "ntfs-main: folder record $gone reused; fragmented.bin in $fragments fragments" >&2

# ---------------------------------------------------------------- ntfs-4k
img="$work/ntfs-4k.img"
new_volume "$img" 6M -s 4096 -c 4096
ntfs-3g "$img" "$mnt"
mkdir -p "$mnt/pics/2024" "$mnt/old/inner"
text 300 small4k > "$mnt/pics/2024/note.txt"
convert -size 120x90 gradient:blue-white -quality 85 "$mnt/pics/2024/photo.jpg"
random_bytes 40000 big4k > "$mnt/pics/data.bin"
text 500 inner > "$mnt/old/inner/deep.txt"
random_bytes 12000 outer > "$mnt/old/outer.bin"
text 100 live4k > "$mnt/pics/live.txt"
expect pics/2024/note.txt pics/2024/note.txt
expect pics/2024/photo.jpg pics/2024/photo.jpg
expect pics/data.bin pics/data.bin
expect old/inner/deep.txt old/inner/deep.txt
expect old/outer.bin old/outer.bin
rm -rf "$mnt/pics/2024" "$mnt/pics/data.bin" "$mnt/old"
umount "$mnt"
write_expected ntfs-4k

# ---------------------------------------------------------------- ntfs-512
img="$work/ntfs-512.img"
new_volume "$img" 4M -c 512
ntfs-3g -o compression "$img" "$mnt"
mkdir -p "$mnt/z" "$mnt/plain"
set_compressed "$mnt/z"
text 60000 small512 > "$mnt/z/compressed.txt"
random_bytes 3000 tiny > "$mnt/z/incompressible.bin"
random_bytes 25000 plain > "$mnt/plain/file.bin"
text 600 res512 > "$mnt/plain/resident.txt"
expect z/compressed.txt z/compressed.txt
expect z/incompressible.bin z/incompressible.bin
expect plain/file.bin plain/file.bin
expect plain/resident.txt plain/resident.txt
rm -rf "$mnt/z"/* "$mnt/plain"/*
umount "$mnt"
write_expected ntfs-512

for name in ntfs-main ntfs-4k ntfs-512; do
  gzip -9n -c "$work/$name.img" > "$out/$name.img.gz"
done
