#!/usr/bin/env bash
# Imaging throughput: kestrel-cli image against dd bs=64K and GNU ddrescue,
# copying the same file from the page cache; then the peak memory of a
# kestrel-cli image run (/usr/bin/time -v).
#   ROUNDS=3 tools/bench-image.sh [SIZE_MIB]        (default 2048, 3 rounds)
# On a shared machine one copy's wall time mostly measures how much CPU the
# scheduler gave it, so the tools take turns round after round, each round's
# times are printed, and the summary compares each tool's best round. The CPU
# seconds (user + system) show the work each tool did, whatever the load.
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
cli=${KESTREL_CLI:-$repo/build/kestrel-cli}
size_mib=${1:-2048}
rounds=${ROUNDS:-3}
bytes=$((size_mib * 1024 * 1024))
dir=$(mktemp -d "${TMPDIR:-/tmp}/kestrel-bench-image.XXXXXX")
trap 'rm -rf "$dir"' EXIT
export XDG_CONFIG_HOME=$dir/config

head -c "$bytes" /dev/urandom >"$dir/source.img"
cat "$dir/source.img" >/dev/null  # into the page cache

declare -A best_wall best_cpu
rate() {  # name, command...
  local name=$1
  shift
  rm -f "$dir/copy.img" "$dir/copy.map"
  sync
  /usr/bin/time -f "%e %U %S" -o "$dir/time" "$@" >/dev/null 2>&1
  cmp -s "$dir/source.img" "$dir/copy.img" || { echo "$name: copy differs from the source" >&2; exit 1; }
  local wall cpu
  read -r wall cpu < <(awk '{ printf "%s %.2f\n", $1, $2 + $3 }' "$dir/time")
  awk -v n="$name" -v b="$bytes" -v w="$wall" -v c="$cpu" \
    'BEGIN { printf "  %-14s %7.2f s  %8.1f MB/s   cpu %5.2f s\n", n, w, b / w / 1e6, c }'
  if [[ -z ${best_wall[$name]:-} ]] || awk -v w="$wall" -v b="${best_wall[$name]}" 'BEGIN { exit !(w < b) }'; then
    best_wall[$name]=$wall
    best_cpu[$name]=$cpu
  fi
}

echo "copying $size_mib MiB from the page cache, $rounds rounds"
for round in $(seq "$rounds"); do
  echo "round $round"
  rate "dd bs=64K" dd if="$dir/source.img" of="$dir/copy.img" bs=64K
  rate "kestrel-cli" "$cli" image "$dir/source.img" "$dir/copy.img" --map "$dir/copy.map"
  rate "ddrescue" ddrescue -q "$dir/source.img" "$dir/copy.img" "$dir/copy.map"
done

echo "best round of each"
for name in "dd bs=64K" "kestrel-cli" "ddrescue"; do
  awk -v n="$name" -v b="$bytes" -v w="${best_wall[$name]}" -v c="${best_cpu[$name]}" \
    'BEGIN { printf "  %-14s %7.2f s  %8.1f MB/s   cpu %5.2f s\n", n, w, b / w / 1e6, c }'
done
awk -v k="${best_wall[kestrel-cli]}" -v d="${best_wall[dd bs=64K]}" -v r="${best_wall[ddrescue]}" \
  'BEGIN { printf "kestrel-cli speed: %.2fx dd bs=64K, %.2fx ddrescue\n", d / k, r / k }'

rm -f "$dir/copy.img" "$dir/copy.map"
/usr/bin/time -v "$cli" image "$dir/source.img" "$dir/copy.img" --map "$dir/copy.map" 2>&1 >/dev/null |
  grep -E "Maximum resident set size|Elapsed"
