// Placing deleted files whose cluster chain was cleared: which clusters hold
// a file that spans more than one, chosen among the layouts the allocation
// allows by the file's own content, and how sure that choice is.
#include <algorithm>

#include "catalogue/categories.h"
#include "engines/common/cluster_list_source.h"
#include "engines/fast/fast_fat_recovery.h"

namespace kestrel {

namespace {

DataLayout LayoutOf(FatLayoutKind kind) {
  switch (kind) {
    case FatLayoutKind::kContiguous: return DataLayout::kContiguous;
    case FatLayoutKind::kAroundLive: return DataLayout::kAroundLive;
    case FatLayoutKind::kAroundOthers: break;
  }
  // Passing over other deleted files' runs rests on those files' entries, not
  // on the allocation itself: it is always an inference.
  return DataLayout::kInferred;
}

// The placement number kept in the record: the candidate's place in the
// list the layouts give, plus one; 0 reads the classic way.
uint32_t PlacementOf(size_t index) { return uint32_t(std::min<size_t>(index, 254)) + 1; }

}  // namespace

bool CFastFatRecovery::ReadCluster(uint32_t cluster, uint8_t* out) {
  uint32_t got = 0;
  uint32_t sectors = geometry_.sectorsPerCluster;
  return ReadRelative(geometry_.ClusterSector(cluster), sectors, out, got) == kSuccess &&
         got == geometry_.ClusterBytes();
}

std::vector<FatLayoutCandidate> CFastFatRecovery::LayoutsOf(uint32_t first, uint64_t size) {
  FatAllocationView view;
  view.inUse = [this](uint32_t cluster) {
    uint32_t value = 0;
    // A FAT sector that cannot be read says nothing: the cluster counts as used,
    // so no file is made of clusters nobody can vouch for.
    return fat_.Entry(cluster, value) != kSuccess || value != 0;
  };
  view.claimedRun = [this, first](uint32_t cluster) -> uint32_t {
    if (cluster == first) return 0;
    auto it = claims_.find(cluster);
    return it == claims_.end() ? 0 : it->second;
  };
  return DeletedFileLayouts(geometry_, first, size, view);
}

bool CFastFatRecovery::NoteDeletedFile(FoundFileRecord& record) {
  uint32_t first = record.itemKey;
  if (!geometry_.IsValidCluster(first) || record.size == 0) return false;
  uint64_t clusterBytes = geometry_.ClusterBytes();
  uint64_t needed = (record.size + clusterBytes - 1) / clusterBytes;
  uint32_t& claim = claims_[first];
  claim = uint32_t(std::max<uint64_t>(claim, std::min<uint64_t>(needed, UINT32_MAX)));
  uint32_t entry = 0;
  if (fat_.Entry(first, entry) != kSuccess) return false;
  if (entry != 0) {
    // The chain is still there (a tool that does not clear it, or a cluster
    // reused since): it is read along the chain, and checked after the walk
    // where its type allows, since a reused cluster holds someone else's data.
    record.SetHowSure(DataLayout::kChain, WholeFileCheck::kNotRun);
    return IntegrityFormatFor(ExtensionOf(record.Name())) != IntegrityFormat::kNone;
  }
  if (needed == 1) {
    record.SetHowSure(DataLayout::kContiguous, WholeFileCheck::kNotRun, PlacementOf(0));
    return false;
  }
  return true;
}

void CFastFatRecovery::PlaceDeletedFiles() {
  claimsKnown_ = true;
  std::vector<uint8_t> cluster(geometry_.ClusterBytes());
  for (FoundFileRecord& record : unplaced_) {
    Tallied(damage_, record.entrySector * uint64_t(bytesPerSector_), false, [&] {
      const std::string extension = ExtensionOf(record.Name());
      if (record.layout() == DataLayout::kChain) {
        record.SetHowSure(DataLayout::kChain, CheckChain(record, extension));
        return store_.log()->RewriteRecord(record) == kSuccess;
      }
      std::vector<FatLayoutCandidate> layouts = LayoutsOf(record.itemKey, record.size);
      if (layouts.empty()) return false;
      const bool checkable = IntegrityFormatFor(extension) != IntegrityFormat::kNone;
      auto firstComplete = std::find_if(layouts.begin(), layouts.end(), [](const auto& c) { return c.complete; });
      const bool ambiguous = std::count_if(layouts.begin(), layouts.end(), [](const auto& c) { return c.complete; }) > 1;
      const FatLayoutCandidate* chosen = firstComplete == layouts.end() ? &layouts.front() : &*firstComplete;
      WholeFileCheck check = WholeFileCheck::kNotRun;
      bool overridden = false;
      // The classic layout that holds the whole file, with nothing else to
      // choose from, is trusted as before; any other placement is checked.
      bool needsCheck = checkable && chosen->complete && (ambiguous || chosen->kind != FatLayoutKind::kContiguous);
      if (needsCheck) {
        // The first placement whose bytes are a valid file wins; one the
        // check cannot judge is kept in reserve; a damaged one never wins.
        const FatLayoutCandidate* unjudged = nullptr;
        const FatLayoutCandidate* intact = nullptr;
        for (const FatLayoutCandidate& candidate : layouts) {
          if (!candidate.complete) continue;
          ClusterListSource source(candidate.clusters, geometry_.ClusterBytes(), record.size,
                                   [this](uint32_t c, uint8_t* out) { return ReadCluster(c, out); });
          IntegrityVerdict verdict = CheckIntegrity(source, extension).verdict;
          if (verdict == IntegrityVerdict::kIntact) {
            intact = &candidate;
            break;
          }
          if (verdict == IntegrityVerdict::kUnknown && !unjudged) unjudged = &candidate;
        }
        const FatLayoutCandidate* winner = intact ? intact : unjudged;
        check = intact ? WholeFileCheck::kPassed : (unjudged ? WholeFileCheck::kNotRun : WholeFileCheck::kFailed);
        // No placement gives a valid file: the classic rule's clusters are
        // the surest prefix (reading stops at the first cluster in use).
        if (!winner) winner = &layouts.front();
        overridden = winner != chosen && winner->complete;
        chosen = winner;
      }
      DataLayout layout = overridden ? DataLayout::kInferred : LayoutOf(chosen->kind);
      record.SetHowSure(layout, check, PlacementOf(size_t(chosen - layouts.data())));
      return store_.log()->RewriteRecord(record) == kSuccess;
    });
  }
  unplaced_.clear();
  unplaced_.shrink_to_fit();
}

WholeFileCheck CFastFatRecovery::CheckChain(const FoundFileRecord& record, const std::string& extension) {
  uint64_t clusterBytes = geometry_.ClusterBytes();
  uint64_t needed = (record.size + clusterBytes - 1) / clusterBytes;
  std::vector<uint32_t> clusters;
  FatChainCursor chain(fat_, record.itemKey);
  while (!chain.AtEnd() && clusters.size() < needed && geometry_.IsValidCluster(chain.cluster())) {
    clusters.push_back(chain.cluster());
    if (chain.Advance() != kSuccess) break;
  }
  if (clusters.size() < needed) return WholeFileCheck::kFailed;
  ClusterListSource source(clusters, uint32_t(clusterBytes), record.size,
                           [this](uint32_t c, uint8_t* out) { return ReadCluster(c, out); });
  switch (CheckIntegrity(source, extension).verdict) {
    case IntegrityVerdict::kIntact: return WholeFileCheck::kPassed;
    case IntegrityVerdict::kDamaged: return WholeFileCheck::kFailed;
    case IntegrityVerdict::kUnknown: break;
  }
  return WholeFileCheck::kNotRun;
}

void CFastFatRecovery::EnsureClaims() {
  if (claimsKnown_ || !store_.log()) return;
  claimsKnown_ = true;
  ScanLog* log = store_.log();
  std::vector<FoundFileRecord> records;
  for (const auto& [key, numbers] : log->relations()) {
    records.clear();
    if (log->ListFolder(key, records) != kSuccess) continue;
    uint64_t clusterBytes = geometry_.ClusterBytes();
    for (const FoundFileRecord& r : records) {
      if (r.IsDirectory() || !geometry_.IsValidCluster(r.itemKey) || r.size == 0 || clusterBytes == 0) continue;
      uint64_t needed = (r.size + clusterBytes - 1) / clusterBytes;
      uint32_t& claim = claims_[r.itemKey];
      claim = uint32_t(std::max<uint64_t>(claim, std::min<uint64_t>(needed, UINT32_MAX)));
    }
  }
}

}  // namespace kestrel
