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

// What LoadState gathers before taking it over, under the engine's own names.
struct CProfessionalNtfsRecovery::SavedState {
  uint32_t sectorsPerCluster_ = 0;
  std::vector<Placement> placements_;
  std::vector<MftCopy> mftMap_;
  std::vector<QueuedDirectory> queue_;
};

// The one field list of the state file, for saving (Io = StateWriter, Parts =
// this engine) and loading (StateReader, SavedState).
template <typename Io, typename Parts>
void CProfessionalNtfsRecovery::StateFields(Io& io, Parts& p, bool& inFlight) {
  io.Expect(kStateMagic);
  io.Expect(kStateVersion);
  io(p.sectorsPerCluster_);
  io.List(p.placements_, kNtfsPlacementLimit, [](auto& f, auto& placement) {
    f(placement.origin);
    f(placement.sectorsPerCluster);
    f(placement.contiguous);
    f(placement.tableStart);
    f.List(placement.runs, kNtfsPlacementRunLimit, [](auto& g, auto& run) {
      g(run.length);
      g(run.lcn);
      g(run.sparse);
    });
  });
  io.List(p.mftMap_, kNtfsMftMapLimit, [](auto& f, auto& copy) {
    f(copy.sector);
    f(copy.placement);
  });
  io(inFlight);
  if (!inFlight) return;
  io.List(p.queue_, kNtfsDirectoryQueueLimit, [](auto& f, auto& entry) {
    f(entry.number);
    f(entry.placement);
  });
}

bool CProfessionalNtfsRecovery::LoadState(deep::StateReader& reader) {
  SavedState saved;
  bool inFlight = false;
  StateFields(reader, saved, inFlight);
  if (!reader.ok()) return false;  // a damaged state is ignored
  for (const MftCopy& copy : saved.mftMap_) {
    if (copy.placement >= saved.placements_.size()) return false;
  }
  for (const QueuedDirectory& entry : saved.queue_) {
    if (entry.placement >= saved.placements_.size()) return false;
  }
  if (saved.sectorsPerCluster_ != 0 && saved.sectorsPerCluster_ <= 256) sectorsPerCluster_ = saved.sectorsPerCluster_;
  placements_ = std::move(saved.placements_);
  mftMap_ = std::move(saved.mftMap_);
  queue_ = std::move(saved.queue_);
  for (const QueuedDirectory& entry : queue_) queued_.insert(entry.number);
  return true;
}

void CProfessionalNtfsRecovery::SaveState(deep::StateWriter& writer, bool inFlight) const {
  StateFields(writer, *this, inFlight);
}

}  // namespace kestrel
