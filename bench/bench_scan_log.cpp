// Store throughput and memory: append N records in a folder tree, save,
// reopen, list one folder and search by extension. Run under /usr/bin/time -v
// for the peak; the program prints its own peak after each phase, so growth
// with N shows up by comparing runs (bench_scan_log 1000000 / 2000000).
//
//   bench_scan_log [records=1000000] [folder=/tmp/kestrel-bench-scanlog]
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "catalogue/scan_log.h"

using namespace kestrel;

namespace {

long PeakKb() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

// Mixed names: one in 50 files is an .mp3, the rest photos and documents.
const char* ExtensionFor(uint64_t i) {
  if (i % 50 == 0) return ".mp3";
  switch (i % 4) {
    case 0: return ".jpg";
    case 1: return ".png";
    case 2: return ".docx";
    default: return ".nef";
  }
}

}  // namespace

int main(int argc, char** argv) {
  const uint64_t total = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1'000'000;
  const std::filesystem::path folder = argc > 2 ? argv[2] : "/tmp/kestrel-bench-scanlog";
  std::filesystem::remove_all(folder);
  constexpr uint32_t kFilesPerFolder = 1000;
  const uint64_t rootKey = 2;

  auto start = std::chrono::steady_clock::now();
  {
    ScanLog log;
    if (int err = log.Open("Fast_2048_20261279 5", folder); err != 0) {
      std::fprintf(stderr, "open failed: %d\n", err);
      return 1;
    }
    uint32_t folderId = 100;
    uint64_t parent = rootKey;
    FoundFileRecord record;
    record.contentValid = 1;
    record.clusterBytes = 4096;
    for (uint64_t i = 0; i < total; ++i) {
      if (i % (kFilesPerFolder + 1) == 0) {
        record.isDirectory = 1;
        record.itemKey = ++folderId;
        record.size = 0;
        record.SetName("DCIM" + std::to_string(folderId));
        if (log.AppendRecord(record) != 0) return 1;
        log.LinkChild(rootKey, record.recordIndex, record.itemKey, record.Name());
        parent = DirectoryKey{folderId, 1}.Packed();
        continue;
      }
      record.isDirectory = 0;
      record.itemKey = static_cast<uint32_t>(i);
      record.size = 1'000'000 + i;
      record.SetName("IMG_" + std::to_string(i) + ExtensionFor(i));
      if (log.AppendRecord(record) != 0) return 1;
      log.LinkChild(parent, record.recordIndex);
    }
    const double appendSeconds = Seconds(start);
    std::printf("append: %llu records in %.3f s = %.0f records/s, peak %ld KiB\n",
                static_cast<unsigned long long>(total), appendSeconds, total / appendSeconds, PeakKb());
    auto saveStart = std::chrono::steady_clock::now();
    if (log.SaveIndex() != 0) return 1;
    std::printf("save: %.3f s, peak %ld KiB\n", Seconds(saveStart), PeakKb());
  }

  auto reopenStart = std::chrono::steady_clock::now();
  ScanLog log;
  if (int err = log.Open("Fast_2048_20261279 5", folder); err != 0) return 1;
  std::printf("reopen: %.3f s (%llu records on disk, %zu keys, %zu folder names), peak %ld KiB\n",
              Seconds(reopenStart), static_cast<unsigned long long>(log.TotalRecords()), log.relations().size(),
              log.folderNames().size(), PeakKb());

  auto listStart = std::chrono::steady_clock::now();
  std::vector<FoundFileRecord> listed;
  if (log.ListFolder(DirectoryKey{150, 1}.Packed(), listed) != 0) return 1;
  std::printf("list one folder: %zu records in %.4f s\n", listed.size(), Seconds(listStart));

  // A list that matches nothing shows the memory of the scan itself, apart
  // from the result list that the caller asked for.
  {
    auto noneStart = std::chrono::steady_clock::now();
    std::vector<FoundFileRecord> none;
    log.SearchByExtension("*.zzz|", none);
    std::printf("search *.zzz| (no matches): %.3f s, peak %ld KiB\n", Seconds(noneStart), PeakKb());
  }

  auto searchStart = std::chrono::steady_clock::now();
  std::vector<FoundFileRecord> found;
  const int result = log.SearchByExtension("*.mp3|", found);
  const double searchSeconds = Seconds(searchStart);
  std::printf("search *.mp3|: result %d, %zu matches, %.3f s = %.0f records/s scanned, peak %ld KiB\n", result,
              found.size(), searchSeconds, log.TotalRecords() / searchSeconds, PeakKb());
  log.Close();
  std::filesystem::remove_all(folder);
  return result == 1 ? 0 : 1;
}
