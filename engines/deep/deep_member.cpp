#include "engines/deep/deep_member.h"

#include <system_error>

#include "engines/common/preview_file.h"
#include "platform/error_codes.h"

namespace kestrel {

CProfessionalMember::~CProfessionalMember() { CloseDevice(device_); }

int CProfessionalMember::OpenImageSource(const std::filesystem::path& image, uint16_t letter) {
  if (device_.IsOpen()) return kSuccess;
  int error = OpenImageFile(image, device_);
  if (error != kSuccess) return error;
  driveNumber_ = 128;
  firstSector_ = 0;
  sectorBytes_ = 512;
  sectorCount_ = device_.totalSectors;
  letter_ = letter;
  return kSuccess;
}

int CProfessionalMember::OpenPartitionSource(int32_t driveNumber, uint64_t firstSector, uint64_t sectorCount,
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
  return kSuccess;
}

int CProfessionalMember::OpenScanStore(const std::optional<deep::MemberResume>& resume, const std::string& base) {
  if (log_) log_->Close();
  log_ = std::make_unique<ScanLog>();
  int error = resume ? log_->Open(resume->storeName) : deep::OpenNewStore(*log_, base);
  if (error == kSuccess && resume && resume->keepRecords) error = log_->DiscardRecordsAfter(*resume->keepRecords);
  if (error != kSuccess) return error;
  if (searchCallback_) log_->SetSearchCallback(searchCallback_, searchUser_);
  return kSuccess;
}

SignatureSource CProfessionalMember::Source() const {
  SignatureSource source;
  source.device = const_cast<SectorDevice*>(&device_);
  source.sectorBytes = int32_t(sectorBytes_);
  return source;
}

int CProfessionalMember::ListChildren(const FoundFileRecord* dir, int32_t level, std::vector<FoundFileRecord>& out) {
  return deep::ListFromLog(log_.get(), dir, level, out);
}
int CProfessionalMember::CountFiles(const FoundFileRecord* dir, int32_t level, int64_t& count) {
  return deep::CountFromLog(log_.get(), dir, level, count);
}
int CProfessionalMember::GetItemPath(const FoundFileRecord* record, std::string& out) {
  return deep::PathFromLog(log_.get(), record, out);
}

int CProfessionalMember::WriteFile(const FoundFileRecord& record, const std::filesystem::path& path) {
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

int CProfessionalMember::RecoverItem(const FoundFileRecord* record, const std::filesystem::path& destination,
                                     int32_t rootDepth) {
  if (!record) return kErrInvalidParameter;
  return deep::RecoverTree(*this, *record, destination, rootDepth,
                           [this](const FoundFileRecord& r, const std::filesystem::path& p) { return WriteFile(r, p); });
}

int CProfessionalMember::ExtractPreview(const FoundFileRecord* record, std::filesystem::path& tempPath,
                                        std::vector<uint8_t>& buffer, uint32_t& bufferSize,
                                        PreviewProgressCallback callback, void* user) {
  uint32_t capacity = bufferSize;
  bufferSize = 0;
  if (!record) {
    if (callback) callback(user, 100, kErrInvalidParameter);
    return kErrInvalidParameter;
  }
  const char* previewName = PreviewFileName(record->Name());
  const bool toFile = previewName != nullptr;
  deep::DataSink sink;
  uint64_t wanted = record->size;
  if (!toFile) {
    wanted = std::min<uint64_t>(capacity, record->size);
    sink.UseBuffer(&buffer, uint32_t(wanted));
  } else {
    int fd = -1;
    int error = OpenPreviewFile(previewName, tempPath, fd);
    if (error != kSuccess) {
      if (callback) callback(user, 100, error);
      return error;
    }
    sink.UseFile(fd);
  }
  auto report = [&](uint64_t done) {
    int32_t percent = wanted ? int32_t(std::min<uint64_t>(done, wanted) * 100 / wanted) : 100;
    return callback ? callback(user, percent, 0) : 0;
  };
  // Nothing wanted (an empty file, or no room in the buffer): done at once.
  int error = wanted == 0 ? report(0) : WriteData(*record, sink, report);
  sink.CloseFile();
  if (!toFile) bufferSize = uint32_t(sink.written());
  if (error != kSuccess) {
    if (error > 0 && callback) callback(user, 100, error);
    if (toFile) {
      std::error_code ec;
      std::filesystem::remove(tempPath, ec);
      tempPath.clear();
    }
  }
  return error;
}

}  // namespace kestrel
