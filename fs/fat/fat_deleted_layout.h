// Where a deleted FAT file's data may lie once its cluster chain was cleared.
// A FAT driver writes a file into the free clusters it finds in order,
// passing over those in use, so a file written on a busy volume is in pieces
// with live files between them. This gives the layouts that rule allows,
// best first; the engine chooses among them by the file's content.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "fs/fat/fat_boot.h"

namespace kestrel {

enum class FatLayoutKind : uint8_t {
  kContiguous,   // consecutive clusters from the first one
  kAroundLive,   // the free clusters after the first, passing over clusters live files own
  kAroundOthers, // the same, also passing over the runs other deleted files start
};

struct FatLayoutCandidate {
  FatLayoutKind kind = FatLayoutKind::kContiguous;
  std::vector<uint32_t> clusters;  // in reading order
  bool complete = false;           // enough clusters for the file's size
};

// What the planner asks of the volume: whether a cluster is in use now (its
// FAT entry is not 0) and, for a free cluster, how many clusters a deleted
// entry other than the file's own claims from it (0 when none starts there).
struct FatAllocationView {
  std::function<bool(uint32_t cluster)> inUse;
  std::function<uint32_t(uint32_t cluster)> claimedRun;
};

// Live clusters passed over while looking for one file's next free cluster,
// at most: a bound so that a file whose first cluster lies before a long
// full stretch costs a bounded walk, not the whole volume.
inline constexpr uint32_t kMaxLiveClustersSkipped = 1u << 20;

// Runs of other deleted files passed over one at a time, at most (each is a
// candidate the engine may check by content).
inline constexpr size_t kMaxSingleRunGuesses = 16;

// The distinct layouts of a file of size bytes starting at cluster first,
// best first: contiguous (the classic rule: it stops at the first cluster in
// use), around live files, around every run another deleted file claims, and
// around each such run alone. A layout equal
// to an earlier one is left out, so a file that fits before the first used
// cluster, with no other deleted file starting inside it, has the one
// contiguous candidate. Empty when first is no cluster.
std::vector<FatLayoutCandidate> DeletedFileLayouts(const FatGeometry& geometry, uint32_t first, uint64_t size,
                                                   const FatAllocationView& volume);

}  // namespace kestrel
