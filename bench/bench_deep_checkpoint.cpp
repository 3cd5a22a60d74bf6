// What the deep pass's saved points cost: one deep scan of an image per
// interval between points (30 s as shipped, then ever shorter, down to a
// point after every 64 KiB block), with the rate and the points written.
// Usage: bench_deep_checkpoint IMAGE [RUNS]. Point XDG_DATA_HOME at a scratch
// folder: every scan leaves its stores there.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>

#include "engines/deep/deep_recovery.h"
#include "engines/engine_factory.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s IMAGE [RUNS]\n", argv[0]);
    return 2;
  }
  std::filesystem::path image = argv[1];
  int runs = argc > 2 ? std::atoi(argv[2]) : 3;
  double mib = double(std::filesystem::file_size(image)) / 1048576.0;
  for (long ms : {30000L, 1000L, 100L, 10L, 0L}) {
    double best = 1e30;
    uint64_t points = 0;
    for (int run = 0; run < runs; ++run) {
      auto engine = kestrel::CreateEngineForImage(image, 0, true);
      auto* deep = dynamic_cast<kestrel::CProfessionalRecovery*>(engine.get());
      if (!deep) {
        std::fprintf(stderr, "not a deep engine\n");
        return 1;
      }
      deep->SetCheckpointInterval(std::chrono::milliseconds(ms));
      auto t0 = std::chrono::steady_clock::now();
      int result = engine->Scan(std::nullopt);
      double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
      if (result != 0) {
        std::fprintf(stderr, "scan failed: %d\n", result);
        return 1;
      }
      if (seconds < best) best = seconds;
      points = deep->checkpointsWritten();
    }
    std::printf("interval %6ld ms: best of %d %.3f s  %.0f MiB/s (whole scan incl. fast pass)  points %llu\n", ms,
                runs, best, mib / best, static_cast<unsigned long long>(points));
  }
  return 0;
}
