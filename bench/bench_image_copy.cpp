// Imaging through bad sectors: the cost of the sector-by-sector re-read when
// pieces fail, through the sector device's read seam. With "--demo DIR" it
// instead copies a small source with bad sectors into DIR, prints the rescue
// map, then resumes the copy with one retry (two of the sectors read on the
// second try) and prints the map again.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "app/jobs/image_copy.h"
#include "platform/unique_fd.h"

namespace {

using namespace kestrel;

// byte offset of a bad sector -> reads it still fails (-1: always)
std::map<uint64_t, int> gBad;

ssize_t FaultyRead(int fd, void* buffer, size_t count, off_t offset) {
  auto it = gBad.lower_bound(uint64_t(offset));
  while (it != gBad.end() && it->first < uint64_t(offset) + count && it->second == 0) ++it;
  if (it == gBad.end() || it->first >= uint64_t(offset) + count) return ::pread(fd, buffer, count, offset);
  if (it->first > uint64_t(offset)) return ::pread(fd, buffer, it->first - uint64_t(offset), offset);
  if (it->second > 0) --it->second;
  errno = EIO;
  return -1;
}

std::string MakeSource(const std::string& dir, uint64_t bytes) {
  std::string path = dir + "/source.bin";
  std::vector<char> data(bytes);
  for (uint64_t i = 0; i < bytes; ++i) data[i] = char(i * 13 + i / 512);
  std::ofstream(path, std::ios::binary).write(data.data(), std::streamsize(bytes));
  return path;
}

ImageCopyOutcome Copy(const std::string& source, const std::string& dir, uint64_t sectors, int retries) {
  SectorDevice device;
  device.Adopt(UniqueFd(::open(source.c_str(), O_RDONLY | O_CLOEXEC)));
  device.totalSectors = sectors;
  device.read = FaultyRead;
  ImageCopyRequest request;
  request.device = &device;
  request.source = source;
  request.sectorCount = sectors;
  request.destination = dir + "/copy.img";
  request.map = dir + "/copy.img.map";
  request.retries = retries;
  return CopyToImage(request, nullptr);
}

void BM_CopyWithBadSectors(benchmark::State& state) {
  std::string dir = "/tmp/kestrel-bench-image-copy";
  std::filesystem::create_directories(dir);
  const uint64_t sectors = 64 * 2048;  // 64 MiB
  std::string source = MakeSource(dir, sectors * 512);
  for (auto _ : state) {
    gBad.clear();
    for (int64_t i = 0; i < state.range(0); ++i) gBad[uint64_t(i) * (sectors * 512 / uint64_t(state.range(0)))] = -1;
    std::filesystem::remove(dir + "/copy.img.map");
    auto outcome = Copy(source, dir, sectors, 0);
    benchmark::DoNotOptimize(outcome.badBytes);
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(sectors * 512));
  std::filesystem::remove_all(dir);
}
BENCHMARK(BM_CopyWithBadSectors)->Arg(0)->Arg(16)->Arg(256)->Unit(benchmark::kMillisecond);

std::string Read(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

int Demo(const std::string& dir) {
  const uint64_t sectors = 2048;  // 1 MiB
  std::string source = MakeSource(dir, sectors * 512);
  std::filesystem::remove(dir + "/copy.img.map");
  gBad = {{300 * 512, -1}, {301 * 512, -1}, {1500 * 512, 2}, {1900 * 512, 2}};
  auto first = Copy(source, dir, sectors, 0);
  std::printf("first run: result %d, %llu unreadable bytes\n%s\n", first.result,
              static_cast<unsigned long long>(first.badBytes), Read(dir + "/copy.img.map").c_str());
  auto second = Copy(source, dir, sectors, 1);
  std::printf("resumed with one retry: result %d, resumed %d, %llu unreadable bytes\n%s", second.result,
              int(second.resumed), static_cast<unsigned long long>(second.badBytes),
              Read(dir + "/copy.img.map").c_str());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "--demo") == 0) return Demo(argv[2]);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
