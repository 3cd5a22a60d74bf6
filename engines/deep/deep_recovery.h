// The deep scan: one fast scan, then a single pass over the source (or over
// its free clusters only, when the fast engine can map them) in which every
// sector goes to exactly one consumer: the deep NTFS member (file records),
// the deep exFAT member (entry sets), the deep FAT member (directory sectors)
// or the carving engine. Its progress
// is kept in the scan history, so an interrupted scan can be resumed.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engines/common/damage_tally.h"
#include "engines/common/state_file.h"
#include "engines/common/store_support.h"
#include "engines/file_recovery_parse.h"
#include "engines/deep/carved_repeats.h"
#include "engines/deep/file_type_recovery.h"
#include "engines/deep/deep_exfat_recovery.h"
#include "engines/deep/deep_fat_recovery.h"
#include "engines/deep/deep_ntfs_recovery.h"
#include "catalogue/scan_history.h"
#include "storage/sector_device.h"

namespace kestrel {

// One stretch of the pass, in sectors relative to the source's first sector.
struct ScanRange {
  uint64_t start = 0;
  uint64_t length = 0;
};

class CProfessionalRecovery final : public IFileRecoveryParse, public IFoundItemStream, public IScanDamage {
 public:
  CProfessionalRecovery();
  ~CProfessionalRecovery() override;

  int OpenImage(const std::filesystem::path& image, uint16_t letter) override;
  int OpenPartition(int32_t driveNumber, uint64_t firstSector, uint64_t sectorCount, uint16_t letter) override;
  int SetCallbacks(ScanProgressCallback progress, ItemProgressCallback item, void* user, int32_t scale) override;
  int Scan(const std::optional<std::string>& storeName) override;
  int ListChildren(const FoundFileRecord* dir, int32_t level, std::vector<FoundFileRecord>& out) override;
  int CountFiles(const FoundFileRecord* dir, int32_t level, int64_t& count) override;
  uint64_t GetFoundCount() override;
  int GetItemPath(const FoundFileRecord* record, std::string& out) override;
  int RecoverItem(const FoundFileRecord* record, const std::filesystem::path& destination, int32_t rootDepth) override;
  int NextFreeExtent(uint64_t&, uint64_t&) override { return 0; }
  int SetSearchCallback(SearchProgressCallback callback, void* user) override;
  int SearchByExtension(std::string_view extensions, std::vector<FoundFileRecord>& out) override;
  int BuildClusterMap() override { return 0; }
  int ExtractPreview(const FoundFileRecord* record, std::filesystem::path& tempPath, std::vector<uint8_t>& buffer,
                     uint32_t& bufferSize, PreviewProgressCallback callback, void* user) override;
  // Through the member that found the record.
  int StreamItem(const FoundFileRecord& record, DataSink& sink) override;
  ItemReach ReachOf(const FoundFileRecord& record) override;

  // A saved, unfinished deep scan of this source was found at open: Scan
  // continues it unless DiscardSavedScan is called first.
  bool HasResumableScan() const { return resume_; }
  const ScanHistoryEntry& savedScan() const { return saved_; }
  void DiscardSavedScan();
  // A finished deep scan of this source was found at open (its folder is
  // savedScan().scanFolder).
  bool HasFinishedScan() const { return savedFound_ && saved_.resume.rangeLength == 0; }
  // Opens the stores the finished scan left in folder instead of scanning:
  // nothing is read from the source but what listing and reading files need.
  // An error (the history names another folder, a store is missing, exFAT
  // finds that were kept in memory only) means the source must be scanned.
  int ReopenFinishedScan(const std::filesystem::path& folder);
  // The folder of the last finished or stopped Scan's stores.
  const std::filesystem::path& scanFolder() const { return scanFolder_; }
  // The last Scan stopped during its sector pass and recorded where.
  bool lastScanSaved() const { return lastScanSaved_; }

  // How often the pass saves a point that a crashed or killed scan resumes
  // from: the stores flushed, the members' state and the position in the
  // history. 30 s by default; 0 saves after every block.
  void SetCheckpointInterval(std::chrono::milliseconds every) { checkpointEvery_ = every; }
  uint64_t checkpointsWritten() const { return checkpointsWritten_; }

  // The pass's own tally followed by the members' and the fast pass's.
  ScanDamage Damage() const override;

  // For tests and the CLI: what the last Scan covered.
  uint64_t passTotal() const { return passTotal_; }
  bool passUsedFreeExtents() const { return useFreeExtents_; }
  IFileRecoveryParse* fastEngine() { return fast_.get(); }
  CProfessionalFatRecovery& fatMember() { return fat_; }
  CProfessionalNtfsRecovery& ntfsMember() { return ntfs_; }
  CProfessionalExfatRecovery& exfatMember() { return exfat_; }
  CFileTypeRecovery& carver() { return carver_; }

 private:
  IFileRecoveryParse* EngineFor(uint32_t engineKind);
  int RunPass(const std::vector<ScanRange>& ranges, size_t firstRange, uint64_t firstPosition,
              ScanResumeState& state);
  int DispatchBlock(const uint8_t* data, uint32_t sectors, uint64_t firstAbsolute, uint64_t sectorsDone,
                    int64_t& overrun);
  uint64_t FoundNow();
  // The first sector of a named file's data; false when it has none or it
  // cannot be told.
  bool NamedFirstSector(const FoundFileRecord& record, uint64_t& sector);
  // Brings repeats_ up to what the stores hold (rebuilt only when they have
  // grown or a new scan began). 0 or the carved store's listing error;
  // repeats_ is then empty, so nothing is left out.
  int UpdateRepeats();
  // The deep FAT and exFAT members' records that repeat deleted files of the
  // fast pass (see MemberRepeats), from the stores as they are now.
  void UpdateMemberRepeats();
  // A search that is part of listing, not one the user started: its
  // progress is not shown, and a search the user stopped earlier does not
  // stop it. A store that cannot be searched leaves records empty.
  void SearchForListing(IFileRecoveryParse& engine, const std::string& patterns,
                        std::vector<FoundFileRecord>& records);
  // A carved or member record left out of listings, counts and searches.
  bool Repeated(const FoundFileRecord& record) const;
  // A saved point read back: the members' store sizes and states at it.
  struct SavedPoint {
    uint64_t generation = 0;
    uint64_t fatRecords = 0;
    uint64_t ntfsRecords = 0;
    uint64_t carvedRecords = 0;
    deep::StateReader fat;
    deep::StateReader ntfs;
  };
  // Flushes the stores, writes the point (the members' states given) and
  // then, as the commit, records state in the history.
  int WriteCheckpoint(ScanResumeState state, const deep::StateWriter& fatState, const deep::StateWriter& ntfsState);
  // The newest saved point in folder taken at exactly wanted; false when none is.
  bool LoadCheckpoint(const std::filesystem::path& folder, const ScanResumeState& wanted, SavedPoint& out);
  int RecordState(const ScanResumeState& state, const std::filesystem::path& folder);
  // The FAT, NTFS and carving members' stores in folder: new ones, the saved
  // ones where they are there, or the saved ones only (a missing one is
  // kErrFileNotFound). With point, each goes back to its size and state at it.
  enum class StoreChoice { kNew, kSavedIfThere, kSavedOnly };
  int OpenMemberStores(const std::filesystem::path& folder, StoreChoice choice, SavedPoint* point);
  ScanSourceIdentity Identity() const;
  // The carver's size rules report while they walk a long file; their
  // positions run ahead of the pass, so the relay shows the pass's own
  // figures and only passes the answer (a cancel) back.
  static int CarverProgressRelay(void* self, int32_t progress, int32_t scale, int32_t remaining, uint64_t done,
                                 uint64_t total, uint64_t found, int32_t reserved);

  SectorDevice device_;
  uint16_t letter_ = 0;
  int32_t sectorBytes_ = 512;
  int32_t driveNumber_ = -1;
  uint64_t firstSector_ = 0;
  uint64_t sectorCount_ = 0;
  uint64_t freeBytes_ = 0;  // of the mounted volume at open; 0 when unmounted or an image
  std::filesystem::path imagePath_;
  bool opened_ = false;

  CProfessionalFatRecovery fat_;
  CProfessionalNtfsRecovery ntfs_;
  CProfessionalExfatRecovery exfat_;
  CFileTypeRecovery carver_;
  std::unique_ptr<IFileRecoveryParse> fast_;

  ScanProgressCallback progress_ = nullptr;
  ItemProgressCallback item_ = nullptr;
  void* user_ = nullptr;
  int32_t scale_ = 90;
  SearchProgressCallback searchCallback_ = nullptr;
  void* searchUser_ = nullptr;

  bool resume_ = false;
  bool savedFound_ = false;  // an entry exists (finished or not)
  bool lastScanSaved_ = false;
  ScanHistoryEntry saved_;

  // pass state
  uint64_t passTotal_ = 0;
  bool useFreeExtents_ = false;
  uint64_t foundBase_ = 0;
  int32_t remainingSeconds_ = -1;
  int32_t lastProgress_ = 10;
  uint64_t lastDone_ = 0;
  std::vector<uint8_t> recordBuffer_;
  DamageTally damage_;

  // Carved copies of named files, left out of every listing and count.
  CarvedRepeats repeats_;
  MemberRepeats fatRepeats_;
  MemberRepeats exfatRepeats_;
  bool repeatsBuilt_ = false;
  uint64_t repeatsFoundCount_ = 0;

  // checkpoints
  std::filesystem::path scanFolder_;
  std::chrono::milliseconds checkpointEvery_{30000};
  // The interval counts from the start of the scan, not of the pass: the
  // fast pass before it is work a kill would otherwise cost too.
  std::chrono::steady_clock::time_point scanStarted_;
  uint64_t checkpointGeneration_ = 0;
  uint64_t checkpointsWritten_ = 0;
};

}  // namespace kestrel
