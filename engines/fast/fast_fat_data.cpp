// Reading found files back: recovery to a folder, preview extraction, and the
// used-cluster map with its free-extent queries for the deep scan.
#include <algorithm>

#include "engines/fast/fast_fat_recovery.h"

#include "engines/common/no_throw.h"

namespace kestrel {

namespace {

// The clusters of a file in the order they are read: its placement when it
// has one, else its chain.
class ReadOrder {
 public:
  ReadOrder(FatTable& fat, std::vector<uint32_t> placed, uint32_t first)
      : placed_(std::move(placed)), chain_(fat, placed_.empty() ? first : 0) {}
  // 0 once there is none.
  uint32_t cluster() const {
    if (!placed_.empty()) return next_ < placed_.size() ? placed_[next_] : 0;
    return chain_.AtEnd() ? 0 : chain_.cluster();
  }
  int Advance() {
    if (placed_.empty()) return chain_.Advance();
    ++next_;
    return kSuccess;
  }

 private:
  std::vector<uint32_t> placed_;
  size_t next_ = 0;
  FatChainCursor chain_;
};

}  // namespace

int CFastFatRecovery::PlacedClusters(const FoundFileRecord& record, std::vector<uint32_t>& placed,
                                     bool& placedWhole) {
  placed.clear();
  placedWhole = true;
  if (record.placement() == 0 || record.IsDirectory()) return kSuccess;
  EnsureClaims();
  return placement_.PlacedClusters(record, placed, placedWhole) ? kSuccess : kErrHandleEof;
}

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
  if (int error = PlacedClusters(record, placed, placedWhole); error != kSuccess) return error;
  ReadOrder order(fat_, std::move(placed), record.itemKey);
  uint32_t sectorsPerCluster = uint32_t(record.clusterBytes / bytesPerSector_);
  std::vector<uint8_t> buffer(size_t(record.clusterBytes));
  uint64_t left = wanted;
  while (left > 0) {
    // The chain ended (or ran into used clusters) before the file did: only
    // part of it can be had.
    uint32_t current = order.cluster();
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
    error = order.Advance();
    if (error != kSuccess) return error;
  }
  if (!placedWhole) return kErrHandleEof;
  // A file whose every placement fails its whole-file check is still handed
  // over: recovery judges it by the same check and publishes it under a
  // marked name, so the user can still look at the bytes.
  return kSuccess;
}

ItemReach CFastFatRecovery::ReachOf(const FoundFileRecord& record) {
  if (record.IsDirectory() || record.size == 0) return ItemReach::kWhole;
  if (record.clusterBytes <= 0 || record.clusterBytes > kMaxClusterBytes || record.clusterBytes % bytesPerSector_ != 0 ||
      !device_.IsOpen() || !geometryValid_) {
    return ItemReach::kUnknown;
  }
  // Anything thrown (no memory for the layouts) leaves it unknown.
  ItemReach reach = ItemReach::kUnknown;
  NoThrow([&] {
    reach = WalkReach(record);
    return kSuccess;
  });
  return reach;
}

ItemReach CFastFatRecovery::WalkReach(const FoundFileRecord& record) {
  std::vector<uint32_t> placed;
  bool placedWhole = true;
  if (PlacedClusters(record, placed, placedWhole) != kSuccess) return ItemReach::kCut;
  ReadOrder order(fat_, std::move(placed), record.itemKey);
  const uint64_t sectorsPerCluster = uint64_t(record.clusterBytes / bytesPerSector_);
  const uint64_t deviceSectors = deviceBytes_ / uint64_t(bytesPerSector_);
  for (uint64_t left = record.size;;) {
    uint32_t current = order.cluster();
    if (current == 0 || !geometry_.IsValidCluster(current)) return ItemReach::kCut;
    // Past the end of a cut copy of the volume: those bytes are not there.
    uint64_t sector = record.partitionStart + record.dataStart + uint64_t(current - 2) * sectorsPerCluster;
    uint64_t piece = std::min<uint64_t>(uint64_t(record.clusterBytes), left);
    if (sector + (piece + uint64_t(bytesPerSector_) - 1) / uint64_t(bytesPerSector_) > deviceSectors) {
      return ItemReach::kCut;
    }
    left -= piece;
    if (left == 0) break;
    if (order.Advance() != kSuccess) return ItemReach::kCut;
  }
  return placedWhole ? ItemReach::kWhole : ItemReach::kCut;
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
