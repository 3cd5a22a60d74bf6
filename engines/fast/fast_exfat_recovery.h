// The fast engine for exFAT volumes (SDXC cards, large USB sticks): walks the
// directory tree from the root, records every deleted file entry set (and
// every file in a deleted folder) with the folders above it, and reads a
// file back from its contiguous run, its FAT chain, or, where the chain was
// cleared, the free clusters that follow its first one. The allocation bitmap
// is the map of used clusters for the deep scan.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <unordered_set>
#include <vector>

#include "carve/signatures.h"
#include "engines/common/fast_scan_store.h"
#include "engines/common/data_sink.h"
#include "engines/file_recovery_parse.h"
#include "fs/exfat/exfat_volume.h"
#include "platform/error_codes.h"
#include "storage/sector_device.h"

namespace kestrel {

class CFastExfatRecovery final : public IFileRecoveryParse {
 public:
  CFastExfatRecovery();
  ~CFastExfatRecovery() override;

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

  bool HasGeometry() const { return volume_.IsOpen(); }
  const ExfatGeometry& geometry() const { return volume_.geometry(); }
  ScanLog* log() { return store_.log(); }

 private:
  int FinishOpen();
  int ScanTree(const std::optional<std::string>& storeName);
  int ReadVolume(uint64_t offset, uint8_t* out, uint32_t count, uint32_t& got);
  int Report(int32_t progress, int32_t remaining);

  struct Folder {
    uint32_t cluster = 0;
    uint32_t level = 0;  // depth below the root: the root is 0
    bool deleted = false;
    ExfatDataSpec data;
  };
  // One directory; errors end only this directory.
  int WalkDirectory(const Folder& folder);
  void HandleSet(const ExfatEntrySet& set, uint64_t entrySector, const Folder& folder);
  FoundFileRecord MakeRecord(const ExfatEntrySet& set, uint64_t entrySector) const;
  int32_t CheckContent(uint32_t cluster, const std::string& name);
  void MarkAncestors(uint32_t key);
  void AppendNeededFolders();

  // A record's bytes into sink (at most its room), with its set read again
  // for its allocation flag and valid length.
  int ReadRecord(const FoundFileRecord& record, DataSink& sink, const std::function<int(uint64_t)>& report);
  int WriteFileRecord(const FoundFileRecord& record, const std::filesystem::path& path);

  SectorDevice device_;
  uint64_t deviceBytes_ = 0;
  bool opened_ = false;
  int openError_ = kErrInvalidParameter;
  int32_t deviceSectorBytes_ = 512;
  uint64_t partitionStart_ = 0;  // absolute, in device sectors
  uint64_t sectorCount_ = 0;     // device sectors
  uint16_t letter_ = 0;
  ExfatReader reader_;
  ExfatVolume volume_;

  ScanProgressCallback progress_ = nullptr;
  ItemProgressCallback itemProgress_ = nullptr;
  void* user_ = nullptr;
  int32_t scale_ = 100;

  FastScanStore store_;
  std::deque<Folder> queue_;
  std::unordered_set<uint32_t> visited_;
  // A folder's first cluster -> its record; recordIndex holds the parent's
  // cluster until the record is written, isDeleted its level.
  struct FolderRecord {
    FoundFileRecord record;
    uint32_t parent = 0;
    uint32_t level = 0;
  };
  std::map<uint32_t, FolderRecord> folders_;
  std::vector<uint32_t> neededFolders_;
  std::unordered_set<uint32_t> neededSet_;

  bool clusterMapReady_ = false;
  SignatureScratch scratch_;
  SignatureSource signatureSource_;
};

}  // namespace kestrel
