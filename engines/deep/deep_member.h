// What the deep FAT and deep NTFS members of a deep scan share: the source
// they read, the store their scan writes, the slots that the store answers,
// and recovery and preview, which differ only in how a found file's bytes
// are read (WriteData).
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "catalogue/scan_log.h"
#include "engines/common/damage_tally.h"
#include "engines/common/data_sink.h"
#include "engines/common/state_file.h"
#include "engines/common/store_support.h"
#include "engines/deep/deep_store_member.h"
#include "engines/file_recovery_parse.h"
#include "engines/found_item_stream.h"
#include "carve/signatures.h"
#include "storage/sector_device.h"

namespace kestrel {

class CProfessionalMember : public deep::StoreMember, public IFoundItemStream, public TalliesDamage {
 public:
  ~CProfessionalMember() override;

  int ListChildren(const FoundFileRecord* dir, int32_t level, std::vector<FoundFileRecord>& out) override;
  int CountFiles(const FoundFileRecord* dir, int32_t level, int64_t& count) override;
  int GetItemPath(const FoundFileRecord* record, std::string& out) override;
  int RecoverItem(const FoundFileRecord* record, const std::filesystem::path& destination, int32_t rootDepth) override;
  int ExtractPreview(const FoundFileRecord* record, std::filesystem::path& tempPath, std::vector<uint8_t>& buffer,
                     uint32_t& bufferSize, PreviewProgressCallback callback, void* user) override;
  int StreamItem(const FoundFileRecord& record, DataSink& sink) override;

  uint32_t sectorBytes() const { return sectorBytes_; }

 protected:
  CProfessionalMember() : deep::StoreMember(90) {}

  // Opens the source once (a second call is a no-op answering 0).
  int OpenImageSource(const std::filesystem::path& image, uint16_t letter);
  int OpenPartitionSource(int32_t driveNumber, uint64_t firstSector, uint64_t sectorCount, uint16_t letter);
  // The store of a scan: a new one named base (see deep::OpenNewStore), or
  // the saved one of a resumed scan, cut back to its saved point.
  int OpenScanStore(const std::optional<deep::MemberResume>& resume, const std::string& base);
  // A found file's bytes into sink; report(bytes done) after each piece.
  // 0, an error code or report's non-zero answer.
  virtual int WriteData(const FoundFileRecord& record, DataSink& sink,
                        const std::function<int(uint64_t)>& report) = 0;
  SignatureSource Source() const;

  SectorDevice device_;
  int32_t driveNumber_ = -1;
  uint64_t firstSector_ = 0;
  uint64_t sectorCount_ = 0;
  uint16_t letter_ = 0;
  uint32_t sectorBytes_ = 512;

  SignatureScratch scratch_;
};

}  // namespace kestrel
