#include "engines/common/fat_placement.h"

#include <algorithm>

#include "carve/signatures.h"
#include "catalogue/categories.h"
#include "engines/common/cluster_list_source.h"
#include "platform/error_codes.h"

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

// How many clusters of a placement, after its first, begin another file of a
// type the carver knows (or hold file-system structures): such a cluster is
// not the continuation of the file being placed. Only the clusters where a
// placement jumps, and those where another deleted entry starts, are looked
// at: a few reads per file, whatever its size. Each is read once for all the
// placements of one file.
class ForeignStarts {
 public:
  using Claims = std::unordered_map<uint32_t, uint32_t>;
  size_t Count(const FatLayoutCandidate& candidate, const Claims& claims, const FatPlacement::ClusterReader& read,
               uint32_t clusterBytes) {
    size_t count = 0;
    const std::vector<uint32_t>& clusters = candidate.clusters;
    for (size_t at = 1; at < clusters.size(); ++at) {
      if (clusters[at] == clusters[at - 1] + 1 && !claims.count(clusters[at])) continue;
      count += StartsAnotherFile(clusters[at], read, clusterBytes);
    }
    return count;
  }

 private:
  bool StartsAnotherFile(uint32_t cluster, const FatPlacement::ClusterReader& read, uint32_t clusterBytes) {
    auto [known, added] = seen_.try_emplace(cluster, false);
    if (!added) return known->second;
    bytes_.resize(clusterBytes);
    // A cluster that cannot be read shows nothing against the placement.
    if (!read(cluster, bytes_.data())) return false;
    ByteView view(bytes_.data(), bytes_.size());
    int32_t code = kTypeUnrecognised;
    known->second = IsStructureSector(view) == 1 || Identify(view, context_, code) != nullptr;
    return known->second;
  }

  std::unordered_map<uint32_t, bool> seen_;
  std::vector<uint8_t> bytes_;
  CarveContext context_;  // no device: recognisers look at the cluster's bytes only
};

}  // namespace

void FatPlacement::Attach(const FatGeometry& geometry, uint64_t partitionStart, FatTable& table,
                          ClusterReader readCluster) {
  geometry_ = geometry;
  partitionStart_ = partitionStart;
  table_ = &table;
  readCluster_ = std::move(readCluster);
}

bool FatPlacement::OnVolume(const FoundFileRecord& record) const {
  return table_ && record.partitionStart == partitionStart_ && record.dataStart == geometry_.firstDataSector &&
         record.clusterBytes > 0 && uint32_t(record.clusterBytes) == geometry_.ClusterBytes();
}

uint64_t FatPlacement::ClustersFor(uint64_t size) const {
  uint64_t clusterBytes = geometry_.ClusterBytes();
  return clusterBytes == 0 ? 0 : (size + clusterBytes - 1) / clusterBytes;
}

void FatPlacement::Claim(uint32_t first, uint64_t size) {
  if (!geometry_.IsValidCluster(first) || size == 0) return;
  uint32_t& claim = claims_[first];
  claim = uint32_t(std::max<uint64_t>(claim, std::min<uint64_t>(ClustersFor(size), UINT32_MAX)));
}

void FatPlacement::ClaimAllOf(const FatPlacement& other) {
  for (const auto& [first, clusters] : other.claims_) {
    uint32_t& claim = claims_[first];
    claim = std::max(claim, clusters);
  }
}

void FatPlacement::ClaimStore(ScanLog& log) {
  std::vector<FoundFileRecord> records;
  for (const auto& [key, numbers] : log.relations()) {
    records.clear();
    if (log.ListFolder(key, records) != kSuccess) continue;
    for (const FoundFileRecord& r : records) {
      if (!r.IsDirectory() && OnVolume(r)) Claim(r.itemKey, r.size);
    }
  }
}

std::vector<FatLayoutCandidate> FatPlacement::Layouts(uint32_t first, uint64_t size) {
  FatAllocationView view;
  view.inUse = [this](uint32_t cluster) {
    uint32_t value = 0;
    // A FAT sector that cannot be read says nothing: the cluster counts as used,
    // so no file is made of clusters nobody can vouch for.
    return table_->Entry(cluster, value) != kSuccess || value != 0;
  };
  view.claimedRun = [this, first](uint32_t cluster) -> uint32_t {
    if (cluster == first) return 0;
    auto it = claims_.find(cluster);
    return it == claims_.end() ? 0 : it->second;
  };
  return DeletedFileLayouts(geometry_, first, size, view);
}

bool FatPlacement::RunsIntoAnotherClaim(const FatLayoutCandidate& candidate) const {
  for (size_t at = 1; at < candidate.clusters.size(); ++at) {
    if (claims_.count(candidate.clusters[at])) return true;
  }
  return false;
}

FatPlacement::Need FatPlacement::Note(FoundFileRecord& record) {
  uint32_t first = record.itemKey;
  if (!table_ || record.IsDirectory() || !geometry_.IsValidCluster(first) || record.size == 0) return Need::kNothing;
  Claim(first, record.size);
  uint32_t entry = 0;
  if (table_->Entry(first, entry) != kSuccess) return Need::kNothing;
  // The chain is still there (a tool that does not clear it, or a cluster
  // reused since): someone else's data may follow it.
  if (entry != 0) return Need::kChain;
  if (ClustersFor(record.size) == 1) {
    record.SetHowSure(DataLayout::kContiguous, WholeFileCheck::kNotRun, PlacementOf(0));
    return Need::kNothing;
  }
  return Need::kPlacing;
}

void FatPlacement::Place(FoundFileRecord& record) {
  const std::string extension = ExtensionOf(record.Name());
  if (record.layout() == DataLayout::kChain) {
    record.SetHowSure(DataLayout::kChain, CheckChain(record));
    return;
  }
  std::vector<FatLayoutCandidate> layouts = Layouts(record.itemKey, record.size);
  if (layouts.empty()) return;
  const bool checkable = IntegrityFormatFor(extension) != IntegrityFormat::kNone;
  auto firstComplete = std::find_if(layouts.begin(), layouts.end(), [](const auto& c) { return c.complete; });
  const bool ambiguous = std::count_if(layouts.begin(), layouts.end(), [](const auto& c) { return c.complete; }) > 1;
  const FatLayoutCandidate* chosen = firstComplete == layouts.end() ? &layouts.front() : &*firstComplete;
  // No layout holds the whole size (the volume ends, or live files fill
  // everything after the first piece: a file written out of order): only
  // part of it can be had, whatever its type.
  WholeFileCheck check = chosen->complete ? WholeFileCheck::kNotRun : WholeFileCheck::kFailed;
  bool overridden = false;
  // The classic layout that holds the whole file, with nothing else to
  // choose from and no other deleted file starting inside it, is trusted as
  // before; any other placement is judged by its content.
  bool judged = chosen->complete && (ambiguous || chosen->kind != FatLayoutKind::kContiguous ||
                                     RunsIntoAnotherClaim(*chosen));
  if (judged && checkable) {
    // The first placement whose bytes are a valid file wins; one the
    // check cannot judge is kept in reserve; a damaged one never wins.
    const FatLayoutCandidate* unjudged = nullptr;
    const FatLayoutCandidate* intact = nullptr;
    for (const FatLayoutCandidate& candidate : layouts) {
      if (!candidate.complete) continue;
      ClusterListSource source(candidate.clusters, geometry_.ClusterBytes(), record.size, readCluster_);
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
  } else if (judged) {
    // No check for this type: the placement with the fewest clusters that
    // start another file wins (the first of them on a tie). When every one
    // has such a cluster, the file is not whole anywhere: its check fails.
    const FatLayoutCandidate* fewest = nullptr;
    size_t fewestStarts = SIZE_MAX;
    ForeignStarts starts;
    for (const FatLayoutCandidate& candidate : layouts) {
      if (!candidate.complete) continue;
      size_t count = starts.Count(candidate, claims_, readCluster_, geometry_.ClusterBytes());
      if (count < fewestStarts) fewest = &candidate, fewestStarts = count;
      if (count == 0) break;
    }
    if (fewestStarts > 0) check = WholeFileCheck::kFailed;
    overridden = fewest != chosen;
    chosen = fewest;
  }
  DataLayout layout = overridden ? DataLayout::kInferred : LayoutOf(chosen->kind);
  record.SetHowSure(layout, check, PlacementOf(size_t(chosen - layouts.data())));
}

WholeFileCheck FatPlacement::CheckChain(const FoundFileRecord& record) {
  uint64_t needed = ClustersFor(record.size);
  std::vector<uint32_t> clusters;
  FatChainCursor chain(*table_, record.itemKey);
  while (!chain.AtEnd() && clusters.size() < needed && geometry_.IsValidCluster(chain.cluster())) {
    clusters.push_back(chain.cluster());
    if (chain.Advance() != kSuccess) break;
  }
  if (clusters.size() < needed) return WholeFileCheck::kFailed;
  ClusterListSource source(clusters, geometry_.ClusterBytes(), record.size, readCluster_);
  return WholeFileCheckOf(CheckIntegrity(source, ExtensionOf(record.Name())).verdict);
}

bool FatPlacement::PlacedClusters(const FoundFileRecord& record, std::vector<uint32_t>& clusters, bool& whole) {
  uint32_t placement = record.placement();
  if (!table_ || placement == 0 || record.IsDirectory()) return false;
  std::vector<FatLayoutCandidate> layouts = Layouts(record.itemKey, record.size);
  if (layouts.empty()) return false;
  const FatLayoutCandidate& chosen = placement <= layouts.size() ? layouts[placement - 1] : layouts.front();
  clusters = chosen.clusters;
  whole = chosen.complete;
  return true;
}

}  // namespace kestrel
