#include "engines/deep/file_type_recovery.h"

#include <algorithm>
#include <vector>

#include "engines/common/reader_engine.h"
#include "engines/common/store_support.h"
#include "carve/integrity/integrity_check.h"
#include "catalogue/scan_log_paths.h"
#include "platform/error_codes.h"

namespace kestrel {

namespace {

// Types sized from their headers alone: the header is not trusted to cover
// what follows (an executable may carry an appended payload), so the pass goes
// on with the next sector. Types sized by a walk of their own structure are
// skipped whole. (Codes 33 and 45 have no size rule and never get here.)
bool SizedFromHeader(int32_t code) {
  switch (code) {
    case 21: case 22: case 24: case 26: case 29: case 46:
    case 41: case 42: case 43: case 33: case 45:
      return true;
    default:
      return false;
  }
}

// The bytes of a carved file on the source, for the whole-file content check.
class CarvedBytes final : public IntegritySource {
 public:
  CarvedBytes(SectorDevice& device, uint64_t firstSector, int32_t sectorBytes, uint64_t size)
      : device_(device), first_(firstSector), sectorBytes_(static_cast<uint64_t>(sectorBytes)), size_(size) {}
  uint64_t Size() const override { return size_; }
  bool ReadAt(uint64_t offset, uint8_t* out, size_t count) override {
    if (offset > size_ || count > size_ - offset) return false;
    if (count == 0) return true;
    uint64_t firstSector = offset / sectorBytes_;
    uint64_t lastSector = (offset + count - 1) / sectorBytes_;
    std::vector<uint8_t> sectors(static_cast<size_t>((lastSector - firstSector + 1) * sectorBytes_));
    int32_t read = 0;
    if (ReadSectors(static_cast<int32_t>(lastSector - firstSector + 1), device_, sectors.data(), first_ + firstSector,
                    static_cast<int32_t>(sectorBytes_), &read) != kSuccess)
      return false;
    std::copy_n(sectors.begin() + static_cast<ptrdiff_t>(offset - firstSector * sectorBytes_), count, out);
    return true;
  }

 private:
  SectorDevice& device_;
  uint64_t first_;
  uint64_t sectorBytes_;
  uint64_t size_;
};

}  // namespace

CFileTypeRecovery::CFileTypeRecovery() : deep::StoreMember(100) {}

CFileTypeRecovery::~CFileTypeRecovery() { CloseDevice(device_); }

int CFileTypeRecovery::OpenStore(const std::string& name, bool fresh) {
  log_ = std::make_unique<ScanLog>();
  return fresh ? deep::OpenNewStore(*log_, name) : log_->Open(name);
}

int CFileTypeRecovery::OpenImageSource(const std::filesystem::path& image, uint16_t letter) {
  log_.reset();
  CloseDevice(device_);
  letter_ = letter;
  firstSector_ = 0;
  sectorCount_ = 0;
  sectorBytes_ = kImageSectorBytes;
  return OpenImageFile(image, device_);
}

int CFileTypeRecovery::OpenPartitionSource(int32_t driveNumber, uint64_t firstSector, uint64_t sectorCount,
                                           uint16_t letter) {
  log_.reset();
  CloseDevice(device_);
  letter_ = letter;
  firstSector_ = firstSector;
  sectorCount_ = sectorCount;
  int error = OpenPhysicalDrive(device_, driveNumber);
  sectorBytes_ = device_.IsOpen() ? QueryBytesPerSector(device_.fd()) : 512;
  return error;
}

int CFileTypeRecovery::OpenImage(const std::filesystem::path& image, uint16_t letter) {
  int error = OpenImageSource(image, letter);
  int storeError = OpenStore(FileTypeStoreName(0, LocalTimeNow()), true);
  return error != kSuccess ? error : storeError;
}

int CFileTypeRecovery::OpenPartition(int32_t driveNumber, uint64_t firstSector, uint64_t sectorCount,
                                     uint16_t letter) {
  int error = OpenPartitionSource(driveNumber, firstSector, sectorCount, letter);
  int storeError = OpenStore(FileTypeStoreName(static_cast<int64_t>(firstSector), LocalTimeNow()), true);
  return error != kSuccess ? error : storeError;
}

int CFileTypeRecovery::OpenImageWithStore(const std::filesystem::path& image, uint16_t letter,
                                          const std::string& storeName) {
  int error = OpenImageSource(image, letter);
  int storeError = OpenStore(storeName);
  return error != kSuccess ? error : storeError;
}

int CFileTypeRecovery::OpenPartitionWithStore(int32_t driveNumber, uint64_t firstSector, uint64_t sectorCount,
                                              uint16_t letter, const std::string& storeName) {
  int error = OpenPartitionSource(driveNumber, firstSector, sectorCount, letter);
  int storeError = OpenStore(storeName);
  return error != kSuccess ? error : storeError;
}

int CFileTypeRecovery::SetCallbacks(ScanProgressCallback progress, ItemProgressCallback item, void* user,
                                    int32_t scale) {
  deep::StoreMember::SetCallbacks(progress, item, user, scale);
  // The size rules report progress while they walk.
  context_.progress = progress;
  context_.user = user;
  context_.scale = scale;
  return 0;
}

int CFileTypeRecovery::ListChildren(const FoundFileRecord* dir, int32_t level, std::vector<FoundFileRecord>& out) {
  if (!log_) return 0;
  log_->SaveIndex();
  if (dir != nullptr || level != 0) return 0;
  return log_->ListFolder(0, out);
}

int CFileTypeRecovery::CountFiles(const FoundFileRecord* dir, int32_t level, int64_t& count) {
  count = 0;
  if (!log_) return 0;
  log_->SaveIndex();
  if (dir != nullptr || level != 0) return 0;
  return log_->CountFilesUnder(0, count);
}

int CFileTypeRecovery::CarveSector(int32_t sectorBytes, const uint8_t* data, uint32_t length, uint64_t hitSector,
                                   uint64_t scanPosition, uint64_t scanTotal, int32_t remaining, SectorDevice& reader,
                                   uint64_t& step, uint64_t& found) {
  step = 1;
  if (sectorBytes <= 0 || data == nullptr || length == 0) return kErrInvalidParameter;
  sectorBytes_ = sectorBytes;
  // A partition's sizes stop at its end; an image's at the device's.
  uint64_t endByte = sectorCount_ ? (firstSector_ + sectorCount_) * static_cast<uint64_t>(sectorBytes) : 0;
  SignatureSource source{&reader, sectorBytes, endByte};
  CarveProgress progress{scanPosition, scanTotal, found, remaining};
  IdentifyResult result;
  int answer = IdentifyAndSize(context_, source, ByteView(data, length), hitSector, progress, result);
  if (answer != kSuccess) return answer;
  if (!log_) return kErrInvalidParameter;
  // A file whose structure broke with nothing to guess its end from is not
  // carved. One sized by a guess gets the whole-file check: the answer is
  // kept in the record (listed as failed, recovered under a marked name).
  // Its first sector did pass: the type was recognised there, so it is not
  // one of the photos listings hide for a foreign first block, and a photo
  // whose middle another file overwrote is still offered.
  WholeFileCheck check = WholeFileCheck::kNotRun;
  if (result.damaged) {
    if (result.size == 0) return kErrInvalidParameter;
    CarvedBytes bytes(reader, hitSector, sectorBytes, result.size);
    check = WholeFileCheckOf(CheckIntegrity(bytes, result.extension).verdict);
  }

  FoundFileRecord record;
  record.driveLetter = letter_;
  record.engineKind = static_cast<uint32_t>(EngineKind::kCarving);
  record.contentValid = 1;
  record.SetHowSure(DataLayout::kUnknown, check);
  record.clusterBytes = -1;
  record.size = result.size;
  record.entrySector = hitSector;
  record.SetName(result.name);
  if (int error = log_->AppendRecord(record); error != kSuccess) return error;
  log_->LinkChild(0, record.recordIndex);

  if (!SizedFromHeader(result.code)) {
    uint64_t sectors = (result.size + static_cast<uint64_t>(sectorBytes) - 1) / static_cast<uint64_t>(sectorBytes);
    step = std::max<uint64_t>(1, sectors);
  }
  ++found;
  return kSuccess;
}

int CFileTypeRecovery::CopyRecord(const FoundFileRecord& record, DataSink& sink,
                                  const std::function<int(uint64_t)>& progress) {
  const uint64_t sectorBytes = static_cast<uint64_t>(std::max(sectorBytes_, 1));
  const uint64_t size = record.size;
  uint64_t sectorsLeft = (size + sectorBytes - 1) / sectorBytes;
  uint64_t sector = record.entrySector;
  uint64_t done = 0;
  std::vector<uint8_t> piece(kMaxReadPiece);
  const uint64_t perPiece = std::max<uint64_t>(1, kMaxReadPiece / sectorBytes);
  while (sectorsLeft > 0 && done < size) {
    uint64_t count = std::min(perPiece, sectorsLeft);
    int32_t sectorsRead = 0;
    int error = ReadSectors(static_cast<int32_t>(count), device_, piece.data(), sector, static_cast<int32_t>(sectorBytes),
                            &sectorsRead);
    uint64_t got = error == kSuccess ? count : (error == kErrReadFault ? static_cast<uint64_t>(sectorsRead) : 0);
    uint64_t bytes = std::min(got * sectorBytes, size - done);
    if (bytes > 0) {
      if (int writeError = sink.Write(piece.data(), bytes); writeError != kSuccess) return writeError;
      done += bytes;
    }
    if (error != kSuccess) return kErrReadFault;
    sector += count;
    sectorsLeft -= count;
    if (int answer = progress(done); answer != 0) return answer;
    if (sink.full()) break;
  }
  return kSuccess;
}

int CFileTypeRecovery::RecoverItem(const FoundFileRecord* record, const std::filesystem::path& destination,
                                   int32_t rootDepth) {
  return RecoverThroughReader(*this, record, destination, rootDepth, item_, user_,
                              [this](const FoundFileRecord& r, DataSink& sink,
                                     const std::function<int(uint64_t)>& report) { return CopyRecord(r, sink, report); });
}

int CFileTypeRecovery::StreamItem(const FoundFileRecord& record, DataSink& sink) {
  return StreamThroughReader(record, sink,
                             [this](const FoundFileRecord& r, DataSink& s, const std::function<int(uint64_t)>& report) {
                               return CopyRecord(r, s, report);
                             });
}

int CFileTypeRecovery::ExtractPreview(const FoundFileRecord* record, std::filesystem::path& tempPath,
                                      std::vector<uint8_t>& buffer, uint32_t& bufferSize,
                                      PreviewProgressCallback callback, void* user) {
  return PreviewThroughReader(record, tempPath, buffer, bufferSize, callback, user,
                              [this](const FoundFileRecord& r, DataSink& sink,
                                     const std::function<int(uint64_t)>& report) { return CopyRecord(r, sink, report); });
}

}  // namespace kestrel
