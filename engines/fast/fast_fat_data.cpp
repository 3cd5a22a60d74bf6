// Reading found files back: recovery to a folder, preview extraction, and the
// used-cluster map with its free-extent queries for the deep scan.
#include <algorithm>

#include "engines/fast/fast_fat_recovery.h"

namespace kestrel {

int CFastFatRecovery::ReadRecord(const FoundFileRecord& record, DataSink& sink,
                                 const std::function<int(uint64_t)>& report) {
  if (record.clusterBytes > kMaxClusterBytes) return kErrWriteFault;
  if (record.clusterBytes <= 0 || record.clusterBytes % bytesPerSector_ != 0) return kErrInvalidParameter;
  if (!device_.IsOpen() || !geometryValid_) return openError_ != kSuccess ? openError_ : kErrInvalidParameter;
  const uint64_t wanted = std::min<uint64_t>(record.size, sink.room());
  if (wanted == 0) return kSuccess;
  // A placed deleted file is read from the clusters its scan chose; anything
  // else along its chain (the cleared part going on in free clusters).
  std::vector<uint32_t> placed;
  bool placedWhole = true;
  if (record.placement() != 0 && !record.IsDirectory()) {
    EnsureClaims();
    if (!placement_.PlacedClusters(record, placed, placedWhole)) return kErrHandleEof;
  }
  size_t nextPlaced = 0;
  FatChainCursor chain(fat_, placed.empty() ? record.itemKey : 0);
  auto cluster = [&]() -> uint32_t {
    if (!placed.empty()) return nextPlaced < placed.size() ? placed[nextPlaced] : 0;
    return chain.AtEnd() ? 0 : chain.cluster();
  };
  auto advance = [&]() -> int {
    if (!placed.empty()) {
      ++nextPlaced;
      return kSuccess;
    }
    return chain.Advance();
  };
  uint32_t sectorsPerCluster = uint32_t(record.clusterBytes / bytesPerSector_);
  std::vector<uint8_t> buffer(size_t(record.clusterBytes));
  uint64_t left = wanted;
  while (left > 0) {
    // The chain ended (or ran into used clusters) before the file did: only
    // part of it can be had.
    uint32_t current = cluster();
    if (current == 0 || !geometry_.IsValidCluster(current)) return kErrHandleEof;
    uint64_t sector = record.partitionStart + record.dataStart + uint64_t(current - 2) * sectorsPerCluster;
    uint32_t got = 0;
    int error = ReadAbsolute(sector, sectorsPerCluster, buffer.data(), got);
    if (got == 0) return error != kSuccess ? error : kErrReadFault;
    uint64_t piece = std::min<uint64_t>(got, left);
    if (int written = sink.Write(buffer.data(), size_t(piece)); written != kSuccess) return written;
    left -= piece;
    // A bad sector inside the cluster: keep what was read, say it is incomplete.
    if (error != kSuccess) return error;
    if (int answer = report(wanted - left); answer != 0) return answer;
    if (left == 0) break;
    error = advance();
    if (error != kSuccess) return error;
  }
  if (!placedWhole) return kErrHandleEof;
  // A file whose every placement fails its whole-file check is still handed
  // over: recovery judges it by the same check and publishes it under a
  // marked name, so the user can still look at the bytes.
  return kSuccess;
}

// A cluster larger than any FAT volume allows is a damaged record: refused
// before a file is created for it.
int CFastFatRecovery::RefuseRecord(const FoundFileRecord& record) {
  return record.clusterBytes > kMaxClusterBytes ? kErrWriteFault : kSuccess;
}

int CFastFatRecovery::BuildClusterMap() {
  if (!geometryValid_) return openError_ != kSuccess ? openError_ : kErrInvalidParameter;
  uint32_t clusters = geometry_.clusterCount;
  try {
    clusterMap_.assign((size_t(clusters) + 7) / 8, 0);
  } catch (const std::bad_alloc&) {
    return kErrNotEnoughMemory;
  }
  auto mark = [&](uint32_t cluster) {
    uint32_t bit = cluster - 2;
    clusterMap_[bit / 8] |= uint8_t(1u << (bit % 8));
  };
  for (uint32_t c = 2; c < clusters + 2; ++c) {
    uint32_t value = 0;
    if (fat_.Entry(c, value) != kSuccess || value == 0) continue;
    mark(c);
    if (!fat_.EndsChain(value)) mark(value);
  }
  return kSuccess;
}

int CFastFatRecovery::NextFreeExtent(uint64_t& start, uint64_t& length) {
  if (clusterMap_.empty() || !geometryValid_) return 0;
  length = 0;
  if (start >= sectorCount_) {
    start = sectorCount_;
    return 1;
  }
  const uint64_t spc = geometry_.sectorsPerCluster;
  const uint64_t clusters = geometry_.clusterCount;
  uint64_t relative = start > geometry_.firstDataSector ? start - geometry_.firstDataSector : 0;
  uint64_t index = relative / spc;
  auto used = [&](uint64_t i) { return (clusterMap_[i / 8] >> (i % 8)) & 1; };
  uint64_t i = index;
  while (i < clusters) {
    if ((i % 8) == 0 && clusterMap_[i / 8] == 0xFF) {
      i += 8;
      continue;
    }
    if (!used(i)) break;
    ++i;
  }
  if (i >= clusters) {
    start = sectorCount_;
    return 1;
  }
  if (i > index) relative = i * spc;
  uint64_t j = i;
  while (j < clusters && !used(j)) ++j;
  uint64_t endRelative = j * spc;
  length = endRelative - relative;
  uint64_t absoluteStart = relative + geometry_.firstDataSector;
  if (absoluteStart >= sectorCount_) {
    length = 0;
  } else if (absoluteStart + length > sectorCount_) {
    length = sectorCount_ - absoluteStart;
  }
  start = absoluteStart;
  return 1;
}

}  // namespace kestrel
