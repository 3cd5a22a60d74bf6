// The deep NTFS member of a deep scan: turns MFT file records found anywhere
// on a source into found files, works out each record's volume origin and
// cluster size from what it sees, and rebuilds folders from the parent
// references at the end. Driven by CProfessionalRecovery's single pass.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

#include "fs/ntfs/ntfs_attributes.h"
#include "fs/ntfs/ntfs_runlist.h"
#include "engines/deep/deep_member.h"

namespace kestrel {

// Bounds that keep memory flat on a damaged or hostile source.
inline constexpr size_t kNtfsMftMapLimit = 64;          // distinct $MFT copies remembered
inline constexpr size_t kNtfsDirectoryQueueLimit = 262144;
inline constexpr size_t kNtfsPlacementLimit = 4096;     // distinct table placements (run lists)
// Runs of one placement: a run list fits in one file record (at most 4 KiB,
// two bytes or more per run), so no real one comes near.
inline constexpr size_t kNtfsPlacementRunLimit = 65536;
inline constexpr int kNtfsParentDepthLimit = 512;

class CProfessionalNtfsRecovery final : public CProfessionalMember {
 public:
  CProfessionalNtfsRecovery();
  ~CProfessionalNtfsRecovery() override;

  int OpenImage(const std::filesystem::path& image, uint16_t letter) override;
  int OpenPartition(int32_t driveNumber, uint64_t firstSector, uint64_t sectorCount, uint16_t letter) override;

  // --- driven by the deep-scan composite ---
  // A new store, or the saved one of a resumed scan, which also gets back
  // what the interrupted scan had learnt.
  int BeginScan(const std::optional<deep::MemberResume>& resume);
  // One file record (recordBytes() bytes) found at absolute sector.
  int OnFileRecord(const uint8_t* record, uint64_t sector);
  // A sector that may be an NTFS boot sector (volumes inside a whole disk).
  void OnBootSector(const uint8_t* sector, uint64_t sectorNumber);
  // Writes the folders of every file found (or lost folders).
  int FinishScan();
  // What a resumed scan needs of this one. inFlight: also the folders still
  // to be written at the finish (a checkpoint, which a crash may follow);
  // without it, the state as the finish leaves it.
  void SaveState(deep::StateWriter& writer, bool inFlight) const;
  // A saved state read back (false: damaged, nothing taken over; a count
  // above its limit is damage). Resuming calls it; the state fuzz target too.
  bool LoadState(deep::StateReader& reader);
  // Runs of the unnamed $DATA of the record at sector, all extents (through
  // its $ATTRIBUTE_LIST); 0 or an error.
  int RunListAt(uint64_t sector, std::vector<NtfsRun>& runs);

  uint32_t recordBytes() const { return recordBytes_; }
  uint32_t sectorsPerCluster() const { return sectorsPerCluster_; }
  size_t directoryQueueSize() const { return queue_.size(); }
  size_t mftMapSize() const { return mftMap_.size(); }

 private:
  // Where records of one table lie: its runs (absolute clusters of a volume
  // with this origin and cluster size), or a contiguous table from tableStart.
  struct Placement {
    uint64_t origin = 0;
    uint32_t sectorsPerCluster = 8;
    std::vector<NtfsRun> runs;
    bool contiguous = false;
    uint64_t tableStart = 0;  // absolute sector of record 0 when contiguous
  };
  struct MftCopy {
    uint64_t sector = 0;  // where the $MFT record itself lies
    uint32_t placement = 0;
  };
  struct QueuedDirectory {
    uint32_t number = 0;
    uint32_t placement = 0;
  };
  struct RecordInfo;
  // Records of one table and clusters of one volume, for the stream
  // gathering and reading shared with the fast engine.
  class VolumeReader;

  struct SavedState;
  template <typename Io, typename Parts>
  static void StateFields(Io& io, Parts& parts, bool& inFlight);
  void DeriveSizes();
  int ReadBootStep();
  int ReadRecordAt(uint64_t sector, std::vector<uint8_t>& record);
  bool LocateRecord(const Placement& placement, uint64_t number, uint64_t& sector) const;
  uint32_t AddPlacement(Placement placement);
  // The table that puts record number at sector: a known $MFT copy, else a
  // contiguous table ending there. PlacementFor also remembers it.
  Placement PlacementAt(uint64_t sector, uint64_t number, int64_t* known = nullptr) const;
  uint32_t PlacementFor(uint64_t sector, uint64_t number, uint64_t& origin);
  void LearnClusterSize(const NtfsStream& stream);
  // A file record's content: gathers its $DATA (all extents), learns the
  // cluster size from it and sets size, clusterBytes and contentValid.
  void ExamineData(FoundFileRecord& record, ByteView bytes, const NtfsRecordHeader& header, uint32_t placement);
  uint32_t ParentDepth(uint64_t parent, uint32_t placement);
  int HandleRecord(std::vector<uint8_t>& record, uint64_t sector, bool folderMode, uint64_t wanted,
                   uint32_t placement);
  void WriteLostFolder(uint64_t number);
  // Reads the record at sector again and gathers its unnamed $DATA on the
  // volume its table belongs to; clusterBytes 0: that table's cluster size.
  // 0, 87 (no sound record there) or the read error.
  int StreamAt(uint64_t sector, uint32_t clusterBytes, NtfsStream& stream);
  void CheckData(FoundFileRecord& record, const NtfsStream& stream, VolumeReader& volume);
  int WriteData(const FoundFileRecord& record, DataSink& sink,
                const std::function<int(uint64_t)>& report) override;

  uint32_t sectorsPerRecord_ = 2;
  uint32_t recordBytes_ = 1024;
  uint32_t sectorsPerCluster_ = 8;

  std::vector<Placement> placements_;
  std::vector<MftCopy> mftMap_;
  std::vector<QueuedDirectory> queue_;
  std::unordered_set<uint32_t> queued_;
  std::unordered_set<uint32_t> writtenFolders_;
};

}  // namespace kestrel
