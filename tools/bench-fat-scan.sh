#!/usr/bin/env bash
# Times a fast scan of a FAT32 image holding 100,000 files (a third of them
# deleted), with wall time and peak memory from /usr/bin/time -v.
# usage: tools/bench-fat-scan.sh [BUILD_DIR] [FILES]
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build}"
files="${2:-100000}"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
img="$work/fat32-many.img"
/usr/bin/python3 tools/bench/make_fat32_many_files.py "$img" "$files" 100
export XDG_DATA_HOME="$work/data"
for run in cold warm; do
  if [ "$run" = cold ] && [ -w /proc/sys/vm/drop_caches ]; then
    sync
    echo 3 > /proc/sys/vm/drop_caches
  fi
  echo "== $run run: kestrel-cli scan"
  /usr/bin/time -v "$build/kestrel-cli" scan "$img" 2> "$work/time.txt"
  grep -E "Elapsed|Maximum resident|File system inputs" "$work/time.txt"
done
