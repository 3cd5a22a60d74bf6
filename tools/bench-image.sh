#!/usr/bin/env bash
# Imaging throughput: kestrel-cli image against dd bs=64K and GNU ddrescue,
# copying the same file from the page cache, one run each, MB/s each; then
# the peak memory of a kestrel-cli image run (/usr/bin/time -v).
#   tools/bench-image.sh [SIZE_MIB]        (default 2048)
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
cli=${KESTREL_CLI:-$repo/build/kestrel-cli}
size_mib=${1:-2048}
bytes=$((size_mib * 1024 * 1024))
dir=$(mktemp -d "${TMPDIR:-/tmp}/kestrel-bench-image.XXXXXX")
trap 'rm -rf "$dir"' EXIT
export XDG_CONFIG_HOME=$dir/config

head -c "$bytes" /dev/urandom >"$dir/source.img"
cat "$dir/source.img" >/dev/null  # into the page cache

rate() {  # name, command...
  local name=$1
  shift
  rm -f "$dir/copy.img" "$dir/copy.map"
  sync
  local start end
  start=$(date +%s.%N)
  "$@" >/dev/null 2>&1
  end=$(date +%s.%N)
  cmp -s "$dir/source.img" "$dir/copy.img" || { echo "$name: copy differs from the source" >&2; exit 1; }
  awk -v n="$name" -v b="$bytes" -v s="$start" -v e="$end" \
    'BEGIN { printf "%-16s %8.2f s  %8.1f MB/s\n", n, e - s, b / (e - s) / 1e6 }'
}

echo "copying $size_mib MiB from the page cache"
rate "dd bs=64K" dd if="$dir/source.img" of="$dir/copy.img" bs=64K
rate "kestrel-cli" "$cli" image "$dir/source.img" "$dir/copy.img" --map "$dir/copy.map"
rate "ddrescue" ddrescue -q "$dir/source.img" "$dir/copy.img" "$dir/copy.map"

rm -f "$dir/copy.img" "$dir/copy.map"
/usr/bin/time -v "$cli" image "$dir/source.img" "$dir/copy.img" --map "$dir/copy.map" 2>&1 >/dev/null |
  grep -E "Maximum resident set size|Elapsed"
