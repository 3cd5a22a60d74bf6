// Where the data of a deleted FAT file lies once its cluster chain was
// cleared: the layouts the allocation allows (fs/fat/fat_deleted_layout),
// chosen by the file's content, and how sure that choice is. One home for
// the fast FAT engine and the deep FAT member on a volume whose allocation
// table can be read, so that both read a file from the same clusters.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <unordered_map>
#include <vector>

#include "catalogue/found_file_record.h"
#include "catalogue/scan_log.h"
#include "fs/fat/fat_boot.h"
#include "fs/fat/fat_deleted_layout.h"
#include "fs/fat/fat_table.h"

namespace kestrel {

class FatPlacement {
 public:
  // Fills the cluster's bytes (geometry.ClusterBytes()); false when it cannot.
  using ClusterReader = std::function<bool(uint32_t cluster, uint8_t* out)>;

  // The volume whose clusters are placed: table must outlive this object (or
  // the next Attach). partitionStart is the volume's first absolute sector,
  // as found-file records keep it.
  void Attach(const FatGeometry& geometry, uint64_t partitionStart, FatTable& table, ClusterReader readCluster);
  bool attached() const { return table_ != nullptr; }
  // True when record lies on the attached volume (same start, data area and
  // cluster size), so that the table speaks for its clusters.
  bool OnVolume(const FoundFileRecord& record) const;

  // Claims: a deleted file's first cluster and the clusters its size needs.
  void ClearClaims() { claims_.clear(); }
  void Claim(uint32_t first, uint64_t size);
  void ClaimAllOf(const FatPlacement& other);
  // The claims of every file in a store (a saved scan reopened).
  void ClaimStore(ScanLog& log);

  enum class Need : uint8_t {
    kNothing,  // not on this volume's clusters, or nothing to choose
    kPlacing,  // spans clusters whose chain was cleared: Place after every claim is known
    kChain,    // its first cluster is in use now: read along that chain
  };
  // Claims the deleted file and says what it needs. A one-cluster file is
  // marked contiguous at once; nothing else is marked here.
  Need Note(FoundFileRecord& record);
  // Chooses among the layouts of a file Note found kPlacing and marks the
  // record with the layout, the check and the placement number.
  void Place(FoundFileRecord& record);
  // The whole-file check of a deleted file read along the chain it still has.
  WholeFileCheck CheckChain(const FoundFileRecord& record);
  // The clusters the chosen placement reads (record.placement() != 0); whole
  // is false when they do not hold the whole size. False when there is none.
  bool PlacedClusters(const FoundFileRecord& record, std::vector<uint32_t>& clusters, bool& whole);

 private:
  std::vector<FatLayoutCandidate> Layouts(uint32_t first, uint64_t size);
  uint64_t ClustersFor(uint64_t size) const;
  // True when a cluster of the placement after its first is where another
  // deleted entry starts: the placement is not taken on trust then.
  bool RunsIntoAnotherClaim(const FatLayoutCandidate& candidate) const;

  FatGeometry geometry_;
  uint64_t partitionStart_ = 0;
  FatTable* table_ = nullptr;
  ClusterReader readCluster_;
  // First cluster of a deleted file -> the most clusters a deleted entry
  // starting there needs.
  std::unordered_map<uint32_t, uint32_t> claims_;
};

}  // namespace kestrel
