#!/usr/bin/env bash
# Times a fast scan of an exFAT volume holding 100,000 files in 100 folders,
# half of them deleted (the scan walks every entry set and records the
# deleted ones). The volume is made with mkfs.exfat and filled through the
# exfat-fuse driver on a loop device, so this needs root. Usage:
#   tools/bench-exfat-scan.sh BUILD_DIR [WORK_DIR]
# Prints the time of `kestrel-cli scan` on the image and the files it found.
set -euo pipefail
cli="$(cd "$1" && pwd)/kestrel-cli"
here="$(cd "$(dirname "$0")" && pwd)"
work="${2:-$(mktemp -d)}"
img="$work/exfat-100k.img"
mnt="$work/mnt"
loop=""
cleanup() {
  if mountpoint -q "$mnt"; then umount "$mnt"; fi
  if [ -n "$loop" ]; then losetup -d "$loop"; fi
}
trap cleanup EXIT
mkdir -p "$mnt"
if [ ! -f "$img" ]; then
  truncate -s 1G "$img"
  mkfs.exfat -c 4096 -L BENCH "$img" >/dev/null
  loop=$(losetup -f --show "$img")
  mount.exfat-fuse "$loop" "$mnt"
  # Every other folder's files are deleted, the folders kept.
  /usr/bin/python3 - "$mnt" "$here/../tests/data/samples/jfif.jpg" <<'PY'
import os, sys
root = sys.argv[1]
# A real JPEG: records whose content fails its type's check are hidden.
photo = open(sys.argv[2], 'rb').read()
for d in range(100):
    folder = os.path.join(root, 'folder_%02d' % d)
    os.mkdir(folder)
    for f in range(1000):
        with open(os.path.join(folder, 'IMG_%04d.JPG' % f), 'wb') as out:
            out.write(photo)
for d in range(0, 100, 2):
    folder = os.path.join(root, 'folder_%02d' % d)
    for name in os.listdir(folder):
        os.remove(os.path.join(folder, name))
PY
  umount "$mnt"
  losetup -d "$loop"
  loop=""
fi
export XDG_DATA_HOME="$work/xdg"
start=$(date +%s.%N)
"$cli" scan "$img" > "$work/scan.txt"
end=$(date +%s.%N)
echo "fast scan of $img: $(echo "$end - $start" | bc) s; $(cat "$work/scan.txt")"
