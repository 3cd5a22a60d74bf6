// The deep NTFS member's open and the state a resumed scan goes on with.
#include <system_error>

#include "catalogue/categories.h"
#include "fs/ntfs/ntfs_attributes.h"
#include "fs/ntfs/ntfs_record.h"
#include "engines/deep/deep_ntfs_recovery.h"
#include "catalogue/scan_log_paths.h"
#include "platform/error_codes.h"

namespace kestrel {

namespace {
constexpr uint32_t kStateMagic = 0x53544E4B;  // "KNTS"
constexpr uint32_t kStateVersion = 2;
}  // namespace

CProfessionalNtfsRecovery::CProfessionalNtfsRecovery() = default;
CProfessionalNtfsRecovery::~CProfessionalNtfsRecovery() = default;

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
  int error = OpenImageSource(image, letter);
  if (error != kSuccess) return error;
  DeriveSizes();
  return ReadBootStep();
}

int CProfessionalNtfsRecovery::OpenPartition(int32_t driveNumber, uint64_t firstSector, uint64_t sectorCount,
                                             uint16_t letter) {
  if (device_.IsOpen()) return kSuccess;
  int error = OpenPartitionSource(driveNumber, firstSector, sectorCount, letter);
  if (error != kSuccess) return error;
  DeriveSizes();
  return ReadBootStep();
}

int CProfessionalNtfsRecovery::BeginScan(const std::optional<deep::MemberResume>& resume) {
  queue_.clear();
  queued_.clear();
  writtenFolders_.clear();
  damage_.Clear();
  int error = OpenScanStore(resume, ProNtfsStoreName(int64_t(firstSector_), LocalTimeNow()));
  if (error != kSuccess) return error;
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

}  // namespace kestrel
