#!/usr/bin/env bash
# Builds an image of every sample file (tests/data/samples) three times over:
# back to back, then each followed by random bytes, then each followed by text,
# every file starting on a 512-byte sector. Then carves it with
# `kestrel-cli scan --deep` + `recover --deep --types all` and with photorec,
# and prints, per format, how many placements each tool recovered byte-exact
# (SHA-256 of the file found at the placement's sector against the sample's).
# Usage: tools/carving-compare.sh [build-dir] [work-dir]
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="$(cd "${1:-$here/../build}" && pwd)"
work="${2:-/tmp/kestrel-carving}"
samples="$here/../tests/data/samples"
cli="$build/kestrel-cli"
py=/usr/bin/python3
rm -rf "$work" && mkdir -p "$work"
img="$work/carving.img"

# The image and its manifest: one line per placement, "sector sample sha256".
"$py" - "$samples" "$img" "$work/manifest.txt" <<'PYEOF'
import hashlib, os, random, sys
samples, img, manifest = sys.argv[1:4]
names = sorted(os.listdir(samples))
rnd = random.Random(15)
text = (b"Minutes of the meeting. The carving test writes plain text after a file, "
        b"as a text editor's old blocks would leave it on a card.\n") * 12
out = bytearray(b"\0" * 65536)
rows = []
def place(data, tail):
    global out
    at = (len(out) + 511) // 512 * 512
    out += b"\0" * (at - len(out))
    rows.append((at // 512, name, hashlib.sha256(data).hexdigest()))
    out += data + tail
for section in ("plain", "random", "text"):
    for name in names:
        data = open(os.path.join(samples, name), "rb").read()
        tail = b""
        if section == "random":
            tail = rnd.randbytes(rnd.randrange(600, 3000))
        elif section == "text":
            tail = text[: rnd.randrange(600, len(text))]
        place(data, tail)
out += b"\0" * ((-len(out)) % 512 + 65536)
open(img, "wb").write(out)
with open(manifest, "w") as f:
    for sector, name, digest in rows:
        f.write(f"{sector} {name} {digest}\n")
print(f"image: {img}, {len(out)} bytes, {len(rows)} placements of {len(names)} samples")
PYEOF

# Kestrel: the deep scan, then recovery of everything it found.
data="$work/xdg"
mkdir -p "$data"
XDG_DATA_HOME="$data" XDG_CONFIG_HOME="$data" "$cli" scan --deep --restart "$img" > "$work/kestrel-scan.txt" 2>&1
XDG_DATA_HOME="$data" XDG_CONFIG_HOME="$data" "$cli" recover --deep --types all "$img" "$work/kestrel" \
  > "$work/kestrel-recover.txt" 2>&1 || true
tail -3 "$work/kestrel-scan.txt"

# PhotoRec, non-interactive, every format it knows.
mkdir -p "$work/photorec"
(cd "$work" && photorec /log /d "$work/photorec/recup" /cmd "$img" \
   partition_none,options,keep_corrupted_file,fileopt,everything,enable,wholespace,search > /dev/null 2>&1) || true

"$py" - "$work/manifest.txt" "$work/kestrel" "$work/photorec" <<'PYEOF'
import collections, hashlib, os, re, sys
manifest, kestrel, photorec = sys.argv[1:4]
def found(root, pattern):
    """sector -> sha256 of the file a tool wrote for that sector."""
    table = {}
    for folder, _, files in os.walk(root):
        for f in files:
            m = re.match(pattern, f)
            if m:
                table[int(m.group(1))] = hashlib.sha256(open(os.path.join(folder, f), "rb").read()).hexdigest()
    return table
tools = {"kestrel": found(kestrel, r"^(\d+)\."), "photorec": found(photorec, r"^f(\d+)")}
rows = [line.split() for line in open(manifest)]
for tool, table in tools.items():
    per = collections.OrderedDict()
    for sector, name, digest in rows:
        kind = name.rsplit(".", 1)[-1]
        exact, total, misses = per.get(kind, (0, 0, []))
        ok = table.get(int(sector)) == digest
        per[kind] = (exact + ok, total + 1, misses + ([] if ok else [name]))
    print(f"\n{tool}: byte-exact placements per format")
    print("| format | exact | of | missed |")
    print("|---|---|---|---|")
    all_exact = all_total = 0
    for kind in sorted(per):
        exact, total, misses = per[kind]
        all_exact += exact
        all_total += total
        missed = ", ".join(sorted(collections.Counter(misses).elements())) if misses else ""
        print(f"| {kind} | {exact} | {total} | {missed} |")
    print(f"| all | {all_exact} | {all_total} | |")
PYEOF
