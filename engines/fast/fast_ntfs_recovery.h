// The quick NTFS engine: reads the MFT in chunks of 1,024 records, lists every
// deleted file record with its best name and its folder path (folders whose
// records were reused become "LostFolder<n>" in the root), and reads file
// data back from the record: resident bytes, runs, sparse holes, LZNT1
// compression. Also maps used clusters from $Bitmap for the deep scan.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <new>
#include <string>
#include <unordered_map>
#include <vector>

#include "engines/common/boot_copy.h"
#include "catalogue/scan_log.h"
#include "engines/common/fast_engine_base.h"
#include "engines/common/damage_tally.h"
#include "engines/common/data_sink.h"
#include "engines/file_recovery_parse.h"
#include "engines/found_item_details.h"
#include "fs/ntfs/ntfs_attributes.h"
#include "fs/ntfs/ntfs_boot.h"
#include "fs/ntfs/ntfs_stream_reader.h"
#include "carve/signatures.h"
#include "storage/sector_device.h"

namespace kestrel {

inline constexpr uint32_t kNtfsRecordsPerChunk = 1024;

class CFastNtfsRecovery final : public CFastEngineBase,
                                public IFoundItemDetails,
                                private INtfsRecordSource,
                                private INtfsClusterReader {
 public:
  CFastNtfsRecovery();
  ~CFastNtfsRecovery() override;

  int Scan(const std::optional<std::string>& storeName) override;
  int NextFreeExtent(uint64_t& start, uint64_t& length) override;
  int BuildClusterMap() override;

  uint32_t ItemFlags(const FoundFileRecord& record) override;

  const NtfsGeometry& geometry() const { return geometry_; }
  const std::vector<NtfsRun>& mftRuns() const { return mftRuns_; }
  uint64_t mftRecordCount() const { return mftRecords_; }
  // Records looked at by the last scan (for throughput figures).
  uint64_t recordsParsed() const { return recordsParsed_; }

 private:
  // One folder met as the parent of a deleted file.
  struct FolderNode {
    bool lost = false;
    uint32_t depth = 0;      // 1 for folders directly in the root and for lost folders
    uint64_t parent = 0;
    uint16_t parentSequence = 0;
    NtfsFileName name;
    uint64_t entrySector = 0;
  };
  struct ParsedRecord;

  int FinishOpen() override;
  uint32_t RootKey() const override { return uint32_t(kNtfsRootRecord); }
  // The record's data stream found again and read into sink.
  int ReadRecord(const FoundFileRecord& record, DataSink& sink, const std::function<int(uint64_t)>& report) override;
  // A record that no longer holds this file leaves nothing behind at the destination.
  int RefuseRecord(const FoundFileRecord& record) override;
  int ScanUnguarded(const std::optional<std::string>& storeName);
  int BuildClusterMapUnguarded();
  int OpenGeometry();
  void LoadMftRuns();
  int ReadVolume(uint64_t offset, size_t count, uint8_t* out);
  bool RecordOffset(uint64_t number, uint64_t& offset) const;
  uint64_t SectorOf(uint64_t volumeOffset) const;
  uint64_t VolumeOffsetOf(const FoundFileRecord& record) const;
  NtfsRecordStatus LoadRecord(uint64_t volumeOffset, std::vector<uint8_t>& record, NtfsRecordHeader& header);

  // INtfsRecordSource
  bool ReadRecord(uint64_t number, std::vector<uint8_t>& record) override;
  bool ReadRunBytes(const std::vector<NtfsRun>& runs, uint64_t byteCount, std::vector<uint8_t>& out) override;
  uint64_t ClusterCount() const override;
  // INtfsClusterReader
  int ReadClusters(uint64_t lcn, uint32_t count, uint8_t* out) override;

  // Scan
  int ScanMft();
  void ParseDeletedRecord(uint64_t number, std::span<uint8_t> bytes, uint64_t volumeOffset);
  uint32_t FolderDepth(uint64_t folder, uint16_t sequence);
  void LoadFolder(uint64_t number, uint16_t sequence, FolderNode& node);
  void AppendFolderRecords();
  int ContentCheck(const std::string& name, const NtfsStream& data, uint64_t recordSector);

  // Reading data back
  int FindData(const FoundFileRecord& record, NtfsStream& stream);
  // The found stream's bytes into sink (as much as it has room for).
  int ReadStream(NtfsStream& stream, DataSink& sink, const std::function<int(uint64_t)>& report);

  uint64_t volumeBytes_ = 0;
  NtfsGeometry geometry_;
  BootSectorChoice bootChoice_;   // which copy the geometry came from
  uint32_t bytesPerSector_ = 512;
  std::vector<NtfsRun> mftRuns_;
  uint64_t mftRecords_ = 0;

  std::unordered_map<uint64_t, FolderNode> folders_;
  std::vector<uint64_t> pendingParents_;  // folders in first-seen order
  std::vector<uint8_t> chunk_;
  SignatureScratch scratch_;
  uint64_t recordsParsed_ = 0;

  std::vector<uint8_t> clusterMap_;
};

}  // namespace kestrel
