// Reading found exFAT files back (recovery and preview) and the map of used
// clusters with its free-run queries for the deep scan.
#include <algorithm>

#include "engines/fast/fast_exfat_recovery.h"

namespace kestrel {

namespace {

// Clusters larger than this are refused when reading back (error 29).
constexpr int64_t kLargestClusterRead = 104857600;

}  // namespace

int CFastExfatRecovery::ReadRecord(const FoundFileRecord& record, DataSink& sink,
                                   const std::function<int(uint64_t)>& report) {
  if (record.clusterBytes > kLargestClusterRead) return kErrWriteFault;
  if (!volume_.IsOpen()) return openError_ != kSuccess ? openError_ : kErrInvalidParameter;
  const uint64_t wanted = std::min<uint64_t>(record.size, sink.room());
  // Every file this engine records was deleted (or lay in a deleted folder):
  // its clusters are free unless something reused them.
  ExfatDataSpec spec{record.itemKey, record.size, false, true, false};
  uint64_t validLength = record.size;
  // The record keeps where its entry set was; the set says whether the data
  // is one contiguous run and how much of it was ever written.
  ExfatEntrySet set;
  uint64_t sectorOffset = (record.entrySector - record.partitionStart) * uint64_t(deviceSectorBytes_);
  if (record.entrySector >= record.partitionStart &&
      volume_.FindSetInSector(sectorOffset, record.itemKey, record.size, set)) {
    spec.noFatChain = set.noFatChain;
    validLength = set.validDataLength;
  }
  return volume_.ReadFile(
      spec, validLength, wanted, [&](const uint8_t* data, size_t count) { return sink.Write(data, count); }, report);
}

// A cluster larger than exFAT allows is a damaged record: refused before a
// file is created for it.
int CFastExfatRecovery::RefuseRecord(const FoundFileRecord& record) {
  return record.clusterBytes > kLargestClusterRead ? kErrWriteFault : kSuccess;
}

int CFastExfatRecovery::BuildClusterMap() {
  if (!volume_.IsOpen()) return openError_ != kSuccess ? openError_ : kErrInvalidParameter;
  if (!volume_.HasBitmap()) {
    if (int error = volume_.LoadBitmap(); error != kSuccess) return error;
  }
  clusterMapReady_ = true;
  return kSuccess;
}

int CFastExfatRecovery::NextFreeExtent(uint64_t& start, uint64_t& length) {
  if (!clusterMapReady_ || !volume_.HasBitmap()) return 0;
  length = 0;
  if (start >= sectorCount_) {
    start = sectorCount_;
    return 1;
  }
  const ExfatGeometry& g = geometry();
  const uint64_t sb = uint64_t(deviceSectorBytes_);
  const uint64_t heapByte = uint64_t(g.clusterHeapOffset) << g.bytesPerSectorShift;
  const uint64_t clusterBytes = g.ClusterBytes();
  const uint64_t clusters = g.clusterCount;
  uint64_t startByte = start * sb;
  // The deep pass covers free clusters only; the boot region and FATs are read by the fast scan.
  uint64_t index = startByte > heapByte ? (startByte - heapByte) / clusterBytes : 0;
  uint64_t i = index;
  const std::vector<uint8_t>& map = volume_.bitmap();
  while (i < clusters) {
    if ((i % 8) == 0 && map[i / 8] == 0xFF) {
      i += 8;
      continue;
    }
    if (!volume_.IsClusterUsed(uint32_t(i + 2))) break;
    ++i;
  }
  if (i >= clusters) {
    start = sectorCount_;
    return 1;
  }
  uint64_t runStart = (i > index || startByte < heapByte) ? heapByte + i * clusterBytes : startByte;
  uint64_t j = i;
  while (j < clusters && !volume_.IsClusterUsed(uint32_t(j + 2))) ++j;
  uint64_t runEnd = heapByte + j * clusterBytes;
  start = runStart / sb;
  length = runEnd / sb - start;
  if (start >= sectorCount_) {
    length = 0;
  } else if (start + length > sectorCount_) {
    length = sectorCount_ - start;
  }
  return 1;
}

}  // namespace kestrel
