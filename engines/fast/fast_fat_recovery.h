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
#include "engines/common/fast_scan_store.h"
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

class CFastFatRecovery final : public IFileRecoveryParse, public TalliesDamage {
 public:
  CFastFatRecovery();
  ~CFastFatRecovery() override;

  int OpenImage(const std::filesystem::path& image, uint16_t letter) override;
  int OpenPartition(int32_t driveNumber, uint64_t firstSector, uint64_t sectorCount, uint16_t letter) override;
  int SetCallbacks(ScanProgressCallback progress, ItemProgressCallback item, void* user, int32_t scale) override;
  int Scan(const std::optional<std::string>& storeName) override;
  int ListChildren(const FoundFileRecord* dir, int32_t level, std::vector<FoundFileRecord>& out) override;
  int CountFiles(const FoundFileRecord* dir, int32_t level, int64_t& count) override;
  uint64_t GetFoundCount() override;
  int GetItemPath(const FoundFileRecord* record, std::string& out) override;
  int RecoverItem(const FoundFileRecord* record, const std::filesystem::path& destination,
                  int32_t rootDepth) override;
  int NextFreeExtent(uint64_t& start, uint64_t& length) override;
  int SetSearchCallback(SearchProgressCallback callback, void* user) override;
  int SearchByExtension(std::string_view extensions, std::vector<FoundFileRecord>& out) override;
  int BuildClusterMap() override;
  int ExtractPreview(const FoundFileRecord* record, std::filesystem::path& tempPath, std::vector<uint8_t>& buffer,
                     uint32_t& bufferSize, PreviewProgressCallback callback, void* user) override;

  const FatGeometry& geometry() const { return geometry_; }
  bool HasGeometry() const { return geometryValid_; }
  // The store of the last scan (null before one); for tests and the composite.
  ScanLog* log() { return store_.log(); }

 private:
  int FinishOpen();
  // Reads count sectors at a partition-relative sector, clipped to the device;
  // 30 when nothing could be read.
  int ReadRelative(uint64_t sector, uint32_t count, uint8_t* buffer, uint32_t& bytesRead);
  int ReadAbsolute(uint64_t sector, uint32_t count, uint8_t* buffer, uint32_t& bytesRead);
  int Report(int32_t progress, int32_t remaining);

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

  // Writing one file's bytes to a recovered file.
  int WriteFileRecord(const FoundFileRecord& record, const std::filesystem::path& path);
  // Reads the record's bytes cluster by cluster into sink (what it still has
  // room for); 38 when the chain ends before the record's size. report gets
  // the bytes done after every cluster; its non-zero answer stops.
  int ReadRecordData(const FoundFileRecord& record, DataSink& sink, const std::function<int(uint64_t)>& report);

  SectorDevice device_;
  uint64_t deviceBytes_ = 0;
  bool opened_ = false;
  int openError_ = kErrInvalidParameter;  // until an open succeeds
  int32_t bytesPerSector_ = 512;
  uint64_t partitionStart_ = 0;  // absolute, in bytesPerSector_ units
  uint64_t sectorCount_ = 0;
  uint16_t letter_ = 0;
  std::vector<uint8_t> bootSector_;
  BootSectorChoice bootChoice_;   // which copy bootSector_ holds
  FatGeometry geometry_;
  bool geometryValid_ = false;
  FatTable fat_;

  ScanProgressCallback progress_ = nullptr;
  ItemProgressCallback itemProgress_ = nullptr;
  void* user_ = nullptr;
  int32_t scale_ = 100;

  FastScanStore store_;
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

  SignatureScratch scratch_;
  SignatureSource signatureSource_;
};

}  // namespace kestrel
