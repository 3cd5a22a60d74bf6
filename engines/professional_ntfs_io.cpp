// The deep NTFS member's open, store-backed slots, scan state, and reading a
// found file back (recovery and preview).
#include <system_error>

#include "catalogue/categories.h"
#include "engines/ntfs_attributes.h"
#include "engines/ntfs_record.h"
#include "engines/professional_ntfs_recovery.h"
#include "engines/scan_log_paths.h"
#include "platform/error_codes.h"

namespace kestrel {

namespace {
constexpr uint32_t kStateMagic = 0x53544E4B;  // "KNTS"
constexpr uint32_t kStateVersion = 2;
}  // namespace

CProfessionalNtfsRecovery::CProfessionalNtfsRecovery() = default;
CProfessionalNtfsRecovery::~CProfessionalNtfsRecovery() {
  if (log_) log_->Close();
  CloseDevice(device_);
}

void CProfessionalNtfsRecovery::DeriveSizes() {
  if (sectorBytes_ == 0) sectorBytes_ = 512;
  sectorsPerRecord_ = sectorBytes_ == 512 ? 2 : 1;
  recordBytes_ = sectorBytes_ * sectorsPerRecord_;
  // Until a record's own $DATA tells the cluster size, guess from the volume
  // size the way NTFS formats choose it.
  uint64_t mib = sectorCount_ * sectorBytes_ / 1048576;
  uint64_t k = sectorBytes_ / 512;
  if (mib <= 7 * k) sectorsPerCluster_ = 8;
  else if (mib <= 512 * k) sectorsPerCluster_ = 1;
  else if (mib <= 1024 * k) sectorsPerCluster_ = 2;
  else if (mib <= 2048 * k) sectorsPerCluster_ = 4;
  else sectorsPerCluster_ = 8;
}

int CProfessionalNtfsRecovery::ReadBootStep() {
  mftMap_.clear();
  std::vector<uint8_t> boot(sectorBytes_);
  int32_t got = 0;
  int error = ReadSectors(1, device_, boot.data(), firstSector_, int32_t(sectorBytes_), &got);
  if (got != 1) return error != kSuccess ? error : kErrReadFault;
  OnBootSector(boot.data(), firstSector_);
  return kSuccess;
}

int CProfessionalNtfsRecovery::OpenImage(const std::filesystem::path& image, uint16_t letter) {
  if (device_.IsOpen()) return kSuccess;
  int error = OpenImageFile(image, device_);
  if (error != kSuccess) return error;
  driveNumber_ = 128;
  firstSector_ = 0;
  sectorBytes_ = 512;
  sectorCount_ = device_.totalSectors;
  letter_ = letter;
  DeriveSizes();
  return ReadBootStep();
}

int CProfessionalNtfsRecovery::OpenPartition(int32_t driveNumber, uint64_t firstSector, uint64_t sectorCount,
                                             uint16_t letter) {
  if (device_.IsOpen()) return kSuccess;
  int error = OpenPhysicalDrive(device_, driveNumber);
  if (error != kSuccess) return error;
  driveNumber_ = driveNumber;
  firstSector_ = firstSector;
  sectorCount_ = sectorCount;
  letter_ = letter;
  sectorBytes_ = uint32_t(QueryBytesPerSector(device_.fd));
  DeriveSizes();
  return ReadBootStep();
}

int CProfessionalNtfsRecovery::SetCallbacks(ScanProgressCallback progress, ItemProgressCallback item, void* user,
                                            int32_t scale) {
  progress_ = progress;
  item_ = item;
  user_ = user;
  scale_ = scale;
  return kSuccess;
}

int CProfessionalNtfsRecovery::ListChildren(const FoundFileRecord* dir, int32_t level,
                                            std::vector<FoundFileRecord>& out) {
  return deep::ListFromLog(log_.get(), dir, level, out);
}
int CProfessionalNtfsRecovery::CountFiles(const FoundFileRecord* dir, int32_t level, int64_t& count) {
  return deep::CountFromLog(log_.get(), dir, level, count);
}
uint64_t CProfessionalNtfsRecovery::GetFoundCount() { return log_ ? log_->RecordCount() : 0; }
int CProfessionalNtfsRecovery::GetItemPath(const FoundFileRecord* record, std::string& out) {
  return deep::PathFromLog(log_.get(), record, out);
}
int CProfessionalNtfsRecovery::SetSearchCallback(SearchProgressCallback callback, void* user) {
  searchCallback_ = callback;
  searchUser_ = user;
  if (!log_) return kErrInvalidParameter;
  log_->SetSearchCallback(callback, user);
  return kSuccess;
}
int CProfessionalNtfsRecovery::SearchByExtension(std::string_view extensions, std::vector<FoundFileRecord>& out) {
  return deep::SearchLog(log_.get(), extensions, out);
}

int CProfessionalNtfsRecovery::BeginScan(const std::optional<deep::MemberResume>& resume) {
  queue_.clear();
  queued_.clear();
  writtenFolders_.clear();
  if (log_) log_->Close();
  log_ = std::make_unique<ScanLog>();
  int error = resume ? log_->Open(resume->storeName)
                     : deep::OpenNewStore(*log_, ProNtfsStoreName(int64_t(firstSector_), LocalTimeNow()));
  if (error == kSuccess && resume && resume->keepRecords) error = log_->DiscardRecordsAfter(*resume->keepRecords);
  if (error != kSuccess) return error;
  if (searchCallback_) log_->SetSearchCallback(searchCallback_, searchUser_);
  // Folders written before an interruption are not written twice.
  for (const DirInfoEntry& entry : log_->folderNames()) writtenFolders_.insert(entry.folderId);
  if (resume && resume->state) LoadState(*resume->state);
  return kSuccess;
}

bool CProfessionalNtfsRecovery::LoadState(deep::StateReader& reader) {
  if (reader.U32() != kStateMagic || reader.U32() != kStateVersion) return false;
  uint32_t spc = reader.U32();
  std::vector<Placement> placements(std::min<uint32_t>(reader.U32(), kNtfsPlacementLimit));
  for (Placement& p : placements) {
    p.origin = reader.U64();
    p.sectorsPerCluster = reader.U32();
    p.contiguous = reader.U8() != 0;
    p.tableStart = reader.U64();
    uint32_t runs = reader.U32();
    for (uint32_t i = 0; i < runs && reader.ok() && i < 65536; ++i) {
      NtfsRun run;
      run.length = reader.U64();
      run.lcn = reader.U64();
      run.sparse = reader.U8() != 0;
      p.runs.push_back(run);
    }
  }
  std::vector<MftCopy> copies(std::min<uint32_t>(reader.U32(), kNtfsMftMapLimit));
  for (MftCopy& copy : copies) {
    copy.sector = reader.U64();
    copy.placement = reader.U32();
    if (copy.placement >= placements.size()) return false;  // a damaged state is ignored
  }
  std::vector<QueuedDirectory> queue;
  if (reader.U8() != 0) {
    for (uint32_t n = std::min<uint32_t>(reader.U32(), kNtfsDirectoryQueueLimit); n > 0 && reader.ok(); --n) {
      QueuedDirectory entry;
      entry.number = reader.U32();
      entry.placement = reader.U32();
      if (entry.placement >= placements.size()) return false;
      queue.push_back(entry);
    }
  }
  if (!reader.ok()) return false;
  if (spc != 0 && spc <= 256) sectorsPerCluster_ = spc;
  placements_ = std::move(placements);
  mftMap_ = std::move(copies);
  queue_ = std::move(queue);
  for (const QueuedDirectory& entry : queue_) queued_.insert(entry.number);
  return true;
}

void CProfessionalNtfsRecovery::SaveState(deep::StateWriter& writer, bool inFlight) const {
  writer.U32(kStateMagic);
  writer.U32(kStateVersion);
  writer.U32(sectorsPerCluster_);
  writer.U32(uint32_t(placements_.size()));
  for (const Placement& p : placements_) {
    writer.U64(p.origin);
    writer.U32(p.sectorsPerCluster);
    writer.U8(p.contiguous ? 1 : 0);
    writer.U64(p.tableStart);
    writer.U32(uint32_t(p.runs.size()));
    for (const NtfsRun& run : p.runs) {
      writer.U64(run.length);
      writer.U64(run.lcn);
      writer.U8(run.sparse ? 1 : 0);
    }
  }
  writer.U32(uint32_t(mftMap_.size()));
  for (const MftCopy& copy : mftMap_) {
    writer.U64(copy.sector);
    writer.U32(copy.placement);
  }
  writer.U8(inFlight ? 1 : 0);
  if (!inFlight) return;
  writer.U32(uint32_t(queue_.size()));
  for (const QueuedDirectory& entry : queue_) {
    writer.U32(entry.number);
    writer.U32(entry.placement);
  }
}

int CProfessionalNtfsRecovery::WriteFile(const FoundFileRecord& record, const std::filesystem::path& path) {
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

int CProfessionalNtfsRecovery::RecoverItem(const FoundFileRecord* record, const std::filesystem::path& destination,
                                           int32_t rootDepth) {
  if (!record) return kErrInvalidParameter;
  return deep::RecoverTree(*this, *record, destination, rootDepth,
                           [this](const FoundFileRecord& r, const std::filesystem::path& p) { return WriteFile(r, p); });
}

int CProfessionalNtfsRecovery::ExtractPreview(const FoundFileRecord* record, std::filesystem::path& tempPath,
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
  int error = kSuccess;
  if (target == deep::PreviewTarget::kBuffer) {
    sink.UseBuffer(&buffer, uint32_t(std::min<uint64_t>(capacity, record->size)));
  } else {
    error = deep::OpenPreviewFile(target, tempPath, sink);
    if (error != kSuccess) {
      if (callback) callback(user, 100, error);
      return error;
    }
  }
  uint64_t wanted = target == deep::PreviewTarget::kBuffer ? std::min<uint64_t>(capacity, record->size) : record->size;
  auto report = [&](uint64_t done) {
    int32_t percent = wanted ? int32_t(std::min<uint64_t>(done, wanted) * 100 / wanted) : 100;
    return callback ? callback(user, percent, 0) : 0;
  };
  error = record->size == 0 ? report(0) : WriteData(*record, sink, report);
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
