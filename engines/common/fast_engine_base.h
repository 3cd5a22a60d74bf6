// What the fast engines (FAT, exFAT, NTFS) share around their own parsing:
// opening the source, the callbacks, the store that answers the listing
// slots, the progress of a directory walk, and recovery and preview, which
// differ only in how one found file's bytes are read (ReadRecord).
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "catalogue/scan_log.h"
#include "engines/common/damage_tally.h"
#include "engines/common/data_sink.h"
#include "engines/common/fast_scan_store.h"
#include "engines/file_recovery_parse.h"
#include "engines/found_item_stream.h"
#include "platform/error_codes.h"
#include "storage/sector_device.h"

namespace kestrel {

class CFastEngineBase : public IFileRecoveryParse, public IFoundItemStream, public TalliesDamage {
 public:
  ~CFastEngineBase() override;

  // Open the device, note where the volume lies, then FinishOpen. A second
  // open after one that succeeded is a no-op answering 0.
  int OpenImage(const std::filesystem::path& image, uint16_t letter) final;
  int OpenPartition(int32_t driveNumber, uint64_t firstSector, uint64_t sectorCount, uint16_t letter) final;
  int SetCallbacks(ScanProgressCallback progress, ItemProgressCallback item, void* user, int32_t scale) final;

  // The listing operations answer from the store of the last scan.
  int ListChildren(const FoundFileRecord* dir, int32_t level, std::vector<FoundFileRecord>& out) final;
  int CountFiles(const FoundFileRecord* dir, int32_t level, int64_t& count) final;
  uint64_t GetFoundCount() final;
  int GetItemPath(const FoundFileRecord* record, std::string& out) final;
  int SetSearchCallback(SearchProgressCallback callback, void* user) final;
  int SearchByExtension(std::string_view extensions, std::vector<FoundFileRecord>& out) final;

  int RecoverItem(const FoundFileRecord* record, const std::filesystem::path& destination, int32_t rootDepth) final;
  int ExtractPreview(const FoundFileRecord* record, std::filesystem::path& tempPath, std::vector<uint8_t>& buffer,
                     uint32_t& bufferSize, PreviewProgressCallback callback, void* user) final;
  int StreamItem(const FoundFileRecord& record, DataSink& sink) final;

  // Opens the store a finished scan of this source left at store instead of
  // scanning (nothing is read from the source). 0, kErrFileNotFound when the
  // store is gone, or the open error.
  int ReopenFinishedScan(const std::filesystem::path& store);

  // The store of the last scan (null before one); for tests and the composite.
  ScanLog* log() { return store_.log(); }

 protected:
  CFastEngineBase() = default;

  // The volume's own opening once the device is open and partitionStart_,
  // sectorCount_ (device sectors) and deviceSectorBytes_ are set; it sets
  // opened_ once reads may begin.
  virtual int FinishOpen() = 0;
  // The key of the root folder in the store (listing a null folder).
  virtual uint32_t RootKey() const = 0;
  // A found file's bytes into sink (at most its room); report(bytes done)
  // after each piece. 0, an error code, or report's non-zero answer.
  virtual int ReadRecord(const FoundFileRecord& record, DataSink& sink,
                         const std::function<int(uint64_t)>& report) = 0;
  // An error refuses record before a file or preview is made for it.
  virtual int RefuseRecord(const FoundFileRecord& record);

  // The scan progress callback (0 when there is none).
  int Report(int32_t progress, int32_t remaining);

  // A directory walk does not know its length: its percent creeps up one
  // step every five seconds, on the scale the caller set (100 for a fast
  // scan, 9 when it is the first part of a deep scan).
  class WalkProgress {
   public:
    explicit WalkProgress(CFastEngineBase& engine) : engine_(engine), last_(Clock::now()) {}
    // The callback's answer when a step was due, else 0.
    int Tick();

   private:
    using Clock = std::chrono::steady_clock;
    CFastEngineBase& engine_;
    Clock::time_point last_;
    int32_t percent_ = 2, remaining_ = 99, deepPercent_ = 21;
  };
  // The end of a walk: a stopped walk keeps what its store holds and
  // returns the answer unchanged; otherwise appendFolders adds the folders
  // above the found files and the index is saved, its failure the result.
  int FinishWalk(int result, const std::function<void()>& appendFolders);

  SectorDevice device_;
  bool opened_ = false;
  int openError_ = kErrInvalidParameter;  // until an open succeeds
  uint32_t deviceSectorBytes_ = kImageSectorBytes;
  uint64_t partitionStart_ = 0;  // device sectors until FinishOpen says otherwise
  uint64_t sectorCount_ = 0;
  uint16_t letter_ = 0;

  ScanProgressCallback progress_ = nullptr;
  ItemProgressCallback item_ = nullptr;
  void* user_ = nullptr;
  int32_t scale_ = 100;

  FastScanStore store_;
};

}  // namespace kestrel
