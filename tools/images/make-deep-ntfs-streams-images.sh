#!/usr/bin/env bash
# An NTFS volume whose files are stored in every way NTFS has, filled through
# ntfs-3g and then quick-formatted, so only a deep scan finds them:
#   streams/packed.txt     LZNT1-compressed text
#   streams/holes.txt      compressed, with all-zero units stored as holes
#   streams/sparse.bin     sparse: data, a 256 KiB hole, data
#   streams/listed.bin     one run per cluster; its $DATA begins in the base
#                          record and goes on in an extension record named by
#                          the base record's $ATTRIBUTE_LIST
# deep-ntfs-streams.img.sha256 lists "sha256  path" of every file.
# Needs root for the ntfs-3g FUSE mount.
set -euo pipefail
out="$(cd "$1" && pwd)"
work="$(mktemp -d)"
mnt="$work/mnt"
cleanup() {
  mountpoint -q "$mnt" 2>/dev/null && umount "$mnt" || true
  rm -rf "$work"
}
trap cleanup EXIT
mkdir -p "$mnt"
py=/usr/bin/python3
img="$work/deep-ntfs-streams.img"

truncate -s 8M "$img"
mkntfs -F -q -c 4096 -L STREAMS "$img" >/dev/null 2>&1
ntfs-3g -o compression "$img" "$mnt"
mkdir "$mnt/streams"
"$py" - "$mnt/streams" <<'PYEOF'
import os, random, struct, sys
d = sys.argv[1]
def text(n, seed):
    s = ''.join(f'{seed} line {i}: the quick brown fox jumps over the lazy dog {i*i}\n' for i in range(n // 20))
    return s[:n].encode()
rnd = random.Random(7)
# Files made in a folder with the compressed flag are compressed.
os.mkdir(f'{d}/packed')
a = struct.unpack('<I', os.getxattr(f'{d}/packed', 'system.ntfs_attrib'))[0]
os.setxattr(f'{d}/packed', 'system.ntfs_attrib', struct.pack('<I', a | 0x800))
with open(f'{d}/packed/packed.txt', 'wb') as f:
    f.write(text(150000, 'packed'))
with open(f'{d}/packed/holes.txt', 'wb') as f:
    f.write(text(40000, 'head') + bytes(200000) + text(30000, 'tail'))
with open(f'{d}/sparse.bin', 'wb') as f:
    f.write(rnd.randbytes(8192))
    f.seek(8192 + 262144)
    f.write(rnd.randbytes(5000))
# Names enough to fill the record bring in an $ATTRIBUTE_LIST; appends taken
# in turns with one-cluster fillers then give the file one run per cluster,
# and its $DATA goes on in an extension record. The extra names and the
# fillers are removed again.
os.mkdir(f'{d}/fill')
open(f'{d}/listed.bin', 'wb').close()
links = [f'{d}/another name for the listed file, long enough to fill the record {i}' for i in range(3)]
for link in links:
    os.link(f'{d}/listed.bin', link)
for i in range(120):
    with open(f'{d}/listed.bin', 'ab') as f:
        f.write((f'listed cluster {i:04d} ' * 300)[:4096].encode())
    with open(f'{d}/fill/{i:03d}.bin', 'wb') as f:
        f.write((f'filler {i:03d} ' * 400)[:4096].encode())
with open(f'{d}/listed.bin', 'ab') as f:
    f.write(b'the end of the listed file\n')
for link in links:
    os.unlink(link)
for i in range(120):
    os.remove(f'{d}/fill/{i:03d}.bin')
os.rmdir(f'{d}/fill')
PYEOF
(cd "$mnt" && find . -type f | sed 's|^\./||' | LC_ALL=C sort | while read -r f; do
   printf '%s  %s\n' "$(sha256sum "$f" | cut -d' ' -f1)" "$f"; done) > "$work/sums"
umount "$mnt"
data_records=$(ntfsinfo -F /streams/listed.bin "$img" | sed -n 's/^Dumping attribute \$DATA.*mft record \([0-9]*\).*/\1/p' | sort -u | wc -l)
[ "$data_records" -gt 1 ] || { echo "listed.bin keeps its \$DATA in one record" >&2; exit 1; }
mkntfs -F -Q -q -c 4096 -L STREAMS "$img" >/dev/null 2>&1
gzip -9n -c "$img" > "$out/deep-ntfs-streams.img.gz"
cp "$work/sums" "$out/deep-ntfs-streams.img.sha256"
