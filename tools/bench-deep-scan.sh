#!/usr/bin/env bash
# Deep-scan throughput on a generated 2 GiB image, read from the page cache:
# `cat` (the ceiling), kestrel-cli scan --deep, and photorec, with the number
# of files each one found. Usage: tools/bench-deep-scan.sh [build-dir] [work-dir]
# The image is made once and kept in the work folder (FAT32, 16 KiB clusters,
# filled with photos and other files and a large random file, some files
# deleted, then quick-formatted so that every tool has the whole image to read).
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="$(cd "${1:-$here/../build}" && pwd)"
work="${2:-/tmp/kestrel-bench}"
cli="$build/kestrel-cli"
py=/usr/bin/python3
export MTOOLS_SKIP_CHECK=1
mkdir -p "$work"
img="$work/deep-bench-2g.img"

if [[ ! -f "$img" ]]; then
  echo "making $img ..."
  pool="$work/pool"
  rm -rf "$pool" && mkdir -p "$pool"
  "$py" - "$pool" <<'PYEOF'
import random, sys, zipfile, io
from PIL import Image, ImageDraw
pool = sys.argv[1]
rnd = random.Random(2024)
def picture(path, w, h, fmt):
    img = Image.new("RGB", (w, h), tuple(rnd.randrange(256) for _ in range(3)))
    d = ImageDraw.Draw(img)
    for _ in range(60):
        x, y = rnd.randrange(w), rnd.randrange(h)
        d.rectangle([x, y, x + rnd.randrange(10, w // 2), y + rnd.randrange(10, h // 2)],
                    fill=tuple(rnd.randrange(256) for _ in range(3)))
    noise = Image.effect_noise((w, h), rnd.randrange(20, 80)).convert("RGB")
    img = Image.blend(img, noise, 0.35)
    img.save(path, fmt, **({"quality": 90} if fmt == "JPEG" else {}))
for i in range(120):
    w, h = rnd.choice([(1600, 1200), (1024, 768), (800, 600), (2048, 1536)])
    picture(f"{pool}/IMG_{i:04d}.JPG", w, h, "JPEG")
for i in range(30):
    picture(f"{pool}/shot_{i:03d}.png", 640, 480, "PNG")
for i in range(20):
    picture(f"{pool}/scan_{i:03d}.gif", 400, 300, "GIF")
for i in range(10):
    with open(f"{pool}/doc_{i:02d}.pdf", "wb") as f:
        f.write(b"%PDF-1.4\n" + rnd.randbytes(200000) + b"\n%%EOF\n")
    with zipfile.ZipFile(f"{pool}/archive_{i:02d}.zip", "w") as z:
        z.writestr("data.bin", rnd.randbytes(150000))
PYEOF
  truncate -s 2G "$img"
  mkfs.fat -F 32 -s 32 -n BENCH "$img" >/dev/null
  for n in $(seq 1 9); do
    mmd -i "$img" "::/set$n"
    mcopy -i "$img" "$pool"/* "::/set$n/"
  done
  head -c 500M /dev/urandom > "$work/noise.bin"
  mcopy -i "$img" "$work/noise.bin" ::/noise.bin
  rm -f "$work/noise.bin"
  for n in 2 5 8; do mdeltree -i "$img" "::/set$n"; done
  mdel -i "$img" ::/noise.bin
  mkfs.fat -F 32 -s 32 -n BENCH "$img" >/dev/null
fi

bytes=$(stat -c %s "$img")
mib=$(( bytes / 1048576 ))
rate() { awk -v m="$mib" -v s="$1" 'BEGIN { printf "%.0f", m / s }'; }
timed() {  # seconds taken by a command, its output to $work/last.out
  local t0 t1
  t0=$(date +%s.%N); "$@" > "$work/last.out" 2>&1; t1=$(date +%s.%N)
  awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.2f", b - a }'
}

cat "$img" > /dev/null; cat "$img" > /dev/null   # warm the page cache
echo "image: $img ($mib MiB), $(nproc) cores"

t=$(timed sh -c 'cat "$1" > /dev/null' cat "$img")
echo "cat:       ${t} s  $(rate "$t") MiB/s"

data="$work/xdg"
rm -rf "$data" && mkdir -p "$data"
t=$(XDG_DATA_HOME="$data" XDG_CONFIG_HOME="$data" timed /usr/bin/time -v "$cli" scan --deep --restart "$img")
found=$(grep -Eo 'Found [0-9]+ files' "$work/last.out" | tail -1 | grep -Eo '[0-9]+' || echo "?")
peak=$(grep -Eo 'Maximum resident set size \(kbytes\): [0-9]+' "$work/last.out" | grep -Eo '[0-9]+$' || echo "?")
echo "kestrel:   ${t} s  $(rate "$t") MiB/s  found $found  peak RSS ${peak} KiB"

# The same with the files written out, as photorec does (search results are
# de-duplicated: a file found by name and again by content is written once).
rm -rf "$data" "$work/kestrel-out" && mkdir -p "$data"
t=$(XDG_DATA_HOME="$data" XDG_CONFIG_HOME="$data" timed "$cli" recover --deep --restart \
      --types photo,audio,video,pdf,zip "$img" "$work/kestrel-out")
written=$(find "$work/kestrel-out" -type f | wc -l)
echo "kestrel recover: ${t} s  $(rate "$t") MiB/s  wrote $written files"
rm -rf "$work/kestrel-out"

out="$work/photorec"
rm -rf "$out" && mkdir -p "$out"
t=$(cd "$work" && timed photorec /log /d "$out/recup" /cmd "$img" \
      partition_none,options,keep_corrupted_file,fileopt,everything,enable,wholespace,search)
pfound=$(find "$out" -type f ! -name report.xml | wc -l)
echo "photorec:  ${t} s  $(rate "$t") MiB/s  recovered $pfound (writes every file it finds)"
rm -rf "$out"

# Worst case for the pass: 1 GiB of random bytes, no file system and no file
# to skip, so every sector is examined by every recogniser.
noise="$work/random-1g.img"
[[ -f "$noise" ]] || head -c 1G /dev/urandom > "$noise"
cat "$noise" > /dev/null
rm -rf "$data" && mkdir -p "$data"
t=$(XDG_DATA_HOME="$data" XDG_CONFIG_HOME="$data" timed "$cli" scan --deep --restart "$noise")
mib=1024
echo "kestrel on 1 GiB of random bytes: ${t} s  $(rate "$t") MiB/s"
