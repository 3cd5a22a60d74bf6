// Identification speed over data that matches nothing, the bulk of any deep
// scan: random sectors (old file contents) and zero sectors (never-written
// space). One core; MB/s of sector data judged by IdentifyAndSize.
// The in-order walk of all rows is measured too, to show what the first-byte
// dispatch buys.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "carve/signatures.h"

namespace {

constexpr size_t kSectorBytes = 512;
constexpr size_t kSectors = 16384;  // 8 MiB: larger than the caches, like a device stream

std::vector<uint8_t> RandomData() {
  std::vector<uint8_t> data(kSectors * kSectorBytes);
  std::mt19937_64 random(2024);
  for (size_t i = 0; i < data.size(); i += 8) {
    uint64_t v = random();
    for (size_t k = 0; k < 8; ++k) data[i + k] = static_cast<uint8_t>(v >> (8 * k));
  }
  return data;
}

void Identify(benchmark::State& state, const std::vector<uint8_t>& data) {
  kestrel::CarveContext context;
  kestrel::SignatureSource source;  // no device: nothing here reads beyond a sector
  kestrel::IdentifyResult result;
  size_t matches = 0;
  for (auto _ : state) {
    for (size_t s = 0; s < kSectors; ++s) {
      kestrel::ByteView sector(data.data() + s * kSectorBytes, kSectorBytes);
      if (kestrel::IdentifyAndSize(context, source, sector, s, kestrel::CarveProgress{}, result) == 0) ++matches;
    }
  }
  benchmark::DoNotOptimize(matches);
  state.counters["matches"] = static_cast<double>(matches);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * data.size()));
}

void WalkAllRows(benchmark::State& state, const std::vector<uint8_t>& data) {
  kestrel::CarveContext context;
  int32_t code = 0;
  size_t matches = 0;
  for (auto _ : state) {
    for (size_t s = 0; s < kSectors; ++s) {
      kestrel::ByteView sector(data.data() + s * kSectorBytes, kSectorBytes);
      if (kestrel::IdentifyInTableOrder(sector, context, code) != nullptr) ++matches;
    }
  }
  benchmark::DoNotOptimize(matches);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * data.size()));
}

void BM_IdentifyRandomSectors(benchmark::State& state) {
  static const std::vector<uint8_t> data = RandomData();
  Identify(state, data);
}
void BM_IdentifyZeroSectors(benchmark::State& state) {
  static const std::vector<uint8_t> data(kSectors * kSectorBytes, 0);
  Identify(state, data);
}
void BM_InOrderWalkRandomSectors(benchmark::State& state) {
  static const std::vector<uint8_t> data = RandomData();
  WalkAllRows(state, data);
}
void BM_InOrderWalkZeroSectors(benchmark::State& state) {
  static const std::vector<uint8_t> data(kSectors * kSectorBytes, 0);
  WalkAllRows(state, data);
}

}  // namespace

BENCHMARK(BM_IdentifyRandomSectors)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_IdentifyZeroSectors)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_InOrderWalkRandomSectors)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_InOrderWalkZeroSectors)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
