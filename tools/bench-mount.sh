#!/usr/bin/env bash
# Reading a large deleted file through `kestrel-cli mount` against reading the
# copy `kestrel-cli recover` wrote, one run each, MB/s each; the card image
# is in the page cache for both. Also the time recover took to write the copy
# and the mount process's peak memory while the file was read.
#   tools/bench-mount.sh [SIZE_MIB]        (default 1024)
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
cli=${KESTREL_CLI:-$repo/build/kestrel-cli}
size_mib=${1:-1024}
dir=$(mktemp -d "${TMPDIR:-/tmp}/kestrel-bench-mount.XXXXXX")
pid=
cleanup() {
  [ -n "$pid" ] && { fusermount3 -u "$dir/mnt" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; }
  rm -rf "$dir"
}
trap cleanup EXIT
export XDG_DATA_HOME=$dir/data XDG_CONFIG_HOME=$dir/config

# A FAT32 card holding one large file, then deleted (its directory entry marked, its chain cleared).
card_mib=$((size_mib + 64))
truncate -s "${card_mib}M" "$dir/card.img"
mkfs.fat -F 32 -n BENCH "$dir/card.img" >/dev/null
head -c "$((size_mib * 1024 * 1024))" /dev/urandom >"$dir/video.mp4"
MTOOLS_SKIP_CHECK=1 mcopy -i "$dir/card.img" "$dir/video.mp4" ::/video.mp4
MTOOLS_SKIP_CHECK=1 mdel -i "$dir/card.img" ::/video.mp4
cat "$dir/card.img" >/dev/null  # into the page cache

seconds() {  # command... ; prints the wall time (the command's own output is dropped)
  local start end
  start=$(date +%s.%N)
  "$@" >/dev/null 2>&1
  end=$(date +%s.%N)
  awk -v s="$start" -v e="$end" 'BEGIN { printf "%.3f", e - s }'
}
rate() {  # name, seconds, bytes
  awk -v n="$1" -v s="$2" -v b="$3" 'BEGIN { printf "%-34s %8.2f s  %8.1f MB/s\n", n, s, b / s / 1e6 }'
}
bytes=$(stat -c %s "$dir/video.mp4")
echo "one deleted file of $size_mib MiB on a FAT32 image in the page cache"

t=$(seconds "$cli" recover "$dir/card.img" "$dir/out" --types all --keep-paths)
# A deleted short name has lost its first letter ("!IDEO.MP4"): take the one file found.
found=$(cd "$dir/out" && find . -type f | head -1)
cmp -s "$dir/video.mp4" "$dir/out/$found" || { echo "recover: copy differs" >&2; exit 1; }
rate "recover (scan + write the copy)" "$t" "$bytes"
t=$(seconds dd if="$dir/out/$found" of=/dev/null bs=1M status=none)
rate "read recover's copy (dd bs=1M)" "$t" "$bytes"

mkdir "$dir/mnt"
"$cli" mount "$dir/card.img" "$dir/mnt" >"$dir/mount.out" 2>&1 &
pid=$!
for _ in $(seq 200); do grep -q mounted "$dir/mount.out" 2>/dev/null && break; sleep 0.05; done
t=$(seconds dd if="$dir/mnt/$found" of=/dev/null bs=1M status=none)
rate "read through the mount (dd bs=1M)" "$t" "$bytes"
grep VmHWM "/proc/$pid/status" | sed 's/^/mount process peak memory /'
cmp -s "$dir/video.mp4" "$dir/mnt/$found" && echo "the mount's bytes equal the original"
