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
#include "engines/common/fast_engine_base.h"
#include "engines/common/data_sink.h"
#include "engines/file_recovery_parse.h"
#include "fs/exfat/exfat_volume.h"
#include "platform/error_codes.h"
#include "storage/sector_device.h"

namespace kestrel {

class CFastExfatRecovery final : public CFastEngineBase {
 public:
  CFastExfatRecovery();
  ~CFastExfatRecovery() override;

  int Scan(const std::optional<std::string>& storeName) override;
  int NextFreeExtent(uint64_t& start, uint64_t& length) override;
  int BuildClusterMap() override;

  bool HasGeometry() const { return volume_.IsOpen(); }
  const ExfatGeometry& geometry() const { return volume_.geometry(); }

 private:
  int FinishOpen() override;
  uint32_t RootKey() const override { return geometry().rootCluster; }
  // A record's bytes into sink (at most its room), with its set read again
  // for its allocation flag and valid length.
  int ReadRecord(const FoundFileRecord& record, DataSink& sink, const std::function<int(uint64_t)>& report) override;
  int RefuseRecord(const FoundFileRecord& record) override;
  int ScanTree(const std::optional<std::string>& storeName);
  int ReadVolume(uint64_t offset, uint8_t* out, uint32_t count, uint32_t& got);

  struct Folder {
    uint32_t cluster = 0;
    uint32_t level = 0;  // depth below the root: the root is 0
    bool deleted = false;
    ExfatDataSpec data;
  };
  // Where a folder's first cluster lies on the source, in bytes.
  uint64_t FolderByteOffset(const Folder& folder) const;
  // One directory; errors end only this directory.
  int WalkDirectory(const Folder& folder);
  void HandleSet(const ExfatEntrySet& set, uint64_t entrySector, const Folder& folder);
  FoundFileRecord MakeRecord(const ExfatEntrySet& set, uint64_t entrySector) const;
  int32_t CheckContent(uint32_t cluster, const std::string& name);
  void MarkAncestors(uint32_t key);
  void AppendNeededFolders();

  uint64_t deviceBytes_ = 0;
  ExfatReader reader_;
  ExfatVolume volume_;

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
