#include "engines/fast/fast_exfat_recovery.h"

#include <algorithm>

#include "catalogue/categories.h"
#include "engines/common/no_throw.h"
#include "fs/exfat/exfat_device_reader.h"
#include "fs/fat/fat_dir.h"

namespace kestrel {

namespace {

constexpr uint32_t kMaxDepth = 4096;

}  // namespace

CFastExfatRecovery::CFastExfatRecovery() = default;

CFastExfatRecovery::~CFastExfatRecovery() = default;

int CFastExfatRecovery::FinishOpen() {
  opened_ = true;
  deviceBytes_ = device_.totalSectors * uint64_t(deviceSectorBytes_);
  uint64_t startByte = partitionStart_ * uint64_t(deviceSectorBytes_);
  // Never read past the partition into whatever follows it, nor past the device.
  uint64_t volumeBytes = sectorCount_ * uint64_t(deviceSectorBytes_);
  if (startByte >= deviceBytes_) return openError_ = kErrReadFault;
  volumeBytes = std::min(volumeBytes, deviceBytes_ - startByte);
  reader_ = MakeDeviceReader(device_, deviceSectorBytes_, partitionStart_);
  int error = volume_.Open(reader_, volumeBytes);
  if (error != kSuccess) return openError_ = error;
  // Deleted files are read through the bitmap; without it every cluster counts
  // as free, which still recovers what was not reused.
  volume_.LoadBitmap();
  signatureSource_.device = &device_;
  signatureSource_.sectorBytes = deviceSectorBytes_;
  signatureSource_.endByte = startByte + volumeBytes;
  return openError_ = kSuccess;
}

int CFastExfatRecovery::ReadVolume(uint64_t offset, uint8_t* out, uint32_t count, uint32_t& got) {
  got = 0;
  if (!device_.IsOpen()) return openError_ != kSuccess ? openError_ : kErrInvalidParameter;
  return reader_(offset, out, count, got);
}

int CFastExfatRecovery::Scan(const std::optional<std::string>& storeName) {
  return NoThrow([&] { return ScanTree(storeName); });
}

int CFastExfatRecovery::ScanTree(const std::optional<std::string>& storeName) {
  if (!opened_ || !volume_.IsOpen()) return openError_ != kSuccess ? openError_ : kErrInvalidParameter;
  folders_.clear();
  neededFolders_.clear();
  neededSet_.clear();
  visited_.clear();
  queue_.clear();
  // Reopening a saved scan reads nothing from the source.
  if (int error = store_.Start(storeName, partitionStart_); error != kSuccess || storeName) return error;

  Folder root;
  root.cluster = geometry().rootCluster;
  root.data.firstCluster = root.cluster;
  root.data.wholeChain = true;
  queue_.push_back(root);
  WalkProgress walk(*this);
  int result = Report(1, -1);
  while (result == 0 && !queue_.empty()) {
    Folder folder = queue_.front();
    queue_.pop_front();
    // One directory that cannot be walked ends only itself.
    Tallied(damage_, FolderByteOffset(folder), kErrGeneralFailure, [&] { return WalkDirectory(folder); });
    result = walk.Tick();
  }
  return FinishWalk(result, [this] { AppendNeededFolders(); });
}

uint64_t CFastExfatRecovery::FolderByteOffset(const Folder& folder) const {
  const ExfatGeometry& g = geometry();
  return partitionStart_ * uint64_t(deviceSectorBytes_) + (uint64_t(g.ClusterSector(folder.cluster)) << g.bytesPerSectorShift);
}

int CFastExfatRecovery::WalkDirectory(const Folder& folder) {
  if (folder.level > kMaxDepth || !visited_.insert(folder.cluster).second) return kSuccess;
  // A deleted folder whose first cluster is in use again holds someone else's entries.
  if (folder.deleted && volume_.IsClusterUsed(folder.cluster)) return kSuccess;
  std::vector<ExfatClusterRun> runs;
  volume_.ResolveClusters(folder.data, runs);
  uint64_t limit = folder.data.wholeChain ? kExfatMaxDirectoryBytes
                                          : std::min<uint64_t>(folder.data.length, kExfatMaxDirectoryBytes);
  std::vector<uint8_t> bytes;
  volume_.ReadRuns(runs, limit, bytes);  // a read error leaves what was read
  ByteView view(bytes.data(), bytes.size());

  const ExfatGeometry& g = geometry();
  const uint64_t clusterBytes = g.ClusterBytes();
  std::vector<uint32_t> clusters;
  for (const ExfatClusterRun& run : runs) {
    for (uint32_t i = 0; i < run.count && clusters.size() * clusterBytes < bytes.size(); ++i) {
      clusters.push_back(run.first + i);
    }
  }
  auto sectorOf = [&](size_t offset) {
    uint64_t volumeByte = (uint64_t(g.ClusterSector(clusters[offset / clusterBytes])) << g.bytesPerSectorShift) +
                          offset % clusterBytes;
    return partitionStart_ + volumeByte / uint64_t(deviceSectorBytes_);
  };
  for (size_t offset = 0; offset + kExfatEntryBytes <= view.size();) {
    uint8_t type = view.u8(offset);
    if (type == kExfatTypeEndOfDirectory) break;
    ExfatEntrySet set;
    if ((type & 0x7F) == (kExfatTypeFile & 0x7F) && ParseExfatEntrySet(view.Sub(offset), set) == ExfatSetResult::kOk) {
      uint64_t entrySector = sectorOf(offset);
      Tallied(damage_, entrySector * deviceSectorBytes_, false, [&] {
        HandleSet(set, entrySector, folder);
        return true;
      });
      offset += size_t(set.entryCount) * kExfatEntryBytes;
      continue;
    }
    offset += kExfatEntryBytes;
  }
  return kSuccess;
}

FoundFileRecord CFastExfatRecovery::MakeRecord(const ExfatEntrySet& set, uint64_t entrySector) const {
  const ExfatGeometry& g = geometry();
  FoundFileRecord record;
  record.driveLetter = letter_;
  record.engineKind = uint32_t(EngineKind::kFastExfat);
  record.itemKey = set.firstCluster;
  record.clusterBytes = int32_t(g.ClusterBytes());
  record.created = set.created;
  record.accessed = set.accessed;
  record.modified = set.modified;
  record.dataStart = (uint64_t(g.clusterHeapOffset) << g.bytesPerSectorShift) / uint64_t(deviceSectorBytes_);
  record.entrySector = entrySector;
  record.partitionStart = partitionStart_;
  record.SetName(SafeFileName(set.name));
  return record;
}

void CFastExfatRecovery::HandleSet(const ExfatEntrySet& set, uint64_t entrySector, const Folder& folder) {
  const bool deleted = set.deleted || folder.deleted;
  const ExfatGeometry& g = geometry();
  if (set.IsDirectory()) {
    if (!g.IsValidCluster(set.firstCluster) || set.firstCluster == folder.cluster || set.dataLength == 0) return;
    Folder child;
    child.cluster = set.firstCluster;
    child.level = folder.level + 1;
    child.deleted = deleted;
    child.data = {set.firstCluster, set.dataLength, set.noFatChain, deleted, false};
    queue_.push_back(child);
    FolderRecord entry{MakeRecord(set, entrySector), folder.cluster, child.level};
    entry.record.isDirectory = 1;
    entry.record.isDeleted = deleted ? 1 : 0;
    entry.record.contentValid = 1;
    folders_[child.cluster] = entry;
    return;
  }
  if (!deleted) return;
  FoundFileRecord record = MakeRecord(set, entrySector);
  record.size = set.dataLength;
  record.contentValid = uint32_t(CheckContent(set.firstCluster, set.name));
  if (store_.log()->AppendRecord(record) != kSuccess) return;
  store_.log()->LinkChild(DirectoryKey{folder.cluster, folder.level}.Packed(), record.recordIndex);
  MarkAncestors(folder.cluster);
}

int32_t CFastExfatRecovery::CheckContent(uint32_t cluster, const std::string& name) {
  std::string extension = ExtensionOf(name);
  // Nothing to check, or nothing readable, is no evidence against the file.
  if (extension.empty() || !geometry().IsValidCluster(cluster)) return 1;
  std::vector<uint8_t> sector(static_cast<size_t>(deviceSectorBytes_));
  uint64_t offset = uint64_t(geometry().ClusterSector(cluster)) << geometry().bytesPerSectorShift;
  uint32_t got = 0;
  if (ReadVolume(offset, sector.data(), uint32_t(sector.size()), got) != kSuccess || got == 0) return 1;
  uint64_t absolute = partitionStart_ + offset / uint64_t(deviceSectorBytes_);
  return CheckFirstSector(ByteView(sector.data(), got), extension, signatureSource_, absolute, scratch_);
}

void CFastExfatRecovery::MarkAncestors(uint32_t key) {
  for (uint32_t steps = 0; steps < kMaxDepth && key != geometry().rootCluster; ++steps) {
    // A key already marked had its ancestors marked with it; this also ends loops.
    if (!neededSet_.insert(key).second) return;
    neededFolders_.push_back(key);
    auto it = folders_.find(key);
    if (it == folders_.end()) return;
    key = it->second.parent;
  }
}

void CFastExfatRecovery::AppendNeededFolders() {
  for (uint32_t cluster : neededFolders_) {
    auto it = folders_.find(cluster);
    if (it == folders_.end()) continue;
    FoundFileRecord record = it->second.record;
    if (store_.log()->AppendRecord(record) != kSuccess) continue;
    store_.log()->LinkChild(DirectoryKey{it->second.parent, it->second.level - 1}.Packed(), record.recordIndex,
                            cluster, record.Name());
  }
}

}  // namespace kestrel
