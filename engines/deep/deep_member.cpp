#include "engines/deep/deep_member.h"

#include "engines/common/reader_engine.h"
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
  sectorBytes_ = uint32_t(QueryBytesPerSector(device_.fd()));
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

int CProfessionalMember::RecoverItem(const FoundFileRecord* record, const std::filesystem::path& destination,
                                     int32_t rootDepth) {
  return RecoverThroughReader(*this, record, destination, rootDepth, item_, user_,
                              [this](const FoundFileRecord& r, DataSink& sink,
                                     const std::function<int(uint64_t)>& report) { return WriteData(r, sink, report); });
}

int CProfessionalMember::StreamItem(const FoundFileRecord& record, DataSink& sink) {
  return StreamThroughReader(record, sink,
                             [this](const FoundFileRecord& r, DataSink& s, const std::function<int(uint64_t)>& report) {
                               return WriteData(r, s, report);
                             });
}

int CProfessionalMember::ExtractPreview(const FoundFileRecord* record, std::filesystem::path& tempPath,
                                        std::vector<uint8_t>& buffer, uint32_t& bufferSize,
                                        PreviewProgressCallback callback, void* user) {
  return PreviewThroughReader(record, tempPath, buffer, bufferSize, callback, user,
                              [this](const FoundFileRecord& r, DataSink& sink,
                                     const std::function<int(uint64_t)>& report) { return WriteData(r, sink, report); });
}

}  // namespace kestrel
