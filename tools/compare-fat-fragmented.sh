#!/usr/bin/env bash
# Recovers the deleted files of tests/data/fat16-fragmented.img with
# kestrel-cli (and, given, an older kestrel-cli) and with The Sleuth Kit's
# tsk_recover, and prints per file: pieces it was written in, and whether
# each tool gave it back byte-exact. The deep column is `recover --deep` on
# fat16-fragmented-folder.img (the card after its DCIM folder was deleted):
# the scan writes each picture once, under the deleted folder's path the fast
# pass knows (the deep pass's own copy from the folder's sectors, a lost
# folder, is the same file and is left out when both agree).
# usage: tools/compare-fat-fragmented.sh [KESTREL_CLI] [OLDER_KESTREL_CLI]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cli="$(realpath "${1:-$root/build/kestrel-cli}")"
older="${2:+$(realpath "$2")}"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cd "$work"
export XDG_DATA_HOME="$work/data"
zcat "$root/tests/data/fat16-fragmented.img.gz" > card.img
zcat "$root/tests/data/fat16-fragmented-folder.img.gz" > folder.img
"$cli" recover --deep --types all --keep-paths folder.img deep > /dev/null 2>&1 || true
"$cli" recover --types all --keep-paths card.img after > /dev/null 2>&1 || true
[ -n "$older" ] && { "$older" recover --types all --keep-paths card.img before > /dev/null 2>&1 || true; }
tsk_recover card.img tsk > /dev/null
# A deleted short name loses its first letter ("!" here, "_" in tsk_recover):
# files are matched by the rest of their path.
exact() {  # dir path sha
  local dir="$1" name
  name="$(basename "$2")"
  [ -d "$dir" ] || { echo "-"; return; }
  local f
  f="$(find "$dir" -path '*/LostFolder*' -iname "?${name:1}" | head -1)"
  [ -n "$f" ] || f="$(find "$dir" -iname "?${name:1}" | head -1)"
  [ -n "$f" ] && [ "$(sha256sum "$f" | cut -d' ' -f1)" = "$3" ] && echo yes || echo no
}
printf 'file\tstatus\tpieces\tkestrel-before\tkestrel-after\tkestrel-deep\ttsk_recover\n'
while IFS=$'\t' read -r _ status _ sha path; do
  pieces="$(grep -F "$path" "$root/tests/data/fat-fragmented-pieces.txt" | cut -f2)"
  printf '%s\t%s\t%s\t%s\t%s\t%s\t%s\n' "$path" "$status" "$pieces" "$(exact before "$path" "$sha")" \
    "$(exact after "$path" "$sha")" "$(exact deep "$path" "$sha")" "$(exact tsk "$path" "$sha")"
done < "$root/tests/data/fat-fragmented-expected.txt"
