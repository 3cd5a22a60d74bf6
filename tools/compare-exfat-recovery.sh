#!/usr/bin/env bash
# Recovers the exFAT test images with Kestrel, tsk_recover (The Sleuth Kit)
# and photorec (TestDisk), and prints one table: for each image and tool, how
# many of the files listed in exfat-expected.txt came back byte-exact, exact
# under their own name, and exact under their own path. For the quick-
# formatted image the path is the part below the lost top folder, as the root
# that named the top folders is gone. Usage:
#   tools/compare-exfat-recovery.sh BUILD_DIR
set -euo pipefail
cli="$(cd "$1" && pwd)/kestrel-cli"
data="$(cd "$(dirname "$0")/../tests/data" && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
export XDG_DATA_HOME="$work/xdg"

for name in exfat-deleted exfat-formatted; do
  gunzip -c "$data/$name.img.gz" > "$work/$name.img"
  deep=""
  if [ $name = exfat-formatted ]; then deep="--deep"; fi
  # shellcheck disable=SC2086
  "$cli" recover "$work/$name.img" "$work/$name-kestrel" --types all --keep-paths $deep > /dev/null || true
  mkdir -p "$work/$name-tsk"
  tsk_recover "$work/$name.img" "$work/$name-tsk" > /dev/null 2>&1 || true
  # photorec writes into "<d>.1"; its folder must exist.
  mkdir -p "$work/$name-photorec"
  (cd "$work" && photorec /log /d "$work/$name-photorec/f" /cmd "$work/$name.img" \
    partition_none,fileopt,everything,enable,search > /dev/null 2>&1) || true
done

/usr/bin/python3 - "$work" "$data/exfat-expected.txt" <<'PY'
import hashlib, os, sys
work, expected_path = sys.argv[1], sys.argv[2]
expected = {}
for line in open(expected_path, encoding='utf-8'):
    img, status, size, sha, path = line.rstrip('\n').split('\t')
    expected.setdefault(img.replace('.img', ''), []).append((sha, path))

def files(root):
    out = []
    for folder, _, names in os.walk(root):
        for n in names:
            p = os.path.join(folder, n)
            out.append((os.path.relpath(p, root), hashlib.sha256(open(p, 'rb').read()).hexdigest()))
    return out

print('| image | tool | files listed | exact | exact with name | exact with path |')
print('|---|---|---|---|---|---|')
for img in ('exfat-deleted', 'exfat-formatted'):
    for tool in ('kestrel', 'tsk', 'photorec'):
        got = files(os.path.join(work, img + '-' + tool))
        exact = named = pathed = 0
        free = list(got)  # each recovered file counts for one listed file only
        for sha, path in expected[img]:
            below = path.split('/', 1)[1] if img == 'exfat-formatted' else path
            same = [f for f in free if f[1] == sha]
            at_path = [f for f in same if f[0] == below or (img == 'exfat-formatted' and f[0].endswith('/' + below))]
            with_name = [f for f in same if os.path.basename(f[0]) == os.path.basename(path)]
            pick = (at_path or with_name or same or [None])[0]
            if pick is None:
                continue
            free.remove(pick)
            exact += 1
            named += pick in with_name
            pathed += pick in at_path
        name = {'kestrel': 'Kestrel', 'tsk': 'tsk_recover', 'photorec': 'photorec'}[tool]
        print('| %s | %s | %d | %d | %d | %d |' % (img, name, len(expected[img]), exact, named, pathed))
PY
