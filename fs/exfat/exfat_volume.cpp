#include "fs/exfat/exfat_volume.h"

#include <algorithm>
#include <unordered_set>

#include "fs/exfat/exfat_dir.h"
#include "platform/error_codes.h"

namespace kestrel {

namespace {

constexpr uint32_t kBootRegionSectors = 12;
// An allocation bitmap longer than this is taken for damage, not read.
constexpr uint64_t kMaxBitmapBytes = 512ull * 1024 * 1024;

}  // namespace

int ExfatVolume::Read(uint64_t offset, uint8_t* out, uint32_t count, uint32_t& got) {
  got = 0;
  if (!reader_) return kErrInvalidParameter;
  if (offset >= volumeBytes_) return kErrReadFault;
  count = uint32_t(std::min<uint64_t>(count, volumeBytes_ - offset));
  return reader_(offset, out, count, got);
}

int ExfatVolume::TryBootRegion(uint64_t start, uint32_t sectorBytesGuess, ExfatGeometry& out, bool& checksumOk) {
  std::vector<uint8_t> region(size_t(kBootRegionSectors) * sectorBytesGuess);
  uint32_t got = 0;
  int error = Read(start, region.data(), uint32_t(region.size()), got);
  if (got < 512) return error != kSuccess ? error : kErrReadFault;
  ByteView view(region.data(), got);
  if (!ParseExfatBoot(view, out)) return kErrInvalidParameter;
  if (out.BytesPerSector() != sectorBytesGuess) {
    region.assign(size_t(kBootRegionSectors) * out.BytesPerSector(), 0);
    Read(start, region.data(), uint32_t(region.size()), got);
    view = ByteView(region.data(), got);
  }
  checksumOk = ExfatBootChecksumMatches(view, out.BytesPerSector());
  return kSuccess;
}

int ExfatVolume::Open(ExfatReader reader, uint64_t volumeBytes) {
  reader_ = std::move(reader);
  volumeBytes_ = volumeBytes;
  open_ = false;
  fatWindowValid_ = false;
  bitmap_.clear();
  ExfatGeometry main;
  bool mainOk = false;
  int error = TryBootRegion(0, 512, main, mainOk);
  if (error == kSuccess && mainOk) {
    geometry_ = main;
    bootChecksumOk_ = true;
    open_ = true;
    return kSuccess;
  }
  // A damaged main region: the backup one right after it was written with it.
  for (uint32_t shift = 9; shift <= 12; ++shift) {
    ExfatGeometry backup;
    bool backupOk = false;
    uint32_t sectorBytes = 1u << shift;
    if (TryBootRegion(uint64_t(kBootRegionSectors) * sectorBytes, sectorBytes, backup, backupOk) == kSuccess &&
        backup.BytesPerSector() == sectorBytes && backupOk) {
      geometry_ = backup;
      bootChecksumOk_ = false;
      open_ = true;
      return kSuccess;
    }
  }
  if (error != kSuccess) return error;
  // Both regions fail their checksum; the main sector's fields still passed every test.
  geometry_ = main;
  bootChecksumOk_ = false;
  open_ = true;
  return kSuccess;
}

int ExfatVolume::FatEntry(uint32_t cluster, uint32_t& value) {
  value = 0;
  if (!open_) return kErrInvalidParameter;
  uint64_t fatBytes = uint64_t(geometry_.fatLength) << geometry_.bytesPerSectorShift;
  uint64_t position = uint64_t(cluster) * 4;
  if (cluster >= uint64_t(geometry_.clusterCount) + 2 || position + 4 > fatBytes) return kErrInvalidParameter;
  if (!fatWindowValid_ || position < fatWindowStart_ || position + 4 > fatWindowStart_ + fatWindow_.size()) {
    uint64_t start = position - position % kExfatFatWindowBytes;
    uint32_t length = uint32_t(std::min<uint64_t>(kExfatFatWindowBytes, fatBytes - start));
    fatWindow_.assign(length, 0);
    uint32_t got = 0;
    uint64_t fatStart = uint64_t(geometry_.fatOffset) << geometry_.bytesPerSectorShift;
    int error = Read(fatStart + start, fatWindow_.data(), length, got);
    fatWindow_.resize(got - got % 4);
    fatWindowStart_ = start;
    fatWindowValid_ = true;
    if (position + 4 > start + fatWindow_.size()) {
      fatWindowValid_ = false;
      return error != kSuccess ? error : kErrReadFault;
    }
  }
  value = ByteView(fatWindow_.data(), fatWindow_.size()).le32(size_t(position - fatWindowStart_));
  return kSuccess;
}

bool ExfatVolume::IsClusterUsed(uint32_t cluster) const {
  if (!geometry_.IsValidCluster(cluster)) return false;
  uint32_t bit = cluster - 2;
  size_t byte = bit / 8;
  return byte < bitmap_.size() && ((bitmap_[byte] >> (bit % 8)) & 1) != 0;
}

int ExfatVolume::LoadBitmap() {
  bitmap_.clear();
  if (!open_) return kErrInvalidParameter;
  std::vector<ExfatClusterRun> runs;
  ExfatDataSpec root;
  root.firstCluster = geometry_.rootCluster;
  root.wholeChain = true;
  ResolveClusters(root, runs);
  // The bitmap entry is among the first entries of the root; its first cluster suffices.
  if (!runs.empty()) runs.resize(1), runs[0].count = 1;
  std::vector<uint8_t> rootBytes;
  int error = ReadRuns(runs, geometry_.ClusterBytes(), rootBytes);
  auto entry = FindExfatBitmapEntry(ByteView(rootBytes.data(), rootBytes.size()));
  if (!entry) return error != kSuccess ? error : kErrFileNotFound;
  uint64_t needed = (uint64_t(geometry_.clusterCount) + 7) / 8;
  if (entry->dataLength < needed || entry->dataLength > kMaxBitmapBytes) return kErrInvalidParameter;
  ExfatDataSpec spec;
  spec.firstCluster = entry->firstCluster;
  spec.length = needed;
  std::vector<ExfatClusterRun> bitmapRuns;
  if (int e = ResolveClusters(spec, bitmapRuns); e != kSuccess) return e;
  std::vector<uint8_t> bytes;
  try {
    if (int e = ReadRuns(bitmapRuns, needed, bytes); e != kSuccess) return e;
  } catch (const std::bad_alloc&) {
    return kErrNotEnoughMemory;
  }
  if (bytes.size() < needed) return kErrReadFault;
  bitmap_ = std::move(bytes);
  return kSuccess;
}

bool ExfatVolume::IsClaimed(const ExfatDataSpec& spec, uint32_t cluster) {
  if (!spec.claimed) return false;
  uint32_t bit = cluster - 2;
  return bit / 8 < spec.claimed->size() && (((*spec.claimed)[bit / 8] >> (bit % 8)) & 1) != 0;
}

void ExfatVolume::Append(std::vector<ExfatClusterRun>& runs, uint32_t cluster) {
  if (!runs.empty() && runs.back().first + runs.back().count == cluster) {
    ++runs.back().count;
  } else {
    runs.push_back({cluster, 1});
  }
}

int ExfatVolume::ResolveClusters(const ExfatDataSpec& spec, std::vector<ExfatClusterRun>& out) {
  out.clear();
  if (!open_) return kErrInvalidParameter;
  const uint64_t clusterBytes = geometry_.ClusterBytes();
  const uint64_t clusters = uint64_t(geometry_.clusterCount);
  uint64_t needed = spec.wholeChain ? std::max<uint64_t>(1, kExfatMaxDirectoryBytes / clusterBytes)
                                    : (spec.length + clusterBytes - 1) / clusterBytes;
  if (needed == 0) return kSuccess;
  const bool complete = needed <= clusters;
  if (!complete) needed = clusters;
  uint32_t cluster = spec.firstCluster;
  if (!geometry_.IsValidCluster(cluster)) return kErrHandleEof;
  // The start of a deleted file taken by a live one: nothing of it is left there.
  if (spec.deleted && IsClusterUsed(cluster)) return kErrHandleEof;

  if (spec.noFatChain) {
    uint64_t available = uint64_t(geometry_.clusterCount) + 2 - cluster;
    uint64_t take = std::min(needed, available);
    for (uint64_t i = 0; i < take; ++i) {
      uint32_t c = uint32_t(cluster + i);
      if (spec.deleted && IsClusterUsed(c)) return kErrHandleEof;
      Append(out, c);
    }
    return take == needed && complete ? kSuccess : kErrHandleEof;
  }

  std::unordered_set<uint32_t> seen;
  bool chainCleared = false;
  for (uint64_t taken = 0;;) {
    Append(out, cluster);
    seen.insert(cluster);
    if (++taken == needed) return complete || spec.wholeChain ? kSuccess : kErrHandleEof;
    uint32_t next = 0;
    if (!chainCleared) {
      if (FatEntry(cluster, next) != kSuccess) return kErrHandleEof;
      if (next >= kExfatFirstReservedCluster) return spec.wholeChain ? kSuccess : kErrHandleEof;
      // Deleting a file may zero its chain; from here its bytes are taken to
      // go on in the free clusters that follow.
      if (next == 0 && spec.deleted) chainCleared = true;
    }
    if (chainCleared) {
      next = cluster + 1;
      while (geometry_.IsValidCluster(next) && (IsClusterUsed(next) || IsClaimed(spec, next))) ++next;
    }
    if (!geometry_.IsValidCluster(next) || seen.count(next) != 0) return kErrHandleEof;
    if (spec.deleted && IsClusterUsed(next)) return kErrHandleEof;
    cluster = next;
  }
}

int ExfatVolume::ReadRuns(const std::vector<ExfatClusterRun>& runs, uint64_t maxBytes, std::vector<uint8_t>& bytes) {
  bytes.clear();
  const uint64_t clusterBytes = geometry_.ClusterBytes();
  for (const ExfatClusterRun& run : runs) {
    uint64_t runBytes = std::min<uint64_t>(uint64_t(run.count) * clusterBytes, maxBytes - bytes.size());
    uint64_t offset = uint64_t(geometry_.ClusterSector(run.first)) << geometry_.bytesPerSectorShift;
    while (runBytes > 0) {
      uint32_t piece = uint32_t(std::min<uint64_t>(runBytes, 1u << 20));
      size_t at = bytes.size();
      bytes.resize(at + piece);
      uint32_t got = 0;
      int error = Read(offset, bytes.data() + at, piece, got);
      bytes.resize(at + got);
      if (error != kSuccess || got < piece) return error != kSuccess ? error : kErrReadFault;
      offset += piece;
      runBytes -= piece;
    }
    if (bytes.size() >= maxBytes) break;
  }
  return kSuccess;
}

int ExfatVolume::ReadFile(const ExfatDataSpec& spec, uint64_t validLength, uint64_t wanted, const ByteSink& sink,
                          const std::function<int(uint64_t done)>& progress) {
  if (wanted == 0) return kSuccess;
  std::vector<ExfatClusterRun> runs;
  int resolved = ResolveClusters(spec, runs);
  const uint64_t clusterBytes = geometry_.ClusterBytes();
  std::vector<uint8_t> buffer(clusterBytes);
  uint64_t done = 0;
  for (const ExfatClusterRun& run : runs) {
    for (uint32_t i = 0; i < run.count && done < wanted; ++i) {
      uint64_t offset = uint64_t(geometry_.ClusterSector(run.first + i)) << geometry_.bytesPerSectorShift;
      uint32_t piece = uint32_t(std::min<uint64_t>(clusterBytes, wanted - done));
      uint32_t got = 0;
      int error = Read(offset, buffer.data(), piece, got);
      if (got < piece) return error != kSuccess ? error : kErrReadFault;
      // What lies past the valid length was never written by the file.
      if (done + piece > validLength) {
        uint64_t from = validLength > done ? validLength - done : 0;
        std::fill(buffer.begin() + std::ptrdiff_t(from), buffer.begin() + std::ptrdiff_t(piece), uint8_t(0));
      }
      if (int answer = sink(buffer.data(), piece); answer != kSuccess) return answer;
      done += piece;
      if (int answer = progress ? progress(done) : 0; answer != 0) return answer;
    }
  }
  if (done >= wanted) return kSuccess;
  return resolved != kSuccess ? resolved : kErrHandleEof;
}

bool ExfatVolume::FindSetInSector(uint64_t sectorOffset, uint32_t firstCluster, uint64_t dataLength,
                                  ExfatEntrySet& out) {
  const uint32_t sectorBytes = geometry_.BytesPerSector();
  // A set starting in the last entry of a sector runs up to 18 entries on.
  std::vector<uint8_t> bytes(size_t(sectorBytes) + kExfatMaxSecondaries * kExfatEntryBytes);
  uint32_t got = 0;
  Read(sectorOffset, bytes.data(), uint32_t(bytes.size()), got);
  ByteView view(bytes.data(), got);
  for (size_t offset = 0; offset < sectorBytes && offset + kExfatEntryBytes <= got; offset += kExfatEntryBytes) {
    ExfatEntrySet set;
    if (ParseExfatEntrySet(view.Sub(offset), set) != ExfatSetResult::kOk) continue;
    if (set.firstCluster == firstCluster && set.dataLength == dataLength) {
      out = std::move(set);
      return true;
    }
  }
  return false;
}

}  // namespace kestrel
