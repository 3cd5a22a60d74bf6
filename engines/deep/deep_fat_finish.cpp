// The end of a deep FAT scan: the sectors kept loose are placed as well as
// they can be, files still waiting for a geometry are written, and every
// folder that a found file lies in is written, named or as a lost folder.
#include "engines/common/lost_folder.h"
#include "engines/deep/deep_fat_recovery.h"
#include "fs/fat/fat_dir.h"
#include "platform/error_codes.h"

namespace kestrel {

void CProfessionalFatRecovery::WriteFolder(uint32_t cluster, const Reference& reference) {
  if (writtenFolders_.count(cluster)) return;
  auto found = folders_.find(cluster);
  int candidate = reference.candidate;
  if (candidate == kNone && found != folders_.end()) candidate = found->second.candidate;
  if (candidate == kNone) {
    for (size_t i = 0; i < candidates_.size(); ++i) {
      uint64_t start = candidates_[i].ClusterSector(cluster);
      if (reference.sector >= start && reference.sector < start + candidates_[i].sectorsPerCluster) {
        candidate = int(i);
        break;
      }
    }
  }
  if (candidate == kNone) return;
  const FatGeometryCandidate& c = candidates_[candidate];
  FoundFileRecord folder;
  uint32_t parent = rootCluster_;
  if (found != folders_.end()) {
    folder = found->second.record;
    parent = folder.recordIndex;
  } else {
    bool isDirectory = false;
    uint32_t dotDot = DotDotOf(candidate, cluster, isDirectory);
    if (isDirectory && dotDot != 0) parent = dotDot;
    folder = LostFolderRecord(EngineKind::kDeepFat, letter_, cluster, c.partitionStart);
    folder.entrySector = reference.sector;
  }
  if (parent == 0) parent = rootCluster_;
  folder.isDirectory = 1;
  folder.contentValid = 1;
  folder.itemKey = cluster;
  folder.size = 0;
  folder.clusterBytes = int32_t(c.sectorsPerCluster * sectorBytes_);
  folder.dataStart = c.dataStart;
  folder.partitionStart = c.partitionStart;
  if (log_->AppendRecord(folder) != kSuccess) return;
  uint32_t depth = parent == rootCluster_ ? 0 : DirectoryDepth(candidate, parent);
  log_->LinkChild(DirectoryKey{parent, depth}.Packed(), folder.recordIndex, cluster, std::string(folder.Name()));
  writtenFolders_.insert(cluster);
}

int CProfessionalFatRecovery::FinishScan() {
  if (!log_) return kSuccess;
  // 1. Loose sectors, in sector order.
  finishAnchor_ = {};
  for (auto& [number, loose] : loose_) {
    if (loose.used) continue;
    loose.used = true;
    ByteView view(loose.bytes.data(), loose.bytes.size());
    bool joined = false;
    for (size_t i = 0; i < tails_.size(); ++i) {
      if (!TailContinues(tails_[i], view, number)) continue;
      Tail tail = std::move(tails_[i]);
      tails_.erase(tails_.begin() + static_cast<std::ptrdiff_t>(i));
      BufferPlace place;
      std::vector<uint8_t> buffer = JoinTail(tail, loose.bytes.data(), number, place);
      HandleTail(ParseBuffer(buffer, tail.candidate, tail.dirCluster, place));
      joined = true;
      break;
    }
    if (joined) continue;
    uint64_t cluster = 0;
    int candidate = CandidateAtClusterBoundary(number, cluster);
    if (candidate != kNone) {
      ParseResult result = ParseBuffer(loose.bytes, candidate, uint32_t(cluster), {number});
      finishAnchor_ = {true, candidate, result.dirCluster, number};
      HandleTail(std::move(result));
    } else if (finishAnchor_.valid) {
      HandleTail(ParseBuffer(loose.bytes, finishAnchor_.candidate, finishAnchor_.dirCluster, {number}));
    } else {
      candidate = CandidateBySector(number);
      if (candidate != kNone && candidates_[candidate].ClusterHolding(number, cluster)) {
        HandleTail(ParseBuffer(loose.bytes, candidate, uint32_t(cluster), {number}));
      }
    }
  }
  loose_.clear();
  looseBytes_ = 0;

  // 2. Files still waiting: exactly placed first, else by the nearest
  // geometry. Done before the folders so that theirs are written too.
  PlacePendingExactly();
  for (PendingFile& file : pending_) {
    int candidate = CandidateBySector(file.record.entrySector);
    if (candidate == kNone) break;
    uint32_t dir = file.record.recordIndex;
    file.placed = true;
    WritePlacedFile(file.record, candidate, dir);
    ReferenceFolders(dir, candidate, file.record.entrySector);
  }
  std::erase_if(pending_, [](const PendingFile& f) { return f.placed; });

  // 3. The folders of every file found.
  for (const auto& [cluster, reference] : referenced_) WriteFolder(cluster, reference);
  referenced_.clear();
  folders_.clear();
  tails_.clear();

  // 4. Every file of the store is placed again (a resumed scan's earlier
  // finds too), now that every claim is known.
  PlaceFoundFiles();
  return log_->SaveIndex();
}

}  // namespace kestrel
