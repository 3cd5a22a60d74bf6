#!/usr/bin/env bash
# The two large cases of `kestrel-cli mount`, one run each:
#  - listing a folder of 100,000 deleted files (an NTFS image made with
#    mkntfs and filled through ntfs-3g): the time of `ls -f | wc -l` on the
#    mount and the mount process's peak memory before and after;
#  - reading one deleted 4 GB file (FAT32 image made with mkfs.fat, the file
#    copied in with mcopy from a sparse file and deleted with mdel): the
#    rate of `dd bs=1M` through the mount and the peak memory.
#   tools/bench-mount-large.sh [list|read|both]     (default both)
# Images go under TMPDIR (about 5 GB for the read case).
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
cli=${KESTREL_CLI:-$repo/build/kestrel-cli}
which=${1:-both}
dir=$(mktemp -d "${TMPDIR:-/tmp}/kestrel-bench-mount-large.XXXXXX")
pid=
unmount() {
  if [ -n "$pid" ]; then
    fusermount3 -u "$dir/mnt" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    pid=
  fi
}
cleanup() {
  unmount
  fusermount3 -u "$dir/ntfs" 2>/dev/null || true
  rm -rf "$dir"
}
trap cleanup EXIT
export XDG_DATA_HOME=$dir/data XDG_CONFIG_HOME=$dir/config
export MTOOLS_SKIP_CHECK=1

seconds() {  # command... ; prints the wall time (the command's output is dropped)
  local start end
  start=$(date +%s.%N)
  "$@" >/dev/null 2>&1
  end=$(date +%s.%N)
  awk -v s="$start" -v e="$end" 'BEGIN { printf "%.3f", e - s }'
}
peak() { grep VmHWM "/proc/$pid/status" | awk '{ print $2, $3 }'; }
mount_image() {  # image; waits until it is up
  mkdir -p "$dir/mnt"
  "$cli" mount "$1" "$dir/mnt" >"$dir/mount.out" 2>&1 &
  pid=$!
  for _ in $(seq 1200); do grep -q mounted "$dir/mount.out" 2>/dev/null && return 0; sleep 0.05; done
  cat "$dir/mount.out" >&2
  return 1
}

if [ "$which" = list ] || [ "$which" = both ]; then
  img=$dir/folder.img
  truncate -s 1G "$img"
  mkntfs -F -Q -q "$img" >/dev/null 2>&1
  mkdir "$dir/ntfs"
  ntfs-3g "$img" "$dir/ntfs"
  mkdir "$dir/ntfs/big"
  (cd "$dir/ntfs/big" && seq -f "file-%06g.txt" 1 100000 | xargs touch)
  rm -rf "$dir/ntfs/big"
  fusermount3 -u "$dir/ntfs"
  t=$(seconds "$cli" scan "$img")
  echo "NTFS image, one deleted folder of 100,000 deleted files: kestrel-cli scan took $t s"
  mount_image "$img"
  echo "mount up; peak memory so far $(peak)"
  folder=$(cd "$dir/mnt" && find . -mindepth 1 -maxdepth 1 -type d | head -1)
  start=$(date +%s.%N)
  count=$(ls -f "$dir/mnt/$folder" | wc -l)
  end=$(date +%s.%N)
  awk -v s="$start" -v e="$end" -v c="$count" -v f="$folder" \
    'BEGIN { printf "ls -f %s | wc -l: %d entries in %.2f s\n", f, c, e - s }'
  echo "mount process peak memory after the listing $(peak)"
  start=$(date +%s.%N)
  again=$(ls -f "$dir/mnt/$folder" | wc -l)
  end=$(date +%s.%N)
  awk -v s="$start" -v e="$end" -v c="$again" 'BEGIN { printf "listed again: %d entries in %.2f s\n", c, e - s }'
  unmount
  rm -f "$img"
fi

if [ "$which" = read ] || [ "$which" = both ]; then
  img=$dir/card.img
  bytes=4000000000
  truncate -s 4200M "$img"
  mkfs.fat -F 32 -n BENCH "$img" >/dev/null
  truncate -s "$bytes" "$dir/big.bin"  # sparse: zeros cost nothing to make
  mcopy -i "$img" "$dir/big.bin" ::/big.bin
  mdel -i "$img" ::/big.bin
  rm -f "$dir/big.bin"
  mount_image "$img"
  echo "FAT32 image, one deleted file of $bytes bytes; mount up, peak memory so far $(peak)"
  found=$(cd "$dir/mnt" && find . -type f | head -1)
  t=$(seconds dd if="$dir/mnt/$found" of=/dev/null bs=1M)
  awk -v s="$t" -v b="$bytes" 'BEGIN { printf "read through the mount (dd bs=1M): %.2f s, %.1f MB/s\n", s, b / s / 1e6 }'
  echo "mount process peak memory after the read $(peak)"
  size=$(stat -c %s "$dir/mnt/$found")
  [ "$size" = "$bytes" ] && cmp -s -n 1048576 "$dir/mnt/$found" /dev/zero &&
    echo "the mount shows $size bytes and its first MiB is the file's"
fi
