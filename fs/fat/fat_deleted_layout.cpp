#include "fs/fat/fat_deleted_layout.h"

namespace kestrel {

namespace {

FatLayoutCandidate Contiguous(const FatGeometry& g, uint32_t first, uint64_t needed, const FatAllocationView& volume) {
  FatLayoutCandidate c;
  c.kind = FatLayoutKind::kContiguous;
  c.clusters.push_back(first);
  for (uint64_t next = uint64_t(first) + 1; c.clusters.size() < needed && g.IsValidCluster(next); ++next) {
    if (volume.inUse(uint32_t(next))) break;
    c.clusters.push_back(uint32_t(next));
  }
  c.complete = c.clusters.size() >= needed;
  return c;
}

// From first, the next free cluster each time; with skipOthers, a free
// cluster where another deleted file's run starts is passed over with its run.
// With onlyRun set, only the run starting there is passed over.
FatLayoutCandidate Around(const FatGeometry& g, uint32_t first, uint64_t needed, const FatAllocationView& volume,
                          bool skipOthers, uint32_t onlyRun = 0) {
  FatLayoutCandidate c;
  c.kind = skipOthers ? FatLayoutKind::kAroundOthers : FatLayoutKind::kAroundLive;
  c.clusters.push_back(first);
  uint32_t skipped = 0;
  uint64_t next = uint64_t(first) + 1;
  while (c.clusters.size() < needed && g.IsValidCluster(next) && skipped <= kMaxLiveClustersSkipped) {
    uint32_t cluster = uint32_t(next);
    if (volume.inUse(cluster)) {
      ++skipped, ++next;
      continue;
    }
    if (skipOthers && (onlyRun == 0 || onlyRun == cluster)) {
      if (uint32_t run = volume.claimedRun(cluster); run != 0) {
        skipped += run;
        next += run;
        continue;
      }
    }
    c.clusters.push_back(cluster);
    ++next;
  }
  c.complete = c.clusters.size() >= needed;
  return c;
}

}  // namespace

std::vector<FatLayoutCandidate> DeletedFileLayouts(const FatGeometry& g, uint32_t first, uint64_t size,
                                                   const FatAllocationView& volume) {
  std::vector<FatLayoutCandidate> out;
  if (!g.IsValidCluster(first) || g.ClusterBytes() == 0) return out;
  uint64_t needed = size == 0 ? 1 : (size + g.ClusterBytes() - 1) / g.ClusterBytes();
  auto add = [&](FatLayoutCandidate candidate) {
    for (const FatLayoutCandidate& earlier : out) {
      if (earlier.clusters == candidate.clusters) return;
    }
    out.push_back(std::move(candidate));
  };
  add(Contiguous(g, first, needed, volume));
  FatLayoutCandidate aroundLive = Around(g, first, needed, volume, false);
  add(aroundLive);
  add(Around(g, first, needed, volume, true));
  // Other deleted entries may claim clusters that this file took after they
  // were deleted, so passing over every claimed run is one guess among
  // several: each run on the way is also passed over alone.
  size_t alone = 0;
  for (size_t at = 1; at < aroundLive.clusters.size() && alone < kMaxSingleRunGuesses; ++at) {
    uint32_t cluster = aroundLive.clusters[at];
    if (volume.claimedRun(cluster) == 0) continue;
    ++alone;
    add(Around(g, first, needed, volume, true, cluster));
  }
  return out;
}

}  // namespace kestrel
