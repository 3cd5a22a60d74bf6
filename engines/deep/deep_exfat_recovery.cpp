#include "engines/deep/deep_exfat_recovery.h"

#include <string>
#include <unordered_map>
#include <unordered_set>

#include "catalogue/categories.h"
#include "catalogue/scan_log_paths.h"
#include "engines/common/lost_folder.h"
#include "fs/exfat/exfat_device_reader.h"
#include "fs/fat/fat_dir.h"
#include "platform/error_codes.h"

namespace kestrel {

namespace {

// Each kept set costs about a hundred bytes; a damaged disk full of
// look-alike entries must not take all memory.
constexpr size_t kMaxSets = 2000000;
constexpr uint32_t kMaxDepth = 4096;
constexpr uint32_t kRootKey = 0;

}  // namespace

int CProfessionalExfatRecovery::OpenImage(const std::filesystem::path& image, uint16_t letter) {
  return OpenImageSource(image, letter);
}

int CProfessionalExfatRecovery::OpenPartition(int32_t driveNumber, uint64_t firstSector, uint64_t sectorCount,
                                              uint16_t letter) {
  return OpenPartitionSource(driveNumber, firstSector, sectorCount, letter);
}

int CProfessionalExfatRecovery::BeginScan() {
  sets_.clear();
  active_ = false;
  int error = OpenScanStore(std::nullopt, ProExfatStoreName(int64_t(firstSector_), LocalTimeNow()));
  if (error != kSuccess) return error;
  if (!device_.IsOpen()) return kSuccess;
  reader_ = MakeDeviceReader(device_, int32_t(sectorBytes_), firstSector_);
  uint64_t volumeBytes = sectorCount_ * sectorBytes_;
  if (volume_.Open(reader_, volumeBytes) != kSuccess) return kSuccess;
  // The bitmap tells which clusters a live file holds now; without it every
  // cluster counts as free.
  volume_.LoadBitmap();
  active_ = true;
  return kSuccess;
}

int CProfessionalExfatRecovery::ReopenEmptyStore(const std::string& storeName) {
  sets_.clear();
  active_ = false;
  int error = OpenScanStore(deep::MemberResume{storeName, std::nullopt, nullptr}, storeName);
  if (error != kSuccess) return error;
  return log_->TotalRecords() == 0 ? kSuccess : kErrInvalidParameter;
}

bool CProfessionalExfatRecovery::OnSector(const uint8_t* data, size_t available, uint64_t absoluteSector) {
  if (!active_ || absoluteSector < firstSector_ || sets_.size() >= kMaxSets) return false;
  const ExfatGeometry& g = volume_.geometry();
  uint64_t volumeByte = (absoluteSector - firstSector_) * sectorBytes_;
  uint32_t holder = g.ClusterOfSector(volumeByte >> g.bytesPerSectorShift);
  if (holder == 0) return false;
  ByteView view(data, available);
  bool taken = false;
  std::vector<uint8_t> spill;
  for (size_t offset = 0; offset + kExfatEntryBytes <= sectorBytes_ && offset + kExfatEntryBytes <= available;
       offset += kExfatEntryBytes) {
    // Cheap test first: a file entry followed by a stream extension entry.
    if ((view.u8(offset) & 0x7F) != (kExfatTypeFile & 0x7F) ||
        (view.u8(offset + kExfatEntryBytes) & 0x7F) != (kExfatTypeStream & 0x7F)) {
      continue;
    }
    FoundSet found;
    ExfatSetResult result = ParseExfatEntrySet(view.Sub(offset), found.set);
    if (result == ExfatSetResult::kTruncated) {
      // The set runs past the block: read it whole from the source.
      spill.assign((kExfatMaxSecondaries + 1) * kExfatEntryBytes, 0);
      uint32_t got = 0;
      reader_(volumeByte + offset, spill.data(), uint32_t(spill.size()), got);
      result = ParseExfatEntrySet(ByteView(spill.data(), got), found.set);
    }
    if (result != ExfatSetResult::kOk) continue;
    found.entrySector = absoluteSector + offset / sectorBytes_;
    found.holder = holder;
    try {
      sets_.push_back(std::move(found));
    } catch (const std::bad_alloc&) {
      return taken;
    }
    taken = true;
  }
  return taken;
}

FoundFileRecord CProfessionalExfatRecovery::MakeRecord(const FoundSet& found) const {
  const ExfatGeometry& g = volume_.geometry();
  FoundFileRecord record;
  record.driveLetter = letter_;
  record.engineKind = uint32_t(EngineKind::kDeepExfat);
  record.itemKey = found.set.firstCluster;
  record.clusterBytes = int32_t(g.ClusterBytes());
  record.created = found.set.created;
  record.accessed = found.set.accessed;
  record.modified = found.set.modified;
  record.dataStart = (uint64_t(g.clusterHeapOffset) << g.bytesPerSectorShift) / sectorBytes_;
  record.entrySector = found.entrySector;
  record.partitionStart = firstSector_;
  record.contentValid = 1;
  record.SetName(SafeFileName(found.set.name));
  return record;
}

int CProfessionalExfatRecovery::FinishScan() {
  if (!active_ || !log_) return kSuccess;
  const ExfatGeometry& g = volume_.geometry();
  const uint64_t clusterBytes = g.ClusterBytes();
  const uint64_t maxDirectoryClusters = std::max<uint64_t>(1, kExfatMaxDirectoryBytes / clusterBytes);

  // Folders by first cluster, and which folder each directory cluster belongs to.
  std::unordered_map<uint32_t, size_t> folderAt;
  for (size_t i = 0; i < sets_.size(); ++i) {
    const ExfatEntrySet& s = sets_[i].set;
    if (s.IsDirectory() && g.IsValidCluster(s.firstCluster) && s.dataLength != 0) folderAt.emplace(s.firstCluster, i);
  }
  std::unordered_map<uint32_t, uint32_t> owner;
  std::vector<ExfatClusterRun> runs;
  for (const auto& [first, index] : folderAt) {
    const ExfatEntrySet& s = sets_[index].set;
    uint64_t length = std::min<uint64_t>(s.dataLength, kExfatMaxDirectoryBytes);
    ExfatDataSpec spec{first, length, s.noFatChain, !volume_.IsClusterUsed(first), false};
    volume_.ResolveClusters(spec, runs);
    uint64_t placed = 0;
    for (const ExfatClusterRun& run : runs) {
      for (uint32_t c = 0; c < run.count && placed < maxDirectoryClusters; ++c, ++placed) {
        owner.emplace(run.first + c, first);
      }
    }
  }
  claimed_.assign((size_t(g.clusterCount) + 7) / 8, 0);
  for (const FoundSet& found : sets_) {
    const ExfatEntrySet& s = found.set;
    if (s.deleted || !s.noFatChain || !g.IsValidCluster(s.firstCluster)) continue;
    uint64_t count = (s.dataLength + clusterBytes - 1) / clusterBytes;
    for (uint64_t c = s.firstCluster; c < uint64_t(s.firstCluster) + count && g.IsValidCluster(c); ++c) {
      claimed_[(c - 2) / 8] |= uint8_t(1u << ((c - 2) % 8));
    }
  }
  std::unordered_set<uint32_t> rootClusters;
  ExfatDataSpec rootSpec;
  rootSpec.firstCluster = g.rootCluster;
  rootSpec.wholeChain = true;
  volume_.ResolveClusters(rootSpec, runs);
  for (const ExfatClusterRun& run : runs) {
    for (uint32_t c = 0; c < run.count; ++c) rootClusters.insert(run.first + c);
  }

  // The folder a set lies in: the live root, a found folder, or the lost
  // folder of the cluster (keyed by that cluster, which no found folder owns).
  auto parentOf = [&](uint32_t holder) -> uint32_t {
    if (rootClusters.count(holder)) return kRootKey;
    auto it = owner.find(holder);
    return it != owner.end() ? it->second : holder;
  };
  std::unordered_map<uint32_t, uint32_t> levels{{kRootKey, 0}};
  auto levelOf = [&](uint32_t key) -> uint32_t {
    std::vector<uint32_t> path;
    std::unordered_set<uint32_t> seen;
    uint32_t k = key;
    uint32_t base = 0;
    for (;;) {
      if (auto it = levels.find(k); it != levels.end()) {
        base = it->second;
        break;
      }
      // A loop of folders each inside the next, or a tree too deep: hang it off the root.
      if (!seen.insert(k).second || path.size() >= kMaxDepth) break;
      path.push_back(k);
      auto folder = folderAt.find(k);
      if (folder == folderAt.end()) break;  // a lost folder sits in the root
      k = parentOf(sets_[folder->second].holder);
    }
    for (auto it = path.rbegin(); it != path.rend(); ++it) levels[*it] = ++base;
    return levels[key];
  };

  std::vector<uint32_t> needed;
  std::unordered_set<uint32_t> neededSet;
  auto markNeeded = [&](uint32_t key) {
    for (uint32_t steps = 0; key != kRootKey && steps < kMaxDepth; ++steps) {
      if (!neededSet.insert(key).second) return;
      needed.push_back(key);
      auto folder = folderAt.find(key);
      if (folder == folderAt.end()) return;
      key = parentOf(sets_[folder->second].holder);
    }
  };

  for (const FoundSet& found : sets_) {
    if (found.set.IsDirectory()) continue;
    FoundFileRecord record = MakeRecord(found);
    record.size = found.set.dataLength;
    record.contentValid = 1;
    std::string extension = ExtensionOf(found.set.name);
    if (!extension.empty() && g.IsValidCluster(found.set.firstCluster)) {
      std::vector<uint8_t> sector(sectorBytes_);
      uint64_t offset = uint64_t(g.ClusterSector(found.set.firstCluster)) << g.bytesPerSectorShift;
      uint32_t got = 0;
      if (reader_(offset, sector.data(), uint32_t(sector.size()), got) == kSuccess && got != 0) {
        record.contentValid = uint32_t(CheckFirstSector(ByteView(sector.data(), got), extension, Source(),
                                                        firstSector_ + offset / sectorBytes_, scratch_));
      }
    }
    if (log_->AppendRecord(record) != kSuccess) continue;
    uint32_t parent = parentOf(found.holder);
    log_->LinkChild(DirectoryKey{parent, levelOf(parent)}.Packed(), record.recordIndex);
    markNeeded(parent);
  }
  for (uint32_t key : needed) {
    FoundFileRecord record;
    uint32_t parent = kRootKey;
    if (auto folder = folderAt.find(key); folder != folderAt.end()) {
      const FoundSet& found = sets_[folder->second];
      record = MakeRecord(found);
      record.isDeleted = found.set.deleted ? 1 : 0;
      parent = parentOf(found.holder);
    } else {
      record = LostFolderRecord(EngineKind::kDeepExfat, letter_, key, firstSector_);
      record.clusterBytes = int32_t(g.ClusterBytes());
    }
    record.isDirectory = 1;
    if (log_->AppendRecord(record) != kSuccess) continue;
    log_->LinkChild(DirectoryKey{parent, levelOf(parent)}.Packed(), record.recordIndex, key, record.Name());
  }
  sets_.clear();
  sets_.shrink_to_fit();
  return log_->SaveIndex();
}

int CProfessionalExfatRecovery::WriteData(const FoundFileRecord& record, DataSink& sink,
                                          const std::function<int(uint64_t)>& report) {
  if (!volume_.IsOpen()) return kErrInvalidParameter;
  // Everything found here is taken for deleted: its clusters are free unless reused.
  ExfatDataSpec spec{record.itemKey, record.size, false, true, false, &claimed_};
  uint64_t validLength = record.size;
  ExfatEntrySet set;
  uint64_t sectorOffset = (record.entrySector - record.partitionStart) * sectorBytes_;
  if (record.entrySector >= record.partitionStart &&
      volume_.FindSetInSector(sectorOffset, record.itemKey, record.size, set)) {
    spec.noFatChain = set.noFatChain;
    validLength = set.validDataLength;
  }
  return volume_.ReadFile(
      spec, validLength, std::min<uint64_t>(record.size, sink.room()),
      [&](const uint8_t* data, size_t count) { return sink.Write(data, count); }, report);
}

}  // namespace kestrel
