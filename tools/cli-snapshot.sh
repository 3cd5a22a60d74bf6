#!/usr/bin/env bash
# Records what kestrel-cli prints and recovers for every image in tests/data,
# so two builds can be compared byte for byte:
#   tools/cli-snapshot.sh OUTDIR            (uses build/kestrel-cli)
#   KESTREL_CLI=/other/build/kestrel-cli tools/cli-snapshot.sh OUTDIR
#   diff -r OUTDIR-a OUTDIR-b
# For each image: probe, scan, scan --list, scan --json, scan --deep --list,
# recover --types all --keep-paths (and --deep), each with stdout, stderr and
# exit code; for each recover, the recovered files' relative paths and
# SHA-256, and its report. A few sources that must fail (missing, a folder, a short file, a
# cut copy of an image, a bad --types) are recorded the same way.
#
# Everything runs inside one scratch folder with relative paths, so no
# temporary path reaches the output; each deep command gets a fresh
# XDG_DATA_HOME, so no saved scan of an earlier command is offered for
# resuming. Nothing volatile remains in what is recorded (no store names or
# clock times are printed), so no field is rewritten.
set -euo pipefail

if [[ $# -ne 1 ]]; then
  echo "usage: $0 OUTDIR" >&2
  exit 2
fi
repo=$(cd "$(dirname "$0")/.." && pwd)
cli=${KESTREL_CLI:-$repo/build/kestrel-cli}
cli=$(cd "$(dirname "$cli")" && pwd)/$(basename "$cli")
[[ -x $cli ]] || { echo "$0: no kestrel-cli at $cli" >&2; exit 2; }
mkdir -p "$1"
out=$(cd "$1" && pwd)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

# run NAME ARGS...: kestrel-cli ARGS in the scratch folder; NAME.out/.err/.rc
run() {
  local name=$1
  shift
  local data
  data=$(mktemp -d "$scratch/xdg.XXXXXX")
  local rc=0
  (cd "$scratch" && XDG_DATA_HOME="$data" "$cli" "$@" </dev/null >"$out/$name.out" 2>"$out/$name.err") || rc=$?
  echo "$rc" >"$out/$name.rc"
  rm -rf "$data"
}

# recovered NAME DEST: relative path and SHA-256 of every file below DEST;
# the recovery report itself as NAME.report, without the clock times of the run.
recovered() {
  local name=$1 dest=$scratch/$2
  if [[ -d $dest ]]; then
    (cd "$dest" && find . -type f ! -path ./recovery-report.json -print0 | LC_ALL=C sort -z |
      xargs -0 -r sha256sum) >"$out/$name.files"
    if [[ -f $dest/recovery-report.json ]]; then
      grep -v -E '^ *"(started|finished|recovered)": "' "$dest/recovery-report.json" >"$out/$name.report" || true
    fi
  else
    echo "(no folder)" >"$out/$name.files"
  fi
  rm -rf "$dest"
}

for gz in "$repo"/tests/data/*.img.gz; do
  image=$(basename "$gz" .gz)
  gunzip -c "$gz" >"$scratch/$image"
  stem=${image%.img}
  run "$stem.probe" probe "$image"
  run "$stem.scan" scan "$image"
  run "$stem.scan-list" scan --list "$image"
  run "$stem.scan-json" scan --json --list "$image"
  run "$stem.scan-deep-list" scan --deep --list "$image"
  run "$stem.recover" recover --types all --keep-paths "$image" "rec-$stem"
  recovered "$stem.recover" "rec-$stem"
  run "$stem.recover-deep" recover --deep --types all --keep-paths "$image" "rec-$stem"
  recovered "$stem.recover-deep" "rec-$stem"
  run "$stem.recover-default" recover "$image" "rec-$stem"
  recovered "$stem.recover-default" "rec-$stem"
done

# Sources that must fail, and a copy cut short of its file system.
mkdir "$scratch/a-folder"
head -c 100 /dev/zero >"$scratch/short.img"
gunzip -c "$repo/tests/data/fat16-deleted.img.gz" >"$scratch/cut.img"
truncate -s 1M "$scratch/cut.img"
run missing.probe probe no-such.img
run missing.scan scan no-such.img
run folder.probe probe a-folder
run folder.scan scan a-folder
run short.probe probe short.img
run short.scan scan short.img
run short.scan-deep scan --deep short.img
run short.recover recover --types all short.img rec-short
recovered short.recover rec-short
run cut.scan scan --list cut.img
run cut.recover recover --types all cut.img rec-cut
recovered cut.recover rec-cut
run bad-types.recover recover --types 'jp*g' cut.img rec-bad
run dest-is-file.recover recover --types all cut.img short.img
echo "snapshot of $cli written to $out" >&2
