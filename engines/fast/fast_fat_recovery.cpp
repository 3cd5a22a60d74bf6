#include "engines/fast/fast_fat_recovery.h"

#include "catalogue/categories.h"
#include "engines/common/boot_copy.h"
#include "engines/common/no_throw.h"
#include "fs/fat/fat_dir.h"

namespace kestrel {

namespace {

constexpr uint32_t kBootBytes = 4096;
// FAT allows 65,536 entries per directory; more is a loop through garbage.
constexpr size_t kMaxDirectoryEntries = 65536;
// High words tried for a deleted FAT32 entry whose high cluster word was cleared.
constexpr uint32_t kHighWordsTried = 257;
constexpr uint32_t kMaxDepth = 4096;

}  // namespace

CFastFatRecovery::CFastFatRecovery() = default;

CFastFatRecovery::~CFastFatRecovery() = default;

int CFastFatRecovery::FinishOpen() {
  opened_ = true;
  bytesPerSector_ = int32_t(deviceSectorBytes_);
  deviceBytes_ = device_.totalSectors * uint64_t(deviceSectorBytes_);
  bootSector_.assign(kBootBytes, 0);
  uint32_t got = 0;
  int error = ReadAbsolute(partitionStart_, kBootBytes / uint32_t(bytesPerSector_), bootSector_.data(), got);
  if (error == kSuccess && got < kBootBytes) error = kErrReadFault;
  if (error != kSuccess) return openError_ = error;
  auto readCopy = [&](uint64_t offset, size_t count, uint8_t* out) {
    uint32_t unit = uint32_t(bytesPerSector_), gotCopy = 0;
    uint64_t first = offset / unit;
    uint32_t span = uint32_t((offset + count + unit - 1) / unit - first);
    std::vector<uint8_t> sectors(size_t(span) * unit);
    if (ReadAbsolute(partitionStart_ + first, span, sectors.data(), gotCopy) != kSuccess ||
        gotCopy < span * unit) {
      return false;
    }
    std::copy_n(sectors.begin() + (offset - first * unit), count, out);
    return true;
  };
  bootChoice_ = ChooseBootSector(bootSector_.data(), sectorCount_ * uint64_t(bytesPerSector_),
                                 uint32_t(bytesPerSector_), readCopy);
  FatGeometry geometry;
  error = ParseFatBoot(ByteView(bootSector_), geometry);
  if (error != kSuccess) return openError_ = error;
  // The boot sector's sector size is the unit of every FAT address from here on.
  if (int32_t(geometry.bytesPerSector) != bytesPerSector_) {
    uint64_t startByte = partitionStart_ * uint64_t(bytesPerSector_);
    uint64_t lengthBytes = sectorCount_ * uint64_t(bytesPerSector_);
    bytesPerSector_ = int32_t(geometry.bytesPerSector);
    partitionStart_ = startByte / uint64_t(bytesPerSector_);
    sectorCount_ = lengthBytes / uint64_t(bytesPerSector_);
  }
  geometry_ = geometry;
  geometryValid_ = true;
  error = fat_.Open(device_, deviceBytes_, geometry_, partitionStart_);
  // A FAT that cannot be read now is retried at every lookup; only memory is fatal.
  if (error == kErrNotEnoughMemory) return openError_ = error;
  placement_.Attach(geometry_, partitionStart_, fat_, [this](uint32_t c, uint8_t* out) { return ReadCluster(c, out); });
  signatureSource_.device = &device_;
  signatureSource_.sectorBytes = bytesPerSector_;
  signatureSource_.endByte = (partitionStart_ + sectorCount_) * uint64_t(bytesPerSector_);
  return openError_ = kSuccess;
}

int CFastFatRecovery::ReadAbsolute(uint64_t sector, uint32_t count, uint8_t* buffer, uint32_t& bytesRead) {
  bytesRead = 0;
  if (!device_.IsOpen()) return openError_ != kSuccess ? openError_ : kErrInvalidParameter;
  uint64_t end = deviceBytes_ / uint64_t(bytesPerSector_);
  if (sector >= end) return kErrReadFault;
  if (count > end - sector) count = static_cast<uint32_t>(end - sector);
  int32_t got = 0;
  int error = ReadSectors(int32_t(count), device_, buffer, sector, bytesPerSector_, &got);
  bytesRead = uint32_t(std::max(got, 0)) * uint32_t(bytesPerSector_);
  return error;
}

int CFastFatRecovery::ReadRelative(uint64_t sector, uint32_t count, uint8_t* buffer, uint32_t& bytesRead) {
  bytesRead = 0;
  // Never read past the partition into whatever follows it.
  if (sectorCount_ != 0) {
    if (sector >= sectorCount_) return kErrReadFault;
    if (count > sectorCount_ - sector) count = static_cast<uint32_t>(sectorCount_ - sector);
  }
  return ReadAbsolute(partitionStart_ + sector, count, buffer, bytesRead);
}

uint64_t CFastFatRecovery::DirectoryByteOffset(uint32_t cluster) const {
  return (partitionStart_ + geometry_.ClusterSector(cluster)) * uint32_t(bytesPerSector_);
}

int CFastFatRecovery::Scan(const std::optional<std::string>& storeName) {
  return NoThrow([&] { return ScanDirectories(storeName); });
}

int CFastFatRecovery::ScanDirectories(const std::optional<std::string>& storeName) {
  if (!opened_ || !geometryValid_) return openError_ != kSuccess ? openError_ : kErrInvalidParameter;
  dirMap_.clear();
  neededDirs_.clear();
  neededSet_.clear();
  visited_.clear();
  dirQueue_.clear();
  depthCache_.clear();
  damage_.Clear();
  placement_.ClearClaims();
  unplaced_.clear();
  claimsKnown_ = false;
  // Reopening a saved scan reads nothing from the source.
  if (int error = store_.Start(storeName, partitionStart_); error != kSuccess || storeName) return error;

  dirQueue_.push_back(geometry_.rootCluster);
  WalkProgress walk(*this);
  int result = Report(1, -1);
  while (result == 0 && !dirQueue_.empty()) {
    uint32_t cluster = dirQueue_.front();
    dirQueue_.pop_front();
    if (!visited_.insert(cluster).second) continue;
    // One directory that cannot be walked ends only itself.
    Tallied(damage_, DirectoryByteOffset(cluster), kErrGeneralFailure, [&] { return WalkDirectory(cluster); });
    result = walk.Tick();
  }
  return FinishWalk(result, [this] {
    PlaceDeletedFiles();
    AppendNeededFolders();
  });
}

int CFastFatRecovery::WalkDirectory(uint32_t first) {
  bool recorded = false, inDeletedDir = false;
  if (auto it = dirMap_.find(first); it != dirMap_.end()) {
    recorded = true;
    inDeletedDir = it->second.isDeleted != 0;
  }
  bool rootRegion = first == 0 && !geometry_.IsFat32();
  if (!rootRegion && !geometry_.IsValidCluster(first)) return kErrInvalidParameter;
  uint32_t sectors = rootRegion ? geometry_.rootDirSectors : geometry_.sectorsPerCluster;
  std::vector<uint8_t> buffer(size_t(sectors) * uint32_t(bytesPerSector_));
  uint32_t parentKey = first;
  const bool fat32 = geometry_.IsFat32();
  LongNameAssembler names;
  FatChainCursor chain(fat_, first);
  size_t entries = 0;
  for (bool firstCluster = true;; firstCluster = false) {
    uint64_t sector = rootRegion ? geometry_.RootRegionSector() : geometry_.ClusterSector(chain.cluster());
    uint32_t got = 0;
    int error = ReadRelative(sector, sectors, buffer.data(), got);
    if (error != kSuccess) return error;
    ByteView view(buffer.data(), got);
    // A recorded folder whose first cluster no longer starts with "." and ".."
    // was reused: what is there now belongs to something else.
    if (firstCluster && recorded && first != geometry_.rootCluster && !StartsLikeDirectory(view)) return kSuccess;
    uint64_t absolute = partitionStart_ + sector;
    for (size_t offset = 0; offset + kFatEntryBytes <= view.size(); offset += kFatEntryBytes) {
      ByteView entry = view.Sub(offset, kFatEntryBytes);
      if (entry.u8(0) == 0) return kSuccess;
      if (++entries > kMaxDirectoryEntries) return kSuccess;
      if (!IsPlausibleEntry(entry, view.Sub(offset + kFatEntryBytes, kFatEntryBytes), fat32)) {
        names.Reset();
        continue;
      }
      uint64_t entrySector = absolute + offset / uint32_t(bytesPerSector_);
      uint64_t entryByte = entrySector * uint32_t(bytesPerSector_) + offset % uint32_t(bytesPerSector_);
      bool handled = Tallied(damage_, entryByte, false, [&] {
        if (entry.u8(11) == kFatAttrLongName) {
          names.AddPart(entry);
        } else {
          HandleEntry(entry, entrySector, inDeletedDir, parentKey, names.Take(entry));
        }
        return true;
      });
      if (!handled) names.Reset();
    }
    if (rootRegion) return kSuccess;
    error = chain.Advance();
    if (error != kSuccess || chain.AtEnd()) return error;
  }
}

void CFastFatRecovery::HandleEntry(ByteView entry, uint64_t entrySector, bool inDeletedDir, uint32_t& parentKey,
                                   const std::string& longName) {
  const bool fat32 = geometry_.IsFat32();
  FatDirEntry d = ParseFatDirEntry(entry, fat32);
  if (d.IsVolumeLabel()) return;
  bool deleted = d.IsDeleted();
  if (d.IsDirectory()) {
    if (IsDotEntry(entry)) {
      if (geometry_.IsValidCluster(d.cluster)) parentKey = d.cluster;
      return;
    }
    if (IsDotDotEntry(entry)) return;
  } else if (!d.IsFile() || (!deleted && !inDeletedDir)) {
    return;
  }

  std::string name = SafeFileName(longName.empty() ? ShortNameText(entry) : longName);
  FoundFileRecord record;
  record.driveLetter = letter_;
  record.engineKind = uint32_t(EngineKind::kFastFat);
  record.clusterBytes = int32_t(geometry_.ClusterBytes());
  record.created = d.created;
  record.accessed = d.accessed;
  record.modified = d.modified;
  record.dataStart = geometry_.firstDataSector;
  record.entrySector = entrySector;
  // Files are recorded only when deleted or under a deleted folder, so every
  // file record here is a deleted one.
  record.isDeleted = (deleted || inDeletedDir) ? 1 : 0;
  record.partitionStart = partitionStart_;
  record.SetName(name);

  if (d.IsDirectory()) {
    uint32_t cluster = d.cluster;
    if (fat32 && deleted && d.clusterHigh == 0) cluster = SearchDirectoryHighWord(d.clusterLow);
    record.isDirectory = 1;
    record.recordIndex = parentKey;  // the parent key until the record is written
    record.itemKey = cluster;
    record.contentValid = 1;
    if (cluster != 0 && cluster != parentKey && geometry_.IsValidCluster(cluster)) {
      dirQueue_.push_back(cluster);
      dirMap_[cluster] = record;
    }
    return;
  }

  uint32_t cluster = d.cluster;
  std::string extension = ExtensionOf(name);
  if (fat32 && deleted && d.clusterHigh == 0 && !extension.empty()) {
    cluster = SearchFileHighWord(d.clusterLow, extension);
  }
  record.itemKey = cluster;
  record.size = d.size;
  record.contentValid = uint32_t(CheckContent(cluster, extension));
  bool unplaced = NoteDeletedFile(record);
  if (store_.log()->AppendRecord(record) != kSuccess) return;
  if (unplaced) unplaced_.push_back(record);
  uint32_t level = DepthOf(parentKey);
  store_.log()->LinkChild(DirectoryKey{parentKey, level}.Packed(), record.recordIndex);
  MarkAncestors(parentKey);
}

uint32_t CFastFatRecovery::SearchDirectoryHighWord(uint32_t low) {
  std::vector<uint8_t> sector(static_cast<size_t>(bytesPerSector_));
  for (uint32_t high = 0; high < kHighWordsTried; ++high) {
    uint64_t cluster = (uint64_t(high) << 16) | low;
    if (cluster < 2) continue;
    if (!geometry_.IsValidCluster(cluster)) break;
    uint32_t got = 0;
    if (ReadRelative(geometry_.ClusterSector(uint32_t(cluster)), 1, sector.data(), got) != kSuccess) continue;
    ByteView view(sector.data(), got);
    if (view.Matches(0, ". ") && view.Matches(32, "..")) return uint32_t(cluster);
  }
  return low;
}

uint32_t CFastFatRecovery::SearchFileHighWord(uint32_t low, const std::string& extension) {
  std::vector<uint8_t> sector(static_cast<size_t>(bytesPerSector_));
  // A deleted file's first cluster is free unless it was reused, so free
  // candidates are tried first: for a type without a content check every
  // candidate passes, and only the free one is likely to be the file.
  for (bool freeOnly : {true, false}) {
    for (uint32_t high = 0; high < kHighWordsTried; ++high) {
      uint64_t cluster = (uint64_t(high) << 16) | low;
      if (cluster < 2) continue;
      if (!geometry_.IsValidCluster(cluster)) break;
      uint32_t entry = 0;
      if (freeOnly && (fat_.Entry(uint32_t(cluster), entry) != kSuccess || entry != 0)) continue;
      uint64_t relative = geometry_.ClusterSector(uint32_t(cluster));
      uint32_t got = 0;
      if (ReadRelative(relative, 1, sector.data(), got) != kSuccess) continue;
      if (CheckFirstSector(ByteView(sector.data(), got), extension, signatureSource_, partitionStart_ + relative,
                           scratch_) == 1) {
        return uint32_t(cluster);
      }
    }
  }
  return low;
}

int32_t CFastFatRecovery::CheckContent(uint32_t cluster, const std::string& extension) {
  // Nothing to check is no evidence against the file.
  if (extension.empty() || !geometry_.IsValidCluster(cluster)) return 1;
  std::vector<uint8_t> sector(static_cast<size_t>(bytesPerSector_));
  uint64_t relative = geometry_.ClusterSector(cluster);
  uint32_t got = 0;
  if (ReadRelative(relative, 1, sector.data(), got) != kSuccess || got == 0) return 1;
  return CheckFirstSector(ByteView(sector.data(), got), extension, signatureSource_, partitionStart_ + relative,
                          scratch_);
}

uint32_t CFastFatRecovery::DepthOf(uint32_t key) {
  if (key == geometry_.rootCluster) return 0;
  if (auto it = depthCache_.find(key); it != depthCache_.end()) return it->second;
  std::vector<uint8_t> head(std::min<size_t>(4096, geometry_.ClusterBytes()));
  std::unordered_set<uint32_t> seen;
  uint32_t level = 0;
  uint32_t cluster = key;
  while (cluster != geometry_.rootCluster && geometry_.IsValidCluster(cluster) && seen.insert(cluster).second &&
         level < kMaxDepth) {
    uint32_t got = 0;
    if (ReadRelative(geometry_.ClusterSector(cluster), uint32_t(head.size()) / uint32_t(bytesPerSector_),
                     head.data(), got) != kSuccess) {
      break;
    }
    ByteView view(head.data(), got);
    if (!view.Matches(0, ". ") || view.u8(11) == kFatAttrVolume || !view.Matches(32, "..")) break;
    ++level;
    FatDirEntry dotDot = ParseFatDirEntry(view.Sub(32, kFatEntryBytes), geometry_.IsFat32());
    cluster = dotDot.cluster;
  }
  depthCache_[key] = level;
  return level;
}

void CFastFatRecovery::MarkAncestors(uint32_t parentKey) {
  uint32_t key = parentKey;
  for (uint32_t steps = 0; steps < kMaxDepth; ++steps) {
    // A key already marked had its ancestors marked with it; this also ends loops.
    if (!neededSet_.insert(key).second) return;
    neededDirs_.push_back(key);
    auto it = dirMap_.find(key);
    if (it == dirMap_.end()) return;
    uint32_t parent = it->second.recordIndex;
    if (parent == key || parent <= geometry_.rootCluster) return;
    key = parent;
  }
}

void CFastFatRecovery::AppendNeededFolders() {
  for (uint32_t cluster : neededDirs_) {
    auto it = dirMap_.find(cluster);
    if (it == dirMap_.end()) continue;
    FoundFileRecord record = it->second;
    uint32_t parent = record.recordIndex;
    record.contentValid = 1;
    if (store_.log()->AppendRecord(record) != kSuccess) continue;
    uint32_t level = DepthOf(parent);
    store_.log()->LinkChild(DirectoryKey{parent, level}.Packed(), record.recordIndex, cluster, record.Name());
  }
}

}  // namespace kestrel
