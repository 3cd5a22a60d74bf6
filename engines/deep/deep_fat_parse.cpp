// The deep FAT member's sector handlers: a directory's first sector, the
// sectors that continue it (placed by tail, anchor or geometry, else kept
// loose), and the parse of a directory buffer into folder and file records.
#include <algorithm>
#include <cstring>
#include <unordered_set>

#include "catalogue/categories.h"
#include "fs/fat/fat_dir.h"
#include "engines/deep/deep_fat_recovery.h"
#include "platform/error_codes.h"

namespace kestrel {

namespace {

// The deep member meets only FAT32-style entries: both cluster words count.
uint32_t EntryCluster(ByteView e) { return ParseFatDirEntry(e, true).cluster; }

}  // namespace

uint32_t CProfessionalFatRecovery::SearchDirectoryHighWord(int candidate, uint16_t low) {
  std::vector<uint8_t> bytes(std::max<uint32_t>(sectorBytes_, 64));
  for (uint32_t high = 0; high <= 256; ++high) {
    uint64_t cluster = (uint64_t(high) << 16) | low;
    if (cluster < 2) continue;
    if (BeyondEnd(candidates_[candidate].ClusterSector(cluster))) break;
    if (!ReadClusterStart(candidate, cluster, bytes.data(), uint32_t(bytes.size()))) break;
    ByteView view(bytes.data(), bytes.size());
    if (StartsLikeDirectory(view)) return uint32_t(cluster);
  }
  return low;
}

uint32_t CProfessionalFatRecovery::SearchFileHighWord(int candidate, uint16_t low, const std::string& extension) {
  std::vector<uint8_t> bytes(sectorBytes_);
  for (uint32_t high = 0; high <= 256; ++high) {
    uint64_t cluster = (uint64_t(high) << 16) | low;
    if (cluster < 2) continue;
    uint64_t sector = candidates_[candidate].ClusterSector(cluster);
    if (BeyondEnd(sector)) break;
    if (!ReadClusterStart(candidate, cluster, bytes.data(), sectorBytes_)) break;
    if (CheckFirstSector(ByteView(bytes.data(), bytes.size()), extension, Source(), sector, scratch_) == 1) {
      return uint32_t(cluster);
    }
  }
  return low;
}

uint32_t CProfessionalFatRecovery::CheckData(const FoundFileRecord& record, int candidate) {
  std::string extension = ExtensionOf(record.Name());
  if (extension.empty() || candidate == kNone) return 1;
  std::vector<uint8_t> bytes(sectorBytes_);
  if (!ReadClusterStart(candidate, record.itemKey, bytes.data(), sectorBytes_)) return 1;
  uint64_t sector = candidates_[candidate].ClusterSector(record.itemKey);
  return uint32_t(CheckFirstSector(ByteView(bytes.data(), bytes.size()), extension, Source(), sector, scratch_));
}

// Notes every folder from dirCluster up towards the root, so that the finish
// writes each of them (named, or as a lost folder).
void CProfessionalFatRecovery::ReferenceFolders(uint32_t dirCluster, int candidate, uint64_t sector) {
  std::unordered_set<uint32_t> visited;
  uint32_t current = dirCluster;
  uint64_t currentSector = sector;
  while (current > rootCluster_ && !visited.count(current) && visited.size() < 512) {
    visited.insert(current);
    auto found = referenced_.find(current);
    if (found == referenced_.end()) {
      if (referenced_.size() >= kFatReferencedLimit) return;
      referenced_[current] = {candidate, currentSector};
    } else if (found->second.candidate == kNone && candidate != kNone) {
      found->second = {candidate, currentSector};
    } else if (found->second.candidate != kNone) {
      return;  // its ancestors were noted when it was
    }
    uint32_t parent = 0;
    if (auto folder = folders_.find(current); folder != folders_.end()) {
      parent = folder->second.record.recordIndex;
      currentSector = folder->second.record.entrySector;
      if (folder->second.candidate != kNone) candidate = folder->second.candidate;
    } else {
      if (candidate == kNone) return;
      bool isDirectory = false;
      parent = DotDotOf(candidate, current, isDirectory);
      if (!isDirectory) return;
      if (parent == 0) parent = rootCluster_;
      currentSector = candidates_[candidate].ClusterSector(parent);
    }
    if (parent == current) return;
    current = parent;
  }
}

void CProfessionalFatRecovery::WritePlacedFile(FoundFileRecord record, int candidate, uint32_t dirCluster) {
  const FatGeometryCandidate& c = candidates_[candidate];
  record.clusterBytes = int32_t(c.sectorsPerCluster * sectorBytes_);
  record.dataStart = c.dataStart;
  record.partitionStart = c.partitionStart;
  record.contentValid = CheckData(record, candidate);
  if (log_->AppendRecord(record) != kSuccess) return;
  uint32_t depth = DirectoryDepth(candidate, dirCluster);
  uint32_t key = dirCluster;
  // Files of the root all hang under the root's own key.
  if (dirCluster == rootCluster_ || dirCluster == 0) {
    key = rootCluster_;
    depth = 0;
  }
  log_->LinkChild(DirectoryKey{key, depth}.Packed(), record.recordIndex);
}

void CProfessionalFatRecovery::AddFileRecord(FoundFileRecord record, int candidate, uint32_t dirCluster,
                                             uint64_t bufferSector) {
  if (candidate != kNone) {
    WritePlacedFile(record, candidate, dirCluster);
  } else if (pending_.size() < kFatPendingFileLimit) {
    record.recordIndex = dirCluster;
    pending_.push_back({record, false});
  } else {
    ++droppedPending_;
  }
  ReferenceFolders(dirCluster, candidate, bufferSector);
}

uint64_t CProfessionalFatRecovery::SectorOf(const BufferPlace& place, size_t byte) const {
  if (byte >= place.splitByte) return place.secondSector + (byte - place.splitByte) / sectorBytes_;
  return place.firstSector + (place.startOffset + byte) / sectorBytes_;
}

std::vector<uint8_t> CProfessionalFatRecovery::JoinTail(const Tail& tail, const uint8_t* sector, uint64_t sectorNumber,
                                                        BufferPlace& place) const {
  std::vector<uint8_t> joined = tail.bytes;
  joined.insert(joined.end(), sector, sector + sectorBytes_);
  place = tail.place;
  place.splitByte = tail.bytes.size();
  place.secondSector = sectorNumber;
  return joined;
}

CProfessionalFatRecovery::ParseResult CProfessionalFatRecovery::ParseBuffer(const std::vector<uint8_t>& buffer,
                                                                           int candidate, uint32_t dirCluster,
                                                                           const BufferPlace& place) {
  uint64_t firstSector = place.firstSector;
  ParseResult result;
  ByteView all(buffer.data(), buffer.size());
  size_t entries = buffer.size() / kFatEntryBytes;
  if (entries == 0) return result;
  ByteView e0 = all.Sub(0, 32);

  // 1. Whose directory is this?
  if (e0.u8(11) == kFatAttrVolume) {
    dirCluster = rootCluster_;
  } else if (StartsLikeDirectory(all)) {
    dirCluster = EntryCluster(e0);
  } else if (candidate != kNone) {
    bool isDirectory = false;
    DotDotOf(candidate, dirCluster, isDirectory);
    if (!isDirectory) {
      // A later cluster of a directory: a subdirectory's ".." names the directory.
      for (size_t i = 0; i < entries; ++i) {
        ByteView e = all.Sub(i * 32, 32);
        if (e.u8(0) == 0) break;
        if (e.u8(0) == kFatDeletedMark || e.u8(0) == '.' || e.u8(11) == kFatAttrLongName ||
            !(e.u8(11) & kFatAttrDirectory)) {
          continue;
        }
        bool sub = false;
        uint32_t parent = DotDotOf(candidate, EntryCluster(e), sub);
        if (sub) {
          dirCluster = parent == 0 ? rootCluster_ : parent;
          break;
        }
      }
    }
  }
  result.dirCluster = dirCluster;

  // 2.-5. The entries.
  LongNameAssembler longName;
  size_t runStart = 0;
  int runParts = 0;
  uint8_t runChecksum = 0;
  for (size_t i = 0; i < entries; ++i) {
    ByteView e = all.Sub(i * 32, 32);
    uint64_t entrySector = SectorOf(place, i * 32);
    if (e.u8(0) == 0) {
      runParts = 0;
      break;
    }
    ByteView next = i + 1 < entries ? all.Sub((i + 1) * 32, 32) : ByteView();
    if (!IsPlausibleEntry(e, next, true)) {
      longName.Reset();
      runParts = 0;
      continue;
    }
    FatDirEntry d = ParseFatDirEntry(e, true);
    if (d.IsLongNamePart()) {
      if (runParts == 0) {
        runStart = i * 32;
        runChecksum = e.u8(13);
      }
      if (++runParts >= 20) {
        runParts = 0;
        break;  // no name runs this long: the rest is not a directory
      }
      longName.AddPart(e);
      continue;
    }
    std::string name = longName.Pending() ? longName.Take(e) : std::string();
    longName.Reset();
    runParts = 0;
    // One bad entry ends only itself.
    Tallied(damage_, entrySector * sectorBytes_ + (i * 32) % sectorBytes_, false, [&] {
      if (d.IsDirectory()) {
        if (IsDotEntry(e)) {
          currentDirCluster_ = d.cluster;
          currentDirSector_ = entrySector;
          return true;
        }
        if (IsDotDotEntry(e)) return true;
        uint32_t cluster = d.cluster;
        if (d.IsDeleted() && d.clusterHigh == 0 && candidate != kNone) cluster = SearchDirectoryHighWord(candidate, d.clusterLow);
        if (cluster == 0 || cluster == dirCluster) return true;
        if (folders_.size() >= kFatFolderMapLimit && !folders_.count(cluster)) return true;
        FoundFileRecord folder;
        folder.driveLetter = letter_;
        folder.engineKind = uint32_t(EngineKind::kDeepFat);
        folder.isDirectory = 1;
        folder.isDeleted = d.IsDeleted() ? 1 : 0;
        folder.contentValid = 1;
        folder.itemKey = cluster;
        folder.recordIndex = dirCluster;
        folder.created = d.created;
        folder.accessed = d.accessed;
        folder.modified = d.modified;
        folder.entrySector = entrySector;
        folder.SetName(name.empty() ? ShortNameText(e) : name);
        folders_[cluster] = {folder, candidate};
        return true;
      }
      if (!d.IsFile()) return true;
      FoundFileRecord file;
      file.driveLetter = letter_;
      file.engineKind = uint32_t(EngineKind::kDeepFat);
      file.isDeleted = d.IsDeleted() ? 1 : 0;
      file.contentValid = 1;
      file.created = d.created;
      file.accessed = d.accessed;
      file.modified = d.modified;
      file.size = d.size;
      file.entrySector = entrySector;
      file.SetName(name.empty() ? ShortNameText(e) : name);
      file.itemKey = d.cluster;
      std::string extension = ExtensionOf(file.Name());
      if (d.IsDeleted() && d.clusterHigh == 0 && candidate != kNone && !extension.empty()) {
        file.itemKey = SearchFileHighWord(candidate, d.clusterLow, extension);
      }
      AddFileRecord(file, candidate, dirCluster, firstSector);
      return true;
    });
  }
  if (runParts > 0) {
    Tail tail;
    tail.checksum = runChecksum;
    tail.dirCluster = dirCluster;
    tail.candidate = candidate;
    tail.bytes.assign(buffer.begin() + static_cast<std::ptrdiff_t>(runStart), buffer.end());
    tail.sector = SectorOf(place, buffer.size() - 1);
    if (runStart >= place.splitByte) {
      tail.place = {place.secondSector, uint32_t(runStart - place.splitByte), SIZE_MAX, 0};
    } else {
      uint64_t byte = place.startOffset + runStart;
      tail.place = {place.firstSector + byte / sectorBytes_, uint32_t(byte % sectorBytes_), SIZE_MAX, 0};
      if (place.splitByte != SIZE_MAX) {
        tail.place.splitByte = place.splitByte - runStart;
        tail.place.secondSector = place.secondSector;
      }
    }
    result.tail = std::move(tail);
  }
  return result;
}

bool CProfessionalFatRecovery::TailContinues(const Tail& tail, ByteView sector, uint64_t sectorNumber) const {
  ByteView first = sector.Sub(0, 32);
  if (first.u8(11) == kFatAttrLongName) return first.u8(13) == tail.checksum;
  if (first.u8(0) == kFatDeletedMark) {
    if (tail.candidate == kNone || sectorNumber <= tail.sector) return false;
    return sectorNumber - tail.sector < candidates_[tail.candidate].sectorsPerCluster;
  }
  return ShortNameChecksum(first) == tail.checksum;
}

std::optional<uint64_t> CProfessionalFatRecovery::LooseContinuationFor(const Tail& tail) {
  for (auto& [number, loose] : loose_) {
    if (loose.used) continue;
    ByteView first(loose.bytes.data(), std::min<size_t>(32, loose.bytes.size()));
    bool continues = false;
    if (first.u8(11) == kFatAttrLongName && first.u8(13) == tail.checksum) {
      continues = true;
      if (tail.candidate != kNone) {
        uint64_t a = 0, b = 0;
        const FatGeometryCandidate& c = candidates_[tail.candidate];
        continues = c.ClusterHolding(number, a) && c.ClusterHolding(tail.sector, b) && a == b;
      }
    } else if (first.u8(0) != kFatDeletedMark && first.u8(0) != 0 && ShortNameChecksum(first) == tail.checksum) {
      continues = true;
    }
    if (continues) return number;
  }
  return std::nullopt;
}

// An unfinished long name at the end of a parsed buffer: joined with a loose
// sector that continues it, or kept until such a sector comes.
void CProfessionalFatRecovery::HandleTail(ParseResult result) {
  for (int rounds = 0; result.tail && rounds < 8; ++rounds) {
    std::optional<uint64_t> loose = LooseContinuationFor(*result.tail);
    if (!loose) {
      if (tails_.size() < kFatTailLimit) tails_.push_back(std::move(*result.tail));
      return;
    }
    LooseSector& sector = loose_[*loose];
    sector.used = true;
    BufferPlace place;
    Tail tail = std::move(*result.tail);
    std::vector<uint8_t> joined = JoinTail(tail, sector.bytes.data(), *loose, place);
    result = ParseBuffer(joined, tail.candidate, tail.dirCluster, place);
  }
}

void CProfessionalFatRecovery::StoreLoose(const uint8_t* sector, uint64_t sectorNumber) {
  if (looseBytes_ + sectorBytes_ > kFatLooseSectorBytesLimit || loose_.count(sectorNumber)) return;
  loose_[sectorNumber] = {false, std::vector<uint8_t>(sector, sector + sectorBytes_)};
  looseBytes_ += sectorBytes_;
}

void CProfessionalFatRecovery::PlacePendingExactly() {
  for (size_t c = 0; c < candidates_.size(); ++c) {
    for (PendingFile& file : pending_) {
      if (file.placed) continue;
      uint32_t dir = file.record.recordIndex;
      if (dir < 2 || candidates_[c].ClusterSector(dir) != file.record.entrySector) continue;
      file.placed = true;
      WritePlacedFile(file.record, int(c), dir);
      ReferenceFolders(dir, int(c), file.record.entrySector);
    }
  }
  std::erase_if(pending_, [](const PendingFile& f) { return f.placed; });
}

void CProfessionalFatRecovery::OnDirectoryStart(const uint8_t* sector, uint64_t sectorNumber) {
  if (!log_) return;
  ByteView view(sector, sectorBytes_);
  uint64_t cluster = EntryCluster(view);
  int candidate = CandidateStartingAt(cluster, sectorNumber);
  if (candidate == kNone && cluster >= 2) {
    TryPairs(cluster, sectorNumber);
    if (unplacedStarts_.size() >= kFatUnplacedStartLimit) unplacedStarts_.pop_front();
    unplacedStarts_.push_back({cluster, sectorNumber});
    candidate = CandidateStartingAt(cluster, sectorNumber);
  }
  if (candidate != kNone) {
    PlacePendingExactly();
    // The sectors after a directory's first one continue it.
    anchor_ = {true, candidate, uint32_t(cluster), sectorNumber};
  }
  std::vector<uint8_t> buffer(sector, sector + sectorBytes_);
  ParseResult result = ParseBuffer(buffer, candidate, uint32_t(cluster), {sectorNumber});
  HandleTail(std::move(result));
}

void CProfessionalFatRecovery::OnDirectoryContinuation(const uint8_t* sector, uint64_t sectorNumber) {
  if (!log_) return;
  ByteView view(sector, sectorBytes_);
  for (size_t i = 0; i < tails_.size(); ++i) {
    if (!TailContinues(tails_[i], view, sectorNumber)) continue;
    Tail tail = std::move(tails_[i]);
    tails_.erase(tails_.begin() + static_cast<std::ptrdiff_t>(i));
    BufferPlace place;
    std::vector<uint8_t> joined = JoinTail(tail, sector, sectorNumber, place);
    HandleTail(ParseBuffer(joined, tail.candidate, tail.dirCluster, place));
    return;
  }
  std::vector<uint8_t> buffer(sector, sector + sectorBytes_);
  if (anchor_.valid && sectorNumber >= anchor_.sector &&
      sectorNumber - anchor_.sector <= candidates_[anchor_.candidate].sectorsPerCluster) {
    anchor_.sector = sectorNumber;
    HandleTail(ParseBuffer(buffer, anchor_.candidate, anchor_.dirCluster, {sectorNumber}));
    return;
  }
  uint64_t cluster = 0;
  int candidate = CandidateAtClusterBoundary(sectorNumber, cluster);
  if (candidate != kNone) {
    ParseResult result = ParseBuffer(buffer, candidate, uint32_t(cluster), {sectorNumber});
    anchor_ = {true, candidate, result.dirCluster, sectorNumber};
    HandleTail(std::move(result));
    return;
  }
  StoreLoose(sector, sectorNumber);
}

}  // namespace kestrel
