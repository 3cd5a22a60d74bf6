// The carving member of a deep scan: finds files by their content alone. The
// deep pass offers it every sector no other member claimed (CarveSector); a
// recognised file start becomes a record named "<sector>.<ext>" with the size
// its type's rule found, listed flat under key (0, 0). Recovery and preview
// copy the recorded run of sectors. Its Scan does nothing.
#pragma once

#include <functional>
#include <memory>

#include "engines/common/data_sink.h"
#include "engines/deep/deep_store_member.h"
#include "engines/found_item_stream.h"
#include "carve/signatures.h"
#include "storage/sector_device.h"

namespace kestrel {

class CFileTypeRecovery final : public deep::StoreMember, public IFoundItemStream {
 public:
  CFileTypeRecovery();
  ~CFileTypeRecovery() override;

  // Both open a new store named "File_Type_<first sector>_<date time>" in the current scan folder.
  int OpenImage(const std::filesystem::path& image, uint16_t letter) override;
  int OpenPartition(int32_t driveNumber, uint64_t firstSector, uint64_t sectorCount, uint16_t letter) override;
  // Resuming a saved deep scan: open the source and continue the saved store
  // storeName (in the current scan folder) instead of starting a new one.
  int OpenImageWithStore(const std::filesystem::path& image, uint16_t letter, const std::string& storeName);
  int OpenPartitionWithStore(int32_t driveNumber, uint64_t firstSector, uint64_t sectorCount, uint16_t letter,
                             const std::string& storeName);

  // Also hands the progress callback to the size rules, which report while they walk.
  int SetCallbacks(ScanProgressCallback progress, ItemProgressCallback item, void* user, int32_t scale) override;
  int ListChildren(const FoundFileRecord* dir, int32_t level, std::vector<FoundFileRecord>& out) override;
  int CountFiles(const FoundFileRecord* dir, int32_t level, int64_t& count) override;
  // Carved files have no folder: 0, out untouched.
  int GetItemPath(const FoundFileRecord*, std::string&) override { return 0; }
  int RecoverItem(const FoundFileRecord* record, const std::filesystem::path& destination, int32_t rootDepth) override;
  int ExtractPreview(const FoundFileRecord* record, std::filesystem::path& tempPath, std::vector<uint8_t>& buffer,
                     uint32_t& bufferSize, PreviewProgressCallback callback, void* user) override;
  int StreamItem(const FoundFileRecord& record, DataSink& sink) override;

  // One sector of the deep pass (data: exactly that sector; hitSector: its
  // number on reader, as the pass numbers it). Returns 0 when a file was
  // recorded, 87 when nothing was recognised or the type cannot be sized, or
  // the progress callback's stop value (kCancelled). step: sectors after which
  // the pass goes on (1 unless a walked file was taken whole). found: the
  // pass's count of carved files, raised by one per record.
  int CarveSector(int32_t sectorBytes, const uint8_t* data, uint32_t length, uint64_t hitSector,
                  uint64_t scanPosition, uint64_t scanTotal, int32_t remaining, SectorDevice& reader, uint64_t& step,
                  uint64_t& found);

  const CarveContext& context() const { return context_; }

 private:
  int OpenImageSource(const std::filesystem::path& image, uint16_t letter);
  int OpenPartitionSource(int32_t driveNumber, uint64_t firstSector, uint64_t sectorCount, uint16_t letter);
  // fresh: a new scan's store, never one already in the scan folder.
  int OpenStore(const std::string& name, bool fresh = false);
  // Copies the record's run of sectors into sink, calling progress(done) after each piece.
  int CopyRecord(const FoundFileRecord& record, DataSink& sink, const std::function<int(uint64_t)>& progress);

  uint16_t letter_ = 0;
  uint64_t firstSector_ = 0;
  uint64_t sectorCount_ = 0;
  int32_t sectorBytes_ = 512;
  SectorDevice device_;
  // Flags, transport-stream extents and read buffers of this engine's pass.
  CarveContext context_;
};

}  // namespace kestrel
