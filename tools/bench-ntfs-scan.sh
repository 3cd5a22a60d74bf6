#!/usr/bin/env bash
# Fast NTFS scan figures: an NTFS image with 100,000 files (made through an
# ntfs-3g mount), most of them then deleted; the scan alone (bench_ntfs_scan:
# MFT records parsed per second) and `kestrel-cli scan` end to end, both
# under /usr/bin/time -v for peak memory. Needs root for the FUSE mount.
#   tools/bench-ntfs-scan.sh BUILD-DIR [WORK-DIR] [FILES]
set -euo pipefail
build="$(cd "${1:?build folder}" && pwd)"
work="${2:-$(mktemp -d)}"
files="${3:-100000}"
mkdir -p "$work"
img="$work/bench-ntfs.img"
mnt="$work/mnt"
mkdir -p "$mnt"
trap 'mountpoint -q "$mnt" && umount "$mnt"' EXIT
export XDG_DATA_HOME="$work/xdg"

if [ ! -f "$img" ]; then
  rm -f "$img.part"
  truncate -s 1G "$img.part"
  mkntfs -F -q -f -c 4096 -L BENCH "$img.part" >/dev/null 2>&1
  ntfs-3g -o big_writes "$img.part" "$mnt"
  # 100 folders of files: tiny ones stay resident in their records, every
  # tenth has 6 KiB of clusters; then two files of three are deleted.
  python3 - "$mnt" "$files" <<'PY'
import os, sys
root, total = sys.argv[1], int(sys.argv[2])
per = max(1, total // 100)
made = 0
for d in range(100):
    folder = os.path.join(root, f"dir{d:03d}")
    os.mkdir(folder)
    for i in range(per):
        if made == total:
            break
        with open(os.path.join(folder, f"file{i:05d}.dat" if i % 3 else f"doc{i:05d}.txt"), "wb") as f:
            f.write((b"%08d" % made) * (768 if i % 10 == 0 else 16))
        made += 1
for d in range(100):
    folder = os.path.join(root, f"dir{d:03d}")
    for name in sorted(os.listdir(folder)):
        if not name.startswith("doc"):
            os.remove(os.path.join(folder, name))
print(f"made {made} files", file=sys.stderr)
PY
  umount "$mnt"
  mv "$img.part" "$img"
fi

# Drops the image's pages from the page cache (this file only), so a run reads from disk.
uncache() { python3 -c "import os,sys; fd=os.open(sys.argv[1], os.O_RDONLY); os.fsync(fd); os.posix_fadvise(fd, 0, 0, os.POSIX_FADV_DONTNEED)" "$img"; }

for cache in cold warm; do
  [ "$cache" = cold ] && uncache
  echo "== scan only (bench_ntfs_scan), $cache cache"
  /usr/bin/time -v "$build/bench/bench_ntfs_scan" "$img" 2> "$work/time-engine-$cache.txt"
  grep -E "Elapsed|Maximum resident" "$work/time-engine-$cache.txt"
done
uncache
echo "== kestrel-cli scan (scan, then the folder walk for the summary), cold cache"
/usr/bin/time -v "$build/kestrel-cli" scan "$img" 2> "$work/time-cli.txt"
grep -E "Elapsed|Maximum resident" "$work/time-cli.txt"
