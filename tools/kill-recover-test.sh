#!/usr/bin/env bash
# Kills `kestrel-cli recover` with SIGKILL at random moments, 20 times, on a
# ~200 MB generated FAT32 image, rerunning into the same folder each time.
# After every kill: no file under a final name may hold bytes other than the
# uninterrupted run's for that name (only hidden temporaries may be partial).
# At the end one uninterrupted rerun must leave DEST equal to the
# uninterrupted run's (names and SHA-256), with no temporaries left.
#
#   tools/kill-recover-test.sh [WORKDIR]        (default /tmp/kestrel-kill)
#   FULL=1 tools/kill-recover-test.sh            the same into a destination
#                                                that fills up (a 16 MiB tmpfs,
#                                                or a loop ext4 without root mounts)
# KESTREL_CLI overrides build/kestrel-cli; KILLS overrides 20.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cli=${KESTREL_CLI:-$here/build/kestrel-cli}
work=${1:-/tmp/kestrel-kill}
kills=${KILLS:-20}
mkdir -p "$work"
image=$work/source.img
export XDG_DATA_HOME=$work/xdg

make_image() {
  [ -s "$image" ] && return
  echo "making $image (200 MiB FAT32, 360 files of 64..700 KiB, a third deleted)"
  rm -f "$image"
  truncate -s 200M "$image"
  mkfs.fat -F 32 -n KILLTEST "$image" >/dev/null
  local files=$work/files
  rm -rf "$files"
  mkdir -p "$files/DCIM" "$files/Music"
  for i in $(seq 1 360); do
    local kib=$(( (RANDOM % 640) + 64 ))
    local folder=DCIM ext=bin
    (( i % 3 == 0 )) && folder=Music ext=dat
    head -c $((kib * 1024)) /dev/urandom > "$files/$folder/F$(printf %04d "$i").$ext"
  done
  MTOOLS_SKIP_CHECK=1 mcopy -s -i "$image" "$files/DCIM" "$files/Music" ::/
  for i in $(seq 1 3 360); do
    local folder=DCIM ext=bin
    (( i % 3 == 0 )) && folder=Music ext=dat
    MTOOLS_SKIP_CHECK=1 mdel -i "$image" "::/$folder/F$(printf %04d "$i").$ext" 2>/dev/null || true
  done
  rm -rf "$files"
}

# "relative-path sha256" for every file below $1, temporaries left out, sorted.
manifest() {
  (cd "$1" && find . -type f ! -name '.*.kestrel-part' ! -name 'recovery-report.json' ! -name 'recovery-report.json.journal' -printf '%P\n' | sort |
     while IFS= read -r f; do printf '%s %s\n' "$f" "$(sha256sum "$f" | cut -d' ' -f1)"; done)
}

# Every final name below $1 holds the reference's bytes for that name.
check_no_bad_final_name() {
  local bad=0
  while IFS=' ' read -r name sum; do
    local want
    want=$(awk -v n="$name" '$1 == n {print $2}' "$work/reference.txt")
    # A second copy ("name(1).ext") must hold the bytes of the name it copies.
    [ -z "$want" ] && want=$(awk -v n="$(sed -E 's/\([0-9]+\)(\.[^./]*)?$/\1/' <<< "$name")" \
      '$1 == n {print $2}' "$work/reference.txt")
    if [ -z "$want" ]; then echo "  unexpected name: $name"; bad=1
    elif [ "$want" != "$sum" ]; then echo "  WRONG BYTES under a final name: $name"; bad=1; fi
  done < <(manifest "$1")
  return $bad
}

make_image
args=(recover --types all --keep-paths "$image")
dest_root=$work/dest
if [ "${FULL:-0}" = 1 ]; then
  mountpoint -q "$work/small" 2>/dev/null && umount "$work/small"
  mkdir -p "$work/small"
  if mount -t tmpfs -o size=16m kestrel-kill "$work/small" 2>/dev/null; then
    echo "destination: a 16 MiB tmpfs"
  else
    truncate -s 16M "$work/small.ext4"; mkfs.ext4 -q -F "$work/small.ext4"
    mount -o loop "$work/small.ext4" "$work/small"
    echo "destination: a 64 MiB loop ext4"
  fi
  trap 'umount "$work/small" 2>/dev/null || true' EXIT
  dest_root=$work/small/dest
fi

rm -rf "$work/reference" "$dest_root"
start=$(date +%s.%N)
set +e
"$cli" "${args[@]}" "$work/reference" > "$work/reference.out" 2>&1
reference_exit=$?
set -e
seconds=$(echo "$(date +%s.%N) - $start" | bc)
manifest "$work/reference" > "$work/reference.txt"
echo "uninterrupted run: exit $reference_exit, $(wc -l < "$work/reference.txt") files, ${seconds}s"
[ -s "$work/reference.txt" ] || { echo "the uninterrupted run recovered nothing: no test"; exit 1; }

failures=0
dest=$dest_root
if [ "${FULL:-0}" = 1 ]; then
  # The full run: what fits, then a stop. Its reference is every name the
  # unbounded run wrote with those bytes; the last line says what stopped it.
  set +e
  "$cli" "${args[@]}" "$dest" > "$work/full.out" 2>&1
  full_exit=$?
  set -e
  echo "run into the full destination: exit $full_exit; $(tail -n 1 "$work/full.out")"
  grep -m1 "no space left" "$work/full.out" || true
  leftovers=$(find "$dest" -name '.*.kestrel-part' | wc -l)
  zero=$(find "$dest" -type f -size 0 | wc -l)
  echo "  temporaries left: $leftovers, zero-byte files: $zero"
  check_no_bad_final_name "$dest" || failures=$((failures + 1))
  [ "$full_exit" = 1 ] || { echo "  expected exit 1"; failures=$((failures + 1)); }
  [ "$leftovers" = 0 ] || failures=$((failures + 1))
  rm -rf "$dest"
fi

for i in $(seq 1 "$kills"); do
  delay=$(awk -v s="$seconds" -v r="$RANDOM" 'BEGIN { printf "%.2f", s * r / 32768 }')
  "$cli" "${args[@]}" "$dest" > "$work/run-$i.out" 2>&1 &
  pid=$!
  sleep "$delay"
  kill -9 "$pid" 2>/dev/null && killed=killed || killed="had ended"
  wait "$pid" 2>/dev/null || true
  temporaries=$(find "$dest" -name '.*.kestrel-part' 2>/dev/null | wc -l)
  finals=$(find "$dest" -type f ! -name '.*.kestrel-part' ! -name 'recovery-report.json' 2>/dev/null | wc -l)
  if check_no_bad_final_name "$dest" > "$work/check-$i.txt"; then verdict=ok; else verdict=FAIL; failures=$((failures + 1)); fi
  printf 'kill %2d at %5ss (%s): %3d final names, %d temporaries, %s\n' "$i" "$delay" "$killed" "$finals" \
    "$temporaries" "$verdict"
  [ "$verdict" = ok ] || cat "$work/check-$i.txt"
done

set +e
"$cli" "${args[@]}" "$dest" > "$work/final.out" 2>&1
final_exit=$?
set -e
echo "final rerun: exit $final_exit; $(grep -E '^(skipped|recovered)' "$work/final.out" | tr '\n' ' ')"
manifest "$dest" > "$work/final.txt"
if [ "${FULL:-0}" = 1 ]; then
  check_no_bad_final_name "$dest" || failures=$((failures + 1))
  echo "final DEST: $(wc -l < "$work/final.txt") files, all with the uninterrupted run's bytes"
elif diff -q "$work/reference.txt" "$work/final.txt" >/dev/null; then
  echo "final DEST equals the uninterrupted run's: $(wc -l < "$work/final.txt") names and SHA-256"
else
  echo "final DEST DIFFERS from the uninterrupted run's:"
  diff "$work/reference.txt" "$work/final.txt" | head -20
  failures=$((failures + 1))
fi
left=$(find "$dest" -name '.*.kestrel-part' | wc -l)
echo "temporaries left after the final rerun: $left"
[ "$left" = 0 ] || failures=$((failures + 1))
echo "failures: $failures"
[ "$failures" = 0 ]
