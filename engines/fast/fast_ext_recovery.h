// ext volumes are recognised but not parsed: this engine opens the source and
// finds nothing, so a fast scan of ext ends at once and a deep scan carves.
#pragma once

#include "engines/file_recovery_parse.h"
#include "storage/sector_device.h"

namespace kestrel {

class CFastExtRecovery final : public IFileRecoveryParse {
 public:
  int OpenImage(const std::filesystem::path& image, uint16_t letter) override;
  int OpenPartition(int32_t driveNumber, uint64_t firstSector, uint64_t sectorCount, uint16_t letter) override;
  int SetCallbacks(ScanProgressCallback, ItemProgressCallback, void*, int32_t) override { return 0; }
  int Scan(const std::optional<std::string>&) override { return 0; }
  int ListChildren(const FoundFileRecord*, int32_t, std::vector<FoundFileRecord>&) override { return 0; }
  int CountFiles(const FoundFileRecord*, int32_t, int64_t& count) override {
    count = 0;
    return 0;
  }
  uint64_t GetFoundCount() override { return 0; }
  int GetItemPath(const FoundFileRecord*, std::string& out) override {
    out.clear();
    return 0;
  }
  // It finds nothing, so no record is its own: null is 87, anything else 2.
  int RecoverItem(const FoundFileRecord* record, const std::filesystem::path&, int32_t) override;
  int NextFreeExtent(uint64_t&, uint64_t&) override { return 0; }
  int SetSearchCallback(SearchProgressCallback, void*) override { return 0; }
  int SearchByExtension(std::string_view, std::vector<FoundFileRecord>&) override { return 0; }
  int BuildClusterMap() override { return 0; }
  int ExtractPreview(const FoundFileRecord* record, std::filesystem::path&, std::vector<uint8_t>&,
                     uint32_t& bufferSize, PreviewProgressCallback callback, void* user) override;

  uint64_t firstSector() const { return firstSector_; }
  uint64_t sectorCount() const { return sectorCount_; }

 private:
  SectorDevice device_;
  uint64_t firstSector_ = 0;
  uint64_t sectorCount_ = 0;
};

}  // namespace kestrel
