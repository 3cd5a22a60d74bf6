#!/usr/bin/env bash
# Checks that scanning a whole-disk image partition by partition gives what
# scanning each partition cut out with dd gives: the same `scan --list` lines
# and, after `recover --types all --keep-paths`, the same files with the same
# SHA-256. Usage: compare-partitions.sh KESTREL-CLI IMAGE...
# Prints one line per partition and exits non-zero on the first difference.
set -euo pipefail
cli="$(realpath "$1")"
shift
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
export XDG_DATA_HOME="$work/data"

sums() {  # folder -> "sha256  relative path" lines, sorted
  (cd "$1" && find . -type f | LC_ALL=C sort | while read -r f; do
     printf '%s  %s\n' "$(sha256sum "$f" | cut -d' ' -f1)" "${f#./}"; done)
}

status=0
for image in "$@"; do
  name="$(basename "$image")"
  echo "== $name: $("$cli" probe "$image" | head -1)"
  # Whole image, every partition at once: headed list, DEST/partition-N/ folders.
  "$cli" scan --list "$image" > "$work/$name.all.list"
  "$cli" recover --types all --keep-paths "$image" "$work/$name.all" > /dev/null
  while IFS=$'\t' read -r number kind first count; do
    cut="$work/$name.p$number.img"
    dd if="$image" of="$cut" bs=512 skip="$first" count="$count" status=none
    "$cli" scan --list "$cut" > "$work/cut.list"
    "$cli" scan --list --partition "$number" "$image" > "$work/part.list"
    # The headed whole-image list, this partition's section only.
    awk -v n="$number" '/^# partition /{on = ($3 == n ":"); next} on' "$work/$name.all.list" > "$work/section.list"
    "$cli" recover --types all --keep-paths "$cut" "$work/cut.out" > /dev/null
    "$cli" recover --types all --keep-paths --partition "$number" "$image" "$work/part.out" > /dev/null
    sums "$work/cut.out" > "$work/cut.sums"
    sums "$work/part.out" > "$work/part.sums"
    sums "$work/$name.all/partition-$number" > "$work/section.sums"
    verdict=same
    for pair in "cut.list part.list" "cut.list section.list" "cut.sums part.sums" "cut.sums section.sums"; do
      set -- $pair
      if ! cmp -s "$work/$1" "$work/$2"; then
        verdict="DIFFERENT ($1 vs $2)"
        status=1
      fi
    done
    printf 'partition %s (%s, sectors %s+%s): %s records, %s files recovered, %s\n' "$number" "$kind" "$first" \
      "$count" "$(wc -l < "$work/cut.list")" "$(wc -l < "$work/cut.sums")" "$verdict"
    rm -rf "$work/cut.out" "$work/part.out" "$cut"
  done < <("$cli" probe "$image" | tail -n +2)
done
exit $status
