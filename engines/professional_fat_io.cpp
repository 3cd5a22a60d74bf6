// The deep FAT member's open, store-backed slots, scan state, and reading a
// found file back: its clusters are read one after another from the first,
// since a formatted or damaged volume has no allocation table to follow.
#include <system_error>

#include "engines/professional_fat_recovery.h"
#include "engines/scan_log_paths.h"
#include "platform/error_codes.h"

namespace kestrel {

namespace {
constexpr uint64_t kLargestCluster = 104857600;
}  // namespace

CProfessionalFatRecovery::CProfessionalFatRecovery() = default;
CProfessionalFatRecovery::~CProfessionalFatRecovery() {
  if (log_) log_->Close();
  CloseDevice(device_);
}

SignatureSource CProfessionalFatRecovery::Source() const {
  SignatureSource source;
  source.device = const_cast<SectorDevice*>(&device_);
  source.sectorBytes = int32_t(sectorBytes_);
  return source;
}

int CProfessionalFatRecovery::OpenImage(const std::filesystem::path& image, uint16_t letter) {
  if (device_.IsOpen()) return kSuccess;
  int error = OpenImageFile(image, device_);
  if (error != kSuccess) return error;
  driveNumber_ = 128;
  firstSector_ = 0;
  sectorBytes_ = 512;
  sectorCount_ = device_.totalSectors;
  letter_ = letter;
  anchor_ = {};
  finishAnchor_ = {};
  return kSuccess;
}

int CProfessionalFatRecovery::OpenPartition(int32_t driveNumber, uint64_t firstSector, uint64_t sectorCount,
                                            uint16_t letter) {
  if (device_.IsOpen()) return kSuccess;
  int error = OpenPhysicalDrive(device_, driveNumber);
  if (error != kSuccess) return error;
  driveNumber_ = driveNumber;
  firstSector_ = firstSector;
  sectorCount_ = sectorCount;
  letter_ = letter;
  sectorBytes_ = uint32_t(QueryBytesPerSector(device_.fd));
  if (sectorBytes_ == 0) sectorBytes_ = 512;
  anchor_ = {};
  finishAnchor_ = {};
  return kSuccess;
}

int CProfessionalFatRecovery::SetCallbacks(ScanProgressCallback progress, ItemProgressCallback item, void* user,
                                           int32_t scale) {
  progress_ = progress;
  item_ = item;
  user_ = user;
  scale_ = scale;
  return kSuccess;
}

int CProfessionalFatRecovery::ListChildren(const FoundFileRecord* dir, int32_t level,
                                           std::vector<FoundFileRecord>& out) {
  return deep::ListFromLog(log_.get(), dir, level, out);
}
int CProfessionalFatRecovery::CountFiles(const FoundFileRecord* dir, int32_t level, int64_t& count) {
  return deep::CountFromLog(log_.get(), dir, level, count);
}
uint64_t CProfessionalFatRecovery::GetFoundCount() { return log_ ? log_->RecordCount() : 0; }
int CProfessionalFatRecovery::GetItemPath(const FoundFileRecord* record, std::string& out) {
  return deep::PathFromLog(log_.get(), record, out);
}
int CProfessionalFatRecovery::SetSearchCallback(SearchProgressCallback callback, void* user) {
  searchCallback_ = callback;
  searchUser_ = user;
  if (!log_) return kErrInvalidParameter;
  log_->SetSearchCallback(callback, user);
  return kSuccess;
}
int CProfessionalFatRecovery::SearchByExtension(std::string_view extensions, std::vector<FoundFileRecord>& out) {
  return deep::SearchLog(log_.get(), extensions, out);
}

int CProfessionalFatRecovery::WriteData(const FoundFileRecord& record, deep::DataSink& sink,
                                        const std::function<int(uint64_t)>& report) {
  uint64_t clusterBytes = uint64_t(record.clusterBytes);
  if (record.clusterBytes <= 0 || clusterBytes > kLargestCluster) return kErrWriteFault;
  if (clusterBytes % sectorBytes_) return kErrInvalidParameter;
  uint64_t spc = clusterBytes / sectorBytes_;
  uint64_t sector = record.itemKey >= 2 ? record.partitionStart + record.dataStart + (record.itemKey - 2) * spc
                                        : record.partitionStart + (record.dataStart >= 32 ? record.dataStart - 32 : 0);
  std::vector<uint8_t> piece(kMaxReadPiece);
  uint64_t left = record.size;
  uint64_t done = 0;
  while (left > 0 && !sink.full()) {
    uint64_t wantBytes = std::min<uint64_t>(kMaxReadPiece, (left + sectorBytes_ - 1) / sectorBytes_ * sectorBytes_);
    int32_t got = 0;
    ReadSectors(int32_t(wantBytes / sectorBytes_), device_, piece.data(), sector, int32_t(sectorBytes_), &got);
    if (got <= 0) return kErrReadFault;
    uint64_t take = std::min<uint64_t>(uint64_t(got) * sectorBytes_, left);
    int error = sink.Write(piece.data(), size_t(take));
    if (error != kSuccess) return error;
    left -= take;
    done += take;
    sector += uint64_t(got);
    int answer = report(done);
    if (answer != 0) return answer;
  }
  return kSuccess;
}

int CProfessionalFatRecovery::WriteFile(const FoundFileRecord& record, const std::filesystem::path& path) {
  deep::DataSink sink;
  int error = sink.OpenFile(path);
  bool reported100 = false;
  auto report = [&](uint64_t done) {
    int32_t percent = record.size ? int32_t(done * 100 / record.size) : 100;
    if (percent >= 100) reported100 = true;
    return item_ ? item_(user_, percent, 100, 0, path) : 0;
  };
  if (error == kSuccess) error = WriteData(record, sink, report);
  sink.CloseFile();
  if (error == kCancelled) return error;
  if (error != kSuccess) {
    if (item_) item_(user_, 100, 100, error, path);
    return error;
  }
  if (!reported100 && item_) return item_(user_, 100, 100, 0, path);
  return kSuccess;
}

int CProfessionalFatRecovery::RecoverItem(const FoundFileRecord* record, const std::filesystem::path& destination,
                                          int32_t rootDepth) {
  if (!record) return kErrInvalidParameter;
  return deep::RecoverTree(*this, *record, destination, rootDepth,
                           [this](const FoundFileRecord& r, const std::filesystem::path& p) { return WriteFile(r, p); });
}

int CProfessionalFatRecovery::ExtractPreview(const FoundFileRecord* record, std::filesystem::path& tempPath,
                                             std::vector<uint8_t>& buffer, uint32_t& bufferSize,
                                             PreviewProgressCallback callback, void* user) {
  uint32_t capacity = bufferSize;
  bufferSize = 0;
  if (!record) {
    if (callback) callback(user, 100, kErrInvalidParameter);
    return kErrInvalidParameter;
  }
  deep::PreviewTarget target = deep::PreviewTargetFor(record->Name());
  deep::DataSink sink;
  uint64_t wanted = record->size;
  if (target == deep::PreviewTarget::kBuffer) {
    wanted = std::min<uint64_t>(capacity, record->size);
    sink.UseBuffer(&buffer, uint32_t(wanted));
  } else {
    int error = deep::OpenPreviewFile(target, tempPath, sink);
    if (error != kSuccess) {
      if (callback) callback(user, 100, error);
      return error;
    }
  }
  auto report = [&](uint64_t done) {
    int32_t percent = wanted ? int32_t(std::min<uint64_t>(done, wanted) * 100 / wanted) : 100;
    return callback ? callback(user, percent, 0) : 0;
  };
  int error = wanted == 0 ? report(0) : WriteData(*record, sink, report);
  sink.CloseFile();
  if (target == deep::PreviewTarget::kBuffer) bufferSize = uint32_t(sink.written());
  if (error != kSuccess) {
    if (error > 0 && callback) callback(user, 100, error);
    if (target != deep::PreviewTarget::kBuffer) {
      std::error_code ec;
      std::filesystem::remove(tempPath, ec);
      tempPath.clear();
    }
  }
  return error;
}

}  // namespace kestrel
