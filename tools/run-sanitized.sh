#!/usr/bin/env bash
# A second build of the library, the CLI and the test suite with AddressSanitizer
# and UndefinedBehaviorSanitizer (clang, so the same build also gives the
# libFuzzer targets), the whole suite run under it, then every fuzz target for a
# short fixed time on seeds from tests/data. Any sanitizer report fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds_per_target=${KESTREL_FUZZ_SECONDS:-20}

flags="-O1 -g -fno-omit-frame-pointer -fsanitize=address,undefined -fno-sanitize-recover=undefined -fsanitize=fuzzer-no-link"
CXX=clang++ cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_FLAGS="$flags" -DKESTREL_BUILD_FUZZ=ON -DKESTREL_BUILD_BENCH=OFF \
  -DKESTREL_BUILD_GUI=OFF >/dev/null
cmake --build build-asan -j"$(nproc)"

export ASAN_OPTIONS=abort_on_error=1:detect_leaks=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
ctest --test-dir build-asan --output-on-failure -j"$(nproc)"

# Seeds: whole images (at most 4 MiB, so a run gets through many of them) for
# the target that scans images; the sample files for the single-structure
# parsers, which start from small inputs.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/images" "$work/samples"
for image in tests/data/*.img.gz; do
  size=$(gzip -l "$image" | awk 'END { print $2 }')
  [ "$size" -le 4194304 ] && gunzip -c "$image" > "$work/images/$(basename "$image" .gz)"
done
cp tests/data/samples/* "$work/samples/"
ran=0
for target in build-asan/fuzz/fuzz_*; do
  [ -x "$target" ] || continue
  name=$(basename "$target")
  seeds="$work/samples"; limits=()
  if [ "$name" = fuzz_fast_scan ]; then seeds="$work/images"; limits=(-max_len=4194304); fi
  mkdir -p "$work/corpus-$name"
  echo "fuzzing $name for ${seconds_per_target}s"
  if ! "$target" -max_total_time="$seconds_per_target" -rss_limit_mb=2048 "${limits[@]}" \
      "$work/corpus-$name" "$seeds" >"$work/$name.log" 2>&1; then
    tail -n 60 "$work/$name.log"
    exit 1
  fi
  grep -E '^#[0-9]+' "$work/$name.log" | tail -n 1 || true
  ran=$((ran + 1))
done
echo "fuzz: $ran passed, 0 failed"
