// The fast engine for FAT12/16/32 volumes: walks the directory tree the volume
// still has and records every deleted file (and every file in a deleted
// folder) with the folders above it; reads a file back from its first cluster,
// along the FAT chain where it exists and through free clusters where the
// chain was cleared. Also maps used clusters for the deep scan.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "catalogue/scan_log.h"
#include "engines/common/boot_copy.h"
#include "fs/fat/fat_boot.h"
#include "engines/common/fast_engine_base.h"
#include "engines/common/fat_placement.h"
#include "fs/fat/fat_table.h"
#include "engines/common/damage_tally.h"
#include "engines/common/data_sink.h"
#include "engines/file_recovery_parse.h"
#include "carve/signatures.h"
#include "platform/error_codes.h"
#include "storage/sector_device.h"

namespace kestrel {

// Clusters larger than this are refused when reading back (error 29).
inline constexpr int64_t kMaxClusterBytes = 104857600;

class CFastFatRecovery final : public CFastEngineBase {
 public:
  CFastFatRecovery();
  ~CFastFatRecovery() override;

  int Scan(const std::optional<std::string>& storeName) override;
  int NextFreeExtent(uint64_t& start, uint64_t& length) override;
  int BuildClusterMap() override;

  const FatGeometry& geometry() const { return geometry_; }
  // The placement of this volume's deleted files, with every claim the scan
  // (or its saved store) knows: what the deep FAT member places its own
  // finds of this volume with.
  FatPlacement& placement();
  bool HasGeometry() const { return geometryValid_; }
  // Follows the clusters ReadRecord would read, reading none of them.
  ItemReach ReachOf(const FoundFileRecord& record) override;

 private:
  int FinishOpen() override;
  uint32_t RootKey() const override { return geometry_.rootCluster; }
  int ReadRecord(const FoundFileRecord& record, DataSink& sink, const std::function<int(uint64_t)>& report) override;
  int RefuseRecord(const FoundFileRecord& record) override;
  // The clusters a placed deleted file is read from (placedWhole false when
  // its placement holds too few for its size); placed stays empty for a
  // file read along its chain. kErrHandleEof when no placement is left.
  int PlacedClusters(const FoundFileRecord& record, std::vector<uint32_t>& placed, bool& placedWhole);
  ItemReach WalkReach(const FoundFileRecord& record);
  // Reads count sectors at a partition-relative sector, clipped to the device;
  // 30 when nothing could be read.
  int ReadRelative(uint64_t sector, uint32_t count, uint8_t* buffer, uint32_t& bytesRead);
  int ReadAbsolute(uint64_t sector, uint32_t count, uint8_t* buffer, uint32_t& bytesRead);

  int ScanDirectories(const std::optional<std::string>& storeName);
  // Where a directory's first sector lies on the source, in bytes.
  uint64_t DirectoryByteOffset(uint32_t cluster) const;
  // Directory walk, one directory; errors end only this directory.
  int WalkDirectory(uint32_t first);
  void HandleEntry(ByteView entry, uint64_t entrySector, bool inDeletedDir, uint32_t& parentKey,
                   const std::string& longName);
  uint32_t SearchDirectoryHighWord(uint32_t low);
  uint32_t SearchFileHighWord(uint32_t low, const std::string& extension);
  int32_t CheckContent(uint32_t cluster, const std::string& extension);
  uint32_t DepthOf(uint32_t key);
  void MarkAncestors(uint32_t parentKey);
  void AppendNeededFolders();

  // Deleted files whose chain was cleared. Notes each file's claim (its first
  // cluster and the clusters its size needs) and marks how its data will be
  // read where that is plain now; true when it needs PlaceDeletedFiles.
  bool NoteDeletedFile(FoundFileRecord& record);
  // After the walk, when every deleted file's claim is known: chooses the
  // placement of each file that spans clusters by the layouts the allocation
  // allows and the file's content, and rewrites its record with the choice.
  void PlaceDeletedFiles();
  // The claims of every deleted file of the store (after a saved scan is reopened).
  void EnsureClaims();
  bool ReadCluster(uint32_t cluster, uint8_t* out);

  uint64_t deviceBytes_ = 0;
  // The boot sector's sector size: after FinishOpen, partitionStart_ and
  // sectorCount_ count in these units.
  int32_t bytesPerSector_ = 512;
  std::vector<uint8_t> bootSector_;
  BootSectorChoice bootChoice_;   // which copy bootSector_ holds
  FatGeometry geometry_;
  bool geometryValid_ = false;
  FatTable fat_;

  std::deque<uint32_t> dirQueue_;
  std::unordered_set<uint32_t> visited_;
  // A folder's first cluster -> its record; recordIndex holds the parent key
  // until the record is written to the log.
  std::map<uint32_t, FoundFileRecord> dirMap_;
  std::vector<uint32_t> neededDirs_;
  std::unordered_set<uint32_t> neededSet_;
  std::unordered_map<uint32_t, uint32_t> depthCache_;
  int lastReport_ = 0;

  std::vector<uint8_t> clusterMap_;  // bit c - 2 set: cluster c in use

  // Where deleted files whose chain was cleared are read from; it also holds
  // every deleted file's claim.
  FatPlacement placement_;
  bool claimsKnown_ = false;
  std::vector<FoundFileRecord> unplaced_;

  SignatureScratch scratch_;
  SignatureSource signatureSource_;
};

}  // namespace kestrel
