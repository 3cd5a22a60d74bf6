#!/usr/bin/env bash
# The main job on the bundled sample: unpack the sample images and probe them.
set -euo pipefail
cd "$(dirname "$0")/.."
out=build/sample
mkdir -p "$out"
for gz in tests/data/*.img.gz; do
  img="$out/$(basename "${gz%.gz}")"
  gzip -dc "$gz" > "$img"
  printf '%s: ' "$(basename "$img")"
  build/kestrel-cli probe "$img"
done
